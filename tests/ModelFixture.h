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

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using devserver::Fault;

inline const QString disconnectedText =
    u"This computer has been disconnected. Enter a new connection code."_s;

struct RecordingBrowser final : Browser {
    void open(const QUrl& url) override { opened.append(url); }
    QList<QUrl> opened;
};

// What a call the suite relies on answered; the suite stops when it failed.
template <class R> auto must(std::optional<R> answer) {
    if (!answer || !*answer)
        qFatal("a call to the dev server failed");
    return **std::move(answer);
}

// Whether an action's handle finished within the limit.
[[nodiscard]] inline bool finishes(TaskHandle* handle) {
    return handle && (handle->isFinished() ||
                      QSignalSpy(handle, &TaskHandle::finished).wait(int(waitLimit.count())));
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
                      std::shared_ptr<ConnectionStore> store = systemConnectionStore(),
                      std::chrono::milliseconds storeTimeout = std::chrono::seconds(60))
        : store(std::move(store)) {
        Services services;
        services.store = this->store;
        services.storeTimeout = storeTimeout;
        services.pasteboard = std::make_shared<ClipboardPasteboard>();
        services.browser = browser;
        services.applicationSupportDir = appData.path();
        model = std::make_unique<ParvelModel>(loadConnection, services);
    }
    QByteArray index() const { return readAll(LocalIndex::path(appData.path())); }

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
        if (!server->start(&error))
            qFatal("dev server: %s", error.c_str());
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
    connectedRig(std::shared_ptr<ConnectionStore> store = systemConnectionStore()) {
        auto rig = std::make_unique<ModelRig>(false, std::move(store));
        if (!rig->store->save(bootstrap()))
            qFatal("cannot store the connection");
        rig->model->setConnection(bootstrap());
        return rig;
    }

    // Requests by method and path; a path ending in "*" is a prefix.
    std::vector<devserver::RecordedRequest> requests(const std::string& method,
                                                     const std::string& path) const {
        const std::string stem = path.ends_with('*') ? path.substr(0, path.size() - 1) : path;
        auto found = server->requests();
        std::erase_if(found, [&](const devserver::RecordedRequest& r) {
            return r.method != method ||
                   (stem == path ? r.path != stem : !r.path.starts_with(stem));
        });
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
        const QUrl file = QUrl::fromLocalFile(writeFile(m_home.filePath(name), size));
        const API api(bootstrap());
        const auto ticket = must(waitWithin(Endpoints::createUpload(api, name, size, {})));
        must(waitWithin(Endpoints::uploadBytes(ticket.uploadURL, file, size, {})));
        return must(waitWithin(Endpoints::complete(api, ticket.id))).file;
    }
    QList<SharedFile> serverFiles() {
        return must(waitWithin(Endpoints::files(API(bootstrap())))).files;
    }

    std::unique_ptr<devserver::Server> server;

private:
    QTemporaryDir m_home;
    QTemporaryDir m_data;
};

inline QJsonObject bodyOf(const devserver::RecordedRequest& request) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object();
}

// "a|b|c" as a list of three texts.
inline QStringList lines(const char* text) {
    return QString::fromUtf8(text).split(u'|');
}
