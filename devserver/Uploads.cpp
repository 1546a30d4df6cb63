#include "devserver/Uploads.h"

#include "devserver/Responses.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace devserver {

namespace {

// The TLS layer hands us a few KB at a time; gathering them into large
// writes keeps the system-call count (and the cost per GB) low.
constexpr std::size_t writeBufferSize = 4 * 1024 * 1024;

class FileSink {
public:
    explicit FileSink(const std::filesystem::path& path)
        : m_fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)) {
        m_buffer.reserve(writeBufferSize);
    }
    ~FileSink() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    std::uint64_t written() const { return m_written; }

    bool append(const char* data, std::size_t length) {
        m_written += length;
        if (m_buffer.size() + length > writeBufferSize && !flush())
            return false;
        if (length >= writeBufferSize)
            return writeAll(data, length);
        m_buffer.insert(m_buffer.end(), data, data + length);
        return true;
    }

    bool flush() {
        const bool ok = writeAll(m_buffer.data(), m_buffer.size());
        m_buffer.clear();
        return ok;
    }

    bool close() {
        const bool ok = flush() && ::close(m_fd) == 0;
        m_fd = -1;
        return ok;
    }

private:
    bool writeAll(const char* data, std::size_t length) {
        while (length > 0) {
            const ssize_t n = ::write(m_fd, data, length);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            data += n;
            length -= std::size_t(n);
        }
        return true;
    }

    int m_fd;
    std::vector<char> m_buffer;
    std::uint64_t m_written = 0;
};

} // namespace

std::uint64_t receiveUpload(Store& store, const FileRecord& file,
                            const httplib::ContentReader& reader, httplib::Response& res) {
    // Each PUT writes a file of its own and renames it into place only when
    // the body arrived whole: a broken or concurrent upload never leaves a
    // half-written file under the file's name.
    const std::filesystem::path target = store.bytesPath(file.id);
    std::filesystem::path partial = target;
    partial += ".part-" + randomHex(6);
    FileSink sink(partial);
    if (!sink.isOpen()) {
        answerFailure(res,
                      {500, std::string("Could not store the upload: ") + std::strerror(errno)});
        return 0;
    }
    bool tooLarge = false;
    bool diskFailed = false;
    const bool received = reader([&](const char* data, std::size_t length) {
        if (sink.written() + length > std::uint64_t(maxFileSize)) {
            tooLarge = true;
            return false;
        }
        if (!sink.append(data, length)) {
            diskFailed = true;
            return false;
        }
        return true;
    });
    const std::uint64_t bytes = sink.written();
    std::error_code ec;
    if (!received || !sink.close()) {
        std::filesystem::remove(partial, ec);
        // The rest of the body is still on its way: close the connection
        // rather than read it as the next request.
        res.set_header("Connection", "close");
        if (tooLarge)
            answerFailure(res,
                          {413, "This file is larger than 5 GB, the most this server accepts."});
        else if (diskFailed)
            answerFailure(
                res, {500, std::string("Could not store the upload: ") + std::strerror(errno)});
        else
            answerFailure(res, {400, "The upload was interrupted."});
        return bytes;
    }
    std::filesystem::rename(partial, target, ec);
    if (ec) {
        std::filesystem::remove(partial, ec);
        answerFailure(res, {500, "Could not store the upload: " + ec.message()});
        return bytes;
    }
    store.recordReceived(file.id, std::int64_t(bytes));
    if (!store.file(file.id)) // deleted while its bytes were arriving
        std::filesystem::remove(target, ec);
    answerJson(res, 200, Json{{"received", bytes}});
    return bytes;
}

} // namespace devserver
