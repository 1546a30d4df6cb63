#pragma once

// The JSON REST interface under /api: connection codes, the account, files,
// pairings and devices.

#include "devserver/Responses.h"
#include "devserver/Store.h"

#include <httplib.h>

#include <string>

namespace devserver {

// Answers one /api request; `path` is the decoded path without the query.
void handleApi(Store& store, const Site& site, const std::string& path, const httplib::Request& req,
               httplib::Response& res);

} // namespace devserver
