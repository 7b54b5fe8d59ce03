// The small symbols of the editor canvas: knobs, mode button, slide
// selectors and the split handle.

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>

#include "Orvo_Halden_Extension/CanvasDrawing.h"
#include "Orvo_Halden_Extension/OrvoHaldenViewBase.h"
#include "platform/graphics/PixelCache.h"

using canvas::drawArrowHead;
using canvas::drawText;
using canvas::fill;
using canvas::kDegrees;
using canvas::strokeRound;
using canvas::SymbolScope;
using canvas::TextPlacement;

namespace {

constexpr CGPoint kKnobCentre{50, 50};
constexpr CGFloat kTrackRadius = 41;

// The knob cap's notched edge: an outer contour clockwise and an inner one
// half a point inside it anticlockwise, so the non-zero fill leaves only the
// band between them. Curves list the end point, then the control points.
struct CapCommand {
    enum Kind { move, line, curve, close } kind;
    CGPoint end, c1, c2;
};

constexpr CapCommand kCapOutline[] = {
    {CapCommand::move, {-0.15, -23.72}, {}, {}},
    {CapCommand::curve, {2.9, -23.53}, {0.87, -23.72}, {1.89, -23.66}},
    {CapCommand::curve, {4.07, -23.35}, {3.29, -23.48}, {3.68, -23.41}},
    {CapCommand::curve, {11.61, -17.49}, {4.83, -19.86}, {8.13, -17.58}},
    {CapCommand::curve, {15.05, -18.3}, {12.78, -17.52}, {14.01, -17.73}},
    {CapCommand::curve, {20.96, -11.13}, {17.5, -16.34}, {19.46, -13.86}},
    {CapCommand::curve, {19.2, -6.26}, {19.78, -9.77}, {19.24, -8.03}},
    {CapCommand::curve, {23.73, 0.74}, {19.22, -3.33}, {20.96, -0.42}},
    {CapCommand::curve, {21.81, 9.34}, {23.66, 3.71}, {22.97, 6.61}},
    {CapCommand::line, {21.52, 9.33}, {}, {}},
    {CapCommand::curve, {13.76, 17.04}, {17.23, 9.33}, {13.76, 12.78}},
    {CapCommand::curve, {14.03, 19.06}, {13.77, 17.72}, {13.83, 18.41}},
    {CapCommand::curve, {5.69, 22.97}, {11.55, 20.92}, {8.69, 22.21}},
    {CapCommand::curve, {-0.71, 19.62}, {4.27, 20.84}, {1.82, 19.68}},
    {CapCommand::curve, {-6.94, 22.72}, {-3.36, 19.66}, {-5.28, 20.72}},
    {CapCommand::curve, {-14.64, 18.83}, {-9.74, 21.92}, {-12.31, 20.55}},
    {CapCommand::curve, {-14.48, 17.3}, {-14.51, 18.33}, {-14.49, 17.81}},
    {CapCommand::curve, {-21.99, 9.6}, {-14.49, 13.22}, {-17.84, 9.71}},
    {CapCommand::curve, {-24.03, 0.52}, {-23.25, 6.75}, {-23.99, 3.65}},
    {CapCommand::curve, {-19.94, -6.26}, {-21.48, -0.8}, {-20.01, -3.45}},
    {CapCommand::curve, {-21.43, -10.79}, {-19.94, -7.98}, {-20.47, -9.39}},
    {CapCommand::curve, {-15.63, -18.06}, {-19.98, -13.54}, {-18.05, -16.08}},
    {CapCommand::curve, {-12.73, -17.49}, {-14.72, -17.66}, {-13.72, -17.52}},
    {CapCommand::curve, {-5.24, -23.17}, {-9.11, -17.53}, {-6.3, -19.8}},
    {CapCommand::curve, {-0.15, -23.72}, {-3.57, -23.56}, {-1.86, -23.7}},
    {CapCommand::close, {}, {}, {}},
    {CapCommand::move, {-0.14, -23.18}, {}, {}},
    {CapCommand::curve, {-4.82, -22.71}, {-1.71, -23.16}, {-3.28, -23.04}},
    {CapCommand::curve, {-12.72, -16.95}, {-6.09, -19.22}, {-8.97, -17.07}},
    {CapCommand::line, {-12.74, -16.95}, {}, {}},
    {CapCommand::curve, {-15.53, -17.44}, {-13.68, -16.99}, {-14.65, -17.08}},
    {CapCommand::curve, {-20.8, -10.81}, {-17.71, -15.6}, {-19.45, -13.3}},
    {CapCommand::curve, {-19.4, -6.25}, {-19.86, -9.45}, {-19.43, -7.88}},
    {CapCommand::curve, {-23.48, 0.83}, {-19.5, -3.39}, {-20.93, -0.61}},
    {CapCommand::curve, {-21.62, 9.08}, {-23.4, 3.66}, {-22.73, 6.47}},
    {CapCommand::curve, {-13.93, 17.3}, {-17.26, 9.32}, {-14.05, 13.1}},
    {CapCommand::line, {-13.93, 17.32}, {}, {}},
    {CapCommand::curve, {-14.03, 18.59}, {-13.93, 17.74}, {-13.98, 18.17}},
    {CapCommand::curve, {-7.11, 22.09}, {-11.94, 20.14}, {-9.6, 21.32}},
    {CapCommand::curve, {-0.72, 19.08}, {-5.43, 20.1}, {-3.31, 19.18}},
    {CapCommand::line, {-0.7, 19.08}, {}, {}},
    {CapCommand::curve, {5.91, 22.35}, {1.83, 19.17}, {4.42, 20.25}},
    {CapCommand::curve, {13.41, 18.84}, {8.59, 21.63}, {11.17, 20.47}},
    {CapCommand::curve, {13.21, 17.04}, {13.26, 18.25}, {13.23, 17.64}},
    {CapCommand::curve, {21.44, 8.79}, {13.22, 12.52}, {16.93, 8.91}},
    {CapCommand::curve, {23.17, 1.08}, {22.47, 6.34}, {23.03, 3.73}},
    {CapCommand::curve, {18.65, -6.26}, {20.32, -0.34}, {18.79, -3.15}},
    {CapCommand::line, {18.65, -6.27}, {}, {}},
    {CapCommand::curve, {20.3, -11.18}, {18.7, -8.15}, {19.22, -9.66}},
    {CapCommand::curve, {14.98, -17.66}, {18.92, -13.62}, {17.15, -15.87}},
    {CapCommand::curve, {11.62, -16.95}, {13.93, -17.15}, {12.76, -17}},
    {CapCommand::line, {11.59, -16.95}, {}, {}},
    {CapCommand::curve, {3.63, -22.87}, {7.81, -17.1}, {4.77, -19.27}},
    {CapCommand::line, {3.59, -22.88}, {}, {}},
    {CapCommand::line, {3.59, -22.88}, {}, {}},
    {CapCommand::curve, {2.83, -22.99}, {3.21, -22.94}, {3.04, -22.97}},
    {CapCommand::curve, {-0.14, -23.18}, {1.84, -23.12}, {0.85, -23.16}},
    {CapCommand::close, {}, {}, {}},
};

UIBezierPath capOutline() {
    UIBezierPath path;
    for (const CapCommand& c : kCapOutline) {
        switch (c.kind) {
        case CapCommand::move:
            path.moveTo(c.end);
            break;
        case CapCommand::line:
            path.addLineTo(c.end);
            break;
        case CapCommand::curve:
            path.addCurveTo(c.end, c.c1, c.c2);
            break;
        case CapCommand::close:
            path.close();
            break;
        }
    }
    return path;
}

UIBezierPath trackArc(CGFloat startDegrees, CGFloat endDegrees) {
    UIBezierPath path;
    path.addArc(kKnobCentre, kTrackRadius, startDegrees * kDegrees, endDegrees * kDegrees, true);
    return path;
}

enum class KnobArc { unipolar, bipolar };

struct KnobLook {
    UIColor arc, track, capLine, state, contrast, emphasize;
};

// Everything but the value arc is common to both knobs; the arc is drawn
// between the track and the cap, so both are drawn here. In design points,
// into the current context.
void drawKnobBody(const KnobLook& look, const std::string& label, CGFloat value, KnobArc arc) {
    // Degrees, y down: the pointer's direction and the cap's turn from upright.
    const CGFloat theta = -(220 - value * 260);
    const CGFloat rho = -((value * 2 - 1) * -130);

    drawText(label, {1, 83, 98, 16}, {UIFont("HelveticaNeue", 12), look.state, {NSTextAlignment::center}},
             TextPlacement::bottom);

    {
        canvas::StateScope dashed;
        dashed.context().setLineDash(0, {0, 4});
        UIBezierPath track = trackArc(-220, 40);
        strokeRound(track, 3, look.track);
    }

    if (arc == KnobArc::unipolar) {
        UIBezierPath valueArc = trackArc(-220, theta);
        strokeRound(valueArc, 4, look.arc);
    } else {
        if (0.5 < value) {
            UIBezierPath right = trackArc(-90, -(90 - (value * 2 - 1) * 130));
            strokeRound(right, 4, look.arc);
        }
        if (value < 0.5) {
            UIBezierPath left = trackArc(theta, -90);
            strokeRound(left, 4, look.arc);
        }
    }

    canvas::StateScope turned;
    turned.context().translateBy(kKnobCentre.x, kKnobCentre.y);
    turned.context().rotate(rho * kDegrees);

    strokeRound(*UIBezierPath::ovalIn({-30, -30, 60, 60}), 2, look.state);

    UIBezierPath cap = capOutline();
    fill(cap, look.contrast);
    strokeRound(cap, 1.5, look.capLine);

    strokeRound(*UIBezierPath::ovalIn({-16.07, -14.96, 31, 31}), 1.5, look.contrast);

    auto dot = UIBezierPath::ovalIn({-3, -21, 5, 5});
    fill(*dot, look.emphasize);
    strokeRound(*dot, 0.5, look.contrast);

    UIBezierPath tip;
    tip.moveTo({0, -46});
    tip.addLineTo({2.6, -41.5});
    tip.addLineTo({-2.6, -41.5});
    tip.close();
    fill(tip, look.emphasize);
    strokeRound(tip, 2.5, look.emphasize);
}

std::uint64_t hashed(std::uint64_t seed, const UIColor& c) {
    for (const CGFloat channel : {c.red, c.green, c.blue, c.alpha})
        seed = hashCombine(seed, double(channel));
    return seed;
}

// A knob is the dearest symbol of the canvas (its track and cap most of
// all), and a canvas redraw mostly shows knobs as they were: each one is
// kept as pixels, by its place and its looks, and drawn again only when one
// of them changed (the knob being turned, a new page or contrast).
void drawKnob(const OrvoHaldenViewBase& base, const CGRect& frame, OrvoHaldenViewBase::ResizingBehavior resizing,
              const std::string& label, CGFloat value, bool active, KnobArc arc) {
    SymbolScope symbol(frame, OrvoHaldenViewBase::kKnobSize, resizing);
    if (!symbol)
        return;
    const KnobLook look{base.colorEmphasizeStrong(), base.colorContrastFaint(),
                        base.colorContrast.withAlphaComponent(0.8), active ? base.colorEmphasize : base.colorContrast,
                        base.colorContrast, base.colorEmphasize};
    std::uint64_t looks = hashCombine(std::hash<std::string>{}(label), double(value));
    looks = hashCombine(looks, std::uint64_t(arc == KnobArc::bipolar));
    for (const UIColor* c : {&look.arc, &look.track, &look.capLine, &look.state, &look.contrast, &look.emphasize})
        looks = hashed(looks, *c);
    const CGAffineTransform place = symbol.context().userSpaceToDeviceSpaceTransform();
    std::uint64_t name = looks;
    for (const CGFloat v : {place.a, place.b, place.c, place.d, place.tx, place.ty})
        name = hashCombine(name, double(v));
    // A few pages of knobs, and the one being turned.
    thread_local PixelCaches kept(48);
    // Strokes may reach a little past the design box.
    const CGRect area{-4, -4, OrvoHaldenViewBase::kKnobSize.width + 8, OrvoHaldenViewBase::kKnobSize.height + 8};
    kept.at(name).draw(symbol.context(), area, looks, [&] { drawKnobBody(look, label, value, arc); });
}

struct ArrowHead {
    CGPoint centre;
    CGFloat degrees;
    const CGPoint (&triangle)[3];
};

// The slide selectors' arrow heads before they are turned.
constexpr CGPoint kPointingUp[3] = {{0, -4}, {-4.33, 2}, {4.33, 2}};
constexpr CGPoint kPointingUpReversed[3] = {{0, -4}, {4.33, 2}, {-4.33, 2}};
constexpr CGPoint kPointingDown[3] = {{0, 4}, {4.33, -2}, {-4.33, -2}};

struct SlideGeometry {
    CGSize size;
    CGRect box;
    ArrowHead arrows[4];  // right, below, above, left
};

const SlideGeometry kSlide{OrvoHaldenViewBase::kSlideSize,
                           {12, 12, 72, 22},
                           {{{90, 23}, 90, kPointingUp},
                            {{47, 40}, -180, kPointingUpReversed},
                            {{47, 6}, 180, kPointingDown},
                            {{6, 23}, -90, kPointingUpReversed}}};

const SlideGeometry kSlide2{OrvoHaldenViewBase::kSlide2Size,
                            {13, 14, 113.5, 18},
                            {{{134, 23}, 90, kPointingUp},
                             {{69, 39}, -180, kPointingUpReversed},
                             {{69, 7}, 180, kPointingDown},
                             {{6, 23}, -90, kPointingUpReversed}}};

// `active` does not change the picture: the caller shows a held selector by
// drawing it larger.
void drawSlide(const OrvoHaldenViewBase& base, const SlideGeometry& geometry, const CGRect& frame,
               OrvoHaldenViewBase::ResizingBehavior resizing, const std::string& label) {
    SymbolScope symbol(frame, geometry.size, resizing);
    if (!symbol)
        return;
    base.colorContrast.setStroke();
    auto box = UIBezierPath::roundedRect(geometry.box, 3);
    box->lineWidth = 1;
    box->stroke();
    drawText(label, geometry.box, {UIFont("HelveticaNeue", 9), base.colorContrast, {NSTextAlignment::center}},
             TextPlacement::centred);
    for (const ArrowHead& arrow : geometry.arrows)
        drawArrowHead(arrow.centre, arrow.degrees, arrow.triangle, base.colorContrast, 2);
}

}  // namespace

