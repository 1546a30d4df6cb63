#pragma once

#include <QByteArray>
#include <QUrl>

// File names on Linux are bytes, not text: a name that is not UTF-8 must
// still be opened, so a file URL carries the path's own bytes,
// percent-encoded, and is turned back into those bytes, never through a
// QString (which would replace them with U+FFFD).
//
// Every way a file enters the application (arguments, the instance socket,
// drops, the chooser) goes through local(): what is shown, what is opened
// and what is sent under that name are then the same path.
namespace FileUrl {

// The file URL of an absolute native path, byte for byte.
QUrl fromPath(const QByteArray& nativePath);

// The absolute native path a file URL names, byte for byte; empty when the
// URL is no file URL of this computer (a host other than none or
// "localhost"), its path is not absolute, or it holds a NUL byte (which
// would end the path early for open() while the name shown goes on).
QByteArray toPath(const QUrl& url);

// `path` made absolute against the folder `base` when relative, without "."
// and ".." components, byte for byte: a name that is not UTF-8 stays as it is.
QByteArray absolutePath(const QByteArray& path, const QByteArray& base);

// fromPath(toPath(url)): the URL rebuilt from the one path it names, so its
// file name is that path's last segment (no query, fragment or host left to
// differ); an invalid URL when toPath refuses `url`.
QUrl local(const QUrl& url);

} // namespace FileUrl
