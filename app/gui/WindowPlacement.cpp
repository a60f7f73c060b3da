#include "app/gui/WindowPlacement.h"

#include <algorithm>

QRect ClampToScreens(const QRect& saved, const QList<QRect>& screens)
{
    if (saved.isEmpty() || screens.isEmpty())
        return saved;
    QRect target = screens.first();
    long long bestOverlap = 0;
    for (const QRect& screen : screens) {
        const QRect overlap = screen.intersected(saved);
        const long long area = overlap.isEmpty() ? 0 : 1LL * overlap.width() * overlap.height();
        if (area > bestOverlap) {
            bestOverlap = area;
            target = screen;
        }
    }
    QRect placed = saved;
    placed.setWidth(std::min(saved.width(), target.width()));
    placed.setHeight(std::min(saved.height(), target.height()));
    placed.moveLeft(std::clamp(placed.left(), target.left(), target.right() - placed.width() + 1));
    placed.moveTop(std::clamp(placed.top(), target.top(), target.bottom() - placed.height() + 1));
    return placed;
}
