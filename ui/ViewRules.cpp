#include "ui/ViewRules.h"

#include <QTextBoundaryFinder>

#include <cmath>

namespace ViewRules {

QString badgeLabel(const QString& name) {
    const QString component = name.section(u'/', -1, -1, QString::SectionSkipEmpty);
    const qsizetype dot = component.lastIndexOf(u'.');
    if (dot < 0)
        return {};
    const QString extension = component.mid(dot + 1).toUpper();

    // Four user-perceived characters, not four UTF-16 units.
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, extension);
    int taken = 0;
    qsizetype end = 0;
    while (taken < 4 && (end = finder.toNextBoundary()) >= 0)
        ++taken;
    return end < 0 ? extension : extension.left(end);
}

QString fileName(const QUrl& url) {
    return url.fileName();
}

int recentRowCount(bool statusShown, bool usePassword, int fileCount) {
    const int rows = 3 - (statusShown ? 1 : 0) - (usePassword ? 1 : 0);
    return std::max(0, std::min(rows, fileCount));
}

QString percentText(double progress) {
    const double percent = progress * 100;
    const qint64 whole = std::isfinite(percent) ? qint64(std::trunc(percent)) : 0;
    return QString::number(whole) + u'%';
}

QString uploadTitle(int count) {
    return count > 1 ? QStringLiteral("Upload and copy links")
                     : QStringLiteral("Upload and copy link");
}

QString connectTitle(bool connecting) {
    return connecting ? QStringLiteral("Connecting…") : QStringLiteral("Connect");
}

bool canConnect(const QString& code, bool connecting) {
    return !connecting && !code.isEmpty();
}

FeedbackKind feedbackKind(const QString& error, const QString& message, bool isUploading) {
    if (!error.isEmpty())
        return FeedbackKind::Error;
    if (!message.isEmpty())
        return isUploading ? FeedbackKind::Progress : FeedbackKind::Done;
    return FeedbackKind::None;
}

} // namespace ViewRules
