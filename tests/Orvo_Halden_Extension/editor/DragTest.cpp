#include <string>
#include <vector>

#include "EditorFixture.h"
#include "Orvo_Halden_Extension/Orvo_Halden_Extension_AudioUnit.h"

using editor::Editor;
using editor::Reports;
using Model = OrvoHaldenViewBase;
using Events = std::vector<UIControlEvents>;

namespace {

// The band strip with a handle and its middle band, and the display box.
constexpr CGPoint kSpot{250, 385};  // where the canvas itself lays no hotspot
constexpr CGPoint kSplit1Handle{160, 80}, kBP{300, 100};

void layOut(Editor& e) {
    e.place(&Model::hotspotMultiPath, {20, 70, 640, 56});
    e.place(&Model::hotspotSplit1Path, {150, 0, 31, 42});
    e.place(&Model::hotspotRangeBPPath, {181, 0, 289, 56});
    e.place(&Model::hotspotMainPath, {20, 182, 640, 188});
}

// Grabs the control at kSpot on a fresh editor, then moves by view points
// (x right, y down) and gives the reports of the moves.
struct Drag {
    std::shared_ptr<UIBezierPath> Model::*path;
    double page;
    CGFloat scale;
    std::vector<CGPoint> moves;  // view points from the touch-down point
    Reports reports;
    Reports atTouchUp;
};

}  // namespace

TEST(EditorDrag, TheLawOverScalesAndSensitivities) {
    const Drag drags[] = {
        // 300 view points up raise a continuous control by 0.5 at scale 1, 75 at scale 0.5, 1200 at scale 2.
        {&Model::hotspotSizePath, 0, 1, {{0, -300}}, {{28, 1.0f}}, {{28, 1.0f}}},
        {&Model::hotspotSizePath, 0, 0.5, {{0, -75}, {0, -37.5}}, {{28, 1.0f}, {28, 0.75f}}, {{28, 0.75f}}},
        {&Model::hotspotSizePath, 0, 2, {{0, -1200}, {-600, 0}, {0, 0}}, {{28, 1.0f}, {28, 0.25f}, {28, 0.5f}},
         {{28, 0.5f}}},
        // Left and down lower it; the drag is measured from touch-down, never from the last move.
        {&Model::hotspotSizePath, 0, 1, {{-150, 0}, {0, 150}, {-150, 150}}, {{28, 0.25f}, {28, 0.25f}, {28, 0}},
         {{28, 0}}},
        // The model: K 150, nothing reported until touch-up, which sends the whole part of 4 × v.
        {&Model::hotspotModelPath, 0, 1, {{0, -150}, {0, -149}}, {}, {{48, 2}}},
        {&Model::hotspotModelPath, 0, 1, {{0, -150}, {0, -300}}, {}, {{48, 4}}},
        // Tempo: whole BPM, 240 at the top and 0 at the bottom.
        {&Model::hotspotPreDelayTempoPath, 1, 1, {{0, -300}, {0, 300}, {0, -1}}, {{60, 240}, {60, 0}, {60, 120}},
         {{60, 120}}},
        // Division from 0: 18 just below the top, 19 only at exactly 1.
        {&Model::hotspotPreDelayDivisionPath, 1, 1, {{0, -590}, {0, -600}, {0, -9000}}, {{64, 18}, {64, 19}, {64, 19}},
         {{64, 19}}},
        // Connection from 0, K 100: 1 only once the drag saturates.
        {&Model::hotspotShifterConnectionPath, 2, 1, {{0, -199}, {0, -200}}, {{108, 0}, {108, 1}}, {{108, 1}}},
    };
    for (const Drag& d : drags) {
        Editor e(d.scale);
        layOut(e);
        e.place(d.path, {200, 375, 100, 20});
        e.model().currentView = d.page;
        e.view->setParameter(28, 0.5f);
        e.view->setParameter(48, 1);
        e.view->setParameter(64, 0);
        e.view->setParameter(108, 0);
        e.down(kSpot);
        for (const CGPoint& m : d.moves)
            e.move({kSpot.x + m.x / d.scale, kSpot.y + m.y / d.scale});
        const CGPoint last = d.moves.back();
        EXPECT_EQ(e.takeReports(), d.reports) << "scale " << d.scale << " first move " << d.moves[0].y;
        e.up({kSpot.x + last.x / d.scale, kSpot.y + last.y / d.scale});
        EXPECT_EQ(e.takeReports(), d.atTouchUp) << "scale " << d.scale << " first move " << d.moves[0].y;
    }
}

