#include <string>
#include <vector>

#include "EditorFixture.h"
#include "tests/support/StdoutCapture.h"

using editor::Editor;
using editor::Reports;
using Model = OrvoHaldenViewBase;
using Events = std::vector<UIControlEvents>;

namespace {

// Hand-placed hotspots: a strip with a gap at x 140..150, panel paths that
// overlap the strip and the pages, and one page spot shared by all pages.
void layOut(Editor& e) {
    e.place(&Model::hotspotMultiPath, {20, 70, 640, 56});
    e.place(&Model::hotspotSplit1Path, {150, 0, 31, 42});  // strip coordinates from here
    e.place(&Model::hotspotSplit2Path, {470, 0, 31, 42});
    e.place(&Model::hotspotRangeLPPath, {20, 0, 120, 56});
    e.place(&Model::hotspotRangeBPPath, {150, 0, 351, 56});
    e.place(&Model::hotspotRangeHPPath, {501, 0, 159, 56});
    e.place(&Model::hotspotCaption1Path, {20, 70, 50, 100});  // under the strip
    e.place(&Model::hotspotActiveLPPath, {20, 140, 20, 20});
    e.place(&Model::hotspotActiveBPPath, {50, 140, 20, 20});
    e.place(&Model::hotspotActiveHPPath, {80, 140, 20, 20});
    e.place(&Model::hotspotButtonAllpassPath, {110, 140, 40, 20});
    e.place(&Model::hotspotButtonMultibandPath, {160, 140, 40, 20});
    e.place(&Model::hotspotButtonMainViewPath, {220, 140, 40, 20});
    e.place(&Model::hotspotButtonDelaysViewPath, {270, 140, 40, 20});
    e.place(&Model::hotspotButtonShiftersViewPath, {320, 140, 40, 20});
    e.place(&Model::hotspotMainPath, {20, 182, 640, 188});
    e.place(&Model::hotspotSizePath, {20, 300, 100, 100});  // over the display box
    e.place(&Model::hotspotFreezePath, {400, 400, 40, 20});
    e.place(&Model::hotspotModelPath, {500, 400, 80, 20});
    e.place(&Model::hotspotPreDelayOnOffPath, {400, 400, 40, 20});
    e.place(&Model::hotspotPreDelayDivisionPath, {500, 400, 80, 20});
    e.place(&Model::hotspotShifterOnOffPath, {400, 400, 40, 20});
    e.place(&Model::hotspotShifterModePath, {500, 400, 80, 20});
}

constexpr CGPoint kGap{145, 90}, kSplit1Handle{160, 80}, kLP{30, 100}, kBP{300, 100}, kHP{600, 100};
constexpr CGPoint kActiveBP{55, 145}, kAllpass{115, 145}, kMultiband{165, 145};
constexpr CGPoint kDelaysView{275, 145}, kDisplayOnly{400, 250}, kSizeOverDisplay{50, 320}, kShared{405, 405},
    kSelector{505, 405};

// One touch-down and touch-up, returning the printed hotspot name.
std::string tap(Editor& e, CGPoint p) {
    testkit::StdoutCapture capture;
    e.down(p);
    const std::string printed = capture.finish();
    e.up(p);
    return printed;
}

}  // namespace

TEST(EditorHitTest, StripBeforePanelAndThePageShownAboveBoth) {
    struct Case {
        double page;
        CGPoint point;
        const char* name;
    };
    const Case cases[] = {
        {0, kGap, "control"},          {0, kSplit1Handle, "split1"},      {0, kLP, "range_lp"},   // caption1 lies under kLP
        {0, kBP, "range_bp"},          {0, kHP, "range_hp"},        {0, {25, 150}, "active_lp"},
        {0, kSizeOverDisplay, "size"}, {1, kSizeOverDisplay, "main"}, {2, kSizeOverDisplay, "main"},
        {0, kShared, "freeze"},        {1, kShared, "predelay_onoff"}, {2, kShared, "shifter_onoff"},
        {0.5, kShared, ""},            {0.5, kDisplayOnly, "main"},    {0, {5, 5}, ""},
    };
    for (const Case& c : cases) {
        Editor e;
        layOut(e);
        e.model().currentView = c.page;
        EXPECT_EQ(tap(e, c.point), std::string(c.name) + "\n") << c.page << " " << c.name;
    }
}

