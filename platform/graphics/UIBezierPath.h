#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "platform/graphics/CGGeometry.h"

enum class CGLineCap { butt, round, square };
enum class CGLineJoin { miter, round, bevel };

// A path of sub-paths made of lines, cubic curves and circular arcs, with the
// stroke settings that belong to it. Paths are shared objects: a drawing pass
// makes new ones rather than changing those another object still holds.
class UIBezierPath {
public:
    struct Element {
        enum class Kind { move, line, curve, arc, close };
        Kind kind = Kind::move;
        // move, line: points[0]; curve: points[0] the end, points[1] and
        // points[2] the control points; arc: points[0] the centre.
        CGPoint points[3] = {};
        CGFloat radius = 0;
        CGFloat startAngle = 0;
        CGFloat endAngle = 0;
        bool clockwise = true;

        // An arc's signed sweep in radians: positive clockwise.
        CGFloat arcSweep() const;
    };

    UIBezierPath() = default;

    static std::shared_ptr<UIBezierPath> make();
    // A rectangle of negative size is standardised first.
    static std::shared_ptr<UIBezierPath> rect(const CGRect& rect);
    // The radius is held to half the shorter side.
    static std::shared_ptr<UIBezierPath> roundedRect(const CGRect& rect, CGFloat cornerRadius);
    static std::shared_ptr<UIBezierPath> ovalIn(const CGRect& rect);

    void moveTo(CGPoint point);
    void addLineTo(CGPoint point);
    // The end point comes first, then the two control points.
    void addCurveTo(CGPoint end, CGPoint controlPoint1, CGPoint controlPoint2);
    // Angles in radians from the positive x axis towards positive y (down);
    // clockwise runs toward growing angles, which is clockwise on screen. A
    // path with a current point gets a line to the arc's start first.
    void addArc(CGPoint center, CGFloat radius, CGFloat startAngle, CGFloat endAngle, bool clockwise);
    void close();

    bool isEmpty() const { return elements_.empty(); }
    const std::vector<Element>& elements() const { return elements_; }
    std::optional<CGPoint> currentPoint() const { return current_; }

    // Whether the filled area holds the point, by the non-zero winding rule;
    // every sub-path counts as closed. Left and top edges are inside, right
    // and bottom edges outside, so neighbouring rectangles never share a point.
    bool contains(CGPoint point) const;

    // The sub-paths as polygons (curves and arcs flattened), for hit tests.
    std::vector<std::vector<CGPoint>> flattened() const;

    // Fill by the non-zero rule, or stroke with this path's line settings, in
    // the current graphics context. Nothing happens outside a drawing pass,
    // and a path with a non-finite coordinate, radius or angle is skipped.
    void fill() const;
    void stroke() const;

    CGFloat lineWidth = 1;
    CGLineCap lineCapStyle = CGLineCap::butt;
    CGLineJoin lineJoinStyle = CGLineJoin::miter;

private:
    std::vector<Element> elements_;
    std::optional<CGPoint> current_;
    std::optional<CGPoint> subpathStart_;
};
