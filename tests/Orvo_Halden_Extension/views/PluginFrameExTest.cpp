#include <gtest/gtest.h>

#include "Orvo_Halden_Extension/PluginFrameEx.h"
#include "platform/graphics/UIBezierPath.h"
#include "tests/support/PixelProbe.h"

namespace {

using testkit::pixelNear;

TEST(PluginFrameEx, FillsAGreyRoundedPlateInsetTwoPoints) {
    const UIColor backdrop{1, 0, 0, 1};
    for (const float contrast : {0.0f, 0.5f, 1.0f}) {
        PluginFrameEx frame({0, 0, 300, 200});
        frame.contrast = contrast;
        const auto picture = testkit::renderOverWhite({300, 200}, 2, [&](CGContext&) {
            backdrop.setFill();
            UIBezierPath::rect({0, 0, 300, 200})->fill();
            frame.draw(frame.bounds());
        });
        const auto grey = testkit::overWhite({UIColor{contrast, contrast, contrast, 1}});
        const auto margin = testkit::overWhite({backdrop});
        for (const CGPoint inside : {CGPoint{150, 100}, CGPoint{2.25, 100}, CGPoint{297.75, 100}, CGPoint{150, 197.75}})
            EXPECT_TRUE(pixelNear(*picture, inside, grey)) << contrast;
        for (const CGPoint outside : {CGPoint{1.75, 100}, CGPoint{150, 0.25}, CGPoint{298.25, 199.75}, CGPoint{2.25, 2.25}})
            EXPECT_TRUE(pixelNear(*picture, outside, margin)) << contrast << " margin";
    }
}

TEST(PluginFrameEx, IsWhiteUntilTheSliderIsApplied) {
    PluginFrameEx frame({0, 0, 100, 100});
    const auto picture = testkit::renderOverWhite({100, 100}, 1, [&](CGContext&) {
        UIColor::black().setFill();
        UIBezierPath::rect({0, 0, 100, 100})->fill();
        frame.draw(frame.bounds());
    });
    EXPECT_TRUE(pixelNear(*picture, {50, 50}, testkit::overWhite({})));
}

}  // namespace
