#pragma once

// The upload address: PUT /upload/TICKET with the file's raw bytes, no token
// (the ticket is the secret). The body goes straight to disk in large writes
// and is never held whole in memory.

#include "devserver/Store.h"

#include <httplib.h>

#include <cstdint>

namespace devserver {

// Receives the body for `file` and answers. Returns the bytes written.
std::uint64_t receiveUpload(Store& store, const FileRecord& file,
                            const httplib::ContentReader& reader, httplib::Response& res);

} // namespace devserver
