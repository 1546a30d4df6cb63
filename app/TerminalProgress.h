#pragma once

#include <QElapsedTimer>
#include <QString>

#include <optional>

// The one line `--upload` keeps rewriting on standard error while a file is
// sent, for a person at a terminal, for example "42% (2.1 MB of 5 MB,
// 1.5 MB/s)". The rate is left out while unknown.
QString progressLine(qint64 sent, qint64 total, std::optional<double> bytesPerSecond);

// Draws progressLine() in place on standard error, at most a few times a
// second. Draws nothing unless standard error is a terminal.
class TerminalProgress {
public:
    explicit TerminalProgress(qint64 total);
    // `fraction` of the file has been sent (0 starts a new transfer).
    void update(double fraction);
    // Removes the line, leaving the cursor where it started.
    void clear();

private:
    bool m_enabled;
    qint64 m_total;
    QElapsedTimer m_sinceStart;
    QElapsedTimer m_sinceDrawn;
    bool m_drawn = false;
};
