#include "app/TerminalProgress.h"

#include "app/OutputStreams.h"
#include "net/Records.h"

#include <unistd.h>

#include <algorithm>

QString progressLine(qint64 sent, qint64 total, std::optional<double> bytesPerSecond) {
    sent = std::clamp<qint64>(sent, 0, std::max<qint64>(total, 0));
    const qint64 percent = total > 0 ? sent * 100 / total : 100;
    QString line = QStringLiteral("%1% (%2 of %3")
                       .arg(percent)
                       .arg(formatByteCount(sent), formatByteCount(total));
    if (bytesPerSecond && *bytesPerSecond >= 0)
        line += QStringLiteral(", %1/s").arg(formatByteCount(qint64(*bytesPerSecond)));
    return line + u')';
}

TerminalProgress::TerminalProgress(qint64 total)
    : m_enabled(::isatty(STDERR_FILENO) == 1), m_total(total) {}

void TerminalProgress::update(double fraction) {
    if (!m_enabled)
        return;
    if (fraction <= 0 || !m_sinceStart.isValid())
        m_sinceStart.start();
    const bool done = fraction >= 1;
    // A terminal redrawn thousands of times a second slows the upload down.
    if (m_drawn && !done && m_sinceDrawn.isValid() && m_sinceDrawn.elapsed() < 100)
        return;
    const qint64 sent = qint64(fraction * double(m_total));
    const qint64 elapsed = m_sinceStart.elapsed();
    const std::optional<double> rate =
        elapsed >= 200 ? std::optional<double>(double(sent) * 1000.0 / double(elapsed))
                       : std::nullopt;
    // Back to the line's start, the new text, then erase what is left of
    // the old one.
    writeErrorBytes("\r" + progressLine(sent, m_total, rate).toUtf8() + "\x1b[K");
    m_drawn = true;
    m_sinceDrawn.start();
}

void TerminalProgress::clear() {
    if (m_drawn)
        writeErrorBytes("\r\x1b[K");
    m_drawn = false;
}
