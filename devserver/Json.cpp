#include "devserver/Json.h"

#include <charconv>
#include <cstdio>

namespace devserver {

namespace {

const std::string emptyString;
const Json::Array emptyArray;
const Json::Object emptyObject;

// Nesting this deep is never a real request; refuse it rather than recurse
// without bound on hostile input.
constexpr int maxDepth = 64;

class Parser {
public:
    explicit Parser(std::string_view text) : m_text(text) {}

    std::optional<Json> document() {
        auto value = parseValue(0);
        if (!value)
            return std::nullopt;
        skipSpace();
        if (m_pos != m_text.size())
            return fail("unexpected text after the JSON value");
        return value;
    }

    std::string error;

private:
    std::optional<Json> fail(const char* what) {
        if (error.empty())
            error = std::string(what) + " at offset " + std::to_string(m_pos);
        return std::nullopt;
    }

    void skipSpace() {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' ||
                                         m_text[m_pos] == '\n' || m_text[m_pos] == '\r'))
            ++m_pos;
    }

    bool literal(std::string_view word) {
        if (m_text.substr(m_pos, word.size()) != word)
            return false;
        m_pos += word.size();
        return true;
    }

    std::optional<Json> parseValue(int depth) {
        if (depth > maxDepth)
            return fail("nesting too deep");
        skipSpace();
        if (m_pos >= m_text.size())
            return fail("unexpected end of input");
        const char c = m_text[m_pos];
        if (c == '{')
            return parseObject(depth);
        if (c == '[')
            return parseArray(depth);
        if (c == '"') {
            auto s = parseString();
            if (!s)
                return std::nullopt;
            return Json(std::move(*s));
        }
        if (literal("null"))
            return Json();
        if (literal("true"))
            return Json(true);
        if (literal("false"))
            return Json(false);
        if (c == '-' || (c >= '0' && c <= '9'))
            return parseNumber();
        return fail("unexpected character");
    }

    std::optional<Json> parseObject(int depth) {
        ++m_pos; // {
        Json::Object object;
        skipSpace();
        if (m_pos < m_text.size() && m_text[m_pos] == '}') {
            ++m_pos;
            return Json(std::move(object));
        }
        for (;;) {
            skipSpace();
            if (m_pos >= m_text.size() || m_text[m_pos] != '"')
                return fail("expected a key");
            auto key = parseString();
            if (!key)
                return std::nullopt;
            skipSpace();
            if (m_pos >= m_text.size() || m_text[m_pos] != ':')
                return fail("expected ':'");
            ++m_pos;
            auto value = parseValue(depth + 1);
            if (!value)
                return std::nullopt;
            object.emplace_back(std::move(*key), std::move(*value));
            skipSpace();
            if (m_pos < m_text.size() && m_text[m_pos] == ',') {
                ++m_pos;
                continue;
            }
            if (m_pos < m_text.size() && m_text[m_pos] == '}') {
                ++m_pos;
                return Json(std::move(object));
            }
            return fail("expected ',' or '}'");
        }
    }

    std::optional<Json> parseArray(int depth) {
        ++m_pos; // [
        Json::Array array;
        skipSpace();
        if (m_pos < m_text.size() && m_text[m_pos] == ']') {
            ++m_pos;
            return Json(std::move(array));
        }
        for (;;) {
            auto value = parseValue(depth + 1);
            if (!value)
                return std::nullopt;
            array.push_back(std::move(*value));
            skipSpace();
            if (m_pos < m_text.size() && m_text[m_pos] == ',') {
                ++m_pos;
                continue;
            }
            if (m_pos < m_text.size() && m_text[m_pos] == ']') {
                ++m_pos;
                return Json(std::move(array));
            }
            return fail("expected ',' or ']'");
        }
    }

