#include "shell/DBusMenuExporter.h"

#include <QAction>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QEvent>
#include <QMenu>
#include <QTimer>

using namespace Qt::StringLiterals;

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuLayout& layout) {
    argument.beginStructure();
    argument << layout.id << layout.properties;
    argument.beginArray(qMetaTypeId<QDBusVariant>());
    for (const QVariant& child : layout.children)
        argument << QDBusVariant(child);
    argument.endArray();
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayout& layout) {
    argument.beginStructure();
    argument >> layout.id >> layout.properties;
    layout.children.clear();
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        // Children arrive as variants that still hold the marshalled entry.
        DBusMenuLayout entry;
        qvariant_cast<QDBusArgument>(child.variant()) >> entry;
        layout.children.append(QVariant::fromValue(entry));
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuProperties& item) {
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuProperties& item) {
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuEvent& event) {
    argument.beginStructure();
    argument << event.id << event.eventId << event.data << event.timestamp;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuEvent& event) {
    argument.beginStructure();
    argument >> event.id >> event.eventId >> event.data >> event.timestamp;
    argument.endStructure();
    return argument;
}

namespace {

// The D-Bus face of the exporter: what libdbusmenu, GNOME's AppIndicator
// extension and Plasma call.
class DBusMenuAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)
public:
    explicit DBusMenuAdaptor(DBusMenuExporter& menu) : QDBusAbstractAdaptor(&menu), m_menu(menu) {
        QObject::connect(&menu, &DBusMenuExporter::layoutUpdated, this,
                         &DBusMenuAdaptor::LayoutUpdated);
    }

    uint version() const { return 3; }
    QString textDirection() const { return u"ltr"_s; }
    QString status() const { return u"normal"_s; }
    QStringList iconThemePath() const { return {}; }

public Q_SLOTS:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   DBusMenuLayout& layout) {
        layout = m_menu.layout(parentId, recursionDepth, propertyNames);
        return m_menu.revision();
    }
    QList<DBusMenuProperties> GetGroupProperties(const QList<int>& ids,
                                                 const QStringList& propertyNames) {
        QList<DBusMenuProperties> items;
        for (int id : ids)
            items.append({id, m_menu.properties(id, propertyNames)});
        return items;
    }
    QDBusVariant GetProperty(int id, const QString& name) {
        return QDBusVariant(m_menu.properties(id, {name}).value(name));
    }
    void Event(int id, const QString& eventId, const QDBusVariant&, uint) {
        if (eventId == "clicked"_L1)
            m_menu.click(id);
    }
    QList<int> EventGroup(const QList<DBusMenuEvent>& events) {
        QList<int> unknown;
        for (const DBusMenuEvent& event : events)
            if (event.eventId == "clicked"_L1 && !m_menu.click(event.id))
                unknown.append(event.id);
        return unknown;
    }
    bool AboutToShow(int) { return false; }
    QList<int> AboutToShowGroup(const QList<int>&, QList<int>& idErrors) {
        idErrors.clear();
        return {};
    }

Q_SIGNALS:
    void LayoutUpdated(uint revision, int parent);

private:
    DBusMenuExporter& m_menu;
};

QString dbusMenuLabel(QString text) {
    // dbusmenu marks mnemonics with "_", Qt with "&".
    text.replace(u'_', u"__"_s);
    text.replace(u"&&"_s, u"\x01"_s).replace(u'&', u'_').replace(u'\x01', u'&');
    return text;
}

QVariantMap filtered(QVariantMap properties, const QStringList& names) {
    if (names.isEmpty())
        return properties;
    for (auto it = properties.begin(); it != properties.end();)
        it = names.contains(it.key()) ? std::next(it) : properties.erase(it);
    return properties;
}

} // namespace

DBusMenuExporter::DBusMenuExporter(QMenu& menu, QObject* parent) : QObject(parent), m_menu(menu) {
    registerTypes();
    new DBusMenuAdaptor(*this);
    menu.installEventFilter(this);
}

void DBusMenuExporter::registerTypes() {
    qDBusRegisterMetaType<DBusMenuLayout>();
    qDBusRegisterMetaType<DBusMenuProperties>();
    qDBusRegisterMetaType<QList<DBusMenuProperties>>();
    qDBusRegisterMetaType<DBusMenuEvent>();
    qDBusRegisterMetaType<QList<DBusMenuEvent>>();
}

bool DBusMenuExporter::exportOn(QDBusConnection& bus, const QString& path) {
    return bus.registerObject(path, this, QDBusConnection::ExportAdaptors);
}

int DBusMenuExporter::idOf(QAction* action) {
    auto it = m_ids.constFind(action);
    if (it != m_ids.constEnd())
        return *it;
    QObject::connect(action, &QObject::destroyed, this, [this, action] { m_ids.remove(action); });
    return m_ids[action] = m_nextId++;
}

QAction* DBusMenuExporter::actionOf(int id) const {
    for (auto it = m_ids.constBegin(); it != m_ids.constEnd(); ++it)
        if (*it == id && m_menu.actions().contains(it.key()))
            return it.key();
    return nullptr;
}

QVariantMap DBusMenuExporter::properties(int id, const QStringList& names) {
    QVariantMap properties;
    if (id == 0) {
        properties.insert(u"children-display"_s, u"submenu"_s);
        return filtered(properties, names);
    }
    QAction* action = actionOf(id);
    if (!action)
        return properties;
    if (action->isSeparator()) {
        properties.insert(u"type"_s, u"separator"_s);
    } else {
        properties.insert(u"label"_s, dbusMenuLabel(action->text()));
        properties.insert(u"enabled"_s, action->isEnabled());
        if (action->isCheckable()) {
            properties.insert(u"toggle-type"_s, u"checkmark"_s);
            properties.insert(u"toggle-state"_s, action->isChecked() ? 1 : 0);
        }
    }
    properties.insert(u"visible"_s, action->isVisible());
    return filtered(properties, names);
}

DBusMenuLayout DBusMenuExporter::layout(int parentId, int depth, const QStringList& names) {
    // Ids are given out here, so every entry a host can name has one.
    const QList<QAction*> actions = m_menu.actions();
    for (QAction* action : actions)
        idOf(action);
    DBusMenuLayout layout{parentId, properties(parentId, names), {}};
    if (parentId == 0 && depth != 0)
        for (QAction* action : actions)
            layout.children.append(QVariant::fromValue(
                DBusMenuLayout{idOf(action), properties(idOf(action), names), {}}));
    return layout;
}

bool DBusMenuExporter::click(int id) {
    QPointer<QAction> action = actionOf(id);
    if (!action)
        return false;
    if (action->isEnabled() && !action->isSeparator())
        QTimer::singleShot(0, action.data(), [action] {
            if (action)
                action->trigger();
        });
    return true;
}

bool DBusMenuExporter::eventFilter(QObject* watched, QEvent* event) {
    const auto type = event->type();
    if (watched == &m_menu &&
        (type == QEvent::ActionAdded || type == QEvent::ActionChanged ||
         type == QEvent::ActionRemoved) &&
        !m_updatePending) {
        // One update for a burst of changes (a status line changes text and
        // visibility together).
        m_updatePending = true;
        QTimer::singleShot(0, this, [this] {
            m_updatePending = false;
            Q_EMIT layoutUpdated(++m_revision, 0);
        });
    }
    return QObject::eventFilter(watched, event);
}

#include "DBusMenuExporter.moc"
