#include "shell/PopoverWindow.h"

#include "shell/Compositing.h"
#include "shell/PopoverPlacement.h"
#include "shell/QmlHost.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPropertyAnimation>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>

namespace {

constexpr QSize popoverSize(336, 560);
constexpr int cornerRadius = 10;
constexpr int fadeMs = 120;
// A click on the tray icon takes the focus first and is delivered after.
constexpr qint64 focusLossGraceMs = 400;

QScreen* screenAt(const QRect& icon) {
    const QPoint point = icon.isEmpty() ? QCursor::pos() : icon.center();
    if (QScreen* screen = QGuiApplication::screenAt(point))
        return screen;
    return QGuiApplication::primaryScreen();
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
    const QRect icon = m_iconGeometry ? m_iconGeometry() : QRect();
    QScreen* screen = screenAt(icon);
    if (screen) {
        m_window->setScreen(screen);
        m_window->setPosition(popoverPosition(icon, popoverSize, screen->availableGeometry()));
    }
    m_shown = true;
    m_awaitingFrame = true;
    m_fade->stop();
    const bool animate = m_motionAllowed && m_motionAllowed();
    m_window->setOpacity(animate ? 0.0 : 1.0);
    m_window->show();
    m_window->raise();
    m_window->requestActivate();
    if (animate) {
        m_fade->setStartValue(0.0);
        m_fade->setEndValue(1.0);
        m_fade->start();
    }
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
