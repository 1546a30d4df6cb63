#pragma once

// Shared by the model and upload suites: the dev server on loopback with its
// CA trusted, private XDG folders, the real stores and clipboard; only the
// browser is a recording stand-in (no desktop runs here).

#include "Wait.h"

#include "devserver/DevServer.h"
#include "model/LocalIndex.h"
#include "model/ParvelModel.h"
#include "net/Endpoints.h"
#include "platform/ClipboardPasteboard.h"
#include "platform/FileCredentialStore.h"
#include "platform/Keychain.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <future>
#include <memory>

using namespace Qt::StringLiterals;
using devserver::Fault;

inline const QString disconnectedText =
    u"This computer has been disconnected. Enter a new connection code."_s;

class RecordingBrowser final : public Browser {
public:
    void open(const QUrl& url) override { opened.append(url); }
    QList<QUrl> opened;
};

// The real store, held back until the test lets the read finish: the only
// way to start a refresh while the read is certainly still running.
class GatedStore final : public ConnectionStore {
public:
    explicit GatedStore(std::shared_ptr<ConnectionStore> inner)
        : m_inner(std::move(inner)), m_gate(m_open.get_future().share()) {}
    ~GatedStore() override { release(); }
    void release() {
        if (!m_released.exchange(true))
            m_open.set_value();
    }
    std::optional<Connection> load() override {
        m_gate.wait();
        return m_inner->load();
    }
    Result<void> save(const Connection& c) override { return m_inner->save(c); }
    void clear() override { m_inner->clear(); }

private:
    std::shared_ptr<ConnectionStore> m_inner;
    std::promise<void> m_open;
    std::shared_future<void> m_gate;
    std::atomic<bool> m_released{false};
};

// The owner-only file store in a folder of the test's choosing; below a
// regular file every write fails with the store's own text.
class FolderStore final : public ConnectionStore {
public:
    explicit FolderStore(QString folder) : m_files(std::move(folder)) {}
    std::optional<Connection> load() override { return Keychain::load(m_files); }
    Result<void> save(const Connection& c) override { return Keychain::save(m_files, c); }
    void clear() override { Keychain::clear(m_files); }

private:
    FileCredentialStore m_files;
};

// Whether an action's handle finished within the limit.
[[nodiscard]] inline bool finishes(TaskHandle* handle) {
    if (!handle)
        return false;
    if (handle->isFinished())
        return true;
    QSignalSpy finished(handle, &TaskHandle::finished);
    return finished.wait(int(waitLimit.count()));
}

inline QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

inline QString writeFile(const QString& path, qint64 size, char fill = 'p') {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    if (size <= 1 << 20)
        f.write(QByteArray(size, fill));
    else
        f.resize(size); // sparse: costs no disk
    return path;
}

// One model with its own services and its own application data folder.
struct ModelRig {
    explicit ModelRig(bool loadConnection = false,
                      std::shared_ptr<ConnectionStore> store = std::make_shared<KeychainStore>())
        : store(std::move(store)) {
        Services services;
        services.store = this->store;
        services.pasteboard = std::make_shared<ClipboardPasteboard>();
        services.browser = browser;
        services.computerName = u"Test Mac"_s;
        services.applicationSupportDir = appData.path();
        model = std::make_unique<ParvelModel>(loadConnection, services);
    }
    QString indexPath() const { return LocalIndex::path(appData.path()); }
    QByteArray index() const { return readAll(indexPath()); }

    QTemporaryDir appData;
    std::shared_ptr<ConnectionStore> store;
    std::shared_ptr<RecordingBrowser> browser = std::make_shared<RecordingBrowser>();
    std::unique_ptr<ParvelModel> model;
};

// One dev server for a whole suite, in a private data folder, trusted
// through SSL_CERT_FILE before the first request is made.
class ServerFixture {
public:
    bool start() {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(u"config"_s)));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath(u"data"_s)));
        server = std::make_unique<devserver::Server>(
            devserver::Options{m_data.path().toStdString(), 0, true});
        std::string error;
        if (!server->start(&error)) {
            qWarning("dev server: %s", error.c_str());
            return false;
        }
        qputenv("SSL_CERT_FILE", QByteArray::fromStdString(server->caPath().string()));
        return true;
    }
    void reset() {
        server->clearFaults();
        server->overrideUploadURL(std::nullopt);
        server->clearRequests();
    }

    QString baseURL() const { return QString::fromStdString(server->baseURL()); }
    Connection bootstrap() const {
        return {baseURL(), QString::fromStdString(server->bootstrapToken())};
    }

    // A model connected as the first device, its connection also stored.
    std::unique_ptr<ModelRig>
    connectedRig(std::shared_ptr<ConnectionStore> store = std::make_shared<KeychainStore>()) {
        auto rig = std::make_unique<ModelRig>(false, std::move(store));
        if (!rig->store->save(bootstrap()))
            qFatal("cannot store the connection");
        rig->model->setConnection(bootstrap());
        return rig;
    }

    // Requests by method and path; a path ending in "*" is a prefix.
    std::vector<devserver::RecordedRequest> requests(const std::string& method,
                                                     const std::string& path) const {
        const bool prefix = path.ends_with('*');
        const std::string stem = prefix ? path.substr(0, path.size() - 1) : path;
        std::vector<devserver::RecordedRequest> found;
        for (auto& r : server->requests())
            if (r.method == method && (prefix ? r.path.starts_with(stem) : r.path == stem))
                found.push_back(r);
        return found;
    }
    size_t count(const std::string& method, const std::string& path) const {
        return requests(method, path).size();
    }
    // Every request as "METHOD path" with identifiers as "*", in arrival order.
    QStringList trail() const {
        static const QRegularExpression id(u"/(files|upload|devices)/[^/]+"_s);
        QStringList lines;
        for (auto& r : server->requests())
            lines.append(QString::fromStdString(r.method + ' ' + r.path).replace(id, u"/\\1/*"_s));
        return lines;
    }

    // A finished file on the server, uploaded through the client's own calls.
    SharedFile seed(const QString& name, qint64 size) {
        const QString path = writeFile(m_uploads.filePath(name), size);
        const API api(bootstrap());
        auto ticket = waitWithin(Endpoints::createUpload(api, name, size, {}));
        if (ticket && *ticket) {
            const QString upload = (*ticket)->uploadURL;
            if (auto sent =
                    waitWithin(Endpoints::uploadBytes(upload, QUrl::fromLocalFile(path), size, {}));
                sent && *sent)
                if (auto done = waitWithin(Endpoints::complete(api, (*ticket)->id)); done && *done)
                    return (*done)->file;
        }
        qFatal("seeding %s failed", qPrintable(name));
    }

    QList<SharedFile> serverFiles() {
        auto list = waitWithin(Endpoints::files(API(bootstrap())));
        if (!list || !*list)
            qFatal("listing the server's files failed");
        return (*list)->files;
    }

    std::unique_ptr<devserver::Server> server;

private:
    QTemporaryDir m_home;
    QTemporaryDir m_data;
    QTemporaryDir m_uploads;
};

inline QJsonObject bodyOf(const devserver::RecordedRequest& request) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object();
}

// "a|b|c" as a list of three texts.
inline QStringList lines(const char* text) {
    return QString::fromUtf8(text).split(u'|');
}

// A null text when the header is absent.
inline QString header(const devserver::RecordedRequest& request, const std::string& name) {
    const auto it = request.headers.find(name);
    return it == request.headers.end() ? QString() : QString::fromStdString(it->second);
}
