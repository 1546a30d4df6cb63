#pragma once

#include <QColor>
#include <QList>
#include <QPointF>
#include <QQuickPaintedItem>
#include <QtQml/qqmlregistration.h>

// The dots of Ground: 1-point dots on a 12-point pitch, the first 6 points in
// from the top-left corner, only where the centre lies strictly inside.
class DotGrid : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)
public:
    explicit DotGrid(QQuickItem* parent = nullptr);

    static QList<QPointF> dotCentres(QSizeF size);

    QColor color() const { return m_color; }
    void setColor(const QColor& color);
    void paint(QPainter* painter) override;

Q_SIGNALS:
    void colorChanged();

private:
    QColor m_color;
};
