#include "shell/PopoverWindow.h"

#include "shell/PopoverPlacement.h"
#include "shell/QmlHost.h"
#include "shell/SwayPlacement.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPropertyAnimation>
#include <QQuickView>
#include <QScreen>

namespace {

constexpr QSize popoverSize(336, 560);
constexpr int fadeMs = 120;
// A click on the tray icon takes the focus first and is delivered after.
constexpr qint64 focusLossGraceMs = 400;

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
      m_model(model) {
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
    });
    QObject::connect(m_window, &QWindow::activeChanged, this, [this] {
        if (m_shown && !m_window->isActive() && m_window->isVisible() &&
            m_fade->state() != QAbstractAnimation::Running) {
            m_focusLossClose.start();
            close();
        }
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
    hostView(*m_window, QStringLiteral("MainView"), m_model, m_dark);
}

void PopoverWindow::show() {
    prepare();
    const QRect icon = anchorOrPointer(m_iconGeometry ? m_iconGeometry() : QRect());
    const QPoint position = popoverPosition(icon, popoverSize, screenAreas());
    if (QScreen* screen = QGuiApplication::screenAt(position + QPoint(1, 1)))
        m_window->setScreen(screen);
    m_window->setPosition(position);
    m_shown = true;
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

void PopoverWindow::close() {
    if (!m_shown)
        return;
    m_shown = false;
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
