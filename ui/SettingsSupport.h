#pragma once

#include <QObject>
#include <QString>
#include <QVariant>
#include <QtQml/qqmlregistration.h>

class ParvelModel;

// What the settings view asks of C++: its rules with cases, the login item
// and the installer page. Stateless; every answer is read afresh.
class SettingsSupport : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QString versionLine READ versionLine CONSTANT)

public:
    using QObject::QObject;

    QString versionLine() const;

    Q_INVOKABLE bool canSaveAccess(bool protectedEdit, const QString& password) const;
    Q_INVOKABLE QString fileDetail(const QString& formattedSize, bool isProtected) const;
    Q_INVOKABLE bool canDisconnect(const QString& deviceId, const QString& currentDeviceID) const;
    // `connection`: the model's connection (null or a Connection).
    Q_INVOKABLE QString connectedTo(const QVariant& connection, const QString& serverURL) const;

    // Opens the server's installer page in the browser; nothing without a
    // connection or a valid address.
    Q_INVOKABLE void openInstaller(ParvelModel* model) const;

    // Whether the autostart entry exists now.
    Q_INVOKABLE bool launchAtLogin() const;
    // Switches the autostart entry. A failure puts the system's reason into
    // the model's error. Returns the state the entry is really in afterwards.
    Q_INVOKABLE bool setLaunchAtLogin(ParvelModel* model, bool enabled) const;
};
