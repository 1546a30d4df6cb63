#include "shell/Application.h"

#include "model/MadeFiles.h"
#include "model/ParvelModel.h"
#include "platform/PortalSettings.h"
#include "shell/AppShell.h"
#include "shell/FileDrops.h"
#include "shell/InstanceChannel.h"
#include "shell/LaunchRequest.h"
#include "shell/Platform.h"
#include "shell/PopoverWindow.h"
#include "shell/RunNotifier.h"
#include "shell/SettingsWindow.h"
#include "shell/StatusIcon.h"
#include "shell/TrayIconDrops.h"
#include "shell/WindowKeys.h"
#include "ui/Fonts.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QQmlEngine>
#include <QQuickView>
#include <QQuickWindow>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <optional>

#include <unistd.h>

Q_DECLARE_LOGGING_CATEGORY(lcShell)

using namespace Qt::StringLiterals;

namespace {

constexpr int trayHostWaitMs = 10'000;

void complain(const QString& line) {
    std::fputs(qPrintable(u"parvel: "_s + line + u'\n'), stderr);
}

// Byte for byte: a file name need not be UTF-8.
QByteArrayList argumentsOf(int argc, char** argv) {
    QByteArrayList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QByteArray(argv[i]));
    return arguments;
}

QByteArray workingDirectory() {
    std::unique_ptr<char, decltype(&std::free)> folder(::getcwd(nullptr, 0), &std::free);
    return folder ? QByteArray(folder.get()) : QFile::encodeName(QDir::currentPath());
}

// The exit status when a running instance took `request` (0) or is there
// but could not take it (1, said on standard error); none when nobody runs.
std::optional<int> handOver(const QString& socketPath, const LaunchRequest& request) {
    const auto handed = InstanceChannel::handOver(socketPath, request.toArguments());
    if (!handed) {
        complain(handed.error());
        return 1;
    }
    return *handed ? std::optional<int>(0) : std::nullopt;
}

void setUpApplicationObject() {
    QApplication::setApplicationName(u"Parvel"_s);
    QApplication::setDesktopFileName(u"dev.parvel.Parvel"_s);
    QApplication::setQuitOnLastWindowClosed(false);
    registerApplicationFonts();
    QApplication::setWindowIcon(
        QIcon::fromTheme(u"dev.parvel.Parvel"_s, QIcon(u":/parvel/icons/dev.parvel.Parvel.svg"_s)));
}

// The tray application's parts. Members go in the reverse order of their
// declaration: the icon and the notifier before the shell (with its model
// and windows), the windows before the engine that built their views. The
// callbacks handed out capture `this`, which outlives every part.
class Tray {
public:
    explicit Tray(Services services);
    Tray(const Tray&) = delete;
    Tray& operator=(const Tray&) = delete;

    AppShell& shell() { return *m_shell; }
    void start(const LaunchRequest& request);

private:
    ShellSurfaces surfacesFor(ParvelModel& model);
    bool prefersDark() const { return m_desktop && m_desktop->prefersDark(); }
    void followDesktop();

    QQmlEngine m_engine;
    std::shared_ptr<PortalSettings> m_desktop;
    // Both owned by m_shell; the settings window only once it was made.
    PopoverWindow* m_popover = nullptr;
    SettingsWindow* m_settings = nullptr;
    std::unique_ptr<AppShell> m_shell;
    std::unique_ptr<StatusIcon> m_icon;
    std::unique_ptr<RunNotifier> m_notifier;
    std::unique_ptr<TrayIconDrops> m_trayDrops;
};

