#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "Orvo_Halden_Extension/OrvoHaldenViewBase.h"
#include "tests/support/Geometry.h"

namespace {

using V = OrvoHaldenViewBase;

enum class Shown { always, mainPage, delaysPage, shiftersPage, multiband };

struct Spot {
    const char* name;
    V::Path V::*path;
    CGRect rect;
    Shown when;
};

// The canvas hit-test layout, in canvas design points.
const Spot kSpots[] = {
    {"main_view", &V::hotspotButtonMainViewPath, {49, 540, 78, 24}, Shown::always},
    {"delays_view", &V::hotspotButtonDelaysViewPath, {127, 540, 78, 24}, Shown::always},
    {"shifters_view", &V::hotspotButtonShiftersViewPath, {205, 540, 78, 24}, Shown::always},
    {"size", &V::hotspotSizePath, {90, 416, 100, 100}, Shown::mainPage},
    {"damp", &V::hotspotDampPath, {190, 416, 100, 100}, Shown::mainPage},
    {"dry", &V::hotspotDryPath, {290, 440, 100, 100}, Shown::mainPage},
    {"wet", &V::hotspotWetPath, {390, 416, 100, 100}, Shown::mainPage},
    {"width", &V::hotspotWidthPath, {490, 416, 100, 100}, Shown::mainPage},
    {"input", &V::hotspotInputPath, {33, 409, 50, 50}, Shown::mainPage},
    {"output", &V::hotspotOutputPath, {598, 409, 50, 50}, Shown::mainPage},
    {"freeze", &V::hotspotFreezePath, {301, 407, 80, 22}, Shown::mainPage},
    {"pan", &V::hotspotPanPath, {598, 504, 50, 50}, Shown::mainPage},
    {"model", &V::hotspotModelPath, {425, 527, 130, 39}, Shown::mainPage},
    {"postdelay_division", &V::hotspotPostDelayDivisionPath, {535, 400, 106, 50}, Shown::delaysPage},
    {"postdelay_feedback", &V::hotspotPostDelayTFeedbackPath, {447, 424, 100, 100}, Shown::delaysPage},
    {"postdelay_tempo", &V::hotspotPostDelayTempoPath, {347, 424, 100, 100}, Shown::delaysPage},
    {"postdelay_onoff", &V::hotspotPostDelayOnOffPath, {551, 460, 90, 29}, Shown::delaysPage},
    {"predelay_division", &V::hotspotPreDelayDivisionPath, {39, 400, 106, 50}, Shown::delaysPage},
    {"predelay_feedback", &V::hotspotPreDelayFeedbackPath, {234, 424, 100, 100}, Shown::delaysPage},
    {"predelay_tempo", &V::hotspotPreDelayTempoPath, {134, 424, 100, 100}, Shown::delaysPage},
    {"predelay_onoff", &V::hotspotPreDelayOnOffPath, {39, 460, 90, 29}, Shown::delaysPage},
    {"shifter_mode", &V::hotspotShifterModePath, {108, 444, 107, 51}, Shown::shiftersPage},
    {"shifter_connection", &V::hotspotShifterConnectionPath, {465, 444, 107, 51}, Shown::shiftersPage},
    {"shifter_onoff", &V::hotspotShifterOnOffPath, {42, 410, 70, 34}, Shown::shiftersPage},
    {"shifter_amount", &V::hotspotShifterAmountPath, {236, 417, 100, 100}, Shown::shiftersPage},
    {"shifter_mix", &V::hotspotShifterMixPath, {344, 417, 100, 100}, Shown::shiftersPage},
    {"active_lp", &V::hotspotActiveLPPath, {52, 131, 100, 20}, Shown::multiband},
    {"active_bp", &V::hotspotActiveBPPath, {290, 131, 100, 20}, Shown::multiband},
    {"active_hp", &V::hotspotActiveHPPath, {538, 131, 100, 20}, Shown::multiband},
    {"allpass", &V::hotspotButtonAllpassPath, {237, 28, 100, 24}, Shown::always},
    {"multiband", &V::hotspotButtonMultibandPath, {343, 29, 100, 24}, Shown::always},
    {"control", &V::hotspotMultiPath, {20, 70, 640, 56}, Shown::multiband},
    {"main", &V::hotspotMainPath, {20, 182, 640, 188}, Shown::always},
    {"caption2", &V::hotspotCaption2Path, {509, 19, 151, 42}, Shown::always},
    {"caption1", &V::hotspotCaption1Path, {20, 19, 81, 39}, Shown::always},
};

// The band strip lays these down itself; the hotspot pass leaves them alone.
V::Path V::*const kStripPaths[] = {&V::hotspotRangeLPPath, &V::hotspotRangeBPPath, &V::hotspotRangeHPPath,
                                   &V::hotspotSplit1Path, &V::hotspotSplit2Path};

bool isShown(Shown when, CGFloat currentView, bool isAllpass) {
    switch (when) {
    case Shown::always:
        return true;
    case Shown::mainPage:
        return currentView == 0;
    case Shown::delaysPage:
        return currentView == 1;
    case Shown::shiftersPage:
        return currentView == 2;
    case Shown::multiband:
        return !isAllpass;
    }
    return false;
}

} // namespace

