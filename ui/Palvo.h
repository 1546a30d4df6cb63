#pragma once

#include <QColor>
#include <QFont>
#include <QObject>
#include <QPointer>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

#include <memory>

class QQuickItem;
class QQuickWindow;
class WindowAppearance;

// The design tokens as every item sees them: `Palvo.paper`, `Palvo.working`,
// `Palvo.radius`, `Palvo.fast`... The adaptive colours resolve against the
// light/dark flag of the window the item is drawn in, so one process can
// draw a light and a dark window side by side, and flipping a window's flag
// restyles it in place. A view's root sets the flag for its window with
// `Palvo.dark: dark`; a window nobody set is light.
//
// Durations are in milliseconds and `curve` is the easing curve in the
// form `easing.bezierCurve` takes.
class PalvoAttached : public QObject {
    Q_OBJECT
    QML_ANONYMOUS
    Q_PROPERTY(bool dark READ dark WRITE setDark NOTIFY appearanceChanged)

    Q_PROPERTY(QColor paper READ paper NOTIFY appearanceChanged)
    Q_PROPERTY(QColor ink READ ink NOTIFY appearanceChanged)
    Q_PROPERTY(QColor ink2 READ ink2 NOTIFY appearanceChanged)
    Q_PROPERTY(QColor ink3 READ ink3 NOTIFY appearanceChanged)
    Q_PROPERTY(QColor line READ line NOTIFY appearanceChanged)
    Q_PROPERTY(QColor surface READ surface NOTIFY appearanceChanged)
    Q_PROPERTY(QColor well READ well NOTIFY appearanceChanged)
    Q_PROPERTY(QColor canvas READ canvas NOTIFY appearanceChanged)
    Q_PROPERTY(QColor chrome READ chrome NOTIFY appearanceChanged)
    Q_PROPERTY(QColor sheet READ sheet NOTIFY appearanceChanged)
    Q_PROPERTY(QColor sheetLine READ sheetLine NOTIFY appearanceChanged)
    Q_PROPERTY(QColor dot READ dot NOTIFY appearanceChanged)
    Q_PROPERTY(QColor accent READ accent CONSTANT)
    Q_PROPERTY(QColor accentStrong READ accentStrong CONSTANT)
    Q_PROPERTY(QColor accentText READ accentText NOTIFY appearanceChanged)
    Q_PROPERTY(QColor accentSoft READ accentSoft CONSTANT)
    Q_PROPERTY(QColor ok READ ok NOTIFY appearanceChanged)
    Q_PROPERTY(QColor warn READ warn NOTIFY appearanceChanged)
    Q_PROPERTY(QColor bad READ bad NOTIFY appearanceChanged)

    Q_PROPERTY(QFont display READ display CONSTANT)
    Q_PROPERTY(QFont h1 READ h1 CONSTANT)
    Q_PROPERTY(QFont h2 READ h2 CONSTANT)
    Q_PROPERTY(QFont reading READ reading CONSTANT)
    Q_PROPERTY(QFont ui READ ui CONSTANT)
    Q_PROPERTY(QFont working READ working CONSTANT)
    Q_PROPERTY(QFont small READ small CONSTANT)
    Q_PROPERTY(QFont label READ label CONSTANT)
    Q_PROPERTY(QFont stat READ stat CONSTANT)

    Q_PROPERTY(int radius MEMBER radius CONSTANT)
    Q_PROPERTY(int radiusMd MEMBER radiusMd CONSTANT)
    Q_PROPERTY(int radiusLg MEMBER radiusLg CONSTANT)
    Q_PROPERTY(int radiusXl MEMBER radiusXl CONSTANT)
    Q_PROPERTY(int hairline MEMBER hairline CONSTANT)
    Q_PROPERTY(int popoverWidth MEMBER popoverWidth CONSTANT)
    Q_PROPERTY(int grid MEMBER grid CONSTANT)

    Q_PROPERTY(QVariantList curve READ curve CONSTANT)
    Q_PROPERTY(int press MEMBER press CONSTANT)
    Q_PROPERTY(int fast MEMBER fast CONSTANT)
    Q_PROPERTY(int move MEMBER move CONSTANT)
    Q_PROPERTY(int bar MEMBER bar CONSTANT)
    Q_PROPERTY(int stagger MEMBER stagger CONSTANT)
    Q_PROPERTY(int wait MEMBER wait CONSTANT)
    Q_PROPERTY(bool motionAllowed READ motionAllowed NOTIFY motionAllowedChanged)

public:
    explicit PalvoAttached(QObject* attachee);

    bool dark() const;
    void setDark(bool dark);

    QColor paper() const;
    QColor ink() const;
    QColor ink2() const;
    QColor ink3() const;
    QColor line() const;
    QColor surface() const;
    QColor well() const;
    QColor canvas() const;
    QColor chrome() const;
    QColor sheet() const;
    QColor sheetLine() const;
    QColor dot() const;
    QColor accent() const;
    QColor accentStrong() const;
    QColor accentText() const;
    QColor accentSoft() const;
    QColor ok() const;
    QColor warn() const;
    QColor bad() const;

    Q_INVOKABLE QColor meterFill(bool attention, bool stale) const;
    Q_INVOKABLE QColor meterText(bool attention, bool stale) const;
    Q_INVOKABLE QColor hex(const QString& text) const;

    Q_INVOKABLE QFont sans(qreal size, int weight = QFont::Normal) const;
    Q_INVOKABLE QFont mono(qreal size, int weight = QFont::Normal) const;
    QFont display() const;
    QFont h1() const;
    QFont h2() const;
    QFont reading() const;
    QFont ui() const;
    QFont working() const;
    QFont small() const;
    QFont label() const;
    QFont stat() const;

    QVariantList curve() const;
    // The desktop's reduce-motion setting, live (PortalSettings::shared).
    bool motionAllowed() const;

    static constexpr int radius = 6, radiusMd = 8, radiusLg = 10, radiusXl = 16, hairline = 1,
                         popoverWidth = 336, grid = 12;
    static constexpr int press = 60, fast = 150, move = 240, bar = 400, stagger = 40, wait = 400;

Q_SIGNALS:
    void appearanceChanged();
    void motionAllowedChanged();

private:
    void followWindow(QQuickWindow* window);

    QPointer<WindowAppearance> m_appearance;
    bool m_setsWindow = false;
    bool m_ownDark = false;
};

// Registers the attached tokens under the name `Palvo`.
class Palvo : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Palvo holds tokens only; read them as Palvo.name.")
    QML_ATTACHED(PalvoAttached)
public:
    static PalvoAttached* qmlAttachedProperties(QObject* object);
};

// The light/dark flag of one window, kept as a child of the window.
class WindowAppearance : public QObject {
    Q_OBJECT
public:
    static WindowAppearance* of(QQuickWindow* window);

    bool dark() const { return m_dark; }
    void setDark(bool dark);

Q_SIGNALS:
    void changed();

private:
    using QObject::QObject;
    bool m_dark = false;
};
