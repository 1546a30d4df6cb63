#include "ui/QrCode.h"

#include <QPainter>

#include <qrencode.h>

#include <cmath>
#include <memory>

namespace {

const QColor plateColor(0xff, 0xff, 0xff);
const QColor moduleColor(0x1a, 0x18, 0x14);

} // namespace

QrCode::Matrix QrCode::encode(const QString& text) {
    if (text.isEmpty())
        return {};
    const QByteArray bytes = text.toUtf8();
    // Version 0: the smallest that holds the text. 8-bit mode keeps every
    // byte as it is, whatever the link contains.
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeData(int(bytes.size()), reinterpret_cast<const unsigned char*>(bytes.data()),
                          0, QR_ECLEVEL_M),
        &QRcode_free);
    if (!code)
        return {};
    Matrix matrix{code->width, std::vector<bool>(size_t(code->width) * size_t(code->width))};
    for (size_t i = 0; i < matrix.dark.size(); ++i)
        matrix.dark[i] = code->data[i] & 1; // bit 0: dark; the others say what the module is
    return matrix;
}

QrCode::QrCode(QQuickItem* parent) : QQuickPaintedItem(parent) {
    setAntialiasing(false);
}

void QrCode::setText(const QString& text) {
    if (text == m_text)
        return;
    m_text = text;
    m_matrix = encode(text);
    update();
    Q_EMIT textChanged();
}

void QrCode::paint(QPainter* painter) {
    const qreal side = std::min(width(), height());
    if (m_matrix.size == 0 || side <= 0)
        return;
    const int modules = m_matrix.size + 2 * quietZone;
    // Whole pixels per module where there is room: readers cope best with
    // modules of one size. The few pixels left over widen the quiet zone.
    const qreal exact = side / modules;
    const qreal pitch = exact >= 1 ? std::floor(exact) : exact;
    const qreal plateLeft = std::floor((width() - side) / 2);
    const qreal plateTop = std::floor((height() - side) / 2);
    const qreal left = plateLeft + std::floor((side - pitch * modules) / 2);
    const qreal top = plateTop + std::floor((side - pitch * modules) / 2);
    // Each edge rounded to a whole pixel on its own: neighbours share their
    // edge exactly, with neither a seam nor an overlap between them.
    const auto edge = [pitch](qreal origin, int index) {
        return origin + std::round(index * pitch);
    };

    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(Qt::NoPen);
    painter->setBrush(plateColor);
    painter->drawRoundedRect(QRectF(plateLeft, plateTop, side, side), pitch, pitch);

    painter->setRenderHint(QPainter::Antialiasing, false);
    for (int row = 0; row < m_matrix.size; ++row) {
        for (int column = 0; column < m_matrix.size; ++column) {
            if (!m_matrix.dark[size_t(row) * size_t(m_matrix.size) + size_t(column)])
                continue;
            const qreal x0 = edge(left, column + quietZone);
            const qreal x1 = edge(left, column + quietZone + 1);
            const qreal y0 = edge(top, row + quietZone);
            const qreal y1 = edge(top, row + quietZone + 1);
            painter->fillRect(QRectF(x0, y0, x1 - x0, y1 - y0), moduleColor);
        }
    }
}
