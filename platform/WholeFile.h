#pragma once

#include <QByteArray>

#include <expected>

// All of a file's bytes, or the errno that stopped the read. A partial read
// is never returned: half a connection or half an index is worse than none.
// The path is taken as the raw bytes of a native file name.
std::expected<QByteArray, int> readWholeFile(const QByteArray& nativePath);
