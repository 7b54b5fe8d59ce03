#pragma once

#include <algorithm>
#include <cmath>
#include <limits>

// Plane geometry in points, y downwards, as the drawing and view code use it.
using CGFloat = double;

struct CGPoint {
    CGFloat x = 0;
    CGFloat y = 0;
    bool operator==(const CGPoint&) const = default;
};

struct CGSize {
    CGFloat width = 0;
    CGFloat height = 0;
    bool operator==(const CGSize&) const = default;
};

// A rectangle may carry a negative size; the min/max/width/height reads
// describe the same area with the size made positive.
struct CGRect {
    CGPoint origin;
    CGSize size;

    CGRect() = default;
    CGRect(CGFloat x, CGFloat y, CGFloat width, CGFloat height) : origin{x, y}, size{width, height} {}

    CGFloat minX() const { return std::min(origin.x, origin.x + size.width); }
    CGFloat minY() const { return std::min(origin.y, origin.y + size.height); }
    CGFloat maxX() const { return std::max(origin.x, origin.x + size.width); }
    CGFloat maxY() const { return std::max(origin.y, origin.y + size.height); }
    CGFloat width() const { return std::abs(size.width); }
    CGFloat height() const { return std::abs(size.height); }
    CGFloat midX() const { return origin.x + size.width / 2; }
    CGFloat midY() const { return origin.y + size.height / 2; }

    static CGRect zero() { return {}; }
    // The same area with a non-negative size.
    CGRect standardized() const { return {minX(), minY(), width(), height()}; }
    bool isEmpty() const { return size.width == 0 || size.height == 0; }
    // The result of intersecting rectangles that do not meet.
    static CGRect null() {
        const CGFloat inf = std::numeric_limits<CGFloat>::infinity();
        return {inf, inf, 0, 0};
    }
    bool isNull() const { return std::isinf(origin.x) || std::isinf(origin.y); }

    // Left and top edges are inside, right and bottom edges outside, as for
    // paths; an empty rectangle and a point that is not a number hold nothing.
    bool contains(CGPoint p) const {
        return !isNull() && p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
    }
    // Whether every point of r lies in this rectangle (a null r lies nowhere).
    bool contains(const CGRect& r) const {
        return !isNull() && !r.isNull() && r.minX() >= minX() && r.maxX() <= maxX() && r.minY() >= minY() &&
               r.maxY() <= maxY();
    }
    // The common area, standardised; null when the two do not overlap.
    CGRect intersection(const CGRect& r) const {
        if (isNull() || r.isNull())
            return null();
        const CGFloat x0 = std::max(minX(), r.minX()), x1 = std::min(maxX(), r.maxX());
        const CGFloat y0 = std::max(minY(), r.minY()), y1 = std::min(maxY(), r.maxY());
        if (!(x0 <= x1 && y0 <= y1))
            return null();
        return {x0, y0, x1 - x0, y1 - y0};
    }
    bool intersects(const CGRect& r) const {
        const CGRect common = intersection(r);
        return !common.isNull() && !common.isEmpty();
    }
    // The smallest rectangle holding both, standardised; a null one adds nothing.
    CGRect unionWith(const CGRect& r) const {
        if (r.isNull())
            return isNull() ? null() : standardized();
        if (isNull())
            return r.standardized();
        const CGFloat x0 = std::min(minX(), r.minX()), y0 = std::min(minY(), r.minY());
        return {x0, y0, std::max(maxX(), r.maxX()) - x0, std::max(maxY(), r.maxY()) - y0};
    }

    bool operator==(const CGRect&) const = default;
};
