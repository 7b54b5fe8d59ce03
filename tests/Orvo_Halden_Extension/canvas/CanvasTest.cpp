#include <gtest/gtest.h>

#include <cairo.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <set>
#include <tuple>

#include "tests/Orvo_Halden_Extension/canvas/CanvasPicture.h"
#include "tests/support/Geometry.h"

namespace {

using namespace canvastest;
using testkit::overWhite;
using testkit::pixelNear;

constexpr CGFloat kNaN = std::numeric_limits<CGFloat>::quiet_NaN();
constexpr CGFloat kInf = std::numeric_limits<CGFloat>::infinity();

struct ScaleCase {
    CGSize frame;
    CGFloat published;
};

class CanvasScale : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(CanvasScale, IsPublishedByTheCanvasDraw) {
    const ScaleCase c = GetParam();
    V model;
    OrvoHaldenViewScale = {};
    picture(c.frame, 1, [&](CGContext&) { model.draw({0, 0, c.frame.width, c.frame.height}); });
    EXPECT_DOUBLE_EQ(OrvoHaldenViewScale.width, c.published);
    EXPECT_DOUBLE_EQ(OrvoHaldenViewScale.height, c.published);
    EXPECT_DOUBLE_EQ(model.canvasScale().width, c.published);
    EXPECT_DOUBLE_EQ(model.canvasScale().height, c.published);
}

INSTANTIATE_TEST_SUITE_P(Frames, CanvasScale,
                         ::testing::Values(ScaleCase{{1360, 1200}, 2}, ScaleCase{{1360, 600}, 1},
                                           ScaleCase{{500, 600}, 500.0 / 680}));

TEST(CanvasScale, ExactCanvasFrameKeepsTheSharedValueButSetsTheModels) {
    V model;
    OrvoHaldenViewScale = {3, 3};
    drawCanvas(model);
    EXPECT_EQ(OrvoHaldenViewScale, (CGSize{3, 3}));
    EXPECT_EQ(model.canvasScale(), (CGSize{1, 1}));
}

struct State {
    const char* name;
    std::function<void(V&)> set;
};

// Pages and modes, and values no editor should send: each draws.
const State kStates[] = {
    {"main", [](V&) {}},
    {"delays", [](V& m) { m.currentView = 1; }},
    {"shifters", [](V& m) { m.currentView = 2; }},
    {"full_band", [](V& m) { m.isAllpass = true; }},
    {"everything_held",
     [](V& m) {
         for (bool* flag : {&m.isSizeActive, &m.isDryActive, &m.isPanActive, &m.isModelActive,
                            &m.isSplit1Active, &m.isSplit2Active})
             *flag = true;
     }},
    {"mode_out_of_range", [](V& m) { m.currentMode = 9; }},
    {"negative_mode", [](V& m) { m.currentMode = -4; }},
    {"non_finite_values",
     [](V& m) {
         m.valueSplit2 = kInf;
         m.valueHorizontal = kNaN;
         m.valueSize.fill(kNaN);
         m.valuePan.fill(-kInf);
         m.valueModel.fill(kNaN);
     }},
    {"huge_values",
     [](V& m) {
         m.valueSplit1 = -1e300;
         m.valueSplit2 = 1e300;
         m.valueVertical = 1e300;
         m.valueWet.fill(1e300);
     }},
    {"non_finite_delays",
     [](V& m) {
         m.currentView = 1;
         m.valuePreDelayTempo.fill(kNaN);
         m.valuePostDelayDivision.fill(1e300);
         m.valuePreDelayOn.fill(kNaN);
     }},
};

class WholeCanvas : public ::testing::TestWithParam<State> {};

TEST_P(WholeCanvas, LeavesTheContextAsItFoundIt) {
    V model;
    GetParam().set(model);
    for (CGFloat scale : {1.0, 2.0}) {
        picture(V::kCanvasSize, scale, [&](CGContext& context) {
            cairo_t* cr = context.cairo();
            context.translateBy(3, 4);
            context.clip({1, 1, 600, 500});
            cairo_matrix_t before, after;
            cairo_get_matrix(cr, &before);
            double x1, y1, x2, y2;
            cairo_clip_extents(cr, &x1, &y1, &x2, &y2);

            model.draw({0, 0, 680, 600});

            EXPECT_EQ(cairo_status(cr), CAIRO_STATUS_SUCCESS) << cairo_status_to_string(cairo_status(cr));
            EXPECT_EQ(context.stateDepth(), 0);
            EXPECT_TRUE(context.canDraw());
            EXPECT_DOUBLE_EQ(context.globalAlpha(), 1);
            cairo_get_matrix(cr, &after);
            EXPECT_EQ(std::tie(after.xx, after.yx, after.xy, after.yy, after.x0, after.y0),
                      std::tie(before.xx, before.yx, before.xy, before.yy, before.x0, before.y0));
            double a1, b1, a2, b2;
            cairo_clip_extents(cr, &a1, &b1, &a2, &b2);
            EXPECT_EQ(std::tie(a1, b1, a2, b2), std::tie(x1, y1, x2, y2));
        });
    }
}

const V::Path V::*const kCanvasPaths[] = {
    &V::hotspotActiveLPPath,
    &V::hotspotActiveBPPath,
    &V::hotspotActiveHPPath,
    &V::hotspotCaption2Path,
    &V::hotspotButtonAllpassPath,
    &V::hotspotButtonMultibandPath,
    &V::hotspotCaption1Path,
    &V::hotspotMultiPath,
    &V::hotspotMainPath,
    &V::hotspotButtonMainViewPath,
    &V::hotspotButtonDelaysViewPath,
    &V::hotspotButtonShiftersViewPath,
    &V::hotspotSizePath,
    &V::hotspotDampPath,
    &V::hotspotDryPath,
    &V::hotspotWetPath,
    &V::hotspotWidthPath,
    &V::hotspotInputPath,
    &V::hotspotOutputPath,
    &V::hotspotFreezePath,
    &V::hotspotPanPath,
    &V::hotspotModelPath,
    &V::hotspotPreDelayOnOffPath,
    &V::hotspotPreDelayTempoPath,
    &V::hotspotPreDelayFeedbackPath,
    &V::hotspotPreDelayDivisionPath,
    &V::hotspotPostDelayOnOffPath,
    &V::hotspotPostDelayTempoPath,
    &V::hotspotPostDelayTFeedbackPath,
    &V::hotspotPostDelayDivisionPath,
    &V::hotspotShifterModePath,
    &V::hotspotShifterConnectionPath,
    &V::hotspotShifterOnOffPath,
    &V::hotspotShifterAmountPath,
    &V::hotspotShifterMixPath,
};
const V::Path V::*const kStripPaths[] = {&V::hotspotRangeLPPath, &V::hotspotRangeBPPath,
                                         &V::hotspotRangeHPPath, &V::hotspotSplit1Path,
                                         &V::hotspotSplit2Path};

// What can be touched is drawn: every rectangle offered lies over pixels of
// the picture (a touch target over empty paper would be a fault).
TEST(WholeCanvas, EveryHotspotOfThePageShownCoversTheDrawing) {
    for (int s = 0; s < 4; ++s) {
        const State& state = kStates[s];
        V model;
        state.set(model);
        const auto surface = drawCanvas(model);
        int offered = 0;
        const auto check = [&](const V::Path& path, CGFloat dy, const char* kind) {
            if (path->isEmpty()) return;
            const auto rect = testkit::rectangleOf(*path);
            ASSERT_TRUE(rect) << state.name;
            ++offered;
            const CGRect onCanvas{rect->minX(), rect->minY() + dy, rect->width(), rect->height()};
            EXPECT_GT(drawnPixels(*surface, onCanvas), 0) << state.name << ": " << kind << " " << onCanvas;
        };
        for (const auto path : kCanvasPaths) check(model.*path, 0, "canvas path");
        if (!model.isAllpass)
            for (const auto path : kStripPaths) check(model.*path, 70, "strip path");
        EXPECT_GT(offered, 15) << state.name;
    }
}

INSTANTIATE_TEST_SUITE_P(States, WholeCanvas, ::testing::ValuesIn(kStates),
                         [](const auto& test) { return std::string(test.param.name); });

class Frames : public ::testing::TestWithParam<CGFloat> {};

// The band mode that is on is the accent colour: the two large frames
// follow the multiband button.
TEST_P(Frames, FollowTheBandMode) {
    V model;
    const auto multiband = drawCanvas(model, GetParam());
    EXPECT_TRUE(pixelNear(*multiband, {20, 276}, overWhite({model.colorEmphasize})));
    EXPECT_TRUE(pixelNear(*multiband, {20, 480}, overWhite({model.colorEmphasize})));
    model.isAllpass = true;
    const auto fullBand = drawCanvas(model, GetParam());
    EXPECT_TRUE(pixelNear(*fullBand, {20, 276}, overWhite({model.colorContrast})));
    EXPECT_TRUE(pixelNear(*fullBand, {20, 480}, overWhite({model.colorContrast})));
    // The allpass box stands where the strip was.
    EXPECT_TRUE(pixelNear(*fullBand, {20, 100}, overWhite({model.colorContrast})));
    EXPECT_TRUE(pixelNear(*fullBand, {250, 120}, overWhite({})));
}

INSTANTIATE_TEST_SUITE_P(Scales, Frames, ::testing::Values(1.0, 2.0));

TEST(BandLabel, NamesOnlyTheFourBands) {
    const CGRect box{300, 236, 80, 80};
    for (std::int64_t mode : {0, 2, 3, 4, -1}) {
        V model;
        model.isCrossVisible = false;
        model.currentMode = mode;
        const int drawn = drawnPixels(*drawCanvas(model), box);
        if (mode >= 0 && mode <= 3)
            EXPECT_GT(drawn, 50) << "mode " << mode;
        else
            EXPECT_EQ(drawn, 0) << "mode " << mode;
    }
}

// The free condensed face is wider than the logo was laid out for: the
// series word stays one whole line (narrowed), not two clipped halves.
TEST(Logo, SeriesWordStaysOnOneLine) {
    V model;
    const auto surface = drawCanvas(model, 2);
    // Every row through the capitals crosses letters; a wrapped word shows
    // the gap between its lines there.
    for (CGFloat y = 25; y < 37; ++y) EXPECT_GT(drawnPixels(*surface, {509, y, 76, 1}), 90) << "row " << y;
}

TEST(Crosshair, FollowsItsValuesUnclippedAndHides) {
    V model;
    model.valueHorizontal = 0;
    model.valueVertical = 1;
    // Its circle about (20, 368), radius 50, also where it leaves the
    // display area to the left.
    const auto onCircle = [](CGFloat degrees) {
        const CGFloat a = degrees * 3.14159265358979323846 / 180;
        return CGPoint{20 + 50 * std::cos(a), 368 + 50 * std::sin(a)};
    };
    const auto soft = overWhite({model.colorEmphasizeSoft()});
    const auto surface = drawCanvas(model, 2);
    EXPECT_TRUE(pixelNear(*surface, onCircle(-45), soft));
    EXPECT_TRUE(pixelNear(*surface, onCircle(-107.5), soft));
    model.isCrossVisible = false;
    const auto hidden = drawCanvas(model, 2);
    EXPECT_TRUE(pixelNear(*hidden, onCircle(-45), overWhite({})));
    EXPECT_TRUE(pixelNear(*hidden, onCircle(-107.5), overWhite({})));
}

} // namespace

