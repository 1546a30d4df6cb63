#include "shell/TrayIconDrops.h"

#include "shell/FileDrops.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QWidget>

Q_DECLARE_LOGGING_CATEGORY(lcShell)

namespace {

bool isTrayIconWindow(const QObject* object) {
    return object->isWidgetType() &&
           qstrcmp(object->metaObject()->className(), "QSystemTrayIconSys") == 0;
}

} // namespace

TrayIconDrops::TrayIconDrops(std::function<void(const QList<QUrl>&)> dropped, QObject* parent)
    : QObject(parent), m_dropped(std::move(dropped)) {
    qApp->installEventFilter(this);
    for (QWidget* widget : QApplication::topLevelWidgets())
        attach(widget);
}

TrayIconDrops::~TrayIconDrops() {
    if (qApp)
        qApp->removeEventFilter(this);
}

bool TrayIconDrops::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show)
        attach(watched);
    return QObject::eventFilter(watched, event);
}

void TrayIconDrops::attach(QObject* candidate) {
    if (!isTrayIconWindow(candidate) || candidate->findChild<FileDrops*>())
        return;
    auto* icon = static_cast<QWidget*>(candidate);
    icon->setAcceptDrops(true);
    new FileDrops(*icon, m_dropped);
    qCDebug(lcShell, "the tray icon takes drops");
}
