#pragma once

#include <QAccessibleActionInterface>
#include <QAccessibleInterface>
#include <QAccessibleValueInterface>
#include <QPointer>
#include <QQuickItem>

// What a screen reader reads for the views' buttons, progress bars and
// password fields. Qt Quick 6.4 reports every button as enabled, whatever its
// `enabled`, gives a progress bar no value, and a password field neither a
// name nor hidden text: this interface answers for those items instead, from
// the item itself and from the names, roles and descriptions the QML sets
// through Accessible.
class AccessibleControl : public QAccessibleInterface,
                          public QAccessibleActionInterface,
                          public QAccessibleValueInterface,
                          public QAccessibleTextInterface {
public:
    enum class Kind { Button, Progress, Field };
    AccessibleControl(QQuickItem* item, Kind kind);

    // Answers for the items above from now on; the latest factory installed
    // is asked first, so this goes in after Qt Quick's own.
    static void install();

    bool isValid() const override;
    QObject* object() const override;
    QWindow* window() const override;
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text kind) const override;
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override;
    QAccessible::Role role() const override;
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    QStringList actionNames() const override;
    void doAction(const QString& name) override;
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

    QVariant currentValue() const override;
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override;
    QVariant minimumValue() const override;
    QVariant minimumStepSize() const override { return 0.01; }

    // A field's text; a password field's as bullets only.
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override;
    void setCursorPosition(int) override {}
    QString text(int start, int end) const override;
    int characterCount() const override { return int(shownText().size()); }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* start, int* end) const override {
        *start = *end = 0;
        return {};
    }

private:
    bool isProgress() const { return m_kind == Kind::Progress; }
    bool isPassword() const;
    QString shownText() const;
    QVariant attached(const char* property) const;

    QPointer<QQuickItem> m_item;
    Kind m_kind;
};
