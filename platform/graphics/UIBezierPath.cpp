#include "platform/graphics/UIBezierPath.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr CGFloat kTwoPi = 2 * std::numbers::pi;
// Ellipse quarter by one cubic: control points at this share of the radius.
constexpr CGFloat kKappa = 0.5522847498307936;

// The swept angle of an arc, normalised the way the drawing layer draws it:
// clockwise arcs grow to the end angle, the others shrink to it.
CGFloat arcSweep(CGFloat start, CGFloat end, bool clockwise) {
    CGFloat sweep = end - start;
    if (!std::isfinite(sweep))
        return 0;
    if (clockwise) {
        if (sweep < 0)
            sweep = std::fmod(sweep, kTwoPi) + kTwoPi;
    } else if (sweep > 0) {
        sweep = std::fmod(sweep, kTwoPi) - kTwoPi;
    }
    return sweep;
}

CGPoint pointOnArc(CGPoint center, CGFloat radius, CGFloat angle) {
    return {center.x + radius * std::cos(angle), center.y + radius * std::sin(angle)};
}

}  // namespace

CGFloat UIBezierPath::Element::arcSweep() const { return ::arcSweep(startAngle, endAngle, clockwise); }

std::shared_ptr<UIBezierPath> UIBezierPath::make() { return std::make_shared<UIBezierPath>(); }

std::shared_ptr<UIBezierPath> UIBezierPath::rect(const CGRect& rect) {
    auto path = make();
    const CGRect r = rect.standardized();
    path->moveTo({r.minX(), r.minY()});
    path->addLineTo({r.maxX(), r.minY()});
    path->addLineTo({r.maxX(), r.maxY()});
    path->addLineTo({r.minX(), r.maxY()});
    path->close();
    return path;
}

std::shared_ptr<UIBezierPath> UIBezierPath::roundedRect(const CGRect& rect, CGFloat cornerRadius) {
    const CGRect r = rect.standardized();
    const CGFloat radius = std::clamp(cornerRadius, CGFloat(0), std::min(r.width(), r.height()) / 2);
    if (!(radius > 0))
        return UIBezierPath::rect(r);
    auto path = make();
    constexpr CGFloat q = std::numbers::pi / 2;
    path->moveTo({r.minX() + radius, r.minY()});
    path->addArc({r.maxX() - radius, r.minY() + radius}, radius, -q, 0, true);
    path->addArc({r.maxX() - radius, r.maxY() - radius}, radius, 0, q, true);
    path->addArc({r.minX() + radius, r.maxY() - radius}, radius, q, 2 * q, true);
    path->addArc({r.minX() + radius, r.minY() + radius}, radius, 2 * q, 3 * q, true);
    path->close();
    return path;
}

std::shared_ptr<UIBezierPath> UIBezierPath::ovalIn(const CGRect& rect) {
    auto path = make();
    const CGRect r = rect.standardized();
    const CGFloat rx = r.width() / 2, ry = r.height() / 2;
    const CGFloat cx = r.minX() + rx, cy = r.minY() + ry;
    const CGFloat kx = rx * kKappa, ky = ry * kKappa;
    path->moveTo({cx + rx, cy});
    path->addCurveTo({cx, cy + ry}, {cx + rx, cy + ky}, {cx + kx, cy + ry});
    path->addCurveTo({cx - rx, cy}, {cx - kx, cy + ry}, {cx - rx, cy + ky});
    path->addCurveTo({cx, cy - ry}, {cx - rx, cy - ky}, {cx - kx, cy - ry});
    path->addCurveTo({cx + rx, cy}, {cx + kx, cy - ry}, {cx + rx, cy - ky});
    path->close();
    return path;
}

void UIBezierPath::moveTo(CGPoint point) {
    elements_.push_back({Element::Kind::move, {point}});
    current_ = point;
    subpathStart_ = point;
}

