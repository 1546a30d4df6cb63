#include "ui/Palvo.h"

#include "platform/Services.h"

#include <QQuickItem>
#include <QQuickWindow>

#include <array>

namespace {

enum Token {
    Paper,
    Ink,
    Ink2,
    Ink3,
    Line,
    Surface,
    Well,
    Canvas,
    Chrome,
    Sheet,
    SheetLine,
    Dot,
    AccentText,
    Ok,
    Warn,
    Bad,
    TokenCount
};

struct Pair {
    const char16_t* light;
    const char16_t* dark;
};

// Light and dark value of every adaptive colour.
constexpr std::array<Pair, TokenCount> pairs{{
    {u"#faf9f5", u"#1a1814"}, // paper
    {u"#1a1814", u"#f0eee5"}, // ink
    {u"#6b6862", u"#a09e96"}, // ink2
    {u"#a09e96", u"#6b6862"}, // ink3
    {u"#e6e3db", u"#2a2820"}, // line
    {u"#f3f1eb", u"#232017"}, // surface
    {u"#ece8df", u"#2c2920"}, // well
    {u"#e3ddcd", u"#100f0c"}, // canvas
    {u"#e6e9ed", u"#161618"}, // chrome
    {u"#ffffff", u"#2c2920"}, // sheet
    {u"#e6e3db", u"#3d3a30"}, // sheetLine
    {u"#eae7e0", u"#28261f"}, // dot
    {u"#c2440a", u"#ff7a3a"}, // accentText
    {u"#39704a", u"#6fae7c"}, // ok
    {u"#85600f", u"#d6a05a"}, // warn
    {u"#a93e34", u"#e0897f"}, // bad
}};

struct Palette {
    std::array<QColor, TokenCount> light;
    std::array<QColor, TokenCount> dark;
};

// Parsed once, on first use, from any thread.
const Palette& palette() {
    static const Palette value = [] {
        Palette p;
        for (int i = 0; i < TokenCount; ++i) {
            p.light[i] = QColor::fromString(QStringView(pairs[i].light));
            p.dark[i] = QColor::fromString(QStringView(pairs[i].dark));
        }
        return p;
    }();
    return value;
}

const QColor& accentColour() {
    static const QColor value = QColor::fromString(u"#ff7a3a");
    return value;
}

// The process-wide source of the reduce-motion setting.
class MotionSource : public QObject {
public:
    static MotionSource& instance() {
        static MotionSource source;
        return source;
    }
    std::shared_ptr<DesktopSettings> settings;
};

QQuickItem* itemOf(QObject* object) {
    for (QObject* o = object; o; o = o->parent()) {
        if (auto* item = qobject_cast<QQuickItem*>(o))
            return item;
    }
    return nullptr;
}

QFont makeFont(const QString& family, qreal size, int weight, bool monospaced) {
    QFont font(family);
    // Sizes are in the same logical units as the layout, not typographic points.
    font.setPixelSize(qMax(1, qRound(size)));
    font.setWeight(QFont::Weight(weight));
    if (monospaced)
        font.setStyleHint(QFont::Monospace);
    return font;
}

} // namespace

WindowAppearance* WindowAppearance::of(QQuickWindow* window) {
    if (!window)
        return nullptr;
    if (auto* existing =
            window->findChild<WindowAppearance*>(QString(), Qt::FindDirectChildrenOnly))
        return existing;
    return new WindowAppearance(window);
}

void WindowAppearance::setDark(bool dark) {
    if (m_dark == dark)
        return;
    m_dark = dark;
    Q_EMIT changed();
}

PalvoAttached::PalvoAttached(QObject* attachee) : QObject(attachee) {
    if (auto* window = qobject_cast<QQuickWindow*>(attachee)) {
        followWindow(window);
    } else if (QQuickItem* item = itemOf(attachee)) {
        QObject::connect(item, &QQuickItem::windowChanged, this, &PalvoAttached::followWindow);
        followWindow(item->window());
    }
    // The desktop's settings announce changes with a changed() signal when
    // they can (the portal does); a fixed source never changes.
    if (auto* source = dynamic_cast<QObject*>(MotionSource::instance().settings.get());
        source && source->metaObject()->indexOfSignal("changed()") >= 0)
        QObject::connect(source, SIGNAL(changed()), this, SIGNAL(motionAllowedChanged()));
}

