#pragma once

#include "platform/Services.h"

// The desktop's clipboard. Without a GUI application (command-line modes,
// no display) there is no clipboard and nothing happens.
class ClipboardPasteboard final : public Pasteboard {
public:
    void setText(const QString& text) override;
    PasteboardContents contents() const override;
};
