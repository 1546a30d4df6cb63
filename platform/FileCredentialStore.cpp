#include "platform/FileCredentialStore.h"

#include "platform/Descriptors.h"
#include "platform/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray nativePath(const QString& path) {
    return QFile::encodeName(path);
}

// Makes the rename itself durable; a failure here loses nothing already written.
void syncFolder(const QByteArray& folder) {
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

FileCredentialStore::FileCredentialStore(QString folder) : m_folder(std::move(folder)) {}

QString FileCredentialStore::defaultFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/parvel");
}

QString FileCredentialStore::savedText() const {
    return QStringLiteral("Connection saved in %1.").arg(filePath());
}

std::optional<QByteArray> FileCredentialStore::readBytes() const {
    auto bytes = readWholeFile(nativePath(filePath()));
    return bytes ? std::optional<QByteArray>(std::move(*bytes)) : std::nullopt;
}

ConnectionStore::Loaded FileCredentialStore::load() {
    const std::optional<QByteArray> bytes = readBytes();
    if (!bytes)
        return {};
    auto connection = decode<Connection>(*bytes);
    if (!connection)
        return {}; // a damaged file stays where it is
    return {std::move(*connection)};
}

void FileCredentialStore::clear() {
    ::unlink(nativePath(filePath()).constData());
}

Result<void> FileCredentialStore::makeFolder() {
    const auto failed = [this](int code) {
        return std::unexpected(ParvelError::message(
            QStringLiteral("Could not save the connection in %1: %2.")
                .arg(filePath(), QString::fromLocal8Bit(std::strerror(code)))));
    };
    // The folders above ours are ordinary configuration folders; ours is private.
    QDir().mkpath(QFileInfo(m_folder).absolutePath());
    const QByteArray folder = nativePath(m_folder);
    if (::mkdir(folder.constData(), 0700) == 0)
        ::chmod(folder.constData(), 0700); // whatever the umask said
    else if (errno != EEXIST)
        return failed(errno);
    if (::access(folder.constData(), W_OK | X_OK) != 0)
        return failed(errno);
    return {};
}

Result<void> FileCredentialStore::prepareSave() {
    return makeFolder();
}

Result<void> FileCredentialStore::save(const Connection& connection) {
    return writeBytes(encode(connection));
}

Result<void> FileCredentialStore::writeBytes(const QByteArray& data) {
    if (auto folder = makeFolder(); !folder)
        return folder;
    const QByteArray target = nativePath(filePath());
    QByteArray temporary = nativePath(m_folder + QStringLiteral("/.connection.json.XXXXXX"));
    int error = 0;
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC); // created 0600
    if (fd < 0) {
        error = errno;
    } else {
        if (::fchmod(fd, 0600) != 0 || !writeAll(fd, data.constData(), std::size_t(data.size())) ||
            ::fsync(fd) != 0)
            error = errno;
        if (::close(fd) != 0 && error == 0)
            error = errno;
        if (error == 0 && ::rename(temporary.constData(), target.constData()) != 0)
            error = errno;
        if (error != 0)
            ::unlink(temporary.constData());
    }
    if (error != 0)
        return std::unexpected(ParvelError::message(
            QStringLiteral("Could not save the connection in %1: %2.")
                .arg(filePath(), QString::fromLocal8Bit(std::strerror(error)))));
    syncFolder(nativePath(m_folder));
    return {};
}
