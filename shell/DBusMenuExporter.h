#pragma once

#include <QDBusArgument>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QVariantMap>

class QAction;
class QDBusConnection;
class QMenu;

// One entry of a com.canonical.dbusmenu layout, `(ia{sv}av)`: the children
// are variants that each hold an entry.
struct DBusMenuLayout {
    int id = 0;
    QVariantMap properties;
    QVariantList children;
};
Q_DECLARE_METATYPE(DBusMenuLayout)
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuLayout& layout);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayout& layout);

// An entry's properties, `(ia{sv})`, as GetGroupProperties answers.
struct DBusMenuProperties {
    int id = 0;
    QVariantMap properties;
};
Q_DECLARE_METATYPE(DBusMenuProperties)
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuProperties& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuProperties& item);

// One event of EventGroup, `(isvu)`.
struct DBusMenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
Q_DECLARE_METATYPE(DBusMenuEvent)
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuEvent& event);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuEvent& event);

// Publishes a QMenu over com.canonical.dbusmenu for the tray hosts that draw
// the item's menu themselves. Built from the menu's actions as they are at
// each request, so entries added to the menu anywhere appear without more
// work; any change to them tells the hosts to read the layout again. One
// level only: hosts are not offered submenus.
class DBusMenuExporter final : public QObject {
    Q_OBJECT
public:
    explicit DBusMenuExporter(QMenu& menu, QObject* parent = nullptr);

    static void registerTypes();
    // Exports the menu at `path` on `bus`.
    bool exportOn(QDBusConnection& bus, const QString& path);

    DBusMenuLayout layout(int parentId, int depth, const QStringList& names);
    QVariantMap properties(int id, const QStringList& names);
    // Runs the entry's action after the D-Bus answer went out; false for an
    // unknown id.
    bool click(int id);
    uint revision() const { return m_revision; }

Q_SIGNALS:
    void layoutUpdated(uint revision, int parent);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int idOf(QAction* action);
    QAction* actionOf(int id) const;

    QMenu& m_menu;
    QHash<QAction*, int> m_ids;
    int m_nextId = 1;
    uint m_revision = 1;
    bool m_updatePending = false;
};
