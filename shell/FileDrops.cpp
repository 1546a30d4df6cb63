#include "shell/FileDrops.h"

#include "shell/DropTarget.h"

#include <QDropEvent>

FileDrops::FileDrops(QObject& window, std::function<void(const QList<QUrl>&)> dropped)
    : QObject(&window), m_dropped(std::move(dropped)) {
    window.installEventFilter(this);
}

bool FileDrops::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return QObject::eventFilter(watched, event);
    auto* drag = static_cast<QDropEvent*>(event);
    const QList<QUrl> files = DropTarget::fileURLs(*drag->mimeData());
    if (files.isEmpty()) {
        drag->ignore();
        return true;
    }
    drag->setDropAction(Qt::CopyAction);
    drag->accept();
    if (type == QEvent::Drop && m_dropped)
        m_dropped(files);
    return true;
}