void UIBezierPath::addLineTo(CGPoint point) {
    if (!current_) {
        moveTo(point);
        return;
    }
    elements_.push_back({Element::Kind::line, {point}});
    current_ = point;
}

void UIBezierPath::addCurveTo(CGPoint end, CGPoint controlPoint1, CGPoint controlPoint2) {
    if (!current_)
        moveTo(controlPoint1);
    elements_.push_back({Element::Kind::curve, {end, controlPoint1, controlPoint2}});
    current_ = end;
}

void UIBezierPath::addArc(CGPoint center, CGFloat radius, CGFloat startAngle, CGFloat endAngle, bool clockwise) {
    const CGPoint start = pointOnArc(center, radius, startAngle);
    if (!current_)
        subpathStart_ = start;
    Element arc{Element::Kind::arc, {center}};
    arc.radius = radius;
    arc.startAngle = startAngle;
    arc.endAngle = endAngle;
    arc.clockwise = clockwise;
    elements_.push_back(arc);
    current_ = pointOnArc(center, radius, startAngle + arcSweep(startAngle, endAngle, clockwise));
}

void UIBezierPath::close() {
    if (!current_)
        return;
    Element closing;
    closing.kind = Element::Kind::close;
    elements_.push_back(closing);
    current_ = subpathStart_;
}

std::vector<std::vector<CGPoint>> UIBezierPath::flattened() const {
    std::vector<std::vector<CGPoint>> polygons;
    std::vector<CGPoint> polygon;
    auto finish = [&] {
        if (polygon.size() > 1)
            polygons.push_back(std::move(polygon));
        polygon.clear();
    };
    CGPoint last{};
    for (const Element& e : elements_) {
        switch (e.kind) {
        case Element::Kind::move:
            finish();
            polygon.push_back(e.points[0]);
            last = e.points[0];
            break;
        case Element::Kind::line:
            polygon.push_back(e.points[0]);
            last = e.points[0];
            break;
        case Element::Kind::curve: {
            constexpr int steps = 16;
            const CGPoint p0 = last, p1 = e.points[1], p2 = e.points[2], p3 = e.points[0];
            for (int i = 1; i <= steps; ++i) {
                const CGFloat t = CGFloat(i) / steps, u = 1 - t;
                const CGFloat a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
                polygon.push_back({a * p0.x + b * p1.x + c * p2.x + d * p3.x, a * p0.y + b * p1.y + c * p2.y + d * p3.y});
            }
            last = p3;
            break;
        }
        case Element::Kind::arc: {
            const CGFloat sweep = arcSweep(e.startAngle, e.endAngle, e.clockwise);
            const int steps = std::clamp(int(std::ceil(std::abs(sweep) / (kTwoPi / 128))), 1, 128);
            for (int i = 0; i <= steps; ++i)
                polygon.push_back(pointOnArc(e.points[0], e.radius, e.startAngle + sweep * i / steps));
            last = polygon.back();
            break;
        }
        case Element::Kind::close:
            if (!polygon.empty()) {
                const CGPoint start = polygon.front();
                finish();
                polygon.push_back(start);
                last = start;
            }
            break;
        }
    }
    finish();
    return polygons;
}

bool UIBezierPath::contains(CGPoint point) const {
    if (!std::isfinite(point.x) || !std::isfinite(point.y))
        return false;
    int winding = 0;
    for (const auto& polygon : flattened()) {
        for (size_t i = 0; i < polygon.size(); ++i) {
            const CGPoint a = polygon[i];
            const CGPoint b = polygon[(i + 1) % polygon.size()];
            const CGFloat side = (b.x - a.x) * (point.y - a.y) - (point.x - a.x) * (b.y - a.y);
            if (a.y <= point.y) {
                if (b.y > point.y && side > 0)
                    ++winding;
            } else if (b.y <= point.y && side < 0) {
                --winding;
            }
        }
    }
    return winding != 0;
}
