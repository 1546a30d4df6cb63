#pragma once

// Writing to standard output and standard error in plain C++, shared by the
// dispatcher and the modes (app/OutputStreams.h is the Qt face).

#include <cstddef>

// A reader that went away (`parvel --json | true`) must not kill a
// command-line mode with SIGPIPE: the write then fails and the mode says so
// with its status.
void ignoreBrokenPipes();

// All of `size` bytes to `fd`, unbuffered; false when they could not all be
// written.
bool writeAll(int fd, const char* data, std::size_t size);
