#include "shell/DropTarget.h"

#include <QMimeData>

namespace DropTarget {

QList<QUrl> fileURLs(const QList<QUrl>& urls) {
    QList<QUrl> files;
    for (const QUrl& url : urls)
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            files.append(url);
    return files;
}

QList<QUrl> fileURLs(const QMimeData& data) {
    return data.hasUrls() ? fileURLs(data.urls()) : QList<QUrl>();
}

} // namespace DropTarget
