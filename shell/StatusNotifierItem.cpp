#include "shell/StatusNotifierItem.h"

#include "shell/DBusMenuExporter.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QImage>
#include <QLoggingCategory>
#include <QtEndian>

Q_DECLARE_LOGGING_CATEGORY(lcShell)

using namespace Qt::StringLiterals;

namespace {

const QString watcherService = u"org.kde.StatusNotifierWatcher"_s;
const QString itemPath = u"/StatusNotifierItem"_s;
const QString menuPath = u"/MenuBar"_s;

} // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const SniImage& image) {
    argument.beginStructure();
    argument << image.width << image.height << image.pixels;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, SniImage& image) {
    argument.beginStructure();
    argument >> image.width >> image.height >> image.pixels;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const SniToolTip& toolTip) {
    argument.beginStructure();
    argument << toolTip.iconName << toolTip.images << toolTip.title << toolTip.text;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, SniToolTip& toolTip) {
    argument.beginStructure();
    argument >> toolTip.iconName >> toolTip.images >> toolTip.title >> toolTip.text;
    argument.endStructure();
    return argument;
}

QList<SniImage> sniImages(const QIcon& icon) {
    QList<SniImage> images;
    for (int size : {22, 32, 48}) {
        QImage image = icon.pixmap(size, size)
                           .toImage()
                           .scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                           .convertToFormat(QImage::Format_ARGB32);
        if (image.isNull())
            continue;
        QByteArray pixels(static_cast<qsizetype>(image.width()) * image.height() * 4, '\0');
        auto* out = reinterpret_cast<uchar*>(pixels.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x, out += 4)
                qToBigEndian(line[x], out);
        }
        images.append({image.width(), image.height(), pixels});
    }
    return images;
}

namespace {

class SniAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(QList<SniImage> IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ none)
    Q_PROPERTY(QString AttentionIconName READ none)
    Q_PROPERTY(SniToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)
public:
    explicit SniAdaptor(StatusNotifierItem& item) : QDBusAbstractAdaptor(&item), m_item(item) {
        QObject::connect(&item, &StatusNotifierItem::newTitle, this, &SniAdaptor::NewTitle);
        QObject::connect(&item, &StatusNotifierItem::newIcon, this, &SniAdaptor::NewIcon);
        QObject::connect(&item, &StatusNotifierItem::newToolTip, this, &SniAdaptor::NewToolTip);
    }

    QString category() const { return u"ApplicationStatus"_s; }
    QString id() const { return u"parvel"_s; }
    QString title() const { return m_item.title(); }
    QString status() const { return u"Active"_s; }
    int windowId() const { return 0; }
    QString iconName() const { return m_item.iconName(); }
    QList<SniImage> iconPixmap() const { return m_item.images(); }
    QString none() const { return {}; }
    SniToolTip toolTip() const { return m_item.toolTip(); }
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menu() const { return QDBusObjectPath(menuPath); }

public Q_SLOTS:
    void Activate(int x, int y) { run(m_item.actions().activate, x, y); }
    void SecondaryActivate(int x, int y) { run(m_item.actions().secondaryActivate, x, y); }
    void ContextMenu(int x, int y) { run(m_item.actions().contextMenu, x, y); }
    void Scroll(int, const QString&) {}

Q_SIGNALS:
    void NewTitle();
    void NewIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    static void run(const std::function<void(QPoint)>& action, int x, int y) {
        if (action)
            action(QPoint(x, y));
    }

    StatusNotifierItem& m_item;
};

} // namespace

StatusNotifierItem::StatusNotifierItem(const QDBusConnection& bus, QMenu& menu, Actions actions,
                                       QObject* parent)
    : QObject(parent), m_bus(bus), m_actions(std::move(actions)),
      m_menu(new DBusMenuExporter(menu, this)),
      m_watcher(new QDBusServiceWatcher(watcherService, bus,
                                        QDBusServiceWatcher::WatchForRegistration, this)) {
    qDBusRegisterMetaType<SniImage>();
    qDBusRegisterMetaType<QList<SniImage>>();
    qDBusRegisterMetaType<SniToolTip>();
    new SniAdaptor(*this);
    QObject::connect(m_watcher, &QDBusServiceWatcher::serviceRegistered, this,
                     &StatusNotifierItem::registerWithWatcher);
}

StatusNotifierItem::~StatusNotifierItem() {
    if (m_service.isEmpty())
        return;
    m_bus.unregisterObject(itemPath);
    m_bus.unregisterObject(menuPath);
    m_bus.unregisterService(m_service);
}

bool StatusNotifierItem::watcherExists(const QDBusConnection& bus) {
    const QDBusConnectionInterface* names = bus.isConnected() ? bus.interface() : nullptr;
    return names && names->isServiceRegistered(watcherService).value();
}

bool StatusNotifierItem::start() {
    static int count = 0;
    const QString name =
        u"org.kde.StatusNotifierItem-%1-%2"_s.arg(QCoreApplication::applicationPid()).arg(++count);
    if (!m_bus.registerService(name))
        return false;
    if (!m_bus.registerObject(itemPath, this, QDBusConnection::ExportAdaptors) ||
        !m_menu->exportOn(m_bus, menuPath)) {
        m_bus.unregisterObject(itemPath);
        m_bus.unregisterService(name);
        return false;
    }
    m_service = name;
    registerWithWatcher();
    return true;
}

void StatusNotifierItem::registerWithWatcher() {
    if (m_service.isEmpty())
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(watcherService, u"/StatusNotifierWatcher"_s, watcherService,
                                       u"RegisterStatusNotifierItem"_s);
    call << m_service;
    auto* pending = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    QObject::connect(
        pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* reply) {
            reply->deleteLater();
            if (reply->isError()) {
                qCDebug(lcShell) << "the tray host refused the item:" << reply->error().message();
                return;
            }
            m_registered = true;
            Q_EMIT registered();
        });
}

void StatusNotifierItem::setTexts(const QString& accessibleName, const QString& toolTip) {
    if (accessibleName != m_title) {
        m_title = accessibleName;
        Q_EMIT newTitle();
    }
    if (toolTip != m_toolTip) {
        m_toolTip = toolTip;
        Q_EMIT newToolTip();
    }
}

void StatusNotifierItem::setIcon(const QString& themeName, const QIcon& icon) {
    m_iconName = themeName;
    m_images = sniImages(icon);
    Q_EMIT newIcon();
}

SniToolTip StatusNotifierItem::toolTip() const {
    return {m_iconName, m_images, u"Parvel"_s, m_toolTip};
}

#include "StatusNotifierItem.moc"
