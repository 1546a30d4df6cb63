#pragma once

#include "net/Error.h"
#include "net/Records.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <QCoro/QCoroTask>

#include <functional>
#include <memory>
#include <optional>

// What the model needs from the operating system, behind small interfaces so
// the model never touches Qt GUI, D-Bus, libsecret or libcurl itself, and so
// tests can hand in their own.

// What the clipboard holds, in the one form Parvel shares it: the file URLs
// it carries, else a picture (encoded as PNG), else text. All empty when
// there is nothing (or no clipboard at all).
struct PasteboardContents {
    QList<QUrl> fileURLs;
    QByteArray png;
    QString text;
};

class Pasteboard {
public:
    virtual ~Pasteboard() = default;
    // Clears everything on the general pasteboard, then puts `text` as plain text.
    virtual void setText(const QString& text) = 0;
    virtual PasteboardContents contents() const { return {}; }
};

// A picture of the screen, taken by the desktop (which may ask the user).
struct Capture {
    enum class Outcome { Taken, Cancelled, Unavailable };
    Outcome outcome = Outcome::Unavailable;
    // Taken: the desktop's PNG file. It is not ours: copy it at once.
    QString path;
};

class ScreenCapture {
public:
    virtual ~ScreenCapture() = default;
    virtual QCoro::Task<Capture> take() = 0;
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
    std::shared_ptr<ScreenCapture> screenshots;

    // This computer's name; "My computer" when the system has none.
    QString computerName;
    // The build's "ParvelServerURL" value; an invalid QVariant when absent.
    QVariant serverURLSetting;
    // The per-user application data folder (~/.local/share); empty when unknown.
    QString applicationSupportDir;
    // The per-user cache folder (~/.cache), where shared screenshots and
    // clipboard contents wait for their upload; empty when unknown.
    QString cacheDir;

    // The real services of this machine.
    static Services system();
};
