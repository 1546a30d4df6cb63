#pragma once

#include "platform/ConnectionStore.h"

#include <QString>

// The connection as an owner-only file, for machines without a session bus:
// <folder>/connection.json, mode 0600, in a folder created with mode 0700.
// Every save goes to a temporary file first, so a reader sees the old or
// the new bytes, never a mixture.
class FileCredentialStore final : public ConnectionStore {
public:
    explicit FileCredentialStore(QString folder);

    // $XDG_CONFIG_HOME/parvel, ~/.config/parvel when unset.
    static QString defaultFolder();

    QString filePath() const { return m_folder + QStringLiteral("/connection.json"); }

    Loaded load() override;
    Result<void> prepareSave() override;
    Result<void> save(const Connection& connection) override;
    void clear() override;
    QString savedText() const override;

    // The file's bytes as they are, damaged or not. Also for tests.
    std::optional<QByteArray> readBytes() const;
    Result<void> writeBytes(const QByteArray& data);

private:
    Result<void> makeFolder();

    QString m_folder;
};
