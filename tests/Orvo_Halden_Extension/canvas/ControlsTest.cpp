#include <gtest/gtest.h>

#include "tests/Orvo_Halden_Extension/canvas/CanvasPicture.h"

namespace {

using namespace canvastest;
using testkit::overWhite;
using testkit::pixelNear;

// Points in canvas design points; the controls area starts at y 160.
struct LampCase {
    CGFloat value;
    bool lit;
};

class DelayLamps : public ::testing::TestWithParam<std::tuple<CGFloat, LampCase>> {};

TEST_P(DelayLamps, LightOnlyAtExactlyOne) {
    const auto [scale, c] = GetParam();
    V model;
    model.currentView = 1;
    model.currentMode = 1;
    model.valuePreDelayOn[1] = c.value;
    model.valuePostDelayOn[1] = c.value;
    const auto surface = drawCanvas(model, scale);
    const UIColor backdrop = model.colorEmphasizeSoft();
    const auto expected = overWhite({backdrop, c.lit ? model.colorEmphasize : model.colorContrastFaint()});
    EXPECT_TRUE(pixelNear(*surface, {58, 474}, expected));
    EXPECT_TRUE(pixelNear(*surface, {623, 474}, expected));
}

INSTANTIATE_TEST_SUITE_P(Values, DelayLamps,
                         ::testing::Combine(::testing::Values(1.0, 2.0),
                                            ::testing::Values(LampCase{1, true}, LampCase{0, false},
                                                              LampCase{0.5, false}, LampCase{2, false})));

TEST(DelayLamps, ShowTheEntryOfTheBandShown) {
    V model;
    model.currentView = 1;
    model.valuePreDelayOn = {1, 1, 0, 1};
    const auto surface = drawCanvas(model);
    EXPECT_TRUE(
        pixelNear(*surface, {58, 474}, overWhite({model.colorEmphasizeSoft(), model.colorContrastFaint()})));
}

TEST(ShifterLamp, LightsOnlyAtExactlyOne) {
    V model;
    model.currentView = 2;
    for (const LampCase c : {LampCase{1, true}, LampCase{0.5, false}, LampCase{2, false}}) {
        model.valueShifterOn[2] = c.value;
        const auto surface = drawCanvas(model);
        EXPECT_TRUE(pixelNear(*surface, {54, 426},
                              overWhite({model.colorEmphasizeSoft(),
                                         c.lit ? model.colorEmphasize : model.colorContrastFaint()})))
            << "switch " << c.value;
    }
}

class HeldControls : public ::testing::TestWithParam<CGFloat> {};

// A held knob is drawn twice its size about its centre: its ring (radius
// 30) then passes 60 above the centre, in the held colour.
TEST_P(HeldControls, KnobRingDoubles) {
    V model;
    const UIColor backdrop = model.colorEmphasizeSoft();
    EXPECT_TRUE(pixelNear(*drawCanvas(model, GetParam()), {140, 409}, overWhite({backdrop})));
    model.isSizeActive = true;
    EXPECT_TRUE(
        pixelNear(*drawCanvas(model, GetParam()), {140, 409}, overWhite({backdrop, model.colorEmphasize})));
}

// The button of the page shown is twice its size: its outline moves out to
// x 10 and its tinted body reaches x 28.
TEST_P(HeldControls, PageButtonOfThePageShownDoubles) {
    V model;
    const UIColor backdrop = model.colorEmphasizeSoft();
    const auto shown = drawCanvas(model, GetParam());
    EXPECT_TRUE(pixelNear(*shown, {10, 547}, overWhite({model.colorContrast})));
    EXPECT_TRUE(pixelNear(*shown, {28, 547}, overWhite({backdrop, model.colorEmphasizeFaint()})));

    model.currentView = 1;
    const auto other = drawCanvas(model, GetParam());
    EXPECT_TRUE(pixelNear(*other, {10, 547}, overWhite({})));
    EXPECT_TRUE(pixelNear(*other, {28, 547}, overWhite({backdrop})));
}

INSTANTIATE_TEST_SUITE_P(Scales, HeldControls, ::testing::Values(1.0, 2.0));

// Unlike a lamp, freeze shows selected for any value but zero.
TEST(FreezeButton, SelectedForAnyNonZeroValue) {
    V model;
    const UIColor backdrop = model.colorEmphasizeSoft();
    for (const LampCase c :
         {LampCase{0, false}, LampCase{0.5, true}, LampCase{-1, true}, LampCase{1, true}}) {
        model.valueFreeze[2] = c.value;
        const auto expected =
            c.lit ? overWhite({backdrop, model.colorEmphasizeFaint()}) : overWhite({backdrop});
        EXPECT_TRUE(pixelNear(*drawCanvas(model), {310, 417}, expected)) << "freeze " << c.value;
    }
}

TEST(ControlsArea, APageValueBetweenPagesShowsNoPage) {
    for (CGFloat page : {0.5, 3.0, -1.0}) {
        V model;
        model.currentView = page;
        const auto surface = drawCanvas(model);
        // Where the size knob, the pre-delay selector or the shifter mode
        // selector would be: only the backdrop.
        EXPECT_EQ(pixelsOtherThan(*surface, {95, 425, 40, 40}, overWhite({model.colorEmphasizeSoft()}), 1), 0)
            << "page " << page;
        // No page button is magnified or tinted.
        EXPECT_TRUE(pixelNear(*surface, {10, 547}, overWhite({})));
    }
}

// The readout's three lines need a little more than the 42 points given to
// them in the fonts we ship: the last line is cut at the box, not dropped.
TEST(DisplayBox, LastLineIsClippedNotDropped) {
    V model;
    model.isCrossVisible = false;
    model.labelDisplay = "display\nline\nqgjpy";
    const auto surface = drawCanvas(model, 2);
    const auto fill = overWhite({model.colorEmphasizeFaint()});
    EXPECT_GT(pixelsOtherThan(*surface, {420, 256, 192, 12.5}, fill, 64), 20);
    EXPECT_EQ(pixelsOtherThan(*surface, {410, 269, 209, 8.5}, fill, 1), 0);
}

} // namespace
