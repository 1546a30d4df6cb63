#include "shell/WindowKeys.h"

#include <QKeyEvent>
#include <QQuickItem>
#include <QQuickWindow>
#include <QWindow>

namespace {

// Escape in an open menu or sheet closes that, not the window.
bool inPopup(QObject* window) {
    const auto* quick = qobject_cast<QQuickWindow*>(window);
    for (QQuickItem* item = quick ? quick->activeFocusItem() : nullptr; item;
         item = item->parentItem())
        if (item->inherits("QQuickPopupItem"))
            return true;
    return false;
}

class KeyFilter final : public QObject {
public:
    KeyFilter(WindowKeys keys, QObject* parent) : QObject(parent), m_keys(std::move(keys)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress)
            return QObject::eventFilter(watched, event);
        const auto* key = static_cast<QKeyEvent*>(event);
        const auto modifiers = key->modifiers() & ~Qt::KeypadModifier;
        const std::function<void()>* command = nullptr;
        if (key->key() == Qt::Key_Escape && modifiers == Qt::NoModifier && !inPopup(watched))
            command = &m_keys.escape;
        else if (key->key() == Qt::Key_Q && modifiers == Qt::ControlModifier)
            command = &m_keys.quit;
        else if (key->key() == Qt::Key_Comma && modifiers == Qt::ControlModifier)
            command = &m_keys.settings;
        if (!command || !*command)
            return false;
        (*command)();
        return true;
    }

private:
    WindowKeys m_keys;
};

} // namespace

void WindowKeys::installOn(QWindow& window) const {
    window.installEventFilter(new KeyFilter(*this, &window));
}
