#pragma once

#include <QString>

#include <expected>

// Starting Parvel when the user logs in: an XDG autostart entry,
// FOLDER/<application id>.desktop, whose Exec line runs this executable.
// Present means on; switching off removes the file.
class LoginItem {
public:
    // `folder` is the autostart folder; `executable` the program the entry runs.
    LoginItem(QString folder, QString applicationId, QString executable);
    // $XDG_CONFIG_HOME/autostart, this application's id, the running executable.
    static LoginItem forThisApplication();

    QString path() const;
    bool isEnabled() const;
    // Writes the entry atomically or removes it. On failure the system's
    // reason, readable as it is; the file is then as it was.
    std::expected<void, QString> setEnabled(bool enabled) const;

    // The entry's text for `executable`.
    static QByteArray desktopEntry(const QString& executable);

private:
    QString m_folder;
    QString m_applicationId;
    QString m_executable;
};
