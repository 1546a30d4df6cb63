#pragma once

// What a browser sees: the share page of each file (a download link, or a
// password form when the file is protected), the download itself, and the
// installer page.

#include "devserver/Responses.h"
#include "devserver/Store.h"

#include <httplib.h>

#include <string>

namespace devserver {

// Answers GET/POST under /s/ and GET /install; false when the path is not one
// of those, so the caller can answer 404 its own way.
bool handlePage(Store& store, const Site& site, const std::string& path,
                const httplib::Request& req, httplib::Response& res);

} // namespace devserver
