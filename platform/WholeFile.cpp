#include "platform/WholeFile.h"

#include <QFile>

std::expected<QByteArray, QString> readWholeFile(const QByteArray& nativePath) {
    auto bytes = readRegularFile(nativePath.constData());
    if (!bytes)
        return std::unexpected(QFile::decodeName(nativePath) + QStringLiteral(": ") +
                               QString::fromLocal8Bit(bytes.error()));
    return QByteArray::fromStdString(*bytes);
}
