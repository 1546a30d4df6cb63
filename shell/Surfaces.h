#pragma once

#include <QList>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

// The windows the shell drives, behind small interfaces so that the shell's
// rules (one chooser at a time, the popover closing before a chooser opens,
// what comes back after a chooser) run and are tested without a desktop.

// The popover under the status icon.
class PopoverSurface {
public:
    virtual ~PopoverSurface() = default;
    virtual bool isShown() const = 0;
    // Places the popover, shows it and gives it the keyboard focus.
    virtual void show() = 0;
    // Starts closing it; `closed` runs once it is gone. Nothing when hidden.
    virtual void close() = 0;
    // Whether it has just been closed because it lost the focus: a click on
    // the status icon is what took the focus away, and must not reopen it.
    virtual bool closedByFocusLossJustNow() const = 0;

    // Set by the shell; runs after every close, whatever caused it.
    std::function<void()> closed;
};

// One file chooser, from its creation until it finishes.
class ChooserSurface {
public:
    virtual ~ChooserSurface() = default;
    // Shows it without blocking; `finished` runs exactly once afterwards.
    virtual void open() = 0;
    // Brings an open chooser to the front and gives it the focus.
    virtual void raise() = 0;

    // The chosen file URLs in the chooser's order, or none when cancelled.
    std::function<void(std::optional<QList<QUrl>>)> finished;
};

// The settings window: created on first use, then kept with its view state.
class SettingsSurface {
public:
    virtual ~SettingsSurface() = default;
    // Shows it (centred the first time), brings it forward, focuses it.
    virtual void show() = 0;
};

struct ShellSurfaces {
    std::unique_ptr<PopoverSurface> popover;
    std::function<std::unique_ptr<SettingsSurface>()> makeSettings;
    std::function<std::unique_ptr<ChooserSurface>()> makeChooser;
};
