#include "shell/StatusText.h"

#include <QtMath>

QString statusText(bool isUploading, const QString& message, double progress) {
    if (!isUploading)
        return QStringLiteral("Send files");
    const int percent = qBound(0, qFloor(progress * 100), 100);
    const QString text = message.isEmpty() ? QStringLiteral("Uploading…") : message;
    return text + u' ' + QString::number(percent) + u'%';
}
