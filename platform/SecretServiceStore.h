#pragma once

#include "platform/ConnectionStore.h"

#include <QByteArray>
#include <QString>

// The connection as an item of the Secret Service (GNOME Keyring, KWallet)
// through libsecret: attributes service and account, the JSON as text.
// Only construct it when a session bus is configured: libsecret connects to
// the session bus on first use and GLib would otherwise try to autolaunch
// one (see systemConnectionStore).
class SecretServiceStore final : public ConnectionStore {
public:
    // `service` is the item's service attribute; `collectionAlias` names the
    // collection a first save creates the item in.
    explicit SecretServiceStore(QString service = QString::fromLatin1(ConnectionStore::service),
                                QString collectionAlias = QStringLiteral("default"));

    Loaded load() override;
    Result<void> prepareSave() override;
    Result<void> save(const Connection& connection) override;
    void clear() override;
    QString savedText() const override;

    // The item's label, as a keyring manager lists it.
    static QString label();

    // The item's bytes as they are, damaged or not; none when there is no
    // item or it cannot be read. Also for tests, which store damaged items.
    std::optional<QByteArray> readBytes(bool* serviceMissing = nullptr);
    Result<void> writeBytes(const QByteArray& data);

private:
    QByteArray m_service;
    QByteArray m_collectionAlias;
};
