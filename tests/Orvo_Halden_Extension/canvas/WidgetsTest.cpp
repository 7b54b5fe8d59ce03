#include <gtest/gtest.h>

#include <cairo.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <numbers>
#include <thread>

#include "Orvo_Halden_Extension/OrvoHaldenViewBase.h"
#include "tests/support/Geometry.h"
#include "tests/support/PinnedFonts.h"
#include "tests/support/PixelProbe.h"

namespace {

using V = OrvoHaldenViewBase;
using testkit::overWhite;
using testkit::pixelNear;

const auto* const fontsPinned = ::testing::AddGlobalTestEnvironment(new testkit::PinnedFontsEnvironment);

const ImageSurface::Pixel kWhite{255, 255, 255, 255};

// A point `radius` from the knob centre in direction `degrees` (y down).
CGPoint polar(CGFloat radius, CGFloat degrees) {
    const CGFloat a = degrees * std::numbers::pi / 180;
    return {50 + radius * std::cos(a), 50 + radius * std::sin(a)};
}

// The direction (degrees) halfway between two track dots, k dots after the
// track's start: the dots are 4 points apart along a radius of 41.
CGFloat betweenDots(int k) { return -220 + (4 * k + 2) / 41.0 * 180 / std::numbers::pi; }
// The direction of the k-th track dot (the last one is k 46).
CGFloat onDot(int k) { return -220 + 4 * k / 41.0 * 180 / std::numbers::pi; }

using Draw = std::function<void(V&)>;

std::unique_ptr<ImageSurface> render(V& model, CGSize size, CGFloat scale, const Draw& draw) {
    return testkit::renderOverWhite(size, scale, [&](CGContext&) { draw(model); });
}

// Pointer direction and cap turn of a knob at `value`, in degrees.
CGFloat pointerAngle(CGFloat value) { return 260 * value - 220; }

}  // namespace

TEST(Widgets, KnobPointerTipAndDotTurnWithTheValue) {
    for (const bool bipolar : {false, true})
        for (const CGFloat value : {0.0, 0.25, 0.5, 1.0, 1.2, -0.1}) {
            SCOPED_TRACE(testing::Message() << (bipolar ? "bipolar " : "unipolar ") << value);
            V model;
            auto picture = render(model, V::kKnobSize, 4, [&](V& m) {
                bipolar ? m.drawSymbolKnobBiDi({0, 0, 100, 100}, V::ResizingBehavior::fit, "", value, false)
                        : m.drawSymbolKnobUni({0, 0, 100, 100}, V::ResizingBehavior::fit, "", value, false);
            });
            const CGFloat theta = pointerAngle(value);
            const auto emphasize = overWhite({model.colorEmphasize});
            // The tip reaches 46 from the centre (47.25 with its outline).
            EXPECT_TRUE(pixelNear(*picture, polar(45.5, theta), emphasize));
            EXPECT_TRUE(pixelNear(*picture, polar(45.5, theta + 25), kWhite));
            EXPECT_TRUE(pixelNear(*picture, polar(45.5, theta - 25), kWhite));
            // The dot sits on the cap, turned with it: (-0.5, -18.5) about the centre.
            const CGFloat rho = (theta + 90) * std::numbers::pi / 180;
            const CGPoint dot{50 - 0.5 * std::cos(rho) + 18.5 * std::sin(rho),
                              50 - 0.5 * std::sin(rho) - 18.5 * std::cos(rho)};
            EXPECT_TRUE(pixelNear(*picture, dot, emphasize));
        }
    // The tip positions at the ends of the range.
    const CGPoint low = polar(46, pointerAngle(0)), high = polar(46, pointerAngle(1));
    EXPECT_NEAR(low.x, 14.76, 0.01);
    EXPECT_NEAR(low.y, 79.57, 0.01);
    EXPECT_NEAR(high.x, 85.24, 0.01);
    EXPECT_NEAR(high.y, 79.57, 0.01);
}

