#include "shell/PopoverWindow.h"

#include "shell/Compositing.h"
#include "shell/DropTarget.h"
#include "shell/PointerButtons.h"
#include "shell/PopoverPlacement.h"
#include "shell/QmlHost.h"
#include "shell/SwayPlacement.h"

#include <QCursor>
#include <QDropEvent>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QMimeData>
#include <QPropertyAnimation>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>
#include <QTimer>

Q_DECLARE_LOGGING_CATEGORY(lcShell)

namespace {

constexpr QSize popoverSize(336, 560);
constexpr int cornerRadius = 10;
constexpr int fadeMs = 120;
// A click on the tray icon takes the focus first and is delivered after.
constexpr qint64 focusLossGraceMs = 400;
// How often the held button is looked at, and how long a drag that is over
// the popover at the release may take to deliver its drop.
constexpr int buttonPollMs = 30;
constexpr qint64 dropAfterReleaseMs = 1000;

// With nothing known of the icon, a plain X11 desktop still knows where the
// pointer is, which is next to the icon more often than not. Under XWayland
// it only knows the pointer's last place over one of our windows.
QRect anchorOrPointer(const QRect& icon) {
    if (!icon.isEmpty() || QGuiApplication::platformName() != u"xcb" ||
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return icon;
    return QRect(QCursor::pos(), QSize(1, 1));
}

QList<QRect> screenAreas() {
    QList<QRect> areas;
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (QScreen* primary = QGuiApplication::primaryScreen())
        areas.append(primary->availableGeometry());
    for (QScreen* screen : screens)
        if (screen != QGuiApplication::primaryScreen())
            areas.append(screen->availableGeometry());
    return areas;
}

} // namespace

PopoverWindow::PopoverWindow(QQmlEngine& engine, ParvelModel& model,
                             std::function<QRect()> iconGeometry,
                             std::function<bool()> motionAllowed, QObject* parent)
    : QObject(parent), m_window(new QQuickView(&engine, nullptr)),
      m_iconGeometry(std::move(iconGeometry)), m_motionAllowed(std::move(motionAllowed)),
      m_model(model), m_buttonPoll(new QTimer(this)) {
    m_buttonPoll->setInterval(buttonPollMs);
    QObject::connect(m_buttonPoll, &QTimer::timeout, this, &PopoverWindow::checkButtons);
    m_window->installEventFilter(this);
    m_window->setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    m_window->setTitle(QStringLiteral("Parvel"));
    m_window->resize(popoverSize);
    m_window->setMinimumSize(popoverSize);
    m_window->setMaximumSize(popoverSize);

    m_fade = new QPropertyAnimation(m_window, "opacity", this);
    m_fade->setDuration(fadeMs);
    QObject::connect(m_fade, &QPropertyAnimation::finished, this, [this] {
        if (!m_shown)
            finishClosing();
        else if (m_activatedSinceShown && !m_window->isActive())
            focusLost(); // while it faded in, unheeded then
    });
    QObject::connect(m_window, &QWindow::activeChanged, this, [this] {
        qCDebug(lcShell) << "popover active:" << m_window->isActive();
        if (m_window->isActive()) {
            m_activatedSinceShown = true;
            m_buttonPoll->stop();
        } else if (m_shown && m_window->isVisible() &&
                   m_fade->state() != QAbstractAnimation::Running)
            focusLost();
    });
    QObject::connect(m_window, &QQuickWindow::frameSwapped, this, [this] {
        if (m_awaitingFrame) {
            m_awaitingFrame = false;
            Q_EMIT frameShown();
        }
    });
}

PopoverWindow::~PopoverWindow() {
    delete m_window;
}

bool PopoverWindow::isShown() const {
    return m_shown;
}

void PopoverWindow::prepare() {
    if (m_prepared)
        return;
    m_prepared = true;
    // A window with an alpha channel only where the desktop blends it: the
    // corners outside the rounded outline are then see-through.
    m_translucent = windowsBlend();
    if (m_translucent) {
        QSurfaceFormat format = m_window->format();
        format.setAlphaBufferSize(8);
        m_window->setFormat(format);
        m_window->setColor(Qt::transparent);
    }
    hostView(*m_window, QStringLiteral("MainView"), m_model, m_dark);
}

void PopoverWindow::show() {
    prepare();
    // Square corners when no compositor runs (any more): black would show
    // outside the curve.
    if (QQuickItem* root = m_window->rootObject())
        root->setProperty("cornerRadius", m_translucent && windowsBlend() ? cornerRadius : 0);
    const QRect icon = anchorOrPointer(m_iconGeometry ? m_iconGeometry() : QRect());
    const QPoint position = popoverPosition(icon, popoverSize, screenAreas());
    if (QScreen* screen = QGuiApplication::screenAt(position + QPoint(1, 1)))
        m_window->setScreen(screen);
    m_window->setPosition(position);
    m_shown = true;
    m_activatedSinceShown = m_window->isActive();
    m_awaitingFrame = true;
    m_fade->stop();
    const bool animate = m_motionAllowed && m_motionAllowed();
    // Under sway the window first appears where sway puts it, and goes to
    // the pointer, which sway knows better than any panel: it stays
    // transparent until it has been moved.
    const bool moveFirst = swayPlacesWindows();
    m_window->setOpacity(animate || moveFirst ? 0.0 : 1.0);
    m_window->show();
    m_window->raise();
    m_window->requestActivate();
    const int showing = ++m_showing;
    const auto reveal = [this, animate, showing] {
        if (!m_shown || showing != m_showing)
            return;
        if (animate) {
            m_fade->setStartValue(0.0);
            m_fade->setEndValue(1.0);
            m_fade->start();
        } else {
            m_window->setOpacity(1.0);
        }
    };
    if (moveFirst)
        placeBySway(
            *m_window,
            [](QPoint pointer, QRect usable) {
                return popoverPosition(QRect(pointer, QSize(1, 1)), popoverSize, {usable});
            },
            this, [reveal](bool) { reveal(); });
    else if (animate)
        reveal();
}

void PopoverWindow::focusLost() {
    if (pointerButtonHeld()) {
        qCDebug(lcShell, "popover lost the focus with a button held: kept until the release");
        m_sinceRelease.invalidate();
        m_buttonPoll->start();
        return;
    }
    m_focusLossClose.start();
    close();
}

void PopoverWindow::checkButtons() {
    if (!m_shown) {
        m_buttonPoll->stop();
        return;
    }
    if (pointerButtonHeld()) {
        m_sinceRelease.invalidate();
        return;
    }
    // The drop follows the release as a message from the drag's source.
    if (!m_sinceRelease.isValid())
        m_sinceRelease.start();
    if (m_dragInside && m_sinceRelease.elapsed() < dropAfterReleaseMs)
        return;
    m_buttonPoll->stop();
    m_focusLossClose.start();
    close();
}

bool PopoverWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_window || m_forwarding)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter:
        m_dragInside = true;
        m_enteredURLs = DropTarget::fileURLs(*static_cast<QDropEvent*>(event)->mimeData());
        break;
    case QEvent::DragLeave:
        m_dragInside = false;
        break;
    case QEvent::Drop:
        m_dragInside = false;
        return forwardDrop(*static_cast<QDropEvent*>(event));
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

