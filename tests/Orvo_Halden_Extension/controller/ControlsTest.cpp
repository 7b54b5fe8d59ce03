#include "Orvo_Halden_Extension/PluginFrameEx.h"
#include "Orvo_Halden_Extension/ChromaticLinesView.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UISlider.h"
#include "tests/Orvo_Halden_Extension/controller/Session.h"
#include "tests/support/PixelProbe.h"

namespace controller {
namespace {

// The controls as the user reaches them: through touches on the storyboard's views.
class Controls : public ::testing::Test {
protected:
    void SetUp() override {
        s.show();
        c.contrastButton->setHidden(false);
        c.freezeButton->setHidden(false);
    }
    void tap(const UIView& view) {
        const CGRect f = view.frame();
        const auto touch = s.window->touchDown({f.midX(), f.midY()});
        s.window->touchUp(touch);
    }
    void slideTo(double fraction) {
        const CGRect f = c.brightnessSlider->frame();
        const auto touch = s.window->touchDown({f.minX() + fraction * f.width(), f.midY()});
        s.window->touchUp(touch);
    }

    Session s;
    AudioUnitViewController& c = *s.controller;
};

TEST_F(Controls, TheContrastButtonShowsAndHidesTheSlider) {
    ASSERT_TRUE(c.brightnessSlider->isHidden());
    tap(*c.contrastButton);
    EXPECT_FALSE(c.brightnessSlider->isHidden());
    EXPECT_EQ(c.contrastButton->alpha(), 1.0);
    EXPECT_TRUE(c.touchesLocked());
    tap(*c.contrastButton);
    EXPECT_TRUE(c.brightnessSlider->isHidden());
    EXPECT_EQ(c.contrastButton->alpha(), 0.5);
    EXPECT_FALSE(c.touchesLocked());
}

TEST_F(Controls, TheSliderSetsThePlateAndTheEditorContrast) {
    tap(*c.contrastButton);
    for (const double v : {0.0, 0.5, 0.75}) {
        c.pluginFrame->setNeedsDisplay();
        s.window->displayIfNeeded();
        c.setTouchesLocked(false);
        slideTo(v);
        EXPECT_FLOAT_EQ(c.pluginFrame->contrast, v);
        EXPECT_TRUE(c.pluginFrame->needsDisplay());
        EXPECT_FLOAT_EQ(s.model().colorContrast.red, 1 - v);
        EXPECT_FLOAT_EQ(s.model().colorContrastInverted.red, v);
        EXPECT_TRUE(c.touchesLocked());
    }
}

TEST_F(Controls, TheFreezeButtonTogglesMovingAndZooming) {
    ASSERT_FALSE(c.isSizeable());
    tap(*c.freezeButton);
    EXPECT_TRUE(c.isSizeable());
    EXPECT_EQ(c.freezeButton->alpha(), 0.5);
    tap(*c.freezeButton);
    EXPECT_FALSE(c.isSizeable());
    EXPECT_EQ(c.freezeButton->alpha(), 1.0);
}

}  // namespace
}  // namespace controller

namespace controller {
namespace {

TEST(EditorPicture, APassShowsThePlateAtTheSlidersBrightnessAndTheSpectrumInTheDisplayBox) {
    Session s;
    s.show();
    s.createUnit();
    s.drain();
    const auto picture = testkit::renderOverWhite({680, 600}, 2, [&](CGContext& context) {
        s.window->render(context);
    });
    const float brightness = s.controller->brightnessSlider->value();
    const auto plate = testkit::overWhite({UIColor{brightness, brightness, brightness, 1}});
    EXPECT_TRUE(testkit::pixelNear(*picture, {10, 300}, plate)) << "beside the display box";
    EXPECT_TRUE(testkit::pixelNear(*picture, {1, 300}, testkit::overWhite({UIColor::black()}))) << "root behind the margin";
    // A silent unit: every band a full-height line, the first at the box's left edge.
    const CGRect box = s.controller->spectroView->frame();
    const CGFloat scale = box.width() / 512;
    const CGFloat top = box.midY() - 64 * scale;
    EXPECT_TRUE(testkit::pixelNear(*picture, {box.minX() + 8 * scale + 0.1, top + 10},
                                   testkit::overWhite({SpectroViewBase().colorEmphasize})));
}

}  // namespace
}  // namespace controller
