#pragma once

#include "platform/Services.h"

// Opens addresses with the desktop's default handler for their scheme.
class DesktopBrowser final : public Browser {
public:
    void open(const QUrl& url) override;
};