void OrvoHaldenViewBase::drawSymbolKnobUni(const CGRect& frame, ResizingBehavior resizing, const std::string& label,
                                           CGFloat value, bool active) {
    drawKnob(*this, frame, resizing, label, value, active, KnobArc::unipolar);
}

void OrvoHaldenViewBase::drawSymbolKnobBiDi(const CGRect& frame, ResizingBehavior resizing, const std::string& label,
                                            CGFloat value, bool active) {
    drawKnob(*this, frame, resizing, label, value, active, KnobArc::bipolar);
}

void OrvoHaldenViewBase::drawSymbolModeButton(const CGRect& frame, ResizingBehavior resizing, bool selected,
                                              const std::string& label) {
    SymbolScope symbol(frame, kModeButtonSize, resizing);
    if (!symbol)
        return;
    const CGRect body(1, 1, 78, 18);
    auto outline = UIBezierPath::roundedRect(body, 2);
    fill(*outline, selected ? colorEmphasizeFaint() : colorTransparent);
    strokeRound(*outline, 1, colorContrast);
    drawText(label, body, {UIFont("HelveticaNeue-CondensedBold", 9), colorContrast, {NSTextAlignment::center}},
             TextPlacement::centred);
}

void OrvoHaldenViewBase::drawSymbolSlide(const CGRect& frame, ResizingBehavior resizing, bool /*active*/,
                                         const std::string& label) {
    drawSlide(*this, kSlide, frame, resizing, label);
}

void OrvoHaldenViewBase::drawSymbolSlide2(const CGRect& frame, ResizingBehavior resizing, bool /*active*/,
                                          const std::string& label) {
    drawSlide(*this, kSlide2, frame, resizing, label);
}

void OrvoHaldenViewBase::drawSymbolSplit(const CGRect& frame, ResizingBehavior resizing) {
    SymbolScope symbol(frame, kSplitSize, resizing);
    if (!symbol)
        return;
    const UIColor grip = colorEmphasizeHalf();
    UIBezierPath bar;
    bar.moveTo({15.5, 2});
    bar.addLineTo({15.5, 38});
    strokeRound(bar, 3, colorEmphasize);
    fill(*UIBezierPath::roundedRect({1, 13.5, 29, 15}, 3), grip);
    static constexpr CGPoint left[3] = {{0, -1.5}, {1.52, 0.75}, {-1.52, 0.75}};
    static constexpr CGPoint right[3] = {{0, -1.5}, {-1.52, 0.75}, {1.52, 0.75}};
    drawArrowHead({11.5, 21}, -90, left, colorContrast, 1);
    drawArrowHead({19.5, 21}, 90, right, colorContrast, 1);
}
