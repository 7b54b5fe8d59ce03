#include "platform/graphics/CGContext.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/graphics/UIBezierPath.h"

namespace {

thread_local std::vector<CGContext*> contextStack;

bool isFinite(CGFloat v) { return std::isfinite(v); }
bool isFinite(CGPoint p) { return isFinite(p.x) && isFinite(p.y); }

// Cairo refuses (stickily) a matrix that is not finite or not invertible, and
// inverts it itself, so the inverse must stay finite too.
bool usable(const cairo_matrix_t& m) {
    const double det = m.xx * m.yy - m.xy * m.yx;
    return isFinite(m.xx) && isFinite(m.yx) && isFinite(m.xy) && isFinite(m.yy) && isFinite(m.x0) && isFinite(m.y0) &&
           std::isnormal(det) && std::isfinite(1 / det);
}

void setSource(cairo_t* cr, const UIColor& c) { cairo_set_source_rgba(cr, c.red, c.green, c.blue, c.alpha); }

bool isFinite(const UIColor& c) { return isFinite(c.red) && isFinite(c.green) && isFinite(c.blue) && isFinite(c.alpha); }

bool drawable(const UIBezierPath& path) {
    for (const auto& e : path.elements()) {
        switch (e.kind) {
        case UIBezierPath::Element::Kind::close:
            break;
        case UIBezierPath::Element::Kind::move:
        case UIBezierPath::Element::Kind::line:
            if (!isFinite(e.points[0]))
                return false;
            break;
        case UIBezierPath::Element::Kind::curve:
            if (!isFinite(e.points[0]) || !isFinite(e.points[1]) || !isFinite(e.points[2]))
                return false;
            break;
        case UIBezierPath::Element::Kind::arc:
            if (!isFinite(e.points[0]) || !isFinite(e.radius) || !isFinite(e.startAngle) || !isFinite(e.endAngle))
                return false;
            break;
        }
    }
    return true;
}

// Emits the path as the context's current path.
void emit(cairo_t* cr, const UIBezierPath& path) {
    constexpr CGFloat fullTurn = 2 * std::numbers::pi;
    cairo_new_path(cr);
    for (const auto& e : path.elements()) {
        const CGPoint* p = e.points;
        switch (e.kind) {
        case UIBezierPath::Element::Kind::move:
            cairo_move_to(cr, p[0].x, p[0].y);
            break;
        case UIBezierPath::Element::Kind::line:
            cairo_line_to(cr, p[0].x, p[0].y);
            break;
        case UIBezierPath::Element::Kind::curve:
            // Ours lists the end point first; Cairo wants it last.
            cairo_curve_to(cr, p[1].x, p[1].y, p[2].x, p[2].y, p[0].x, p[0].y);
            break;
        case UIBezierPath::Element::Kind::arc: {
            // More than one turn looks like one turn; Cairo would trace every one.
            const CGFloat sweep = std::clamp(e.arcSweep(), -fullTurn, fullTurn);
            const CGFloat radius = std::abs(e.radius);
            if (sweep >= 0)
                cairo_arc(cr, p[0].x, p[0].y, radius, e.startAngle, e.startAngle + sweep);
            else
                cairo_arc_negative(cr, p[0].x, p[0].y, radius, e.startAngle, e.startAngle + sweep);
            break;
        }
        case UIBezierPath::Element::Kind::close:
            cairo_close_path(cr);
            break;
        }
    }
}

cairo_line_cap_t cairoCap(CGLineCap cap) {
    switch (cap) {
    case CGLineCap::round:
        return CAIRO_LINE_CAP_ROUND;
    case CGLineCap::square:
        return CAIRO_LINE_CAP_SQUARE;
    case CGLineCap::butt:
        break;
    }
    return CAIRO_LINE_CAP_BUTT;
}

cairo_line_join_t cairoJoin(CGLineJoin join) {
    switch (join) {
    case CGLineJoin::round:
        return CAIRO_LINE_JOIN_ROUND;
    case CGLineJoin::bevel:
        return CAIRO_LINE_JOIN_BEVEL;
    case CGLineJoin::miter:
        break;
    }
    return CAIRO_LINE_JOIN_MITER;
}

}  // namespace

CGContext::CGContext(cairo_t* cr) : cr_(cairo_reference(cr)) {
    stack_.reserve(16);
    stack_.emplace_back();
}

CGContext::~CGContext() {
    // Leave the Cairo context as it was handed over, whatever a caller forgot.
    while (stack_.size() > 1)
        restoreGState();
    cairo_destroy(cr_);
}

void CGContext::saveGState() {
    cairo_save(cr_);
    stack_.push_back(state());
}

void CGContext::restoreGState() {
    if (stack_.size() <= 1)
        return;
    cairo_restore(cr_);
    stack_.pop_back();
}

template <class Change>
void CGContext::transform(bool argumentsFinite, Change change) {
    if (!state().drawable)
        return;
    cairo_matrix_t m;
    cairo_get_matrix(cr_, &m);
    if (argumentsFinite) {
        change(&m);
        if (usable(m)) {
            cairo_set_matrix(cr_, &m);
            return;
        }
    }
    state().drawable = false;
}

void CGContext::translateBy(CGFloat tx, CGFloat ty) {
    transform(isFinite(tx) && isFinite(ty), [&](cairo_matrix_t* m) { cairo_matrix_translate(m, tx, ty); });
}

void CGContext::scaleBy(CGFloat sx, CGFloat sy) {
    transform(isFinite(sx) && isFinite(sy), [&](cairo_matrix_t* m) { cairo_matrix_scale(m, sx, sy); });
}

