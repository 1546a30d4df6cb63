#pragma once

#include <QDBusArgument>
#include <QDBusConnection>
#include <QIcon>
#include <QObject>
#include <QPoint>

#include <functional>

class DBusMenuExporter;
class QDBusServiceWatcher;
class QMenu;

// An icon image as StatusNotifierItem hosts take it: ARGB32 pixels in
// network byte order, `(iiay)`.
struct SniImage {
    int width = 0;
    int height = 0;
    QByteArray pixels;
};
Q_DECLARE_METATYPE(SniImage)
QDBusArgument& operator<<(QDBusArgument& argument, const SniImage& image);
const QDBusArgument& operator>>(const QDBusArgument& argument, SniImage& image);

// The item's tool tip, `(sa(iiay)ss)`: icon name, images, title, text.
struct SniToolTip {
    QString iconName;
    QList<SniImage> images;
    QString title;
    QString text;
};
Q_DECLARE_METATYPE(SniToolTip)
QDBusArgument& operator<<(QDBusArgument& argument, const SniToolTip& toolTip);
const QDBusArgument& operator>>(const QDBusArgument& argument, SniToolTip& toolTip);

// The images of `icon` at the sizes panels draw (22, 32 and 48 px).
QList<SniImage> sniImages(const QIcon& icon);

// Our own org.kde.StatusNotifierItem, for the panels that host such items
// (GNOME's AppIndicator extension, Plasma, waybar, swaybar): unlike Qt's
// tray icon it hands on the point of a click and the context-menu request,
// and carries its menu over com.canonical.dbusmenu. It registers with the
// org.kde.StatusNotifierWatcher and again whenever a watcher appears (panels
// restart).
class StatusNotifierItem final : public QObject {
    Q_OBJECT
public:
    struct Actions {
        // A primary click at a point in global coordinates (0, 0 when the
        // host does not say).
        std::function<void(QPoint)> activate;
        std::function<void(QPoint)> secondaryActivate;
        // A host without menus of its own asks us to show ours.
        std::function<void(QPoint)> contextMenu;
    };

    StatusNotifierItem(const QDBusConnection& bus, QMenu& menu, Actions actions,
                       QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    static bool watcherExists(const QDBusConnection& bus);

    // Takes the bus name, exports the item and its menu, and registers with
    // the watcher; false when the bus refused the name or the objects.
    bool start();
    bool isRegistered() const { return m_registered; }
    QString serviceName() const { return m_service; }

    // `accessibleName` is the item's title, the name hosts give it to
    // screen readers; the tool tip shows "Parvel" over `toolTip`.
    void setTexts(const QString& accessibleName, const QString& toolTip);
    void setIcon(const QString& themeName, const QIcon& icon);

    // What the D-Bus properties read.
    QString title() const { return m_title; }
    QString iconName() const { return m_iconName; }
    QList<SniImage> images() const { return m_images; }
    SniToolTip toolTip() const;
    const Actions& actions() const { return m_actions; }

Q_SIGNALS:
    // The watcher took the item (also after a watcher restart).
    void registered();
    void newTitle();
    void newIcon();
    void newToolTip();

private:
    void registerWithWatcher();

    QDBusConnection m_bus;
    Actions m_actions;
    DBusMenuExporter* m_menu;
    QDBusServiceWatcher* m_watcher;
    QString m_service;
    QString m_title;
    QString m_toolTip;
    QString m_iconName;
    QList<SniImage> m_images;
    bool m_registered = false;
};
