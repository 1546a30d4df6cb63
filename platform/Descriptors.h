#pragma once

// Plain C++, no Qt: used by the `parvel` executable itself as well.

#include <cstddef>

// All of `size` bytes to `fd`, unbuffered, retrying after signals; false
// when they could not all be written (a closed pipe, a full disk).
bool writeAll(int fd, const char* data, std::size_t size);
