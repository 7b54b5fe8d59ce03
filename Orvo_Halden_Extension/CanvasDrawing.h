#pragma once

// The drawing habits every canvas routine shares: mapping a symbol into its
// frame, saved state groups, text in a box, round-capped strokes.

#include <string>

#include "Orvo_Halden_Extension/OrvoHaldenViewBase.h"
#include "platform/graphics/CGContext.h"
#include "platform/graphics/NSString.h"
#include "platform/graphics/UIBezierPath.h"

namespace canvas {

constexpr CGFloat kDegrees = 3.14159265358979323846 / 180;

// One saved state of the current context for a scope. Outside a drawing pass
// there is no context and the scope holds none.
class StateScope {
public:
    StateScope();
    ~StateScope();
    StateScope(const StateScope&) = delete;
    StateScope& operator=(const StateScope&) = delete;

    explicit operator bool() const { return context_ != nullptr; }
    CGContext& context() const { return *context_; }

private:
    CGContext* context_;
};

// A symbol's drawing scope: saves the state, then maps its design size into
// the frame by the rule, so that the routine draws in design points. A frame
// the rule maps to nothing (zero or non-finite size) lets nothing through.
class SymbolScope : public StateScope {
public:
    template <bool PublishesScale>
    SymbolScope(const CGRect& frame, CGSize design, OrvoHaldenViewBase::Resizing<PublishesScale> resizing)
        : SymbolScope(resizing.apply({0, 0, design.width, design.height}, frame), design) {}
    // The design size into a rectangle already mapped (the whole canvas maps
    // through its model, which keeps the scale it drew at).
    SymbolScope(const CGRect& mapped, CGSize design);
};

enum class TextPlacement { centred, bottom };

// Text in a box: measured for the box width, clipped to the box, drawn at the
// box's x and width, centred vertically on the box or set on its bottom edge.
void drawText(const std::string& text, const CGRect& box, const NSStringAttributes& attributes,
              TextPlacement placement);

// Line width with round caps and joins, as every canvas stroke has them.
void strokeRound(UIBezierPath& path, CGFloat lineWidth, const UIColor& color);
void fill(const UIBezierPath& path, const UIColor& color);

// A closed triangle turned about its centre by `degrees`, filled and
// outlined (round caps and joins) in one colour.
void drawArrowHead(CGPoint centre, CGFloat degrees, const CGPoint (&triangle)[3], const UIColor& color,
                   CGFloat lineWidth);

}  // namespace canvas
