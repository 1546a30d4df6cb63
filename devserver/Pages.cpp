#include "devserver/Pages.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <memory>
#include <regex>
#include <vector>

namespace devserver {

namespace {

void notFound(httplib::Response& res) {
    answerHtml(res, 404, "Not found",
               "<h1>Not found</h1><p>This link does not lead to a shared file. It may have "
               "been deleted.</p>");
}

std::string percentEncode(const std::string& text) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (std::isalnum(b) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += digits[b >> 4];
            out += digits[b & 15];
        }
    }
    return out;
}

// Streams the stored bytes in slices, so a 4 GB file costs no more memory
// than a small one.
void sendFile(Store& store, const FileRecord& file, httplib::Response& res) {
    auto in = std::make_shared<std::ifstream>(store.bytesPath(file.id), std::ios::binary);
    if (!*in)
        return notFound(res);
    std::string asciiName;
    for (const char c : file.name)
        asciiName += (c == '"' || c == '\\' || static_cast<unsigned char>(c) >= 0x80 ||
                      static_cast<unsigned char>(c) < 0x20)
                         ? '_'
                         : c;
    res.set_header("Content-Disposition", "attachment; filename=\"" + asciiName +
                                              "\"; filename*=UTF-8''" + percentEncode(file.name));
    res.set_content_provider(std::size_t(file.size), "application/octet-stream",
                             [in](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                 std::vector<char> buffer(
                                     std::min<std::size_t>(length, 256 * 1024));
                                 in->seekg(std::streamoff(offset));
                                 in->read(buffer.data(), std::streamsize(buffer.size()));
                                 const auto got = in->gcount();
                                 return got > 0 && sink.write(buffer.data(), std::size_t(got));
                             });
}

std::string passwordForm(const FileRecord& file, const std::string& note) {
    return "<h1>" + escapeHtml(file.name) + "</h1><p>This file is protected by a password.</p>" +
           note + "<form method=\"post\" action=\"/s/" + escapeHtml(file.id) +
           "\"><input type=\"password\" name=\"password\" placeholder=\"Password\" "
           "autofocus required><button type=\"submit\">Download</button></form>";
}

void sharePage(const FileRecord& file, httplib::Response& res) {
    if (file.isProtected())
        return answerHtml(res, 200, file.name, passwordForm(file, {}));
    answerHtml(res, 200, file.name,
               "<h1>" + escapeHtml(file.name) + "</h1><p>" + std::to_string(file.size) +
                   " bytes, shared " + escapeHtml(file.createdAt) +
                   "</p><p><a class=\"button\" href=\"/s/" + escapeHtml(file.id) +
                   "/download\">Download</a></p>");
}

void installPage(const Site& site, httplib::Response& res) {
    answerHtml(res, 200, "Install Parvel",
               "<h1>Install Parvel</h1><p>Parvel sits in your panel's tray: drop files on it "
               "and their share links are on your clipboard.</p>"
               "<p>Build it from source, then connect it to this server with a connection "
               "code, or import the file <code>connection.json</code> from the server's data "
               "directory with <code>parvel --import-connection FILE</code>.</p>"
               "<p>Server address: <code>" +
                   escapeHtml(site.baseURL) + "</code></p>");
}

} // namespace

bool handlePage(Store& store, const Site& site, const std::string& path,
                const httplib::Request& req, httplib::Response& res) {
    if (path == "/install" && req.method == "GET") {
        installPage(site, res);
        return true;
    }
    static const std::regex shareRoute("/s/([^/]+)(/download)?");
    std::smatch match;
    if (!std::regex_match(path, match, shareRoute))
        return false;
    const bool download = match[2].matched;
    const auto file = store.file(match[1]);
    if (!file || !file->completed) {
        notFound(res);
        return true;
    }
    if (req.method == "GET" && !download) {
        sharePage(*file, res);
    } else if (req.method == "GET" && download) {
        if (file->isProtected())
            answerHtml(res, 403, file->name, passwordForm(*file, {}));
        else
            sendFile(store, *file, res);
    } else if (req.method == "POST" && !download && file->isProtected()) {
        if (store.checkPassword(*file, formValue(req.body, "password")))
            sendFile(store, *file, res);
        else
            answerHtml(res, 403, file->name,
                       passwordForm(*file, "<p><strong>Wrong password.</strong></p>"));
    } else {
        return false;
    }
    return true;
}

} // namespace devserver
