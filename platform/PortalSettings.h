#pragma once

#include "platform/Services.h"

#include <QDBusMessage>
#include <QObject>

// Reduce-motion and light/dark preferences from the desktop portal's settings
// (org.freedesktop.portal.Settings), followed live. Until the portal answers,
// or when there is none, motion is allowed and the appearance is light.
//
// A session bus is used only when one is configured (SessionBus::configured).
class PortalSettings final : public QObject, public DesktopSettings {
    Q_OBJECT
public:
    explicit PortalSettings(QObject* parent = nullptr);

    // The one instance of the process, made on first use as a child of the
    // application object: the model's motion, every view's
    // Palvo.motionAllowed and the popover's fade all read this one.
    static PortalSettings* shared();

    bool motionAllowed() const override { return m_motionAllowed; }
    bool prefersDark() const override { return m_prefersDark; }

    // Applies one setting as the portal states it; unknown keys are ignored.
    // Public so that tests can feed values without a portal.
    void apply(const QString& group, const QString& key, const QVariant& value);

Q_SIGNALS:
    // Either preference changed.
    void changed();

private Q_SLOTS:
    void onSettingChanged(const QDBusMessage& message);

private:
    void read(const QString& group, const QString& key);

    bool m_motionAllowed = true;
    bool m_prefersDark = false;
};
