#pragma once

#include <algorithm>
#include <cmath>

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

    bool operator==(const CGRect&) const = default;
};
