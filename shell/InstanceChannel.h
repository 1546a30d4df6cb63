#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <expected>

class QLocalServer;
class QLocalSocket;

// One running Parvel per user. The first instance listens on a local socket
// in a folder only this user can enter; a later `parvel …` hands its
// arguments over and ends.
//
// Wire format, one exchange per connection: the caller sends a JSON array of
// strings (the arguments, paths already absolute, files as fully encoded
// file URLs so that a name's bytes survive) and a newline; the running
// instance answers "ok\n" once it has taken them, or "busy\n" straight away
// when maxInFlight other callers are being read (the caller tries again).
class InstanceChannel final : public QObject {
    Q_OBJECT
public:
    // The longest argument list the kernel passes (ARG_MAX, 2 MiB), each
    // byte percent-encoded (three), and room for the quotes, commas and the
    // "file://" and folder put before relative paths.
    static constexpr qsizetype maxMessageBytes = 8 << 20;
    // What the channel buffers at once is at most this many messages.
    static constexpr int maxInFlight = 8;

    explicit InstanceChannel(QObject* parent = nullptr);
    ~InstanceChannel() override;

    // $XDG_RUNTIME_DIR/dev.parvel.Parvel.socket when that folder is this
    // user's and closed to others; otherwise a folder of this user's own
    // (mode 0700) in the temporary folder: parvel-UID, or when someone else
    // took that name, parvel-UID-2 and on, the same for every start. Why
    // there is none when no safe folder can be had.
    static std::expected<QString, QString> socketPath();

    // Gives `arguments` to the instance listening at `path`. True once it
    // confirmed them, false when nobody listens there (start one); why not
    // when an instance is there but did not take them (too much to hand
    // over, or no answer): starting a second one would be wrong then.
    // Blocks for a few seconds at most.
    static std::expected<bool, QString> handOver(const QString& path, const QStringList& arguments);

    // Starts listening at `path`. A socket left behind by an instance that
    // no longer runs is removed first; false when another instance answers
    // there or the socket cannot be made.
    bool listen(const QString& path);

Q_SIGNALS:
    void received(const QStringList& arguments);

private:
    void accept();
    void take(QLocalSocket* socket);

    QLocalServer* m_server;
    int m_inFlight = 0;
};
