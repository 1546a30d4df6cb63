#include "shell/Application.h"

#include "model/ParvelModel.h"
#include "platform/Keychain.h"
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
// The views' plugin is imported once for the executable (app/PreviewMode.cpp).
#include "ui/Fonts.h"

#include <QApplication>
#include <QDir>
#include <QLoggingCategory>
#include <QQmlEngine>
#include <QQuickView>
#include <QQuickWindow>
#include <QTimer>

#include <cstdio>

Q_DECLARE_LOGGING_CATEGORY(lcShell)

using namespace Qt::StringLiterals;

namespace {

constexpr int trayHostWaitMs = 10'000;

QStringList argumentsOf(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

void quitSoon() {
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

} // namespace

int runApplication(int& argc, char** argv) {
    const LaunchRequest request =
        LaunchRequest::parse(argumentsOf(argc, argv), QDir::currentPath());
    const QString socketPath = InstanceChannel::socketPath();
    if (InstanceChannel::handOver(socketPath, request.toArguments()))
        return 0;

    preferX11UnderWayland(argc, argv);
    // The software scene graph draws these two small windows for a third
    // of the memory that OpenGL on a software rasteriser takes.
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QApplication app(argc, argv);
    QApplication::setApplicationName(u"Parvel"_s);
    QApplication::setDesktopFileName(u"dev.parvel.Parvel"_s);
    QApplication::setQuitOnLastWindowClosed(false);
    registerApplicationFonts();
    QApplication::setWindowIcon(
        QIcon::fromTheme(u"dev.parvel.Parvel"_s, QIcon(u":/parvel/icons/dev.parvel.Parvel.svg"_s)));

    InstanceChannel channel;
    if (!channel.listen(socketPath)) {
        // Another instance came up meanwhile: hand over after all.
        if (InstanceChannel::handOver(socketPath, request.toArguments()))
            return 0;
        std::fputs("parvel: cannot make the instance socket; running without one.\n", stderr);
    }

    Services services = Services::system();
    // Started at login, this read may come before the keyring daemon.
    services.store = std::make_shared<KeychainStore>(true);
    auto desktop = std::dynamic_pointer_cast<PortalSettings>(services.desktop);
    const auto prefersDark = [desktop] { return desktop && desktop->prefersDark(); };
    QQmlEngine engine;
    auto model = std::make_unique<ParvelModel>(true, services);
    ParvelModel& modelRef = *model;

    StatusIcon* icon = nullptr;
    PopoverWindow* popover = nullptr;
    SettingsWindow* settings = nullptr;
    AppShell* shellRef = nullptr;
    ShellSurfaces surfaces;
    auto popoverWindow = std::make_unique<PopoverWindow>(
        engine, modelRef, [&icon] { return icon ? icon->geometry() : QRect(); },
        [desktop] { return !desktop || desktop->motionAllowed(); });
    popover = popoverWindow.get();
    popover->setDark(prefersDark());
    surfaces.popover = std::move(popoverWindow);
    surfaces.makeSettings = [&engine, &modelRef, &settings, &shellRef, prefersDark] {
        auto window = std::make_unique<SettingsWindow>(engine, modelRef, prefersDark());
        settings = window.get();
        WindowKeys{{}, quitSoon, {}}.installOn(window->window());
        // Files dropped anywhere on it are handled as on the tray icon.
        new FileDrops(window->window(), [&shellRef](const QList<QUrl>& urls) {
            if (shellRef)
                shellRef->dropFiles(urls);
        });
        return std::unique_ptr<SettingsSurface>(std::move(window));
    };
    surfaces.makeChooser = [] { return std::make_unique<FileChooser>(); };

    AppShell shell(std::move(model), std::move(surfaces));
    shellRef = &shell;
    WindowKeys{[popover] { popover->close(); }, quitSoon, [&shell] { shell.showSettings(); }}
        .installOn(popover->window());
    if (desktop)
        QObject::connect(desktop.get(), &PortalSettings::changed, &shell, [&] {
            popover->setDark(prefersDark());
            if (settings)
                settings->setDark(prefersDark());
        });
    QObject::connect(&channel, &InstanceChannel::received, &shell,
                     [&shell](const QStringList& arguments) {
                         // Paths are absolute already; the folder does not matter.
                         shell.handleRequest(LaunchRequest::parse(arguments, QDir::rootPath()));
                     });

    QObject::connect(popover, &PopoverWindow::frameShown, &shell,
                     [] { qCDebug(lcShell, "popover first frame"); });

    StatusIcon statusIcon(shell);
    icon = &statusIcon;
    const TrayIconDrops trayDrops([&shell](const QList<QUrl>& urls) { shell.dropFiles(urls); });
    RunNotifier notifier(shell, statusIcon.trayIcon());
    shell.launch(request);
    statusIcon.watchForTrayHost(trayHostWaitMs);
    QTimer::singleShot(0, popover, &PopoverWindow::prepare);

    const int status = QApplication::exec();
    // Windows go before the engine and the model they show.
    icon = nullptr;
    return status;
}
