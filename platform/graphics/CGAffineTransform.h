#pragma once

#include <algorithm>
#include <cmath>

#include "platform/graphics/CGGeometry.h"

// A 2-D affine map: x' = a·x + c·y + tx, y' = b·x + d·y + ty.
struct CGAffineTransform {
    CGFloat a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

    static CGAffineTransform identity() { return {}; }
    static CGAffineTransform makeTranslation(CGFloat x, CGFloat y) { return {1, 0, 0, 1, x, y}; }
    static CGAffineTransform makeScale(CGFloat sx, CGFloat sy) { return {sx, 0, 0, sy, 0, 0}; }

    bool isIdentity() const { return *this == identity(); }

    // This map first, then `t`.
    CGAffineTransform concatenating(const CGAffineTransform& t) const {
        return {a * t.a + b * t.c,       a * t.b + b * t.d,       c * t.a + d * t.c,
                c * t.b + d * t.d,       tx * t.a + ty * t.c + t.tx, tx * t.b + ty * t.d + t.ty};
    }
    // The translation or scale applied before this map, as the drawing calls
    // of the same names do to the current transform.
    CGAffineTransform translatedBy(CGFloat x, CGFloat y) const { return makeTranslation(x, y).concatenating(*this); }
    CGAffineTransform scaledBy(CGFloat sx, CGFloat sy) const { return makeScale(sx, sy).concatenating(*this); }

    // A map that cannot be undone (zero determinant) is returned unchanged.
    CGAffineTransform inverted() const {
        const CGFloat det = a * d - b * c;
        if (det == 0 || !std::isfinite(det))
            return *this;
        return {d / det, -b / det, -c / det, a / det, (c * ty - d * tx) / det, (b * tx - a * ty) / det};
    }

    CGPoint apply(CGPoint p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }
    CGSize apply(CGSize s) const { return {a * s.width + c * s.height, b * s.width + d * s.height}; }
    // The bounding box of the mapped corners.
    CGRect apply(const CGRect& r) const {
        if (r.isNull())
            return r;
        const CGPoint corners[4] = {apply(CGPoint{r.minX(), r.minY()}), apply(CGPoint{r.maxX(), r.minY()}),
                                    apply(CGPoint{r.minX(), r.maxY()}), apply(CGPoint{r.maxX(), r.maxY()})};
        CGFloat x0 = corners[0].x, x1 = x0, y0 = corners[0].y, y1 = y0;
        for (const CGPoint& p : corners) {
            x0 = std::min(x0, p.x);
            x1 = std::max(x1, p.x);
            y0 = std::min(y0, p.y);
            y1 = std::max(y1, p.y);
        }
        return {x0, y0, x1 - x0, y1 - y0};
    }

    bool operator==(const CGAffineTransform&) const = default;
};
