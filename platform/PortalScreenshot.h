#pragma once

#include "platform/Services.h"

// Screenshots through the desktop portal (org.freedesktop.portal.Screenshot),
// interactive where the desktop offers a dialog. The portal answers on a
// request object of its own, and drops the request when our connection to
// the bus closes: the session bus stays connected for the life of the
// process, so it is always there for the answer.
class PortalScreenshot final : public ScreenCapture {
public:
    QCoro::Task<Capture> take() override;
};
