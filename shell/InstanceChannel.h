#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;

// One running Parvel per user. The first instance listens on a local socket
// in the user's runtime folder; a later `parvel …` hands its arguments over
// and ends.
//
// Wire format, one exchange per connection: the caller sends a JSON array of
// strings (the arguments, paths already absolute) and a newline; the running
// instance answers "ok\n" once it has taken them.
class InstanceChannel final : public QObject {
    Q_OBJECT
public:
    explicit InstanceChannel(QObject* parent = nullptr);
    ~InstanceChannel() override;

    // $XDG_RUNTIME_DIR/dev.parvel.Parvel.socket; without XDG_RUNTIME_DIR, a
    // folder of this user's own (mode 0700) in the temporary folder. Empty
    // when no safe folder can be had.
    static QString socketPath();

    // Gives `arguments` to the instance listening at `path`; true once it
    // confirmed them. Blocks for at most about two seconds.
    static bool handOver(const QString& path, const QStringList& arguments);

    // Starts listening at `path`. A socket left behind by an instance that
    // no longer runs is removed first; false when another instance answers
    // there or the socket cannot be made.
    bool listen(const QString& path);

Q_SIGNALS:
    void received(const QStringList& arguments);

private:
    void accept();

    QLocalServer* m_server;
};
