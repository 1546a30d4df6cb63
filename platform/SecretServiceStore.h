#pragma once

#include "platform/CredentialStore.h"
#include "platform/Keychain.h"

#include <QString>

// The item in the Secret Service (GNOME Keyring, KWallet) through libsecret.
// Only construct it when a session bus is configured: libsecret connects to
// the session bus on first use and GLib would otherwise try to autolaunch
// one (see Keychain::systemStore).
//
// Statuses are GError codes, almost always libsecret's SecretError:
// 2 locked, 3 no such object (also: nothing found to update, or no default
// collection to add to), 4 already exists, 1 protocol error.
class SecretServiceStore final : public CredentialStore {
public:
    // `service` is the item's service attribute; `collectionAlias` names the
    // collection add() creates the item in.
    explicit SecretServiceStore(QString service = QString::fromLatin1(Keychain::service),
                                QString collectionAlias = QStringLiteral("default"));

    std::optional<QByteArray> read() override;
    // serviceMissing when nobody owns org.freedesktop.secrets and the bus
    // could not start it (not activatable, or the activation failed).
    Read readItem() override;
    Status update(const QByteArray& data) override;
    Status add(const QByteArray& data) override;
    void remove() override;

    // The item's label, as a keyring manager lists it.
    static QString label();

private:
    QByteArray m_service;
    QByteArray m_collectionAlias;
};
