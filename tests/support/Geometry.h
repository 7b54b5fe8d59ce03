#pragma once

#include <algorithm>
#include <optional>
#include <ostream>

#include "platform/graphics/CGGeometry.h"
#include "platform/graphics/UIBezierPath.h"

// Readable failures for the geometry value types (found by argument lookup,
// so they live beside the types, not in the kit's namespace).
inline std::ostream& operator<<(std::ostream& out, const CGPoint& p) {
    return out << "(" << p.x << ", " << p.y << ")";
}
inline std::ostream& operator<<(std::ostream& out, const CGSize& s) {
    return out << "(" << s.width << " x " << s.height << ")";
}
inline std::ostream& operator<<(std::ostream& out, const CGRect& r) {
    return out << "(" << r.origin.x << ", " << r.origin.y << ", " << r.size.width << ", " << r.size.height
               << ")";
}

namespace testkit {

// The rectangle a path outlines, standardised, when the path is one closed
// axis-aligned rectangle (move, three lines, close); nothing otherwise.
inline std::optional<CGRect> rectangleOf(const UIBezierPath& path) {
    using Kind = UIBezierPath::Element::Kind;
    const auto& e = path.elements();
    if (e.size() != 5 || e[0].kind != Kind::move || e[4].kind != Kind::close) return std::nullopt;
    CGFloat minX = e[0].points[0].x, maxX = minX, minY = e[0].points[0].y, maxY = minY;
    for (int i = 1; i < 4; ++i) {
        if (e[i].kind != Kind::line) return std::nullopt;
        minX = std::min(minX, e[i].points[0].x);
        maxX = std::max(maxX, e[i].points[0].x);
        minY = std::min(minY, e[i].points[0].y);
        maxY = std::max(maxY, e[i].points[0].y);
    }
    // Every corner on the bounding box's corners, each edge axis-aligned.
    for (int i = 0; i < 4; ++i) {
        const CGPoint a = e[i].points[0], b = e[(i + 1) % 4].points[0];
        if ((a.x != minX && a.x != maxX) || (a.y != minY && a.y != maxY) || (a.x != b.x && a.y != b.y))
            return std::nullopt;
    }
    return CGRect(minX, minY, maxX - minX, maxY - minY);
}

} // namespace testkit