Tray::Tray(Services services)
    : m_desktop(std::dynamic_pointer_cast<PortalSettings>(services.desktop)) {
    auto model = std::make_unique<ParvelModel>(true, std::move(services));
    ShellSurfaces surfaces = surfacesFor(*model);
    m_shell = std::make_unique<AppShell>(std::move(model), std::move(surfaces));
    WindowKeys{[this] { m_popover->close(); }, [this] { m_shell->quit(); },
               [this] { m_shell->showSettings(); }}
        .installOn(m_popover->window());
    // Qt.quit() in a view (the settings' Quit button) ends the same way.
    QObject::connect(&m_engine, &QQmlEngine::quit, m_shell.get(), &AppShell::quit,
                     Qt::QueuedConnection);
    followDesktop();
    QObject::connect(m_popover, &PopoverWindow::frameShown, m_shell.get(),
                     [] { qCDebug(lcShell, "popover first frame"); });
    m_icon = std::make_unique<StatusIcon>(*m_shell);
    m_notifier = std::make_unique<RunNotifier>(*m_shell, m_icon->trayIcon());
    m_trayDrops = std::make_unique<TrayIconDrops>(
        [this](const QList<QUrl>& urls) { m_shell->dropFiles(urls); });
}

ShellSurfaces Tray::surfacesFor(ParvelModel& model) {
    ShellSurfaces surfaces;
    auto popover = std::make_unique<PopoverWindow>(
        m_engine, model, [this] { return m_icon ? m_icon->geometry() : QRect(); },
        [desktop = m_desktop] { return !desktop || desktop->motionAllowed(); });
    m_popover = popover.get();
    m_popover->setDark(prefersDark());
    surfaces.popover = std::move(popover);
    surfaces.makeSettings = [this, &model] {
        auto window = std::make_unique<SettingsWindow>(m_engine, model, prefersDark());
        m_settings = window.get();
        WindowKeys{{}, [this] { m_shell->quit(); }, {}}.installOn(window->window());
        // Files dropped anywhere on it are taken as on the tray icon.
        new FileDrops(window->window(),
                      [this](const QList<QUrl>& urls) { m_shell->dropFiles(urls); });
        return std::unique_ptr<SettingsSurface>(std::move(window));
    };
    surfaces.makeChooser = [] { return std::make_unique<FileChooser>(); };
    return surfaces;
}

void Tray::followDesktop() {
    if (!m_desktop)
        return;
    QObject::connect(m_desktop.get(), &PortalSettings::changed, m_shell.get(), [this] {
        m_popover->setDark(prefersDark());
        if (m_settings)
            m_settings->setDark(prefersDark());
    });
}

void Tray::start(const LaunchRequest& request) {
    m_shell->launch(request);
    m_icon->watchForTrayHost(trayHostWaitMs);
    QTimer::singleShot(0, m_popover, &PopoverWindow::prepare);
}

} // namespace

int runApplication(int& argc, char** argv) {
    const LaunchRequest request = LaunchRequest::parse(argumentsOf(argc, argv), workingDirectory());
    const auto socketPath = InstanceChannel::socketPath();
    if (!socketPath)
        complain(u"no private folder for the instance socket (%1); running without a single "
                 "instance."_s.arg(socketPath.error()));
    const QString socket = socketPath.value_or(QString());
    if (const auto status = handOver(socket, request))
        return *status;

    preferX11UnderWayland(argc, argv);
    // The software scene graph draws these two small windows for a third
    // of the memory that OpenGL on a software rasteriser takes.
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QApplication app(argc, argv);
    setUpApplicationObject();

    InstanceChannel channel;
    const bool alone = socketPath && channel.listen(socket);
    if (socketPath && !alone) {
        // Another instance came up meanwhile: hand over after all.
        if (const auto status = handOver(socket, request))
            return *status;
        complain(u"cannot make the instance socket; running without one."_s);
    }

    Services services = Services::system();
    if (alone)
        MadeFiles::removeLeftovers(services.cacheDir);
    // Started at login, this read may come before the keyring daemon.
    services.waitForStore = true;
    Tray tray(std::move(services));
    QObject::connect(&channel, &InstanceChannel::received, &tray.shell(),
                     [&shell = tray.shell()](const QStringList& arguments) {
                         // Paths are absolute already; the folder does not matter.
                         shell.handleRequest(LaunchRequest::parse(arguments, QDir::rootPath()));
                     });
    tray.start(request);
    return QApplication::exec();
}
