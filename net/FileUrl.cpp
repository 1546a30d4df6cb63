#include "net/FileUrl.h"

#include <QDir>

namespace FileUrl {

QUrl fromPath(const QByteArray& nativePath) {
    return QUrl::fromEncoded("file://" + nativePath.toPercentEncoding("/"), QUrl::StrictMode);
}

QByteArray toPath(const QUrl& url) {
    if (!url.isValid() || url.scheme() != QLatin1String("file"))
        return {};
    if (const QString host = url.host(); !host.isEmpty() && host != QLatin1String("localhost"))
        return {};
    // Fully encoded, the path is ASCII; what does not decode as UTF-8 stays
    // percent-encoded there instead of becoming U+FFFD.
    const QByteArray path =
        QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (!path.startsWith('/') || path.contains('\0'))
        return {};
    return path;
}

QByteArray absolutePath(const QByteArray& path, const QByteArray& base) {
    const QByteArray absolute = path.startsWith('/') ? path : base + '/' + path;
    // Bytes map one to one onto Latin-1, so the cleaning touches no byte
    // other than '/' and '.'.
    return QDir::cleanPath(QString::fromLatin1(absolute)).toLatin1();
}

QUrl local(const QUrl& url) {
    const QByteArray path = toPath(url);
    return path.isEmpty() ? QUrl() : fromPath(path);
}

} // namespace FileUrl
