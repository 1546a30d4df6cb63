#include "ui/SymbolImage.h"

#include <QHash>
#include <QImage>
#include <QPainter>
#include <QQuickWindow>
#include <QSvgRenderer>

#include <memory>

namespace {

// Parsed once per name; views draw the same few symbols over and over.
QSvgRenderer* rendererFor(const QString& name) {
    static QHash<QString, std::shared_ptr<QSvgRenderer>> cache;
    auto it = cache.find(name);
    if (it == cache.end()) {
        auto renderer =
            std::make_shared<QSvgRenderer>(QStringLiteral(":/parvel/icons/%1.svg").arg(name));
        it = cache.insert(name, renderer->isValid() ? renderer : nullptr);
    }
    return it->get();
}

} // namespace

SymbolImage::SymbolImage(QQuickItem* parent) : QQuickPaintedItem(parent) {
    setAntialiasing(true);
}

void SymbolImage::setName(const QString& name) {
    if (m_name == name)
        return;
    m_name = name;
    Q_EMIT nameChanged();
    update();
}

void SymbolImage::setColor(const QColor& color) {
    if (m_color == color)
        return;
    m_color = color;
    Q_EMIT colorChanged();
    update();
}

void SymbolImage::paint(QPainter* painter) {
    QSvgRenderer* renderer = rendererFor(m_name);
    if (!renderer || width() <= 0 || height() <= 0)
        return;
    // The drawing's own colours only shape the mask; the tint replaces them.
    const qreal scale = window() ? window()->effectiveDevicePixelRatio() : 1.0;
    QImage mask(QSize(qCeil(width() * scale), qCeil(height() * scale)),
                QImage::Format_ARGB32_Premultiplied);
    mask.setDevicePixelRatio(scale);
    mask.fill(Qt::transparent);
    {
        QPainter p(&mask);
        p.setRenderHint(QPainter::Antialiasing);
        renderer->render(&p, QRectF(0, 0, width(), height()));
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(QRectF(0, 0, width(), height()), m_color);
    }
    painter->drawImage(QRectF(0, 0, width(), height()), mask);
}
