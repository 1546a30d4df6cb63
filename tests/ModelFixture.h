#pragma once

// What the model suites share: the dev server on loopback with its CA
// trusted, private XDG folders, the real connection store, and recording
// stand-ins for the clipboard and the browser (a desktop that cannot run
// here).

#include "devserver/DevServer.h"
#include "model/LocalIndex.h"
#include "model/ParvelModel.h"
#include "net/CredentialStore.h"
#include "net/Endpoints.h"
#include "net/FileCredentialStore.h"
#include "net/Keychain.h"
#include "platform/KeychainStore.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <QCoro/QCoroTask>

#include <future>
#include <memory>

using namespace Qt::StringLiterals;

class RecordingPasteboard final : public Pasteboard {
public:
    void setText(const QString& text) override { texts.append(text); }
    QStringList texts;
};

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

// The owner-only file store at a folder of the test's choosing; pointed
// below a regular file, every write fails with the store's own text.
class FolderStore final : public ConnectionStore {
public:
    explicit FolderStore(QString folder) : m_files(std::move(folder)) {}
    std::optional<Connection> load() override { return Keychain::load(m_files); }
    Result<void> save(const Connection& c) override { return Keychain::save(m_files, c); }
    void clear() override { Keychain::clear(m_files); }

private:
    FileCredentialStore m_files;
};

// One dev server for a whole suite, in a private data folder, trusted
// through SSL_CERT_FILE before the first request is made.
class ServerFixture {
public:
    bool start() {
        // Nothing of the real home: the file store and the index go here.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(u"config"_s)));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath(u"data"_s)));

        devserver::Options options;
        options.dataDir = m_data.path().toStdString();
        server = std::make_unique<devserver::Server>(options);
        std::string error;
        if (!server->start(&error)) {
            qWarning("dev server: %s", error.c_str());
            return false;
        }
        qputenv("SSL_CERT_FILE", QByteArray::fromStdString(server->caPath().string()));
        return true;
    }

    QString baseURL() const { return QString::fromStdString(server->baseURL()); }
    Connection bootstrap() const {
        return {baseURL(), QString::fromStdString(server->bootstrapToken())};
    }

    std::vector<devserver::RecordedRequest> requests(const std::string& method,
                                                     const std::string& path) const {
        std::vector<devserver::RecordedRequest> found;
        for (auto& r : server->requests())
            if (r.method == method && r.path == path)
                found.push_back(r);
        return found;
    }

    // A finished file on the server, uploaded through the client's own calls.
    SharedFile seed(const QString& name, const QByteArray& bytes) {
        const QString path = m_uploads.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        f.close();
        const API api(bootstrap());
        auto ticket = QCoro::waitFor(Endpoints::createUpload(api, name, bytes.size(), {}));
        if (!ticket)
            qFatal("create: %s", qPrintable(describe(ticket.error())));
        auto sent =
            QCoro::waitFor(Endpoints::uploadBytes(ticket->uploadURL, path, bytes.size(), {}));
        if (!sent)
            qFatal("put: %s", qPrintable(describe(sent.error())));
        auto done = QCoro::waitFor(Endpoints::complete(api, ticket->id));
        if (!done)
            qFatal("complete: %s", qPrintable(describe(done.error())));
        return done->file;
    }

    // A further computer joined to the library; its connection.
    ConnectionResult join(const QString& name) {
        const API api(Connection{baseURL(), QString()});
        const auto code = QString::fromStdString(server->newConnectionCode());
        auto joined = QCoro::waitFor(Endpoints::connect(api, code, name));
        if (!joined)
            qFatal("join: %s", qPrintable(describe(joined.error())));
        return *joined;
    }

    QList<SharedFile> serverFiles() {
        auto list = QCoro::waitFor(Endpoints::files(API(bootstrap())));
        return list ? list->files : QList<SharedFile>{};
    }

    std::unique_ptr<devserver::Server> server;

private:
    QTemporaryDir m_home;
    QTemporaryDir m_data;
    QTemporaryDir m_uploads;
};

// One model with its own services and its own application data folder.
struct ModelRig {
    explicit ModelRig(bool loadConnection = false,
                      std::shared_ptr<ConnectionStore> store = std::make_shared<KeychainStore>())
        : store(std::move(store)) {
        Services services;
        services.store = this->store;
        services.pasteboard = pasteboard;
        services.browser = browser;
        services.computerName = u"Test Mac"_s;
        services.applicationSupportDir = appData.path();
        model = std::make_unique<ParvelModel>(loadConnection, services);
    }

    QString indexPath() const { return LocalIndex::path(appData.path()); }
    QByteArray index() const {
        QFile f(indexPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    QTemporaryDir appData;
    std::shared_ptr<ConnectionStore> store;
    std::shared_ptr<RecordingPasteboard> pasteboard = std::make_shared<RecordingPasteboard>();
    std::shared_ptr<RecordingBrowser> browser = std::make_shared<RecordingBrowser>();
    std::unique_ptr<ParvelModel> model;
};

inline QJsonObject bodyOf(const devserver::RecordedRequest& request) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object();
}

inline QString header(const devserver::RecordedRequest& request, const std::string& name) {
    const auto it = request.headers.find(name);
    return it == request.headers.end() ? QString() : QString::fromStdString(it->second);
}

inline devserver::Fault statusFault(int status, std::string body = {}) {
    devserver::Fault fault;
    fault.kind = devserver::Fault::Kind::Status;
    fault.status = status;
    fault.body = std::move(body);
    return fault;
}

inline devserver::Fault delayFault(std::chrono::milliseconds delay) {
    devserver::Fault fault;
    fault.kind = devserver::Fault::Kind::Delay;
    fault.delay = delay;
    return fault;
}
