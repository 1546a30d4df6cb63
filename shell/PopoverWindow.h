#pragma once

#include "shell/Surfaces.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>

class ParvelModel;
class QPropertyAnimation;
class QQmlEngine;
class QQuickView;
class QRect;
class QDropEvent;
class QTimer;

// The popover: a frameless tool window (no taskbar entry) of 336×560 with
// the main view, under the tray icon, with rounded corners where a
// compositor makes the corners see-through. It takes the focus when shown and
// closes when it loses it, and on Escape.
//
// A drag from another window starts with a press there, which takes the
// focus: while a mouse button is held anywhere on the display the popover
// stays, a drop onto it gives it the focus back, and it closes when the
// button comes up without one.
class PopoverWindow final : public QObject, public PopoverSurface {
    Q_OBJECT
public:
    // `iconGeometry` tells where the tray icon is (empty when unknown);
    // `motionAllowed` whether to fade in and out.
    PopoverWindow(QQmlEngine& engine, ParvelModel& model, std::function<QRect()> iconGeometry,
                  std::function<bool()> motionAllowed, QObject* parent = nullptr);
    ~PopoverWindow() override;

    bool isShown() const override;
    void show() override;
    void close() override;
    bool closedByFocusLossJustNow() const override;

    // Builds the view; done by the first show() when not called before.
    // Kept out of the constructor so that the icon is up before QML loads.
    void prepare();
    void setDark(bool dark);
    QQuickView& window() const { return *m_window; }

Q_SIGNALS:
    // The first frame after each showing has been drawn.
    void frameShown();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void finishClosing();
    void focusLost();
    void checkButtons();
    bool forwardDrop(QDropEvent& drop);

    QQuickView* m_window;
    QPropertyAnimation* m_fade;
    std::function<QRect()> m_iconGeometry;
    std::function<bool()> m_motionAllowed;
    ParvelModel& m_model;
    bool m_prepared = false;
    bool m_translucent = false;
    bool m_dark = false;
    bool m_shown = false;
    bool m_awaitingFrame = false;
    int m_showing = 0;
    // A focus loss while fading in is acted on when the fade ends, and only
    // when the window had the focus: a desktop that never gave it keeps the
    // popover as shown.
    bool m_activatedSinceShown = false;
    QElapsedTimer m_focusLossClose;

    // The press that took the focus away, until its button comes up.
    QTimer* m_buttonPoll;
    QElapsedTimer m_sinceRelease;
    bool m_dragInside = false;
    bool m_forwarding = false;
    // What the drag carried when it entered: some drags from native Wayland
    // windows arrive through XWayland without them at the drop.
    QList<QUrl> m_enteredURLs;
};