void PalvoAttached::followWindow(QQuickWindow* window) {
    if (m_appearance)
        m_appearance->disconnect(this);
    m_appearance = WindowAppearance::of(window);
    if (m_appearance) {
        if (m_setsWindow)
            m_appearance->setDark(m_ownDark);
        QObject::connect(m_appearance, &WindowAppearance::changed, this,
                         &PalvoAttached::appearanceChanged);
    }
    Q_EMIT appearanceChanged();
}

bool PalvoAttached::dark() const {
    if (m_appearance)
        return m_appearance->dark();
    return m_setsWindow && m_ownDark;
}

void PalvoAttached::setDark(bool dark) {
    m_setsWindow = true;
    m_ownDark = dark;
    if (m_appearance)
        m_appearance->setDark(dark); // notifies every item of the window
    else
        Q_EMIT appearanceChanged();
}

#define PARVEL_ADAPTIVE(name, token)                                                               \
    QColor PalvoAttached::name() const {                                                           \
        return dark() ? palette().dark[token] : palette().light[token];                            \
    }
PARVEL_ADAPTIVE(paper, Paper)
PARVEL_ADAPTIVE(ink, Ink)
PARVEL_ADAPTIVE(ink2, Ink2)
PARVEL_ADAPTIVE(ink3, Ink3)
PARVEL_ADAPTIVE(line, Line)
PARVEL_ADAPTIVE(surface, Surface)
PARVEL_ADAPTIVE(well, Well)
PARVEL_ADAPTIVE(canvas, Canvas)
PARVEL_ADAPTIVE(chrome, Chrome)
PARVEL_ADAPTIVE(sheet, Sheet)
PARVEL_ADAPTIVE(sheetLine, SheetLine)
PARVEL_ADAPTIVE(dot, Dot)
PARVEL_ADAPTIVE(accentText, AccentText)
PARVEL_ADAPTIVE(ok, Ok)
PARVEL_ADAPTIVE(warn, Warn)
PARVEL_ADAPTIVE(bad, Bad)
#undef PARVEL_ADAPTIVE

QColor PalvoAttached::accent() const {
    return accentColour();
}

QColor PalvoAttached::accentStrong() const {
    static const QColor value = QColor::fromString(u"#f5610f");
    return value;
}

QColor PalvoAttached::accentSoft() const {
    QColor soft = accentColour();
    soft.setAlphaF(0.14f);
    return soft;
}

QColor PalvoAttached::meterFill(bool attention, bool stale) const {
    if (stale)
        return ink2();
    return attention ? accent() : ink();
}

QColor PalvoAttached::meterText(bool attention, bool stale) const {
    if (stale)
        return ink2();
    return attention ? accentText() : ink();
}

QColor PalvoAttached::hex(const QString& text) const {
    // Meant for "#rrggbb"; what is not a colour is black, and a colour is
    // always opaque (an eight-digit text is not read as a translucent one).
    QColor colour = QColor::fromString(QStringView(text).trimmed());
    if (!colour.isValid())
        return QColor(Qt::black);
    colour.setAlpha(255);
    return colour;
}

QFont PalvoAttached::sans(qreal size, int weight) const {
    return makeFont(QStringLiteral("Geist"), size, weight, false);
}

QFont PalvoAttached::mono(qreal size, int weight) const {
    // Geist Mono's digits are all one width already.
    return makeFont(QStringLiteral("Geist Mono"), size, weight, true);
}

QFont PalvoAttached::display() const {
    return sans(56, QFont::DemiBold);
}
QFont PalvoAttached::h1() const {
    return sans(40, QFont::DemiBold);
}
QFont PalvoAttached::h2() const {
    return sans(24, QFont::DemiBold);
}
QFont PalvoAttached::reading() const {
    return sans(17);
}
QFont PalvoAttached::ui() const {
    return sans(15);
}
QFont PalvoAttached::working() const {
    return sans(13);
}
QFont PalvoAttached::small() const {
    return sans(12);
}
QFont PalvoAttached::label() const {
    return mono(11);
}
QFont PalvoAttached::stat() const {
    return mono(24, QFont::Medium);
}

QVariantList PalvoAttached::curve() const {
    return {0.22, 1.0, 0.36, 1.0, 1.0, 1.0};
}

bool PalvoAttached::motionAllowed() const {
    const auto& settings = MotionSource::instance().settings;
    return !settings || settings->motionAllowed();
}

PalvoAttached* Palvo::qmlAttachedProperties(QObject* object) {
    return new PalvoAttached(object);
}

void Palvo::setDesktopSettings(std::shared_ptr<DesktopSettings> settings) {
    MotionSource::instance().settings = std::move(settings);
}
