#include "Orvo_Halden_Extension/ResizingBehavior.h"

#include <algorithm>
#include <cmath>

CGRect resizedRect(int rule, const CGRect& rect, const CGRect& target, CGSize* scale) {
    if (rect == target || target == CGRect::zero())
        return rect;

    CGFloat sx = std::abs(target.width() / rect.width());
    CGFloat sy = std::abs(target.height() / rect.height());
    switch (rule) {
    case 0:
        sx = sy = std::min(sx, sy);
        break;
    case 1:
        sx = sy = std::max(sx, sy);
        break;
    case 3:
        sx = sy = 1;
        break;
    default:
        break;
    }
    if (scale)
        *scale = {sx, sy};

    const CGRect design = rect.standardized();
    const CGFloat width = design.width() * sx;
    const CGFloat height = design.height() * sy;
    return {target.minX() + (target.width() - width) / 2, target.minY() + (target.height() - height) / 2, width,
            height};
}
