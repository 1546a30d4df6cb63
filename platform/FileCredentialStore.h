#pragma once

#include "platform/CredentialStore.h"

#include <QString>

// The item as an owner-only file, for machines without a session bus:
// <folder>/connection.json, mode 0600, in a folder created with mode 0700.
// Every write goes to a temporary file first, so a reader sees the old or
// the new bytes, never a mixture.
//
// Statuses are errno values: update gives NotFound with ENOENT (or ENOTDIR)
// when there is no file; add fails with EEXIST when one appeared meanwhile,
// and with whatever the system says otherwise (EACCES, EROFS, ENOSPC, …).
class FileCredentialStore final : public CredentialStore {
public:
    explicit FileCredentialStore(QString folder);

    // $XDG_CONFIG_HOME/parvel, ~/.config/parvel when unset.
    static QString defaultFolder();

    QString filePath() const { return m_folder + QStringLiteral("/connection.json"); }

    std::optional<QByteArray> read() override;
    Status update(const QByteArray& data) override;
    Status add(const QByteArray& data) override;
    void remove() override;

private:
    enum class Placement { Replace, CreateOnly };
    Status write(const QByteArray& data, Placement placement);

    QString m_folder;
};