void CGContext::rotate(CGFloat angle) {
    transform(isFinite(angle), [&](cairo_matrix_t* m) { cairo_matrix_rotate(m, angle); });
}

void CGContext::concatCTM(const CGAffineTransform& t) {
    const bool finite = isFinite(t.a) && isFinite(t.b) && isFinite(t.c) && isFinite(t.d) && isFinite(t.tx) && isFinite(t.ty);
    transform(finite, [&](cairo_matrix_t* m) {
        const cairo_matrix_t by{t.a, t.b, t.c, t.d, t.tx, t.ty};
        cairo_matrix_multiply(m, &by, m);
    });
}

CGAffineTransform CGContext::userSpaceToDeviceSpaceTransform() const {
    cairo_matrix_t m;
    cairo_get_matrix(cr_, &m);
    return {m.xx, m.yx, m.xy, m.yy, m.x0, m.y0};
}

CGFloat CGContext::pixelsPerUnit() const {
    double x = 1, y = 0, deviceX = 1, deviceY = 1;
    cairo_user_to_device_distance(cr_, &x, &y);
    cairo_surface_get_device_scale(cairo_get_target(cr_), &deviceX, &deviceY);
    return std::hypot(x, y) * deviceX;
}

void CGContext::clip(const CGRect& rect) { clip(std::vector<CGRect>{rect}); }

void CGContext::clip(const std::vector<CGRect>& rects) {
    if (!state().drawable)
        return;
    cairo_new_path(cr_);
    for (const CGRect& rect : rects) {
        if (!isFinite(rect.origin.x) || !isFinite(rect.origin.y) || !isFinite(rect.size.width) ||
            !isFinite(rect.size.height)) {
            cairo_new_path(cr_);
            state().drawable = false;
            return;
        }
        const CGRect r = rect.standardized();
        cairo_rectangle(cr_, r.minX(), r.minY(), r.width(), r.height());
    }
    cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_WINDING);
    cairo_clip(cr_);
}

CGRect CGContext::clipBoundingBox() const {
    if (!state().drawable)
        return CGRect::null();
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    cairo_clip_extents(cr_, &x0, &y0, &x1, &y1);
    if (!(x1 > x0 && y1 > y0))
        return CGRect::null();
    return {x0, y0, x1 - x0, y1 - y0};
}

void CGContext::setAlpha(CGFloat alpha) { state().alpha = isFinite(alpha) ? std::clamp(alpha, CGFloat(0), CGFloat(1)) : 0; }

void CGContext::setLineDash(CGFloat phase, std::initializer_list<CGFloat> lengths) {
    setLineDash(phase, lengths.begin(), lengths.size());
}

void CGContext::setLineDash(CGFloat phase, const std::vector<CGFloat>& lengths) {
    setLineDash(phase, lengths.data(), lengths.size());
}

void CGContext::setLineDash(CGFloat phase, const CGFloat* lengths, size_t count) {
    CGFloat total = 0;
    bool valid = isFinite(phase);
    for (size_t i = 0; i < count; ++i) {
        valid = valid && isFinite(lengths[i]) && lengths[i] >= 0;
        total += lengths[i];
    }
    if (valid && total > 0)
        cairo_set_dash(cr_, lengths, int(count), phase);
    else
        cairo_set_dash(cr_, nullptr, 0, 0);
}

void CGContext::setFillColor(const UIColor& color) { state().fill = color; }
void CGContext::setStrokeColor(const UIColor& color) { state().stroke = color; }

UIColor CGContext::effectiveFillColor() const { return state().fill.withAlphaComponent(state().fill.alpha * state().alpha); }

UIColor CGContext::effectiveStrokeColor() const {
    return state().stroke.withAlphaComponent(state().stroke.alpha * state().alpha);
}

CGContext* UIGraphicsGetCurrentContext() { return contextStack.empty() ? nullptr : contextStack.back(); }

void UIGraphicsPushContext(CGContext& context) { contextStack.push_back(&context); }

void UIGraphicsPopContext() {
    if (!contextStack.empty())
        contextStack.pop_back();
}

void UIColor::setFill() const {
    if (CGContext* context = UIGraphicsGetCurrentContext())
        context->setFillColor(*this);
}

void UIColor::setStroke() const {
    if (CGContext* context = UIGraphicsGetCurrentContext())
        context->setStrokeColor(*this);
}

void UIBezierPath::fill() const {
    CGContext* context = UIGraphicsGetCurrentContext();
    if (!context || !context->canDraw() || !drawable(*this))
        return;
    const UIColor color = context->effectiveFillColor();
    if (!isFinite(color))
        return;
    cairo_t* cr = context->cairo();
    emit(cr, *this);
    setSource(cr, color);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
    cairo_fill(cr);
}

void UIBezierPath::stroke() const {
    CGContext* context = UIGraphicsGetCurrentContext();
    if (!context || !context->canDraw() || !drawable(*this) || !isFinite(lineWidth))
        return;
    const UIColor color = context->effectiveStrokeColor();
    if (!isFinite(color))
        return;
    cairo_t* cr = context->cairo();
    emit(cr, *this);
    setSource(cr, color);
    cairo_set_line_width(cr, std::max(lineWidth, CGFloat(0)));
    cairo_set_line_cap(cr, cairoCap(lineCapStyle));
    cairo_set_line_join(cr, cairoJoin(lineJoinStyle));
    cairo_stroke(cr);
}