// With the foreground white (over white) only the accent parts show: value arc,
// pointer dot and tip.
TEST(Widgets, KnobValueArcsCoverTheirSweep) {
    struct Case {
        bool bipolar;
        CGFloat value;
        std::vector<CGFloat> covered, bare;
    };
    const Case cases[] = {
        {false, 0, {}, {-200, -90, 20}},
        {false, 0.25, {-190}, {-120, -60, 20}},
        {false, 0.5, {-200, -120}, {-60, 20, 90}},
        {false, 1, {-200, -90, 20}, {90}},
        // Unclamped: past the end into the gap, and below 0 round the whole track.
        {false, 1.2, {20, 60}, {110}},
        {false, -0.1, {-200, -90, 20, 90}, {}},
        {true, 0.5, {}, {-200, -120, -60, 20}},
        {true, 0.75, {-60}, {-120, -200, 20}},
        {true, 0.25, {-120}, {-60, 20, -200}},
        {true, 1, {-60, 20}, {-120, -200}},
        {true, 0, {-200, -120}, {-60, 20}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.bipolar ? "bipolar " : "unipolar ") << c.value);
        V model;
        model.colorContrast = UIColor::white();
        auto picture = render(model, V::kKnobSize, 2, [&](V& m) {
            c.bipolar ? m.drawSymbolKnobBiDi({}, V::ResizingBehavior::fit, "knob", c.value, false)
                      : m.drawSymbolKnobUni({}, V::ResizingBehavior::fit, "knob", c.value, false);
        });
        for (CGFloat angle : c.covered)
            EXPECT_TRUE(pixelNear(*picture, polar(41, angle), overWhite({model.colorEmphasizeStrong()}))) << angle;
        for (CGFloat angle : c.bare)
            EXPECT_TRUE(pixelNear(*picture, polar(41, angle), kWhite)) << angle;
    }
}

TEST(Widgets, BipolarArcsMirrorEachOther) {
    V model;
    model.colorContrast = UIColor::white();
    auto knob = [&](CGFloat value) {
        return render(model, V::kKnobSize, 2, [&](V& m) {
            m.drawSymbolKnobBiDi({}, V::ResizingBehavior::fit, "", value, false);
        });
    };
    const auto left = knob(0.25), right = knob(0.75);
    // Compare the track ring away from the pointers (the cap's dot is not symmetric).
    int compared = 0, differing = 0;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 200; ++x) {
            const CGFloat dx = x / 2.0 + 0.25 - 50, dy = y / 2.0 + 0.25 - 50;
            const CGFloat r = std::hypot(dx, dy), angle = std::atan2(dy, dx) * 180 / std::numbers::pi;
            // The left knob's pointer, and the mirror image of the right one's.
            if (r < 37 || r > 45 || std::abs(angle - pointerAngle(0.25)) < 15)
                continue;
            ++compared;
            const auto p = left->pixel(x, y), q = right->pixel(199 - x, y);
            differing += std::abs(p.red - q.red) > 8 || std::abs(p.blue - q.blue) > 8;
        }
    EXPECT_GT(compared, 1000);
    EXPECT_LT(differing, compared / 100);
}

// Idle and active colours, probed where a fill or a wide stroke covers the
// point fully.
TEST(Widgets, KnobColoursFollowTheStateAndTheirTints) {
    for (const bool active : {false, true}) {
        SCOPED_TRACE(active);
        V model;
        model.colorContrast = {0.1, 0.3, 0.2, 1};
        const UIColor state = active ? model.colorEmphasize : model.colorContrast;
        auto picture = render(model, V::kKnobSize, 4, [&](V& m) {
            m.drawSymbolKnobUni({}, V::ResizingBehavior::fit, "size", 0.5, active);
        });
        // Ring opposite the pointer; value arc between two track dots; a
        // bare track dot past the arc's end.
        EXPECT_TRUE(pixelNear(*picture, polar(30, 90), overWhite({state})));
        EXPECT_TRUE(pixelNear(*picture, polar(41, betweenDots(10)), overWhite({model.colorEmphasizeStrong()})));
        EXPECT_TRUE(pixelNear(*picture, polar(41, onDot(45)), overWhite({model.colorContrastFaint()})));
        // The cap circle's outline, turned upright at 0.5: centred (-0.57, 0.54), radius 15.5.
        EXPECT_TRUE(pixelNear(*picture, {50 - 0.57, 50 + 0.54 + 15.5}, overWhite({model.colorContrast})));
    }
}