TEST(EditorDrag, SaturatesAtTheEndsAndEveryMoveRedrawsAndSendsValueChanged) {
    Editor e;
    layOut(e);
    e.place(&Model::hotspotSizePath, {200, 375, 100, 20});
    e.view->setParameter(28, 0.8f);
    e.down(kSpot);
    EXPECT_TRUE(e.model().isSizeActive);
    e.view->displayIfNeeded();  // lays down the canvas's own paths; the grab stays
    e.move({kSpot.x, kSpot.y - 600});
    EXPECT_TRUE(e.view->needsDisplay());
    EXPECT_EQ(e.takeReports(), (Reports{{28, 1.0f}}));
    e.up();
    EXPECT_FALSE(e.model().isSizeActive);
    EXPECT_EQ(e.view->hotspotMode(), "");
    EXPECT_EQ(e.takeEvents(), (Events{UIControlEvent::touchDown, UIControlEvent::valueChanged,
                                      UIControlEvent::valueChanged, UIControlEvent::touchUpInside}));

    // A switch changes at touch-down only; moving on it changes nothing but still redraws.
    e.place(&Model::hotspotFreezePath, {200, 375, 100, 20});
    e.place(&Model::hotspotSizePath, {});
    e.down(kSpot);
    e.takeReports();
    e.move({kSpot.x, kSpot.y - 300});
    EXPECT_TRUE(e.takeReports().empty());
    EXPECT_EQ(e.takeEvents(), (Events{UIControlEvent::touchDown, UIControlEvent::valueChanged}));
    e.cancel();
}

TEST(EditorDrag, SplitHandlesStopAtEachOtherAndTheMiddleBandMovesBoth) {
    Editor e;
    layOut(e);
    e.down(kSplit1Handle);
    EXPECT_TRUE(e.takeReports().empty());
    e.move({kSplit1Handle.x, kSplit1Handle.y - 600});  // past the upper split: lands on it
    e.move({kSplit1Handle.x, kSplit1Handle.y - 700});  // both equal: stopped
    e.move({kSplit1Handle.x, kSplit1Handle.y + 60});   // back down works
    EXPECT_EQ(e.takeReports(), (Reports{{3, 0.75f}, {3, 0.15f}}));
    EXPECT_EQ(e.takeEvents().size(), 4u);  // touch-down and three value-changed, the stopped one too
    e.up({kSplit1Handle.x, kSplit1Handle.y + 60});
    e.takeReports();

    // The host may leave the splits crossed; a drag puts them in order.
    e.view->setParameter(3, 0.8f);
    e.view->setParameter(4, 0.3f);
    e.down(kSplit1Handle);
    e.move({kSplit1Handle.x, kSplit1Handle.y + 30});
    EXPECT_EQ(e.takeReports(), (Reports{{3, 0.3f}}));
    e.up();
    e.takeReports();

    // The middle band to the top: the upper split stays at 1, the lower follows up to it.
    e.view->setParameter(3, 0.25f);
    e.view->setParameter(4, 0.75f);
    e.down(kBP);
    EXPECT_EQ(e.takeReports(), (Reports{{2, 2}}));
    for (CGFloat up : {300, 450, 600})
        e.move({kBP.x, kBP.y - up});
    EXPECT_EQ(e.takeReports(), (Reports{{3, 0.75f}, {4, 1}, {3, 1}, {4, 1}, {3, 1}, {4, 1}}));
    e.up();
    // Met in the middle, the lower split stops and the upper is not touched.
    e.view->setParameter(3, 0.5f);
    e.view->setParameter(4, 0.5f);
    e.takeReports();
    e.down(kBP);
    e.move({kBP.x, kBP.y - 100});
    EXPECT_EQ(e.takeReports(), (Reports{{2, 2}}));
}

