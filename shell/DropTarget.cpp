#include "shell/DropTarget.h"

#include "net/FileUrl.h"

#include <QMimeData>

namespace DropTarget {

QList<QUrl> fileURLs(const QList<QUrl>& urls) {
    QList<QUrl> files;
    for (const QUrl& url : urls)
        if (const QUrl file = FileUrl::local(url); file.isValid())
            files.append(file);
    return files;
}

QList<QUrl> fileURLs(const QMimeData& data) {
    return data.hasUrls() ? fileURLs(data.urls()) : QList<QUrl>();
}

} // namespace DropTarget