    std::optional<Json> parseNumber() {
        const std::size_t start = m_pos;
        if (m_text[m_pos] == '-')
            ++m_pos;
        bool isFraction = false;
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos];
            if (c >= '0' && c <= '9') {
                ++m_pos;
            } else if (c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-') {
                isFraction = true;
                ++m_pos;
            } else {
                break;
            }
        }
        const char* first = m_text.data() + start;
        const char* last = m_text.data() + m_pos;
        if (!isFraction) {
            std::int64_t value = 0;
            auto [end, ec] = std::from_chars(first, last, value);
            if (ec == std::errc() && end == last)
                return Json(value);
        }
        double value = 0;
        auto [end, ec] = std::from_chars(first, last, value);
        if (ec != std::errc() || end != last)
            return fail("malformed number");
        return Json(value);
    }

    static void appendUtf8(std::string& out, std::uint32_t cp) {
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | (cp >> 12));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | (cp >> 18));
            out += char(0x80 | ((cp >> 12) & 0x3F));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }

    std::optional<std::uint32_t> hex4() {
        if (m_pos + 4 > m_text.size())
            return std::nullopt;
        std::uint32_t value = 0;
        auto [end, ec] =
            std::from_chars(m_text.data() + m_pos, m_text.data() + m_pos + 4, value, 16);
        if (ec != std::errc() || end != m_text.data() + m_pos + 4)
            return std::nullopt;
        m_pos += 4;
        return value;
    }

    std::optional<std::string> parseString() {
        ++m_pos; // opening quote
        std::string out;
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos++];
            if (c == '"')
                return out;
            if (static_cast<unsigned char>(c) < 0x20) {
                fail("control character in string");
                return std::nullopt;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_pos >= m_text.size())
                break;
            const char e = m_text[m_pos++];
            switch (e) {
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case '/':
                out += '/';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                auto cp = hex4();
                if (!cp) {
                    fail("bad \\u escape");
                    return std::nullopt;
                }
                if (*cp >= 0xD800 && *cp < 0xDC00 && m_text.substr(m_pos, 2) == "\\u") {
                    m_pos += 2;
                    auto low = hex4();
                    if (!low || *low < 0xDC00 || *low > 0xDFFF) {
                        fail("bad surrogate pair");
                        return std::nullopt;
                    }
                    *cp = 0x10000 + ((*cp - 0xD800) << 10) + (*low - 0xDC00);
                }
                appendUtf8(out, *cp);
                break;
            }
            default:
                fail("bad escape");
                return std::nullopt;
            }
        }
        fail("unterminated string");
        return std::nullopt;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
};

} // namespace

class JsonWriter {
public:
    static void write(const Json& json, std::string& out) {
        std::visit([&](const auto& v) { writeValue(v, out); }, json.m_value);
    }

private:
    static void writeValue(std::monostate, std::string& out) { out += "null"; }
    static void writeValue(bool b, std::string& out) { out += b ? "true" : "false"; }
    static void writeValue(std::int64_t i, std::string& out) { out += std::to_string(i); }
    static void writeValue(double d, std::string& out) {
        char buffer[32];
        auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, d);
        out.append(buffer, ec == std::errc() ? end : buffer);
    }
    static void writeValue(const std::string& s, std::string& out) {
        out += '"';
        for (const char c : s) {
            switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(c));
                    out += escape;
                } else {
                    out += c;
                }
            }
        }
        out += '"';
    }
    static void writeValue(const Json::Array& array, std::string& out) {
        out += '[';
        for (std::size_t i = 0; i < array.size(); ++i) {
            if (i)
                out += ',';
            write(array[i], out);
        }
        out += ']';
    }
    static void writeValue(const Json::Object& object, std::string& out) {
        out += '{';
        for (std::size_t i = 0; i < object.size(); ++i) {
            if (i)
                out += ',';
            writeValue(object[i].first, out);
            out += ':';
            write(object[i].second, out);
        }
        out += '}';
    }
};

std::optional<Json> Json::parse(std::string_view text, std::string* error) {
    Parser parser(text);
    auto value = parser.document();
    if (!value && error)
        *error = parser.error;
    return value;
}

std::string Json::dump() const {
    std::string out;
    JsonWriter::write(*this, out);
    return out;
}

const std::string& Json::toString() const {
    return isString() ? std::get<std::string>(m_value) : emptyString;
}

const Json::Array& Json::toArray() const {
    return isArray() ? std::get<Array>(m_value) : emptyArray;
}

const Json::Object& Json::toObject() const {
    return isObject() ? std::get<Object>(m_value) : emptyObject;
}

const Json* Json::find(std::string_view key) const {
    for (const auto& [name, value] : toObject()) {
        if (name == key)
            return &value;
    }
    return nullptr;
}

std::string Json::string(std::string_view key) const {
    const Json* value = find(key);
    return value ? value->toString() : std::string();
}

std::int64_t Json::integer(std::string_view key) const {
    const Json* value = find(key);
    return value ? value->toInteger() : 0;
}

} // namespace devserver
