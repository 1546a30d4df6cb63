#include "app/ImportMode.h"

#include "app/OutputStreams.h"
#include "platform/Keychain.h"
#include "platform/WholeFile.h"

#include <QFile>

#include <cstring>

namespace {

// The path is used as the raw bytes it came in, so any file name the shell
// can pass works.
Result<QByteArray> readConnectionFile(const QByteArray& path) {
    auto bytes = readWholeFile(path);
    if (!bytes)
        return std::unexpected(SystemError{QFile::decodeName(path) + QStringLiteral(": ") +
                                           QString::fromLocal8Bit(std::strerror(bytes.error()))});
    return std::move(*bytes);
}

Result<void> importConnection(const QByteArray& path) {
    const Result<QByteArray> bytes = readConnectionFile(path);
    if (!bytes)
        return std::unexpected(bytes.error());
    auto connection = decode<Connection>(*bytes);
    if (!connection)
        return std::unexpected(connection.error());
    return Keychain::save(*connection);
}

} // namespace

int runImportMode(const QByteArray& path) {
    const Result<void> imported = importConnection(path);
    if (!imported) {
        writeError(QStringLiteral("Connection import failed: ") + describe(imported.error()));
        return 1;
    }
    writeOutput(QByteArrayLiteral("Connection saved in Keychain.\n"));
    return 0;
}
