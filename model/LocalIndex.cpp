#include "model/LocalIndex.h"

#include "platform/Paths.h"
#include "platform/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace LocalIndex {

namespace {
const QString folderName = u"Parvel"_s;
const QString fileName = u"files.json"_s;
} // namespace

QString path(const QString& applicationDataDir) {
    if (applicationDataDir.isEmpty())
        return {};
    return applicationDataDir + u'/' + folderName + u'/' + fileName;
}

QString userPath() {
    return path(Paths::applicationDataDir());
}

QList<SharedFile> read(const QString& applicationDataDir) {
    const QString file = path(applicationDataDir);
    if (file.isEmpty())
        return {};
    const auto bytes = readWholeFile(QFile::encodeName(file));
    if (!bytes)
        return {};
    return decode<QList<SharedFile>>(*bytes).value_or(QList<SharedFile>{});
}

bool write(const QString& applicationDataDir, const QList<SharedFile>& files) {
    if (applicationDataDir.isEmpty())
        return false;
    // mkpath also fails when a regular file stands where a folder belongs.
    const QString folder = applicationDataDir + u'/' + folderName;
    if (!QDir().mkpath(folder))
        return false;

    const QByteArray bytes = encode(files);

    QSaveFile file(folder + u'/' + fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // The new content goes to a temporary file that replaces the old one on
    // commit, so the mode set here is the mode of the index.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        file.cancelWriting();
        return false;
    }
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace LocalIndex
