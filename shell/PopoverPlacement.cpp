#include "shell/PopoverPlacement.h"

#include <algorithm>
#include <limits>

namespace {

constexpr int gap = 6;

int distance(const QRect& area, QPoint point) {
    const int dx = std::max({area.left() - point.x(), 0, point.x() - area.right()});
    const int dy = std::max({area.top() - point.y(), 0, point.y() - area.bottom()});
    return dx + dy;
}

QRect screenOf(QPoint point, const QList<QRect>& areas) {
    QRect best = areas.first();
    int bestDistance = std::numeric_limits<int>::max();
    for (const QRect& area : areas) {
        const int d = distance(area, point);
        if (d < bestDistance) {
            best = area;
            bestDistance = d;
        }
    }
    return best;
}

} // namespace

QPoint popoverPosition(const QRect& anchor, QSize size, const QList<QRect>& screenAreas) {
    if (screenAreas.isEmpty())
        return anchor.isEmpty() ? QPoint() : anchor.center();
    QPoint position;
    QRect area;
    if (anchor.isValid() && !anchor.isEmpty()) {
        // The centre of a 24-pixel icon is (12, 12) in; of a 1×1 point, the point.
        const QPoint centre(anchor.x() + anchor.width() / 2, anchor.y() + anchor.height() / 2);
        area = screenOf(centre, screenAreas);
        position.setX(centre.x() - size.width() / 2);
        const bool inTopHalf = centre.y() < area.y() + area.height() / 2;
        position.setY(inTopHalf ? anchor.bottom() + 1 + gap : anchor.top() - gap - size.height());
    } else {
        area = screenAreas.first();
        position = QPoint(area.right() + 1 - gap - size.width(), area.top() + gap);
    }
    position.setX(std::clamp(position.x(), area.left(),
                             std::max(area.left(), area.right() + 1 - size.width())));
    position.setY(std::clamp(position.y(), area.top(),
                             std::max(area.top(), area.bottom() + 1 - size.height())));
    return position;
}
