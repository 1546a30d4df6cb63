#pragma once

// Everything the server remembers: devices with their tokens, files with
// their upload tickets, and connection codes. One mutex guards it all (the
// HTTP layer answers from a thread pool); every change is written through
// to DIR/state.json at once, so a restart finds exactly what was there.

#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace devserver {

// JSON as the server reads and writes it (request bodies, answers, the state
// file). Keys keep the order they were added in, so answers and the state
// file read the way they are built.
using Json = nlohmann::ordered_json;

// One strict JSON document (UTF-8, nothing after it); of a repeated key the
// first one counts. nullopt, with `error` filled, for anything else; never
// throws, whatever a client sends.
std::optional<Json> parseJson(std::string_view text, std::string* error = nullptr);
// Compact text. Bytes that are not UTF-8 become U+FFFD instead of throwing.
std::string dumpJson(const Json& json);
// The member `key` of an object; nullptr when absent or not an object.
const Json* member(const Json& object, const char* key);
// An integer that fits in 64 signed bits; nullopt for anything else, larger
// whole numbers and fractions included.
std::optional<std::int64_t> integerValue(const Json* json);

// Why a request cannot be served: the HTTP status and the text for the
// client's error body.
struct Failure {
    int status = 400;
    std::string text;
};

template <class T> using Outcome = std::expected<T, Failure>;

struct DeviceRecord {
    std::string id;
    std::string name;
    std::string createdAt;
    std::string token;
};

struct FileRecord {
    std::string id;
    std::string name;
    std::int64_t size = 0;
    std::string createdAt;
    std::string passwordSalt; // empty: not protected
    std::string passwordHash;
    std::string ticket; // the secret part of the upload address
    bool completed = false;
    std::int64_t received = 0; // bytes of the last finished PUT
    std::int64_t sequence = 0; // creation order; newest first in lists

    bool isProtected() const { return !passwordHash.empty(); }
};

struct Code {
    std::string code;
    std::string expiresAt;
};

inline constexpr std::int64_t maxFileSize = 5'000'000'000;
inline constexpr std::chrono::minutes codeLifetime{10};
inline constexpr const char* bootstrapDeviceID = "bootstrap";

class Store {
public:
    explicit Store(std::filesystem::path dataDir);

    // Reads the state file, if any, and makes the first device when there is
    // none yet.
    bool load(std::string* error);

    std::filesystem::path filesDir() const { return m_dataDir / "files"; }
    std::filesystem::path bytesPath(const std::string& fileID) const;

    std::string bootstrapToken() const;
    std::optional<DeviceRecord> deviceForToken(const std::string& token) const;
    std::vector<DeviceRecord> devices() const;
    Outcome<void> revokeDevice(const std::string& id);

    Code newCode();
    // Spends the code and creates the device that it admits.
    Outcome<DeviceRecord> redeemCode(const std::string& code, const std::string& deviceName);

    std::vector<FileRecord> completedFiles() const; // newest first
    std::optional<FileRecord> file(const std::string& id) const;
    std::optional<FileRecord> fileForTicket(const std::string& ticket) const;
    Outcome<FileRecord> createFile(const std::string& name, std::int64_t size,
                                   const std::optional<std::string>& password);
    void recordReceived(const std::string& id, std::int64_t bytes);
    Outcome<FileRecord> completeFile(const std::string& id);
    Outcome<FileRecord> setPassword(const std::string& id,
                                    const std::optional<std::string>& password);
    Outcome<void> deleteFile(const std::string& id);
    bool checkPassword(const FileRecord& file, const std::string& password) const;

private:
    std::chrono::system_clock::time_point now() const;
    std::string timestamp(std::chrono::system_clock::time_point time) const;
    void saveLocked();
    DeviceRecord makeDeviceLocked(std::string id, std::string name);
    void forgetExpiredCodesLocked();

    struct StoredCode {
        std::string code;           // normalised: upper case, no separators
        std::int64_t expiresAt = 0; // seconds since the epoch
    };

    std::filesystem::path m_dataDir;
    mutable std::mutex m_mutex;
    std::vector<DeviceRecord> m_devices; // in creation order
    std::vector<FileRecord> m_files;
    std::vector<StoredCode> m_codes;
    std::int64_t m_nextSequence = 1;
};

// Random text from the system's CSPRNG, for tokens, tickets and ids.
std::string randomHex(int bytes);

} // namespace devserver
