#include "model/MadeFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace {

QString failedText(const QString& name, const QString& reason) {
    return u"The file “%1” could not be written: %2."_s.arg(name, reason);
}

QString sharedFolder(const QString& cacheDir) {
    return QDir(cacheDir).filePath(u"Parvel/shared"_s);
}

} // namespace

std::expected<QString, QString> MadeFiles::newFolder() {
    if (m_cacheDir.isEmpty())
        return std::unexpected(u"This computer has no cache folder."_s);
    const QString base = sharedFolder(m_cacheDir);
    if (!QDir().mkpath(base))
        return std::unexpected(u"The folder “%1” could not be made."_s.arg(base));
    QTemporaryDir folder(base + u"/XXXXXX"_s); // owner-only
    if (!folder.isValid())
        return std::unexpected(failedText(base, folder.errorString()));
    folder.setAutoRemove(false);
    return folder.path();
}

// Makes `name` in a new folder of its own with `fill`, which writes the
// file at the path given and returns why it could not (empty on success).
std::expected<QUrl, QString> MadeFiles::make(const QString& name,
                                             const std::function<QString(const QString&)>& fill) {
    const auto folder = newFolder();
    if (!folder)
        return std::unexpected(folder.error());
    const QString path = QDir(*folder).filePath(name);
    if (const QString reason = fill(path); !reason.isEmpty()) {
        QDir(*folder).removeRecursively();
        return std::unexpected(failedText(name, reason));
    }
    m_paths.append(path);
    return QUrl::fromLocalFile(path);
}

std::expected<QUrl, QString> MadeFiles::write(const QString& name, const QByteArray& bytes) {
    return make(name, [&bytes](const QString& path) {
        QSaveFile file(path);
        const bool written =
            file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
        return written ? QString() : file.errorString();
    });
}

std::expected<QUrl, QString> MadeFiles::copy(const QString& name, const QString& source) {
    return make(name, [&source](const QString& path) {
        QFile original(source);
        return original.copy(path) ? QString() : original.errorString();
    });
}

void MadeFiles::keepOnly(const QList<QUrl>& selection) {
    const QStringList paths = m_paths;
    for (const QString& path : paths)
        if (!selection.contains(QUrl::fromLocalFile(path)))
            remove(path);
}

void MadeFiles::removeAll() {
    const QStringList paths = m_paths;
    for (const QString& path : paths)
        remove(path);
}

void MadeFiles::removeLeftovers(const QString& cacheDir) {
    if (!cacheDir.isEmpty())
        QDir(sharedFolder(cacheDir)).removeRecursively();
}

void MadeFiles::remove(const QString& path) {
    m_paths.removeAll(path);
    QDir(QFileInfo(path).path()).removeRecursively();
}
