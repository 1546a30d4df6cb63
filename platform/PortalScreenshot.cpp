#include "platform/PortalScreenshot.h"
#include "platform/Portal.h"
#include "platform/SessionBus.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QUrl>

#include <QCoro/QCoroDBusPendingReply>
#include <QCoro/QCoroSignal>

#include <algorithm>
#include <memory>
#include <optional>

Q_LOGGING_CATEGORY(lcPortal, "parvel.portal", QtWarningMsg)

using namespace Qt::StringLiterals;

namespace {

const QString screenshotInterface = u"org.freedesktop.portal.Screenshot"_s;
const QString requestInterface = u"org.freedesktop.portal.Request"_s;

// The portal's answer codes.
constexpr uint responseSuccess = 0;
constexpr uint responseCancelled = 1;

// Where the portal will put the request object for `token`: known before
// the call, so the answer cannot arrive before we listen for it.
QString requestPath(const QDBusConnection& bus, const QString& token) {
    QString sender = bus.baseService().mid(1);
    sender.replace(u'.', u'_');
    return u"/org/freedesktop/portal/desktop/request/%1/%2"_s.arg(sender, token);
}

} // namespace

// Turns the request's Response signal, or the portal leaving the bus, into
// one `answered` signal.
class PortalRequest final : public QObject {
    Q_OBJECT
public:
    explicit PortalRequest(QDBusConnection bus)
        : m_bus(std::move(bus)),
          m_watcher(Portal::service, m_bus, QDBusServiceWatcher::WatchForUnregistration) {
        QObject::connect(&m_watcher, &QDBusServiceWatcher::serviceUnregistered, this,
                         [this] { Q_EMIT answered(~0u, {}); });
    }
    ~PortalRequest() override { listen({}); }

    void listen(const QString& path) {
        if (!m_path.isEmpty())
            m_bus.disconnect(Portal::service, m_path, requestInterface, u"Response"_s, this,
                             SLOT(onResponse(uint, QVariantMap)));
        m_path = path;
        if (!m_path.isEmpty())
            m_bus.connect(Portal::service, m_path, requestInterface, u"Response"_s, this,
                          SLOT(onResponse(uint, QVariantMap)));
    }
    const QString& path() const { return m_path; }

Q_SIGNALS:
    void answered(uint response, const QVariantMap& results);

private Q_SLOTS:
    void onResponse(uint response, const QVariantMap& results) {
        Q_EMIT answered(response, results);
    }

private:
    QDBusConnection m_bus;
    QDBusServiceWatcher m_watcher;
    QString m_path;
};

namespace {

struct Answer {
    uint response = 0;
    QVariantMap results;
};

// One Screenshot request and its answer; none when there is no portal.
QCoro::Task<std::optional<Answer>> ask(bool interactive) {
    // Never a bus of our own making: without a session there is no portal.
    if (!SessionBus::connected())
        co_return std::nullopt;
    QDBusConnection bus = QDBusConnection::sessionBus();

    const QString token = u"parvel%1"_s.arg(QRandomGenerator::global()->generate());
    const auto request = std::make_unique<PortalRequest>(bus);
    request->listen(requestPath(bus, token));

    QDBusMessage call = QDBusMessage::createMethodCall(Portal::service, Portal::path,
                                                       screenshotInterface, u"Screenshot"_s);
    call << QString() // no parent window the portal could know
         << QVariantMap{{u"handle_token"_s, token}, {u"interactive"_s, interactive}};
    QDBusPendingReply<QDBusObjectPath> reply = bus.asyncCall(call);
    co_await reply;
    if (reply.isError()) {
        qCDebug(lcPortal) << "screenshot request refused:" << reply.error().message();
        co_return std::nullopt;
    }
    // Portals older than the handle_token convention choose their own path.
    if (const QString path = reply.value().path(); path != request->path())
        request->listen(path);

    const auto [response, results] = co_await qCoro(request.get(), &PortalRequest::answered);
    qCDebug(lcPortal) << "screenshot answer:" << response << results;
    co_return Answer{response, results};
}

// Interactive where the desktop offers it. The wlroots portal's interactive
// screenshot is a region picked with `slurp`; without it the request fails,
// after the bus's 25-second time-out.
bool interactive() {
    static const QStringList wlroots = {u"wlroots"_s, u"sway"_s, u"Wayfire"_s, u"river"_s,
                                        u"Hyprland"_s};
    const QStringList desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':');
    const bool onWlroots = std::ranges::any_of(
        desktops, [](const QString& desktop) { return wlroots.contains(desktop); });
    return !onWlroots || !QStandardPaths::findExecutable(u"slurp"_s).isEmpty();
}

} // namespace

QCoro::Task<Capture> PortalScreenshot::take() {
    const std::optional<Answer> answer = co_await ask(interactive());
    if (!answer)
        co_return Capture{Capture::Outcome::Unavailable, {}};
    if (answer->response == responseCancelled)
        co_return Capture{Capture::Outcome::Cancelled, {}};
    const QUrl uri(answer->results.value(u"uri"_s).toString());
    if (answer->response != responseSuccess || !uri.isLocalFile())
        co_return Capture{Capture::Outcome::Unavailable, {}};
    co_return Capture{Capture::Outcome::Taken, uri.toLocalFile()};
}

#include "PortalScreenshot.moc"
