#include "platform/Services.h"

#include "platform/BuildInfo.h"
#include "platform/ClipboardPasteboard.h"
#include "platform/ComputerName.h"
#include "platform/DesktopBrowser.h"
#include "platform/Keychain.h"
#include "platform/Paths.h"
#include "platform/PortalScreenshot.h"
#include "platform/PortalSettings.h"

Services Services::system() {
    Services services;
    services.store = std::make_shared<KeychainStore>();
    services.pasteboard = std::make_shared<ClipboardPasteboard>();
    services.browser = std::make_shared<DesktopBrowser>();
    services.desktop = std::make_shared<PortalSettings>();
    services.screenshots = std::make_shared<PortalScreenshot>();
    services.computerName = ComputerName::current();
    services.serverURLSetting = BuildInfo::serverURLSetting();
    services.applicationSupportDir = Paths::applicationDataDir();
    services.cacheDir = Paths::cacheDir();
    return services;
}
