#include "platform/FileCredentialStore.h"

#include "platform/Descriptors.h"
#include "platform/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
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

std::optional<QByteArray> FileCredentialStore::read() {
    auto bytes = readWholeFile(nativePath(filePath()));
    return bytes ? std::optional<QByteArray>(std::move(*bytes)) : std::nullopt;
}

CredentialStore::Status FileCredentialStore::update(const QByteArray& data) {
    struct stat st {};
    if (::lstat(nativePath(filePath()).constData(), &st) != 0) {
        const int error = errno;
        // ENOTDIR: something in the way of the folder, so no item can exist.
        if (error == ENOENT || error == ENOTDIR)
            return Status::notFound(error);
        return Status::failed(error);
    }
    return write(data, Placement::Replace);
}

CredentialStore::Status FileCredentialStore::add(const QByteArray& data) {
    // The folders above ours are ordinary configuration folders; ours is private.
    QDir().mkpath(QFileInfo(m_folder).absolutePath());
    const QByteArray folder = nativePath(m_folder);
    if (::mkdir(folder.constData(), 0700) == 0)
        ::chmod(folder.constData(), 0700); // whatever the umask said
    else if (errno != EEXIST)
        return Status::failed(errno);
    return write(data, Placement::CreateOnly);
}

void FileCredentialStore::remove() {
    ::unlink(nativePath(filePath()).constData());
}

CredentialStore::Status FileCredentialStore::write(const QByteArray& data, Placement placement) {
    const QByteArray target = nativePath(filePath());
    QByteArray temporary = nativePath(m_folder + QStringLiteral("/.connection.json.XXXXXX"));
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC); // created 0600
    if (fd < 0)
        return Status::failed(errno);

    int error = 0;
    if (::fchmod(fd, 0600) != 0 || !writeAll(fd, data.constData(), std::size_t(data.size())) ||
        ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0) {
        // Adding must not overwrite a file that appeared since the update
        // found none: link() refuses an existing name, rename() would not.
        const bool placed = placement == Placement::Replace
                                ? ::rename(temporary.constData(), target.constData()) == 0
                                : ::link(temporary.constData(), target.constData()) == 0;
        if (!placed)
            error = errno;
    }
    if (placement == Placement::CreateOnly || error != 0)
        ::unlink(temporary.constData());
    if (error != 0)
        return Status::failed(error);
    syncFolder(nativePath(m_folder));
    return Status::done();
}
