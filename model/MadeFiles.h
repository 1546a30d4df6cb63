#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <expected>
#include <functional>

// The files Parvel writes itself to share them (screenshots, clipboard
// contents). Each lives in a folder of its own under the cache folder, so
// two made in the same second keep their names; each is removed, folder and
// all, once it is no longer selected (uploaded, replaced, cleared) and when
// this object goes, at quit.
class MadeFiles {
public:
    explicit MadeFiles(QString cacheDir) : m_cacheDir(std::move(cacheDir)) {}
    ~MadeFiles() { removeAll(); }
    MadeFiles(const MadeFiles&) = delete;
    MadeFiles& operator=(const MadeFiles&) = delete;

    // A new file called `name` holding `bytes`, or a copy of the file at
    // `source`: its URL, or why it could not be made.
    std::expected<QUrl, QString> write(const QString& name, const QByteArray& bytes);
    std::expected<QUrl, QString> copy(const QString& name, const QString& source);

    // Removes every made file that `selection` no longer holds.
    void keepOnly(const QList<QUrl>& selection);
    void removeAll();

    // Removes what a session that never reached quit (a crash, a power cut)
    // left in `cacheDir`. Only for the one running instance: another could
    // still have its files selected.
    static void removeLeftovers(const QString& cacheDir);

private:
    std::expected<QString, QString> newFolder();
    std::expected<QUrl, QString> make(const QString& name,
                                      const std::function<QString(const QString&)>& fill);
    void remove(const QString& path);

    QString m_cacheDir;
    QStringList m_paths;
};
