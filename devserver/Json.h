#pragma once

// The little JSON the server needs: request bodies in, answers and its own
// state file out. Strict parser (one document, nothing after it), compact
// writer with keys in insertion order so answers read naturally.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace devserver {

class Json {
public:
    using Array = std::vector<Json>;
    using Object = std::vector<std::pair<std::string, Json>>;

    Json() = default; // null
    Json(std::nullptr_t) {}
    Json(bool b) : m_value(b) {}
    Json(int i) : m_value(std::int64_t(i)) {}
    Json(std::int64_t i) : m_value(i) {}
    Json(std::uint64_t i) : m_value(std::int64_t(i)) {}
    Json(double d) : m_value(d) {}
    Json(const char* s) : m_value(std::string(s)) {}
    Json(std::string s) : m_value(std::move(s)) {}
    Json(Array a) : m_value(std::move(a)) {}
    Json(Object o) : m_value(std::move(o)) {}

    static std::optional<Json> parse(std::string_view text, std::string* error = nullptr);
    std::string dump() const;

    bool isNull() const { return std::holds_alternative<std::monostate>(m_value); }
    bool isBool() const { return std::holds_alternative<bool>(m_value); }
    bool isInteger() const { return std::holds_alternative<std::int64_t>(m_value); }
    bool isString() const { return std::holds_alternative<std::string>(m_value); }
    bool isArray() const { return std::holds_alternative<Array>(m_value); }
    bool isObject() const { return std::holds_alternative<Object>(m_value); }

    bool toBool() const { return isBool() && std::get<bool>(m_value); }
    std::int64_t toInteger() const { return isInteger() ? std::get<std::int64_t>(m_value) : 0; }
    const std::string& toString() const;
    const Array& toArray() const;
    const Object& toObject() const;

    // Object member, or nullptr when absent (or this is not an object).
    const Json* find(std::string_view key) const;
    // Convenience readers for the state file: a default when absent or mistyped.
    std::string string(std::string_view key) const;
    std::int64_t integer(std::string_view key) const;

private:
    std::variant<std::monostate, bool, std::int64_t, double, std::string, Array, Object> m_value;
    friend class JsonWriter;
};

} // namespace devserver
