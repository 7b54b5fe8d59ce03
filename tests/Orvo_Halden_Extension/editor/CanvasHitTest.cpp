#include <string>

#include "EditorFixture.h"
#include "tests/support/StdoutCapture.h"

using editor::Editor;
using Model = OrvoHaldenViewBase;

// The editor drawn at 2x by its display pass: a touch at the centre of every
// hotspot the canvas lays down for a page names that hotspot's control.
TEST(EditorCanvasHitTest, TheCentreOfEveryHotspotNamesItsControl) {
    struct Spot {
        double page;
        const char* name;
        std::shared_ptr<UIBezierPath> Model::*path;
    };
    const Spot spots[] = {
        // The band strip's middle lies on the middle band's range, laid by the strip's own drawing.
        {0, "range_bp", &Model::hotspotMultiPath},
        {0, "active_lp", &Model::hotspotActiveLPPath},
        {0, "active_bp", &Model::hotspotActiveBPPath},
        {0, "active_hp", &Model::hotspotActiveHPPath},
        {0, "caption2", &Model::hotspotCaption2Path},
        {0, "allpass", &Model::hotspotButtonAllpassPath},
        {0, "multiband", &Model::hotspotButtonMultibandPath},
        {0, "caption1", &Model::hotspotCaption1Path},
        {0, "main", &Model::hotspotMainPath},
        {0, "main_view", &Model::hotspotButtonMainViewPath},
        {1, "delays_view", &Model::hotspotButtonDelaysViewPath},
        {2, "shifters_view", &Model::hotspotButtonShiftersViewPath},
        {0, "size", &Model::hotspotSizePath},
        {0, "damp", &Model::hotspotDampPath},
        {0, "dry", &Model::hotspotDryPath},
        {0, "wet", &Model::hotspotWetPath},
        {0, "width", &Model::hotspotWidthPath},
        {0, "input", &Model::hotspotInputPath},
        {0, "output", &Model::hotspotOutputPath},
        {0, "pan", &Model::hotspotPanPath},
        {0, "model", &Model::hotspotModelPath},
        {0, "freeze", &Model::hotspotFreezePath},
        {1, "predelay_onoff", &Model::hotspotPreDelayOnOffPath},
        {1, "predelay_tempo", &Model::hotspotPreDelayTempoPath},
        {1, "predelay_feedback", &Model::hotspotPreDelayFeedbackPath},
        {1, "predelay_division", &Model::hotspotPreDelayDivisionPath},
        {1, "postdelay_onoff", &Model::hotspotPostDelayOnOffPath},
        {1, "postdelay_tempo", &Model::hotspotPostDelayTempoPath},
        {1, "postdelay_feedback", &Model::hotspotPostDelayTFeedbackPath},
        {1, "postdelay_division", &Model::hotspotPostDelayDivisionPath},
        {2, "shifter_mode", &Model::hotspotShifterModePath},
        {2, "shifter_connection", &Model::hotspotShifterConnectionPath},
        {2, "shifter_onoff", &Model::hotspotShifterOnOffPath},
        {2, "shifter_amount", &Model::hotspotShifterAmountPath},
        {2, "shifter_mix", &Model::hotspotShifterMixPath},
    };
    for (const Spot& s : spots) {
        Editor e(2, false);
        e.model().currentView = s.page;
        ASSERT_EQ(e.view->displayIfNeeded(), 1u);
        const auto& path = e.model().*s.path;
        ASSERT_FALSE(path->isEmpty()) << s.name;
        const auto box = path->flattened().front();
        const CGPoint centre{(box[0].x + box[2].x) / 2, (box[0].y + box[2].y) / 2};
        testkit::StdoutCapture capture;
        e.down(centre);
        EXPECT_EQ(capture.finish(), std::string(s.name) + "\n") << "page " << s.page;
        EXPECT_TRUE(e.controller->touchesLocked) << s.name;
    }
    // In full-band mode the band strip is not there to touch.
    Editor e(2, false);
    e.model().isAllpass = true;
    e.view->displayIfNeeded();
    testkit::StdoutCapture capture;
    e.down({340, 98});
    EXPECT_EQ(capture.finish(), "\n");
}
