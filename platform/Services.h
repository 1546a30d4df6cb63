#pragma once

#include "net/Error.h"
#include "net/Records.h"
#include "platform/ConnectionStore.h"

#include <QString>
#include <QUrl>
#include <QVariant>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// What the model needs from the operating system, behind small interfaces so
// the model never touches Qt GUI, D-Bus, libsecret or libcurl itself, and so
// tests can hand in their own.

class Pasteboard {
public:
    virtual ~Pasteboard() = default;
    // Clears everything on the general pasteboard, then puts `text` as plain text.
    virtual void setText(const QString& text) = 0;
};

class Browser {
public:
    virtual ~Browser() = default;
    virtual void open(const QUrl& url) = 0;
};

class DesktopSettings {
public:
    virtual ~DesktopSettings() = default;
    // Read afresh every time: the user may switch it while we run.
    virtual bool motionAllowed() const = 0;
    virtual bool prefersDark() const = 0;
};

struct Services {
    std::shared_ptr<ConnectionStore> store;
    // Read the stored connection again while the keyring is not on the bus
    // yet (the application started at login). The command line reads once.
    bool waitForStore = false;
    // How long one call of the store may take before the user is told that
    // the keyring does not answer (an unanswered unlock prompt included).
    std::chrono::milliseconds storeTimeout{60'000};
    std::shared_ptr<Pasteboard> pasteboard;
    std::shared_ptr<Browser> browser;
    std::shared_ptr<DesktopSettings> desktop;

    // This computer's name; "My computer" when the system has none.
    QString computerName;
    // The build's "ParvelServerURL" value; an invalid QVariant when absent.
    QVariant serverURLSetting;
    // The per-user application data folder (~/.local/share); empty when unknown.
    QString applicationSupportDir;

    // The real services of this machine.
    static Services system();
};
