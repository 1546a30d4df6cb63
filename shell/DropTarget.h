#pragma once

#include <QList>
#include <QUrl>

class QMimeData;

// What a drop of files onto the status icon carries, and the same rules for
// every other way files reach the running application from outside: the
// settings window, other instances, the file managers' menus.
namespace DropTarget {

// The local file URLs among `urls`, in their order; web links and other
// URLs are skipped, and so is any URL FileUrl::local refuses (another
// host, a NUL byte); each kept URL is the one local() rebuilt. Folders
// stay: the model decides about them.
QList<QUrl> fileURLs(const QList<QUrl>& urls);
// The same for a drag's data; empty when it carries no URLs.
QList<QUrl> fileURLs(const QMimeData& data);

} // namespace DropTarget