namespace {

// A model that draws every symbol its own way: nothing, but it notes the call.
class OwnSymbols : public V {
public:
    std::set<std::string> called;
    void drawSymbolSplit(const CGRect&, ResizingBehavior) override { called.insert("split"); }
    void drawSymbolRanges(const CGRect& f, ResizingBehavior r) override {
        called.insert("ranges");
        V::drawSymbolRanges(f, r);  // the strip places its split handles through the override
    }
    void drawSymbolControls(const CGRect& f, ResizingBehavior r) override {
        called.insert("controls");
        V::drawSymbolControls(f, r);
    }
    void drawSymbolKnobUni(const CGRect&, ResizingBehavior, const std::string&, CGFloat, bool) override {
        called.insert("knobUni");
    }
    void drawSymbolKnobBiDi(const CGRect&, ResizingBehavior, const std::string&, CGFloat, bool) override {
        called.insert("knobBiDi");
    }
    void drawSymbolModeButton(const CGRect&, ResizingBehavior, bool, const std::string&) override {
        called.insert("modeButton");
    }
    void drawSymbolSlide(const CGRect&, ResizingBehavior, bool, const std::string&) override { called.insert("slide"); }
    void drawSymbolSlide2(const CGRect&, ResizingBehavior, bool, const std::string&) override {
        called.insert("slide2");
    }
    void drawSymbolHotspots(const CGRect&, ResizingBehavior1) override { called.insert("hotspots"); }
};

}  // namespace

TEST(WholeCanvas, DrawsEverySymbolThroughTheOverridesOfADerivedModel) {
    auto model = std::make_unique<OwnSymbols>();
    for (const CGFloat page : {0.0, 1.0, 2.0}) {
        model->currentView = page;
        drawCanvas(*model);
    }
    const std::set<std::string> all{"split",      "ranges", "controls", "knobUni", "knobBiDi",
                                    "modeButton", "slide",  "slide2",   "hotspots"};
    EXPECT_EQ(model->called, all);
    // The hotspots were drawn by the override, which lays down none.
    EXPECT_TRUE(model->hotspotSizePath->isEmpty());
    // An owner of the base deletes the whole derived model (the sanitizer build checks).
    std::unique_ptr<V> owner = std::move(model);
}
