#pragma once

#include <initializer_list>
#include <vector>

#include "platform/graphics/CGAffineTransform.h"
#include "platform/graphics/CGGeometry.h"
#include "platform/graphics/UIColor.h"

typedef struct _cairo cairo_t;

// A drawing context over a Cairo context. Cairo keeps neither a fill/stroke
// colour pair nor a global alpha, so those live in our own state stack, saved
// and restored together with Cairo's (transform, clip, line dash).
//
// A transform or clip that cannot be drawn through (zero or non-finite scale,
// non-finite offset or angle) is never handed to Cairo, whose error state is
// sticky and would drop everything drawn afterwards: the state is marked
// unusable instead and nothing is drawn until the matching restore.
class CGContext {
public:
    // Takes a reference on `cr`; its state is the starting state.
    explicit CGContext(cairo_t* cr);
    ~CGContext();
    CGContext(const CGContext&) = delete;
    CGContext& operator=(const CGContext&) = delete;

    void saveGState();
    // A restore without a matching save does nothing.
    void restoreGState();

    void translateBy(CGFloat tx, CGFloat ty);
    void scaleBy(CGFloat sx, CGFloat sy);
    // Radians; positive turns the x axis towards y (clockwise on screen).
    void rotate(CGFloat angle);
    // Applies the transform after the current one (a view's own transform).
    void concatCTM(const CGAffineTransform& transform);
    // The current transform, user space to device pixels.
    CGAffineTransform userSpaceToDeviceSpaceTransform() const;
    // Pixels of the target to one unit along x as the context stands: its
    // transform and the surface's own scale.
    CGFloat pixelsPerUnit() const;
    // Intersects the clip with the rectangle (standardised first).
    void clip(const CGRect& rect);
    // Intersects the clip with the union of the rectangles.
    void clip(const std::vector<CGRect>& rects);
    // The bounding box of the clip in user space; empty when nothing can be drawn.
    CGRect clipBoundingBox() const;
    // Multiplies into the alpha of every colour drawn while it is set.
    void setAlpha(CGFloat alpha);
    // No lengths, or lengths that are not all finite, non-negative and
    // together positive, mean a solid line.
    void setLineDash(CGFloat phase, std::initializer_list<CGFloat> lengths);
    void setLineDash(CGFloat phase, const std::vector<CGFloat>& lengths);

    void setFillColor(const UIColor& color);
    void setStrokeColor(const UIColor& color);

    // The colours as drawn now, global alpha multiplied in.
    UIColor effectiveFillColor() const;
    UIColor effectiveStrokeColor() const;
    CGFloat globalAlpha() const { return state().alpha; }
    // False after a degenerate transform or clip, until its restore.
    bool canDraw() const { return state().drawable; }
    // Saves not yet restored.
    int stateDepth() const { return int(stack_.size()) - 1; }

    cairo_t* cairo() const { return cr_; }

private:
    struct State {
        UIColor fill = UIColor::black();
        UIColor stroke = UIColor::black();
        CGFloat alpha = 1;
        bool drawable = true;
    };
    const State& state() const { return stack_.back(); }
    State& state() { return stack_.back(); }
    // Applies the change to the transform only when the result stays finite
    // and invertible.
    template <class Change>
    void transform(bool argumentsFinite, Change change);
    void setLineDash(CGFloat phase, const CGFloat* lengths, size_t count);

    cairo_t* cr_;
    std::vector<State> stack_;
};

// The context drawing goes to on this thread: the innermost pushed one, or
// null outside a drawing pass.
CGContext* UIGraphicsGetCurrentContext();
void UIGraphicsPushContext(CGContext& context);
void UIGraphicsPopContext();

// Makes a context current for one scope: a drawing pass.
class UIGraphicsContextScope {
public:
    explicit UIGraphicsContextScope(CGContext& context) { UIGraphicsPushContext(context); }
    ~UIGraphicsContextScope() { UIGraphicsPopContext(); }
    UIGraphicsContextScope(const UIGraphicsContextScope&) = delete;
    UIGraphicsContextScope& operator=(const UIGraphicsContextScope&) = delete;
};
