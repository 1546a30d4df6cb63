#include "platform/DesktopBrowser.h"

#include <QDesktopServices>

void DesktopBrowser::open(const QUrl& url) {
    // Whether a browser came up is the desktop's business; nothing to report.
    (void)QDesktopServices::openUrl(url);
}
