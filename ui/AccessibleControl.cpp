#include "ui/AccessibleControl.h"

#include <QQuickWindow>

#include <optional>

namespace {

// Qt Quick's attached Accessible object is a child of its item.
QObject* accessibleAttached(const QObject* item) {
    for (QObject* child : item->children())
        if (child->inherits("QQuickAccessibleAttached"))
            return child;
    return nullptr;
}

constexpr int passwordEcho = 2; // TextInput.Password

std::optional<AccessibleControl::Kind> kindOf(QObject* object) {
    using Kind = AccessibleControl::Kind;
    if (object->inherits("QQuickProgressBar"))
        return Kind::Progress;
    // A field can become a password field after its interface exists.
    if (object->inherits("QQuickTextField"))
        return Kind::Field;
    // Menu items keep Qt's own interface: their menu navigates them.
    if (object->inherits("QQuickAbstractButton") && !object->inherits("QQuickMenuItem"))
        return Kind::Button;
    return std::nullopt;
}

QAccessibleInterface* factory(const QString&, QObject* object) {
    auto* item = qobject_cast<QQuickItem*>(object);
    const auto kind = item ? kindOf(object) : std::nullopt;
    if (!kind || !accessibleAttached(object))
        return nullptr;
    auto* control = new AccessibleControl(item, *kind);
    QObject::connect(item, &QQuickItem::enabledChanged, item, [item] {
        QAccessible::State changed;
        changed.disabled = true;
        QAccessibleStateChangeEvent event(item, changed);
        QAccessible::updateAccessibility(&event);
    });
    return control;
}

} // namespace

AccessibleControl::AccessibleControl(QQuickItem* item, Kind kind) : m_item(item), m_kind(kind) {}

void AccessibleControl::install() {
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    Q_UNUSED(installed);
}

bool AccessibleControl::isValid() const {
    return m_item != nullptr;
}

QObject* AccessibleControl::object() const {
    return m_item;
}

QWindow* AccessibleControl::window() const {
    return m_item ? m_item->window() : nullptr;
}

QAccessibleInterface* AccessibleControl::parent() const {
    if (!m_item)
        return nullptr;
    QQuickWindow* window = m_item->window();
    for (QQuickItem* up = m_item->parentItem(); up; up = up->parentItem()) {
        if (window && up == window->contentItem())
            return QAccessible::queryAccessibleInterface(window);
        if (accessibleAttached(up))
            return QAccessible::queryAccessibleInterface(up);
    }
    return window ? QAccessible::queryAccessibleInterface(window) : nullptr;
}

QVariant AccessibleControl::attached(const char* property) const {
    QObject* accessible = m_item ? accessibleAttached(m_item) : nullptr;
    return accessible ? accessible->property(property) : QVariant();
}

QString AccessibleControl::text(QAccessible::Text kind) const {
    // Qt keeps a password field's name empty: its placeholder names it.
    if (kind == QAccessible::Name && m_kind == Kind::Field) {
        const QString name = attached("name").toString();
        return name.isEmpty() && m_item ? m_item->property("placeholderText").toString() : name;
    }
    if (kind == QAccessible::Value && m_kind == Kind::Field)
        return shownText();
    if (kind == QAccessible::Name) {
        const QString name = attached("name").toString();
        return name.isEmpty() && m_item ? m_item->property("text").toString() : name;
    }
    if (kind == QAccessible::Description)
        return attached("description").toString();
    if (kind == QAccessible::Value && isProgress())
        return QString::number(qRound(currentValue().toDouble() * 100)) + u'%';
    return {};
}

QRect AccessibleControl::rect() const {
    if (!m_item || !m_item->window() || !m_item->isVisible())
        return {};
    const QPointF topLeft = m_item->mapToGlobal(QPointF(0, 0));
    return QRect(topLeft.toPoint(), QSize(int(m_item->width()), int(m_item->height())));
}

QAccessible::Role AccessibleControl::role() const {
    if (isProgress())
        return QAccessible::ProgressBar;
    if (m_kind == Kind::Field)
        return QAccessible::EditableText;
    // The role the QML set, else the control's own.
    if (const int role = attached("role").toInt())
        return QAccessible::Role(role);
    if (m_item->inherits("QQuickTabButton"))
        return QAccessible::PageTab;
    if (m_item->inherits("QQuickRadioButton"))
        return QAccessible::RadioButton;
    if (m_item->inherits("QQuickSwitch") || m_item->inherits("QQuickCheckBox"))
        return QAccessible::CheckBox;
    return QAccessible::Button;
}

QAccessible::State AccessibleControl::state() const {
    QAccessible::State state;
    if (!m_item)
        return state;
    const QQuickWindow* window = m_item->window();
    state.invisible =
        !window || !window->isVisible() || !m_item->isVisible() || qFuzzyIsNull(m_item->opacity());
    state.disabled = !m_item->isEnabled();
    state.focusable = m_item->activeFocusOnTab();
    state.focused = m_item->hasActiveFocus();
    if (m_kind == Kind::Field) {
        state.passwordEdit = isPassword();
        state.editable = !m_item->property("readOnly").toBool();
        state.focusable = true;
    } else if (m_kind == Kind::Button) {
        state.checkable = m_item->property("checkable").toBool();
        state.checked = m_item->property("checked").toBool();
        state.pressed = m_item->property("down").toBool();
    }
    return state;
}

void* AccessibleControl::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::TextInterface && m_kind == Kind::Field)
        return static_cast<QAccessibleTextInterface*>(this);
    if (type == QAccessible::ActionInterface && m_kind == Kind::Button)
        return static_cast<QAccessibleActionInterface*>(this);
    if (type == QAccessible::ValueInterface && isProgress())
        return static_cast<QAccessibleValueInterface*>(this);
    return nullptr;
}

QStringList AccessibleControl::actionNames() const {
    if (!m_item || !m_item->isEnabled())
        return {};
    return {m_item->property("checkable").toBool() ? toggleAction() : pressAction()};
}

void AccessibleControl::doAction(const QString& name) {
    if (m_item && m_item->isEnabled() && (name == pressAction() || name == toggleAction()))
        QMetaObject::invokeMethod(m_item, "click");
}

QVariant AccessibleControl::currentValue() const {
    return m_item ? m_item->property("value") : QVariant();
}
QVariant AccessibleControl::maximumValue() const {
    return m_item ? m_item->property("to") : QVariant();
}
QVariant AccessibleControl::minimumValue() const {
    return m_item ? m_item->property("from") : QVariant();
}

bool AccessibleControl::isPassword() const {
    return m_item && m_item->property("echoMode").toInt() == passwordEcho;
}

QString AccessibleControl::shownText() const {
    if (!m_item)
        return {};
    if (!isPassword())
        return m_item->property("text").toString();
    const QString bullet = m_item->property("passwordCharacter").toString();
    return bullet.repeated(m_item->property("length").toInt());
}

QString AccessibleControl::text(int start, int end) const {
    const QString shown = shownText();
    if (end < 0 || end > shown.size())
        end = int(shown.size());
    return start >= 0 && start <= end ? shown.mid(start, end - start) : QString();
}

int AccessibleControl::cursorPosition() const {
    return m_item ? m_item->property("cursorPosition").toInt() : 0;
}
