#include "devserver/Store.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <set>
#include <sstream>

namespace devserver {

namespace fs = std::filesystem;

std::optional<Json> parseJson(std::string_view text, std::string* error) {
    // The keys met so far in the object open at each depth.
    std::vector<std::set<std::string>> seen;
    const Json::parser_callback_t firstKeyWins = [&seen](int depth, Json::parse_event_t event,
                                                         Json& parsed) {
        const auto level = std::size_t(depth);
        if (event == Json::parse_event_t::object_start) {
            seen.resize(level + 2);
            seen[level + 1].clear();
        } else if (event == Json::parse_event_t::key) {
            // false skips this member, value included
            return level < seen.size() &&
                   seen[level].insert(parsed.get_ref<const std::string&>()).second;
        }
        return true;
    };
    try {
        return Json::parse(text, firstKeyWins);
    } catch (const Json::exception& e) {
        if (error)
            *error = e.what();
        return std::nullopt;
    }
}

std::string dumpJson(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

const Json* member(const Json& object, const char* key) {
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

std::optional<std::int64_t> integerValue(const Json* json) {
    if (!json || !json->is_number_integer())
        return std::nullopt;
    if (json->is_number_unsigned() &&
        json->get<std::uint64_t>() > std::uint64_t(std::numeric_limits<std::int64_t>::max()))
        return std::nullopt;
    return json->get<std::int64_t>();
}

std::string randomHex(int bytes) {
    std::vector<unsigned char> buffer(static_cast<std::size_t>(bytes));
    if (RAND_bytes(buffer.data(), bytes) != 1)
        std::abort(); // no randomness means no safe tokens: nothing sensible to go on with
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char b : buffer) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

namespace {

// Readers for the state file: a default when absent or mistyped.
std::string textOf(const Json& object, const char* key) {
    const Json* value = member(object, key);
    return value && value->is_string() ? value->get<std::string>() : std::string();
}

std::int64_t integerOf(const Json& object, const char* key) {
    return integerValue(member(object, key)).value_or(0);
}

const Json& listOf(const Json& object, const char* key) {
    static const Json none = Json::array();
    const Json* value = member(object, key);
    return value && value->is_array() ? *value : none;
}

// Letters and digits that cannot be mistaken for one another when read aloud
// or typed from another screen.
constexpr std::string_view codeAlphabet = "ABCDEFGHJKMNPQRSTUVWXYZ23456789";

std::string randomCode() {
    std::string code;
    while (code.size() < 8) {
        unsigned char b = 0;
        if (RAND_bytes(&b, 1) != 1)
            std::abort();
        if (b < 248) // 248 = 8 * 31: keeps every letter equally likely
            code += codeAlphabet[b % codeAlphabet.size()];
    }
    return code;
}

// Codes are shown as "ABCD-EFGH"; people type them in any case, with or
// without the dash or spaces.
std::string normaliseCode(const std::string& text) {
    std::string code;
    for (const char c : text) {
        if (c == '-' || std::isspace(static_cast<unsigned char>(c)))
            continue;
        code += char(std::toupper(static_cast<unsigned char>(c)));
    }
    return code;
}

std::string displayCode(const std::string& code) {
    return code.substr(0, 4) + "-" + code.substr(4);
}

std::string sha256Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += digits[digest[i] >> 4];
        hex += digits[digest[i] & 15];
    }
    return hex;
}

std::size_t characterCount(const std::string& utf8) {
    return std::size_t(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

Outcome<void> checkPasswordRule(const std::optional<std::string>& password) {
    if (password && characterCount(*password) < 4)
        return std::unexpected(Failure{400, "A password needs at least 4 characters."});
    return {};
}

Failure noSuchFile() {
    return {404, "This file does not exist."};
}

} // namespace

Store::Store(fs::path dataDir) : m_dataDir(std::move(dataDir)) {}

fs::path Store::bytesPath(const std::string& fileID) const {
    return filesDir() / fileID;
}

std::chrono::system_clock::time_point Store::now() const {
    return std::chrono::system_clock::now();
}

std::string Store::timestamp(std::chrono::system_clock::time_point time) const {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return buffer;
}

bool Store::load(std::string* error) {
    std::lock_guard lock(m_mutex);
    std::error_code ec;
    fs::create_directories(filesDir(), ec);
    if (ec) {
        *error = "Could not create " + filesDir().string() + ": " + ec.message();
        return false;
    }
    // Bytes of uploads that were cut off when the server last stopped.
    for (const auto& entry : fs::directory_iterator(filesDir(), ec)) {
        if (entry.path().filename().string().find(".part-") != std::string::npos)
            fs::remove(entry.path(), ec);
    }
    const fs::path statePath = m_dataDir / "state.json";
    const bool hadState = fs::exists(statePath, ec);
    if (hadState) {
        std::ifstream in(statePath, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::string parseError = "not an object";
        const auto state = parseJson(text.str(), &parseError);
        if (!state || !state->is_object()) {
            *error = "The state file " + statePath.string() + " is damaged: " + parseError;
            return false;
        }
        for (const Json& d : listOf(*state, "devices"))
            m_devices.push_back(
                {textOf(d, "id"), textOf(d, "name"), textOf(d, "createdAt"), textOf(d, "token")});
        for (const Json& f : listOf(*state, "files")) {
            const Json* completed = member(f, "completed");
            FileRecord file{textOf(f, "id"),
                            textOf(f, "name"),
                            integerOf(f, "size"),
                            textOf(f, "createdAt"),
                            textOf(f, "passwordSalt"),
                            textOf(f, "passwordHash"),
                            textOf(f, "ticket"),
                            completed && completed->is_boolean() && completed->get<bool>(),
                            integerOf(f, "received"),
                            integerOf(f, "sequence")};
            m_nextSequence = std::max(m_nextSequence, file.sequence + 1);
            m_files.push_back(std::move(file));
        }
        for (const Json& c : listOf(*state, "codes"))
            m_codes.push_back({textOf(c, "code"), integerOf(c, "expiresAt")});
    }
    // The first device is made once per data directory; once revoked it stays
    // revoked, like any other device.
    if (!hadState) {
        makeDeviceLocked(bootstrapDeviceID, "Bootstrap");
        saveLocked();
    }
    return true;
}

void Store::saveLocked() {
    Json devices = Json::array();
    for (const DeviceRecord& d : m_devices)
        devices.push_back(
            Json{{"id", d.id}, {"name", d.name}, {"createdAt", d.createdAt}, {"token", d.token}});
    Json files = Json::array();
    for (const FileRecord& f : m_files)
        files.push_back(Json{{"id", f.id},
                             {"name", f.name},
                             {"size", f.size},
                             {"createdAt", f.createdAt},
                             {"passwordSalt", f.passwordSalt},
                             {"passwordHash", f.passwordHash},
                             {"ticket", f.ticket},
                             {"completed", f.completed},
                             {"received", f.received},
                             {"sequence", f.sequence}});
    Json codes = Json::array();
    for (const StoredCode& c : m_codes)
        codes.push_back(Json{{"code", c.code}, {"expiresAt", c.expiresAt}});
    const std::string text =
        dumpJson(Json{{"devices", devices}, {"files", files}, {"codes", codes}});

    // Write beside and rename, so a crash leaves the old state or the new one.
    const fs::path statePath = m_dataDir / "state.json";
    const fs::path temporary = m_dataDir / "state.json.tmp";
    std::error_code ec;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out)
            ec = std::make_error_code(std::errc::io_error);
    }
    if (!ec)
        fs::rename(temporary, statePath, ec);
    // The request that changed the state is still answered: a dev server
    // with a full disk should say so, not refuse to work.
    if (ec)
        std::fprintf(stderr, "parvel-devserver: could not save %s: %s\n", statePath.c_str(),
                     ec.message().c_str());
}

DeviceRecord Store::makeDeviceLocked(std::string id, std::string name) {
    DeviceRecord device{std::move(id), std::move(name), timestamp(now()), randomHex(32)};
    m_devices.push_back(device);
    return device;
}

std::string Store::bootstrapToken() const {
    std::lock_guard lock(m_mutex);
    for (const DeviceRecord& d : m_devices) {
        if (d.id == bootstrapDeviceID)
            return d.token;
    }
    return {};
}

std::optional<DeviceRecord> Store::deviceForToken(const std::string& token) const {
    std::lock_guard lock(m_mutex);
    if (token.empty())
        return std::nullopt;
    for (const DeviceRecord& d : m_devices) {
        if (d.token == token)
            return d;
    }
    return std::nullopt;
}

std::vector<DeviceRecord> Store::devices() const {
    std::lock_guard lock(m_mutex);
    return m_devices;
}

Outcome<void> Store::revokeDevice(const std::string& id) {
    std::lock_guard lock(m_mutex);
    const auto it = std::ranges::find(m_devices, id, &DeviceRecord::id);
    if (it == m_devices.end())
        return std::unexpected(Failure{404, "This device is not connected."});
    m_devices.erase(it);
    saveLocked();
    return {};
}

void Store::forgetExpiredCodesLocked() {
    const std::int64_t nowSeconds = std::chrono::system_clock::to_time_t(now());
    std::erase_if(m_codes, [&](const StoredCode& c) { return c.expiresAt <= nowSeconds; });
}

Code Store::newCode() {
    std::lock_guard lock(m_mutex);
    forgetExpiredCodesLocked();
    const auto expires = now() + codeLifetime;
    StoredCode code{randomCode(), std::int64_t(std::chrono::system_clock::to_time_t(expires))};
    m_codes.push_back(code);
    saveLocked();
    return {displayCode(code.code), timestamp(expires)};
}

Outcome<DeviceRecord> Store::redeemCode(const std::string& text, const std::string& deviceName) {
    std::lock_guard lock(m_mutex);
    const std::string code = normaliseCode(text);
    const std::int64_t nowSeconds = std::chrono::system_clock::to_time_t(now());
    const auto it = std::ranges::find(m_codes, code, &StoredCode::code);
    if (code.empty() || it == m_codes.end())
        return std::unexpected(
            Failure{403, "This connection code is not valid. Create a new one."});
    if (it->expiresAt <= nowSeconds) {
        m_codes.erase(it);
        saveLocked();
        return std::unexpected(Failure{403, "This connection code has expired. Create a new one."});
    }
    m_codes.erase(it);
    DeviceRecord device = makeDeviceLocked(randomHex(8), deviceName);
    saveLocked();
    return device;
}

std::vector<FileRecord> Store::completedFiles() const {
    std::lock_guard lock(m_mutex);
    std::vector<FileRecord> files;
    std::ranges::copy_if(m_files, std::back_inserter(files), &FileRecord::completed);
    std::ranges::sort(files, std::greater<>(), &FileRecord::sequence);
    return files;
}

std::optional<FileRecord> Store::file(const std::string& id) const {
    std::lock_guard lock(m_mutex);
    const auto it = std::ranges::find(m_files, id, &FileRecord::id);
    return it == m_files.end() ? std::nullopt : std::optional(*it);
}

std::optional<FileRecord> Store::fileForTicket(const std::string& ticket) const {
    std::lock_guard lock(m_mutex);
    const auto it = std::ranges::find(m_files, ticket, &FileRecord::ticket);
    if (ticket.empty() || it == m_files.end() || it->completed)
        return std::nullopt;
    return *it;
}

Outcome<FileRecord> Store::createFile(const std::string& name, std::int64_t size,
                                      const std::optional<std::string>& password) {
    if (name.empty())
        return std::unexpected(Failure{400, "A file needs a name."});
    if (size < 0)
        return std::unexpected(Failure{400, "The file size must not be negative."});
    if (size > maxFileSize)
        return std::unexpected(
            Failure{400, "This file is larger than 5 GB, the most this server accepts."});
    if (auto rule = checkPasswordRule(password); !rule)
        return std::unexpected(rule.error());
    std::lock_guard lock(m_mutex);
    FileRecord file;
    file.id = randomHex(8);
    file.name = name;
    file.size = size;
    file.createdAt = timestamp(now());
    if (password) {
        file.passwordSalt = randomHex(16);
        file.passwordHash = sha256Hex(file.passwordSalt + *password);
    }
    file.ticket = randomHex(32);
    file.sequence = m_nextSequence++;
    m_files.push_back(file);
    saveLocked();
    return file;
}

void Store::recordReceived(const std::string& id, std::int64_t bytes) {
    std::lock_guard lock(m_mutex);
    const auto it = std::ranges::find(m_files, id, &FileRecord::id);
    if (it == m_files.end())
        return;
    it->received = bytes;
    saveLocked();
}

Outcome<FileRecord> Store::completeFile(const std::string& id) {
    std::lock_guard lock(m_mutex);
    const auto it = std::ranges::find(m_files, id, &FileRecord::id);
    if (it == m_files.end())
        return std::unexpected(noSuchFile());
    if (it->completed)
        return *it;
    if (it->received != it->size)
        return std::unexpected(
            Failure{400, "The upload is incomplete: " + std::to_string(it->received) + " of " +
                             std::to_string(it->size) + " bytes arrived."});
    it->completed = true;
    it->ticket.clear(); // the upload address is spent
    saveLocked();
    return *it;
}

Outcome<FileRecord> Store::setPassword(const std::string& id,
                                       const std::optional<std::string>& password) {
    if (auto rule = checkPasswordRule(password); !rule)
        return std::unexpected(rule.error());
    std::lock_guard lock(m_mutex);
    const auto it = std::ranges::find(m_files, id, &FileRecord::id);
    if (it == m_files.end() || !it->completed)
        return std::unexpected(noSuchFile());
    it->passwordSalt = password ? randomHex(16) : std::string();
    it->passwordHash = password ? sha256Hex(it->passwordSalt + *password) : std::string();
    saveLocked();
    return *it;
}

Outcome<void> Store::deleteFile(const std::string& id) {
    std::lock_guard lock(m_mutex);
    const auto it = std::ranges::find(m_files, id, &FileRecord::id);
    if (it == m_files.end())
        return std::unexpected(noSuchFile());
    m_files.erase(it);
    saveLocked();
    std::error_code ec;
    fs::remove(bytesPath(id), ec);
    return {};
}

bool Store::checkPassword(const FileRecord& file, const std::string& password) const {
    return file.isProtected() && sha256Hex(file.passwordSalt + password) == file.passwordHash;
}

} // namespace devserver
