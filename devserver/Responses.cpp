#include "devserver/Responses.h"

namespace devserver {

void answerJson(httplib::Response& res, int status, const Json& body) {
    res.status = status;
    res.set_content(dumpJson(body), "application/json");
}

void answerFailure(httplib::Response& res, const Failure& failure) {
    answerJson(res, failure.status, Json{{"error", failure.text}});
}

void answerHtml(httplib::Response& res, int status, const std::string& title,
                const std::string& bodyHtml) {
    res.status = status;
    res.set_content("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                    "<meta name=\"viewport\" content=\"width=device-width\">"
                    "<title>" +
                        escapeHtml(title) +
                        "</title><style>body{font-family:sans-serif;max-width:36rem;"
                        "margin:4rem auto;padding:0 1rem;color:#222}"
                        "a.button,button{display:inline-block;padding:.5rem 1rem;"
                        "border-radius:.4rem;background:#222;color:#fff;border:0;"
                        "text-decoration:none;font-size:1rem}"
                        "input{padding:.45rem;font-size:1rem;margin-right:.5rem}</style>"
                        "</head><body>" +
                        bodyHtml + "</body></html>\n",
                    "text/html; charset=utf-8");
}

std::string escapeHtml(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string decodeFormText(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 &&
                   hexDigit(text[i + 2]) >= 0) {
            out += char(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

std::string formValue(const std::string& body, const std::string& key) {
    std::string_view rest(body);
    while (!rest.empty()) {
        const std::size_t amp = rest.find('&');
        const std::string_view pair = rest.substr(0, amp);
        rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
        const std::size_t eq = pair.find('=');
        if (decodeFormText(pair.substr(0, eq)) == key)
            return eq == std::string_view::npos ? std::string()
                                                : decodeFormText(pair.substr(eq + 1));
    }
    return {};
}

Json fileJson(const FileRecord& file, const Site& site) {
    return Json{{"id", file.id},
                {"name", file.name},
                {"size", file.size},
                {"isProtected", file.isProtected()},
                {"createdAt", file.createdAt},
                {"url", site.shareURL(file.id)}};
}

Json deviceJson(const DeviceRecord& device) {
    return Json{{"id", device.id}, {"name", device.name}, {"createdAt", device.createdAt}};
}

} // namespace devserver