TEST(Hotspots, NothingCanBeHitBeforeTheFirstPass) {
    const V model;
    std::vector<V::Path> paths;
    for (const Spot& spot : kSpots) paths.push_back(model.*spot.path);
    for (auto member : kStripPaths) paths.push_back(model.*member);
    ASSERT_EQ(paths.size(), 40u);
    for (const V::Path& path : paths) {
        EXPECT_TRUE(path->isEmpty());
        EXPECT_FALSE(path->contains({340, 300}));
    }
}

// Passes run one after another on the same model, so every row also checks
// that whatever an earlier pass laid down is replaced. The band switches
// follow the band mode: the full-band picture does not show them, and a touch
// there must not switch a band the user cannot see.
TEST(Hotspots, PageGroupsFollowThePageShownAndBandControlsTheBandMode) {
    V model;
    const auto stripBefore = model.hotspotSplit1Path;
    for (bool isAllpass : {false, true, false})
        for (CGFloat currentView : {0.0, 1.0, 2.0, 3.0, 0.5, -1.0, CGFloat(NAN), 0.0}) {
            SCOPED_TRACE(testing::Message() << "currentView " << currentView << ", isAllpass " << isAllpass);
            model.currentView = currentView;
            model.isAllpass = isAllpass;
            model.drawSymbolHotspots();
            for (const Spot& spot : kSpots) {
                const V::Path& path = model.*spot.path;
                if (isShown(spot.when, currentView, isAllpass))
                    EXPECT_EQ(testkit::rectangleOf(*path), spot.rect) << spot.name;
                else
                    EXPECT_TRUE(path->isEmpty()) << spot.name;
            }
        }
    EXPECT_EQ(model.hotspotSplit1Path, stripBefore);
}

TEST(Hotspots, EveryPassGivesEqualRectanglesInNewPathObjects) {
    V model;
    model.drawSymbolHotspots();
    std::vector<V::Path> first;
    for (const Spot& spot : kSpots) first.push_back(model.*spot.path);
    model.drawSymbolHotspots();
    for (std::size_t i = 0; i < std::size(kSpots); ++i) {
        const V::Path& again = model.*kSpots[i].path;
        EXPECT_NE(again, first[i]) << kSpots[i].name;
        EXPECT_EQ(testkit::rectangleOf(*again), testkit::rectangleOf(*first[i])) << kSpots[i].name;
    }
}

TEST(Hotspots, OnlyAFrameOtherThanTheCanvasPublishesAScale) {
    V model;
    OrvoHaldenViewScale = {3, 3};
    model.drawSymbolHotspots({0, 0, 680, 600}, V::ResizingBehavior1::stretch);
    EXPECT_EQ(OrvoHaldenViewScale, (CGSize{3, 3}));
    model.drawSymbolHotspots({0, 0, 1360, 600}, V::ResizingBehavior1::stretch);
    EXPECT_EQ(OrvoHaldenViewScale, (CGSize{2, 1}));
    // The rectangles stay in canvas design points whatever the frame.
    EXPECT_EQ(testkit::rectangleOf(*model.hotspotSizePath), CGRect(90, 416, 100, 100));
}
