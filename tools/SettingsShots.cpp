// Pictures of the settings window for the documentation, remade from a dev
// server's state: a library with a few files, this computer and one other,
// a fresh connection code. Writes, for light and dark, one PNG per state
// into the folder given:
//
//   settings-connect   not connected
//   settings-files     the file list
//   settings-access    the access sheet over it
//   settings-qr        a file's link as a QR code
//   settings-computers "Your computers" with a connection code and two computers
//   settings-prefs     "Settings"
//
// Offscreen with the software renderer, so the pixels do not depend on the
// machine's graphics.

#include "devserver/DevServer.h"
#include "model/ParvelModel.h"
#include "net/Endpoints.h"
#include "tools/SettingsHost.h"
#include "ui/Fonts.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <QCoro/QCoroTask>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

class MemoryStore final : public ConnectionStore {
public:
    std::optional<Connection> load() override { return saved; }
    Result<void> save(const Connection& c) override {
        saved = c;
        return {};
    }
    void clear() override { saved.reset(); }
    std::optional<Connection> saved;
};

[[noreturn]] void fail(const QString& what) {
    std::fprintf(stderr, "parvel-settings-shots: %s\n", qPrintable(what));
    std::exit(1);
}

void settle(int ms = 120) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

void awaitTask(TaskHandle* handle) {
    if (handle)
        QCoro::waitFor(handle->wait());
}

// A finished file on the server, uploaded as the client does.
void seed(const API& api, const QString& folder, const QString& name, qint64 size, bool protect) {
    const QString path = folder + u'/' + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(size))
        fail(u"cannot write "_s + path);
    file.close();
    auto ticket = QCoro::waitFor(Endpoints::createUpload(api, name, size, {}));
    if (!ticket || !QCoro::waitFor(Endpoints::uploadBytes(ticket->uploadURL,
                                                          QUrl::fromLocalFile(path), size, {})))
        fail(u"cannot upload "_s + name);
    auto done = QCoro::waitFor(Endpoints::complete(api, ticket->id));
    if (!done)
        fail(u"cannot complete "_s + name);
    if (protect && !QCoro::waitFor(Endpoints::changeAccess(api, done->file.id, u"hunter22"_s)))
        fail(u"cannot protect "_s + name);
}

void shoot(SettingsHost& host, const QString& path) {
    settle();
    const QImage image = host.window.grabWindow();
    if (image.isNull() || !image.save(path))
        fail(u"cannot write "_s + path);
    std::printf("%s\n", qPrintable(path));
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    SettingsHost::useSoftwareRenderer();
    registerApplicationFonts();
    if (argc != 2)
        fail(u"usage: parvel-settings-shots OUTPUT-FOLDER"_s);
    const QString out = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(out))
        fail(u"cannot create "_s + out);

    QTemporaryDir data;
    QTemporaryDir scratch;
    // Login items and the index go to scratch folders, never the user's.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(scratch.filePath(u"config"_s)));
    devserver::Server server({data.path().toStdString(), 0, true});
    std::string error;
    if (!server.start(&error))
        fail(QString::fromStdString(error));
    qputenv("SSL_CERT_FILE", QByteArray::fromStdString(server.caPath().string()));
    const QString base = QString::fromStdString(server.baseURL());
    const API bootstrap(Connection{base, QString::fromStdString(server.bootstrapToken())});
    seed(bootstrap, scratch.path(), u"Quarterly report.pdf"_s, 2'481'000, false);
    seed(bootstrap, scratch.path(), u"Site photos.zip"_s, 184'200'000, true);
    seed(bootstrap, scratch.path(), u"Interview.m4a"_s, 31'700'000, false);
    seed(bootstrap, scratch.path(), u"notes.md"_s, 4'200, false);

    Services services;
    services.store = std::make_shared<MemoryStore>();
    services.computerName = u"Studio workstation"_s;
    services.applicationSupportDir = scratch.filePath(u"data"_s);
    ParvelModel model(false, services);
    model.setIsLoadingConnection(false);
    model.setServerURL(base);
    const auto look = [](bool dark) { return dark ? u"-dark.png"_s : u"-light.png"_s; };

    for (const bool dark : {false, true}) {
        SettingsHost host(&model, dark);
        host.window.show();
        shoot(host, out + u"/settings-connect"_s + look(dark));
    }

    model.setConnectionCode(QString::fromStdString(server.newConnectionCode()));
    awaitTask(model.connect());
    if (!model.connection())
        fail(u"cannot connect: "_s + model.error());
    awaitTask(model.createPairing());

    for (const bool dark : {false, true}) {
        SettingsHost host(&model, dark);
        host.window.show();
        settle(400); // the refresh on appearing
        model.setMessage({});
        shoot(host, out + u"/settings-files"_s + look(dark));

        SharedFile file = model.files().value(0);
        for (const SharedFile& f : model.files())
            if (f.isProtected)
                file = f; // the sheet with its password field
        host.view->setProperty("protectedEdit", file.isProtected);
        host.view->setProperty("newPassword", u"tulip"_s);
        host.view->setProperty("editing", QVariant::fromValue(file));
        shoot(host, out + u"/settings-access"_s + look(dark));
        host.view->setProperty("editing", QVariant::fromValue(nullptr));

        auto* qr = host.view->findChild<QObject*>(u"qrSheet"_s);
        if (!qr)
            fail(u"no QR sheet in the file list"_s);
        QMetaObject::invokeMethod(qr, "show", Q_ARG(QVariant, QVariant::fromValue(file)));
        shoot(host, out + u"/settings-qr"_s + look(dark));
        QMetaObject::invokeMethod(qr, "close");

        host.view->setProperty("tab", 1);
        settle(400); // the section's own device load
        shoot(host, out + u"/settings-computers"_s + look(dark));

        host.view->setProperty("tab", 2);
        shoot(host, out + u"/settings-prefs"_s + look(dark));
    }
    return 0;
}