TEST(Widgets, ModeButtonTintsItsInsideOnlyWhenSelected) {
    for (const bool selected : {false, true}) {
        SCOPED_TRACE(selected);
        V model;
        auto picture = render(model, V::kModeButtonSize, 4, [&](V& m) {
            m.drawSymbolModeButton({}, V::ResizingBehavior::fit, selected, "main");
        });
        EXPECT_TRUE(pixelNear(*picture, {4, 10}, selected ? overWhite({model.colorEmphasizeFaint()}) : kWhite));
        EXPECT_TRUE(pixelNear(*picture, {1.1, 10}, overWhite({model.colorContrast})));
        EXPECT_TRUE(pixelNear(*picture, {40, 1.1}, overWhite({model.colorContrast})));
    }
}

TEST(Widgets, SlidesDrawBoxAndArrowsAloneWhateverTheActiveFlag) {
    struct Case {
        bool wide;
        CGSize size;
        CGRect box;
        CGPoint arrows[4];
    };
    const Case cases[] = {
        {false, V::kSlideSize, {12, 12, 72, 22}, {{92, 23}, {47, 42}, {47, 4}, {4, 23}}},
        {true, V::kSlide2Size, {13, 14, 113.5, 18}, {{136, 23}, {69, 41}, {69, 5}, {4, 23}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wide);
        V model;
        model.colorContrast = {0.6, 0.1, 0.3, 1};
        auto draw = [&](bool active) {
            return render(model, c.size, 4, [&](V& m) {
                c.wide ? m.drawSymbolSlide2({}, V::ResizingBehavior::fit, active, "Hall")
                       : m.drawSymbolSlide({}, V::ResizingBehavior::fit, active, "1/4");
            });
        };
        const auto idle = draw(false), held = draw(true);
        EXPECT_EQ(testkit::differingPixels(*idle, *held, 0), 0);
        const auto contrast = overWhite({model.colorContrast});
        for (const CGPoint arrow : c.arrows)
            EXPECT_TRUE(pixelNear(*idle, arrow, contrast)) << arrow;
        EXPECT_TRUE(pixelNear(*idle, {c.box.minX() + 0.1, c.box.midY()}, contrast));
        EXPECT_TRUE(pixelNear(*idle, {c.box.minX() + 3, c.box.midY()}, kWhite));
        EXPECT_TRUE(pixelNear(*idle, {c.box.midX(), c.box.maxY() - 0.1}, contrast));
    }
}

TEST(Widgets, SplitHandleShowsBarThroughItsHalfTransparentGrip) {
    V model;
    model.colorContrast = {0.2, 0.2, 0.5, 1};
    auto picture = render(model, V::kSplitSize, 4, [](V& m) { m.drawSymbolSplit(); });
    const UIColor emphasize = model.colorEmphasize;
    EXPECT_TRUE(pixelNear(*picture, {15.5, 5}, overWhite({emphasize})));
    EXPECT_TRUE(pixelNear(*picture, {15.5, 39.2}, overWhite({emphasize})));  // round cap
    EXPECT_TRUE(pixelNear(*picture, {15.5, 16}, overWhite({emphasize, model.colorEmphasizeHalf()})));
    EXPECT_TRUE(pixelNear(*picture, {5, 16}, overWhite({model.colorEmphasizeHalf()})));
    EXPECT_TRUE(pixelNear(*picture, {11.5, 21}, overWhite({model.colorEmphasizeHalf(), model.colorContrast})));
    EXPECT_TRUE(pixelNear(*picture, {19.5, 21}, overWhite({model.colorEmphasizeHalf(), model.colorContrast})));
    EXPECT_TRUE(pixelNear(*picture, {5, 10}, kWhite));
    EXPECT_TRUE(pixelNear(*picture, {15.5, 41}, kWhite));
}

// Each symbol drawn into a frame looks like the symbol drawn at design size
// under the transform the resizing rule implies.
TEST(Widgets, FramesPlaceAndScaleEverySymbol) {
    using R = V::ResizingBehavior;
    struct Case {
        const char* name;
        std::function<void(V&, const CGRect&, R)> draw;
        CGSize design;
        CGRect frame;
        R resizing;
        CGPoint origin;
        CGSize scale;
    };
    const Case cases[] = {
        {"knob stretch", [](V& m, const CGRect& f, R r) { m.drawSymbolKnobUni(f, r, "size", 0.3, true); },
         V::kKnobSize, {0, 0, 200, 200}, R::stretch, {0, 0}, {2, 2}},
        {"knob fit", [](V& m, const CGRect& f, R r) { m.drawSymbolKnobBiDi(f, r, "pan", 0.7, false); },
         V::kKnobSize, {0, 0, 200, 100}, R::fit, {50, 0}, {1, 1}},
        {"button stretch", [](V& m, const CGRect& f, R r) { m.drawSymbolModeButton(f, r, true, "delays"); },
         V::kModeButtonSize, {0, 0, 160, 40}, R::stretch, {0, 0}, {2, 2}},
        {"button fit", [](V& m, const CGRect& f, R r) { m.drawSymbolModeButton(f, r, false, "freeze"); },
         V::kModeButtonSize, {0, 0, 160, 20}, R::fit, {40, 0}, {1, 1}},
        {"button zero frame", [](V& m, const CGRect& f, R r) { m.drawSymbolModeButton(f, r, true, "main"); },
         V::kModeButtonSize, {0, 0, 0, 0}, R::fit, {0, 0}, {1, 1}},
        {"slide stretch", [](V& m, const CGRect& f, R r) { m.drawSymbolSlide(f, r, false, "1/8 T"); },
         V::kSlideSize, {0, 0, 192, 92}, R::stretch, {0, 0}, {2, 2}},
        {"slide fit", [](V& m, const CGRect& f, R r) { m.drawSymbolSlide(f, r, false, "1/8 T"); },
         V::kSlideSize, {0, 0, 192, 46}, R::fit, {48, 0}, {1, 1}},
        {"wide slide fill", [](V& m, const CGRect& f, R r) { m.drawSymbolSlide2(f, r, false, "Plate"); },
         V::kSlide2Size, {0, 0, 280, 46}, R::fill, {0, -23}, {2, 2}},
        {"split fit", [](V& m, const CGRect& f, R r) { m.drawSymbolSplit(f, r); },
         V::kSplitSize, {0, 0, 31, 84}, R::fit, {0, 21}, {1, 1}},
        {"split stretch", [](V& m, const CGRect& f, R r) { m.drawSymbolSplit(f, r); },
         V::kSplitSize, {0, 0, 62, 42}, R::stretch, {0, 0}, {2, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        V model;
        const CGSize size{std::max(c.frame.width(), c.design.width), std::max(c.frame.height(), c.design.height)};
        const auto framed = render(model, size, 2, [&](V& m) { c.draw(m, c.frame, c.resizing); });
        const auto placed = render(model, size, 2, [&](V& m) {
            CGContext& context = *UIGraphicsGetCurrentContext();
            context.translateBy(c.origin.x, c.origin.y);
            context.scaleBy(c.scale.width, c.scale.height);
            c.draw(m, {0, 0, c.design.width, c.design.height}, R::fit);
        });
        EXPECT_LT(testkit::differingPixels(*framed, *placed), 5);
    }
}

// Whatever the frame or value, a routine leaves Cairo healthy and the
// caller's transform, clip and colours as they were; without a context it
// does nothing.
TEST(Widgets, EveryRoutineLeavesTheContextAsItFoundIt) {
    using R = V::ResizingBehavior;
    const std::function<void(V&, const CGRect&, CGFloat)> routines[] = {
        [](V& m, const CGRect& f, CGFloat v) { m.drawSymbolKnobUni(f, R::fit, "knob with a long caption", v, true); },
        [](V& m, const CGRect& f, CGFloat v) { m.drawSymbolKnobBiDi(f, R::fill, "knob", v, false); },
        [](V& m, const CGRect& f, CGFloat) { m.drawSymbolModeButton(f, R::stretch, true, "shifters"); },
        [](V& m, const CGRect& f, CGFloat) { m.drawSymbolSlide(f, R::centre, true, "a caption far too wide for it"); },
        [](V& m, const CGRect& f, CGFloat) { m.drawSymbolSlide2(f, R::fit, false, ""); },
        [](V& m, const CGRect& f, CGFloat) { m.drawSymbolSplit(f, R::stretch); },
    };
    const CGRect frames[] = {{0, 0, 0, 0}, {10, 10, 0, 0}, {5, 5, 90, 40}, {0, 0, NAN, 100}, {0, 0, 1e300, 1e300},
                             {-20, -20, 300, 10}};
    const CGFloat values[] = {0.4, NAN, INFINITY, -1e308};
    V model;
    for (const auto& routine : routines)
        routine(model, {0, 0, 100, 100}, 0.5);  // no context: nothing happens
    for (size_t i = 0; i < std::size(routines); ++i)
        for (const CGRect& frame : frames)
            for (const CGFloat value : values) {
                SCOPED_TRACE(testing::Message() << "routine " << i << " frame " << frame << " value " << value);
                testkit::renderOverWhite({120, 60}, 1, [&](CGContext& context) {
                    context.translateBy(3, 4);
                    context.clip({1, 2, 100, 50});
                    context.setFillColor({0.5, 0.5, 0.5, 1});
                    cairo_matrix_t before, after;
                    double clipBefore[4], clipAfter[4];
                    cairo_get_matrix(context.cairo(), &before);
                    cairo_clip_extents(context.cairo(), &clipBefore[0], &clipBefore[1], &clipBefore[2], &clipBefore[3]);
                    routines[i](model, frame, value);
                    EXPECT_EQ(cairo_status(context.cairo()), CAIRO_STATUS_SUCCESS);
                    EXPECT_TRUE(context.canDraw());
                    EXPECT_EQ(context.stateDepth(), 0);
                    cairo_get_matrix(context.cairo(), &after);
                    cairo_clip_extents(context.cairo(), &clipAfter[0], &clipAfter[1], &clipAfter[2], &clipAfter[3]);
                    EXPECT_EQ(0, std::memcmp(&before, &after, sizeof before));
                    EXPECT_EQ(0, std::memcmp(clipBefore, clipAfter, sizeof clipBefore));
                    EXPECT_EQ(context.effectiveFillColor(), (UIColor{0.5, 0.5, 0.5, 1}));
                });
            }
}

// A non-finite value loses the elements it places, never the rest.
TEST(Widgets, NonFiniteKnobValueDropsOnlyTheElementsItPlaces) {
    V model;
    auto picture = render(model, {100, 100}, 4, [](V& m) {
        m.drawSymbolKnobUni({}, V::ResizingBehavior::fit, "HHHH", NAN, true);
        m.colorEmphasize.setFill();
        UIBezierPath::rect({0, 0, 4, 4})->fill();
    });
    EXPECT_TRUE(pixelNear(*picture, {2, 2}, overWhite({model.colorEmphasize})));
    // The track shows; the turned cap (ring at radius 30) does not.
    EXPECT_TRUE(pixelNear(*picture, polar(41, onDot(45)), overWhite({model.colorContrastFaint()})));
    EXPECT_TRUE(pixelNear(*picture, polar(30, -90), kWhite));
    EXPECT_TRUE(pixelNear(*picture, polar(30, 90), kWhite));
    // The caption shows, in the active colour.
    int captionInk = 0;
    for (int y = 4 * 83; y < 4 * 99; ++y)
        for (int x = 0; x < picture->pixelWidth(); ++x)
            captionInk += bool(pixelNear(*picture, {(x + 0.5) / 4, (y + 0.5) / 4}, overWhite({model.colorEmphasize})));
    EXPECT_GT(captionInk, 20);
}

namespace {

// A knob kept as pixels must show every change of its looks at once: drawn
// with one look, then another at the same place, it matches the second look
// drawn where nothing was kept before (a thread of its own keeps its own).
TEST(Knobs, AKeptKnobShowsEveryChangeOfItsLooks) {
    struct Look {
        const char* label;
        CGFloat value;
        bool active;
        CGFloat contrast;
    };
    struct Case {
        const char* name;
        Look before, after;
    };
    const Case cases[] = {
        {"value", {"size", 0.3, false, 0.9}, {"size", 0.7, false, 0.9}},
        {"label", {"size", 0.3, false, 0.9}, {"damp", 0.3, false, 0.9}},
        {"held", {"size", 0.3, false, 0.9}, {"size", 0.3, true, 0.9}},
        {"contrast", {"size", 0.3, false, 0.9}, {"size", 0.3, false, 0.2}},
    };
    const auto draw = [](const Look& look) {
        return testkit::renderOverWhite(V::kKnobSize, 2, [&](CGContext&) {
            V model;
            model.colorContrast = UIColor{look.contrast, look.contrast, look.contrast, 1};
            model.drawSymbolKnobUni({}, V::ResizingBehavior::fit, look.label, look.value, look.active);
        });
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto first = draw(c.before);
        const auto shown = draw(c.after);
        std::unique_ptr<ImageSurface> fresh;
        std::thread([&] { fresh = draw(c.after); }).join();
        EXPECT_GT(testkit::differingPixels(*first, *fresh, 0), 0);
        EXPECT_EQ(testkit::differingPixels(*shown, *fresh, 0), 0);
    }
}

}  // namespace
