#include "net/FileUrl.h"

namespace FileUrl {

QUrl fromPath(const QByteArray& nativePath) {
    return QUrl::fromEncoded("file://" + nativePath.toPercentEncoding("/"), QUrl::StrictMode);
}

QByteArray toPath(const QUrl& url) {
    if (!url.isLocalFile())
        return {};
    // Fully encoded, the path is ASCII; what does not decode as UTF-8 stays
    // percent-encoded there instead of becoming U+FFFD.
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
}

} // namespace FileUrl