TEST(EditorHitTest, NothingIsHitWithoutAUsableScaleOrController) {
    Editor undrawn(1, false);  // the canvas has no scale yet
    layOut(undrawn);
    undrawn.controller->touchesLocked = true;
    EXPECT_EQ(tap(undrawn, kBP), "\n");
    EXPECT_FALSE(undrawn.controller->touchesLocked);
    EXPECT_TRUE(undrawn.takeReports().empty());

    Editor lonely;
    layOut(lonely);
    lonely.view->setDelegate({});
    EXPECT_EQ(tap(lonely, kBP), "");  // not even the name
    EXPECT_EQ(lonely.model().currentMode, 2);
}

TEST(EditorTouchDown, SwitchesLampsBandsAndPagesReportAtOnce) {
    struct Step {
        CGPoint point;
        Reports reports;
    };
    Editor e;
    layOut(e);
    e.view->setParameter(39, 0);     // band 1 freeze off
    e.view->setParameter(38 + 3, 0.3f);  // band 3 freeze at a fraction
    const Step steps[] = {
        {kActiveBP, {{6, 0}}}, {kActiveBP, {{6, 1}}}, {kLP, {{2, 1}}},     {kShared, {{39, 1}}},
        {kShared, {{39, 0}}},  {kAllpass, {{2, 0}}},  {kMultiband, {{2, 1}}}, {kHP, {{2, 3}}},
        {kShared, {{41, 0}}},  {kAllpass, {{2, 0}}},  {kAllpass, {{2, 0}}},    {kMultiband, {{2, 2}}},
        {kGap, {}},            {kDelaysView, {}},     {kShared, {{56, 1}}},
    };
    int i = 0;
    for (const Step& s : steps) {
        e.model().isRangeActive[0] = false;
        e.down(s.point);
        EXPECT_TRUE(e.controller->touchesLocked) << "step " << i;
        EXPECT_EQ(e.takeReports(), s.reports) << "step " << i;
        EXPECT_EQ(e.takeEvents(), (Events{UIControlEvent::touchDown})) << "step " << i;
        e.up();
        EXPECT_FALSE(e.controller->touchesLocked);
        e.takeEvents();
        ++i;
    }
    EXPECT_EQ(e.model().currentMode, 2);
    EXPECT_FALSE(e.model().isAllpass);
    EXPECT_EQ(e.model().isRangeSelected, (std::array<bool, 4>{false, false, false, true}));  // from the strip only
    EXPECT_EQ(e.model().currentView, 1);
    EXPECT_EQ(e.view->lastCurrentMode(), 0);
}

TEST(EditorTouchDown, GrabbingRaisesTheHighlightAndKeepsTheNormalisedStart) {
    Editor e;
    layOut(e);
    e.view->setParameter(46 + 2, 3);
    e.down(kSelector);
    EXPECT_TRUE(e.model().isModelActive);
    EXPECT_EQ(e.view->startValue(), 0.75);
    e.cancel();
    e.model().currentView = 1;
    e.view->setParameter(62 + 2, 9);
    e.down(kSelector);
    EXPECT_EQ(e.view->startValue(), 9.0 / 19);
    e.up();
    e.takeReports();
    e.down(kBP);  // the middle band keeps both splits for its drag
    EXPECT_EQ(e.view->startValue(), 0.25);
    EXPECT_EQ(e.view->startValue2(), 0.75);
    EXPECT_EQ(e.model().isRangeSelected, (std::array<bool, 4>{false, false, true, false}));
    EXPECT_TRUE(e.takeReports() == (Reports{{2, 2}}));
}

TEST(EditorTouchDown, DisplayReadoutNamesTheKeyUnderTheFinger) {
    Editor e;
    layOut(e);
    e.down({340, 276});
    // Without a unit the crosshair moves and the text stays.
    EXPECT_EQ(e.model().valueHorizontal, 0.5);
    EXPECT_EQ(e.model().valueVertical, 0.5);
    EXPECT_EQ(e.model().labelDisplay, "display\nline\n000");
    EXPECT_TRUE(e.takeReports().empty());
}
