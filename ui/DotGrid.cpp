#include "ui/DotGrid.h"

#include <QPainter>

namespace {
constexpr qreal pitch = 12;
} // namespace

DotGrid::DotGrid(QQuickItem* parent) : QQuickPaintedItem(parent) {
    setAntialiasing(true);
}

QList<QPointF> DotGrid::dotCentres(QSizeF size) {
    QList<QPointF> centres;
    for (qreal y = pitch / 2; y < size.height(); y += pitch)
        for (qreal x = pitch / 2; x < size.width(); x += pitch)
            centres.append({x, y});
    return centres;
}

void DotGrid::setColor(const QColor& color) {
    if (m_color == color)
        return;
    m_color = color;
    Q_EMIT colorChanged();
    update();
}

void DotGrid::paint(QPainter* painter) {
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(m_color);
    for (const QPointF& centre : dotCentres(size()))
        painter->drawEllipse(QRectF(centre.x() - 0.5, centre.y() - 0.5, 1, 1));
}
