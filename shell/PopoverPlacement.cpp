#include "shell/PopoverPlacement.h"

#include <algorithm>

namespace {
constexpr int gap = 6;
}

QPoint popoverPosition(const QRect& icon, QSize size, const QRect& screenArea) {
    QPoint position;
    if (icon.isValid() && !icon.isEmpty()) {
        position.setX(icon.x() + icon.width() / 2 - size.width() / 2);
        const bool panelAtBottom =
            icon.y() + icon.height() / 2 > screenArea.y() + screenArea.height() / 2;
        position.setY(panelAtBottom ? icon.top() - gap - size.height() : icon.bottom() + 1 + gap);
    } else {
        position = QPoint(screenArea.right() + 1 - gap - size.width(), screenArea.top() + gap);
    }
    position.setX(std::clamp(position.x(), screenArea.left(),
                             std::max(screenArea.left(), screenArea.right() + 1 - size.width())));
    position.setY(std::clamp(position.y(), screenArea.top(),
                             std::max(screenArea.top(), screenArea.bottom() + 1 - size.height())));
    return position;
}