TEST(EditorTouchUp, InsideOrOutsideByTheTouchDownPointAndCancelKeepsTheGrab) {
    // Beside every hotspot: nothing changes, the lock goes, the stored point decides.
    Editor e;
    layOut(e);
    e.down({5, 5});
    e.controller->touchesLocked = true;
    e.up({600, 590});
    EXPECT_FALSE(e.controller->touchesLocked);
    EXPECT_EQ(e.takeEvents(), (Events{UIControlEvent::touchUpInside}));

    // Below scale 1 the design point of a touch in the view's right half lies beyond its bounds.
    Editor half(0.5);
    layOut(half);
    half.down({600, 500});
    half.up();
    EXPECT_EQ(half.takeEvents(), (Events{UIControlEvent::touchUpOutside}));

    e.place(&Model::hotspotSizePath, {200, 375, 100, 20});
    e.down(kSpot);
    e.move({kSpot.x, kSpot.y - 60});
    e.cancel();
    EXPECT_EQ(e.takeReports(), (Reports{{28, 0.6f}}));
    EXPECT_NEAR(e.model().valueSize[2], 0.6, 1e-6);
    EXPECT_TRUE(e.model().isSizeActive);
    EXPECT_EQ(e.view->hotspotMode(), "size");
    EXPECT_FALSE(e.controller->touchesLocked);
    EXPECT_EQ(e.takeEvents(), (Events{UIControlEvent::touchDown, UIControlEvent::valueChanged,
                                      UIControlEvent::touchCancel}));
}

TEST(EditorTouchUp, WithoutDelegateOrControllerNothingIsReported) {
    Editor e;
    layOut(e);
    e.place(&Model::hotspotModelPath, {200, 375, 100, 20});
    e.down(kSpot);
    e.move({kSpot.x, kSpot.y - 300});
    e.view->setDelegate({});  // the owner went away mid-drag
    e.up();
    EXPECT_FALSE(e.model().isModelActive);
    EXPECT_EQ(e.view->hotspotMode(), "");
    EXPECT_EQ(e.takeEvents().back(), UIControlEvent::touchUpInside);

    e.view->setViewController({});
    e.down(kSpot);
    e.up();
    e.cancel();
    EXPECT_TRUE(e.takeEvents().empty());
}

TEST(EditorReadout, FrequencyAndKeyOfTheFingerInTheDisplay) {
    Editor e;
    layOut(e);
    e.controller->unit = Orvo_Halden_Extension_AudioUnit::make(Orvo_Halden_Extension_AudioUnit::kComponentDescription);
    e.down({340, 276});
    EXPECT_EQ(e.model().labelDisplay, "Frequency: 311.12698 Hz\nMIDI Key: 63 (D#3)");
    e.move({0, 0});  // beyond the top left: the first key, which has no tone
    EXPECT_EQ(e.model().valueHorizontal, 0);
    EXPECT_EQ(e.model().valueVertical, 0);
    EXPECT_EQ(e.model().labelDisplay, "Frequency: 0.0 Hz\nMIDI Key: 0 (C-2)");
    e.move({660, 400});
    EXPECT_EQ(e.model().labelDisplay, "Frequency: 12543.854 Hz\nMIDI Key: 127 (G8)");
    e.up();
    EXPECT_TRUE(e.takeReports().empty());
}
