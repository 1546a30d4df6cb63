#include "platform/Services.h"

#include "platform/BuildInfo.h"
#include "platform/ClipboardPasteboard.h"
#include "platform/ComputerName.h"
#include "platform/DesktopBrowser.h"
#include "platform/Paths.h"
#include "platform/PortalScreenshot.h"
#include "platform/PortalSettings.h"

Services Services::system() {
    Services services;
    services.store = systemConnectionStore();
    services.pasteboard = std::make_shared<ClipboardPasteboard>();
    services.browser = std::make_shared<DesktopBrowser>();
    services.desktop =
        std::shared_ptr<DesktopSettings>(PortalSettings::shared(), [](DesktopSettings*) {
            // the application object owns it
        });
    services.screenshots = std::make_shared<PortalScreenshot>();
    services.computerName = ComputerName::current();
    services.serverURLSetting = BuildInfo::serverURLSetting();
    services.applicationSupportDir = Paths::applicationDataDir();
    services.cacheDir = Paths::cacheDir();
    return services;
}
