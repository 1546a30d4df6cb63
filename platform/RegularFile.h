#pragma once

// Plain C++, no Qt: `parvel --json` reads the index with this before any Qt
// library is loaded. Qt code uses readWholeFile (platform/WholeFile.h).

#include <cstdint>
#include <expected>
#include <string>

// The most a whole-file read takes in: far above any connection file or
// index Parvel writes (10,000 shared files make about 3 MB), far below what
// would hurt.
inline constexpr std::int64_t maxWholeFileBytes = 64 * 1024 * 1024;

// All of a regular file's bytes, or why not (without the path). Whatever
// stands at the path may be hostile or odd: it is opened without blocking
// (a FIFO with no writer would hang), must be a regular file (not
// /dev/zero, not a folder; links are followed) and may hold at most
// maxWholeFileBytes. A partial read is never returned.
std::expected<std::string, std::string> readRegularFile(const char* nativePath);

// The checks of readRegularFile without the read, for a caller that streams
// the bytes instead of holding them: an open descriptor (the caller closes
// it) of a regular file of `size` bytes, at most maxWholeFileBytes.
struct OpenRegularFile {
    int fd;
    std::int64_t size;
};
std::expected<OpenRegularFile, std::string> openRegularFile(const char* nativePath);
