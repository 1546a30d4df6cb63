#pragma once

#include <QByteArray>
#include <QUrl>

// File names on Linux are bytes, not text: a name that is not UTF-8 must
// still be opened, so a file URL carries the path's own bytes,
// percent-encoded, and is turned back into those bytes, never through a
// QString (which would replace them with U+FFFD).
namespace FileUrl {

// The file URL of an absolute native path, byte for byte.
QUrl fromPath(const QByteArray& nativePath);

// The native path a local file URL names, byte for byte; empty when the URL
// is not a local file.
QByteArray toPath(const QUrl& url);

} // namespace FileUrl