bool PopoverWindow::forwardDrop(QDropEvent& drop) {
    // The view gets the drop as it came, or with the URLs seen on entering
    // when it came without; either way this window learns the outcome.
    QMimeData entered;
    const QMimeData* data = drop.mimeData();
    if (!data->hasUrls() && !m_enteredURLs.isEmpty()) {
        entered.setUrls(m_enteredURLs);
        data = &entered;
    }
    QDropEvent forwarded(drop.position(), drop.possibleActions(), data, drop.buttons(),
                         drop.modifiers());
    m_forwarding = true;
    QCoreApplication::sendEvent(m_window, &forwarded);
    m_forwarding = false;
    m_enteredURLs.clear();
    drop.setDropAction(forwarded.dropAction());
    drop.setAccepted(forwarded.isAccepted());
    qCDebug(lcShell) << "drop on the popover" << (forwarded.isAccepted() ? "taken" : "refused");
    if (forwarded.isAccepted() && m_shown) {
        m_buttonPoll->stop();
        m_window->raise();
        m_window->requestActivate();
    }
    return true;
}

void PopoverWindow::close() {
    if (!m_shown)
        return;
    m_shown = false;
    m_buttonPoll->stop();
    m_fade->stop();
    if (m_motionAllowed && m_motionAllowed() && m_window->isVisible()) {
        m_fade->setStartValue(m_window->opacity());
        m_fade->setEndValue(0.0);
        m_fade->start();
    } else {
        finishClosing();
    }
}

void PopoverWindow::finishClosing() {
    m_window->hide();
    if (closed)
        closed();
}

bool PopoverWindow::closedByFocusLossJustNow() const {
    return m_focusLossClose.isValid() && m_focusLossClose.elapsed() < focusLossGraceMs;
}

void PopoverWindow::setDark(bool dark) {
    setViewDark(*m_window, dark);
}
