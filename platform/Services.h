#pragma once

#include "net/Error.h"
#include "net/Records.h"

#include <QString>
#include <QUrl>
#include <QVariant>

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

class ConnectionStore {
public:
    virtual ~ConnectionStore() = default;
    // May block on an unlock prompt; the model calls it off the main thread.
    virtual std::optional<Connection> load() = 0;
    virtual Result<void> save(const Connection& connection) = 0;
    virtual void clear() = 0;
};

struct Services {
    std::shared_ptr<ConnectionStore> store;
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
