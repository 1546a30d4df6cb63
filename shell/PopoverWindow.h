#pragma once

#include "shell/Surfaces.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <functional>

class ParvelModel;
class QPropertyAnimation;
class QQmlEngine;
class QQuickView;
class QRect;

// The popover: a frameless tool window (no taskbar entry) of 336×560 with
// the main view, under the tray icon. It takes the focus when shown and
// closes when it loses it, and on Escape.
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

private:
    void finishClosing();

    QQuickView* m_window;
    QPropertyAnimation* m_fade;
    std::function<QRect()> m_iconGeometry;
    std::function<bool()> m_motionAllowed;
    ParvelModel& m_model;
    bool m_prepared = false;
    bool m_dark = false;
    bool m_shown = false;
    bool m_awaitingFrame = false;
    int m_showing = 0;
    QElapsedTimer m_focusLossClose;
};
