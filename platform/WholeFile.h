#pragma once

#include <QByteArray>
#include <QString>

#include <expected>

// The most a whole-file read takes in: far above any connection file or
// index Parvel writes (10,000 shared files make about 3 MB), far below what
// would hurt.
inline constexpr qint64 maxWholeFileBytes = 64 * 1024 * 1024;

// All of a regular file's bytes, or a readable reason ("PATH: why") when it
// cannot be had. Whatever stands at the path may be hostile or odd: it is
// opened without blocking (a FIFO with no writer would hang), must be a
// regular file (not /dev/zero, not a folder; links are followed) and may hold
// at most maxWholeFileBytes. A partial read is never returned: half a
// connection or half an index is worse than none. The path is taken as the
// raw bytes of a native file name.
std::expected<QByteArray, QString> readWholeFile(const QByteArray& nativePath);
