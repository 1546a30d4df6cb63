#include "net/FileUrl.h"

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

QUrl local(const QUrl& url) {
    const QByteArray path = toPath(url);
    return path.isEmpty() ? QUrl() : fromPath(path);
}

} // namespace FileUrl
