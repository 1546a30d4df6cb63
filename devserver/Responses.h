#pragma once

// Small helpers shared by the request handlers.

#include "devserver/Store.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <string>

namespace devserver {

// Where the handlers learn the server's own address (which depends on the
// port, chosen at start) and how upload tickets are to be addressed.
struct Site {
    std::string baseURL;        // https://localhost:PORT
    std::string uploadOverride; // empty: our own /upload/TICKET address

    std::string shareURL(const std::string& fileID) const { return baseURL + "/s/" + fileID; }
    std::string uploadURL(const std::string& ticket) const {
        return uploadOverride.empty() ? baseURL + "/upload/" + ticket : uploadOverride;
    }
};

void answerJson(httplib::Response& res, int status, const Json& body);
void answerFailure(httplib::Response& res, const Failure& failure);
void answerHtml(httplib::Response& res, int status, const std::string& title,
                const std::string& bodyHtml);

std::string escapeHtml(const std::string& text);
// Decodes one value of an application/x-www-form-urlencoded body.
std::string formValue(const std::string& body, const std::string& key);

Json fileJson(const FileRecord& file, const Site& site);
Json deviceJson(const DeviceRecord& device);

} // namespace devserver
