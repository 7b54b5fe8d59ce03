#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/graphics/ImageSurface.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UISlider.h"
#include "platform/ui/UIWindow.h"
#include "tests/support/PixelProbe.h"

namespace {

TEST(UIControls, ButtonsAndSlidersSendTheirEvents) {
    auto window = std::make_shared<UIWindow>(CGRect(0, 0, 300, 100));
    auto button = std::make_shared<UIButton>(CGRect(0, 0, 100, 40));
    auto slider = std::make_shared<UISlider>(CGRect(100, 0, 200, 40));
    window->addSubview(button);
    window->addSubview(slider);
    std::vector<UIControlEvents> buttonEvents, sliderEvents;
    button->addTarget(nullptr, [&](UIControl&, UIControlEvents e) { buttonEvents.push_back(e); },
                      UIControlEvent::touchUpInside | UIControlEvent::touchUpOutside);
    slider->addTarget(nullptr, [&](UIControl&, UIControlEvents e) { sliderEvents.push_back(e); },
                      UIControlEvent::valueChanged);

    window->touchUp(window->touchDown({50, 20}));
    window->touchUp(window->touchDown({50, 20}), {250, 90});
    EXPECT_EQ(buttonEvents, (std::vector<UIControlEvents>{UIControlEvent::touchUpInside, UIControlEvent::touchUpOutside}));

    slider->setRange(2, -2);  // upside down: turned round
    const auto touch = window->touchDown({150, 20});
    EXPECT_FLOAT_EQ(slider->value(), -1.0f);
    window->touchMove(touch, {400, 20});
    EXPECT_FLOAT_EQ(slider->value(), 2.0f);
    window->touchUp(touch);
    EXPECT_EQ(sliderEvents.size(), 2u);
    slider->setValue(9);
    EXPECT_FLOAT_EQ(slider->value(), 2.0f);
}

}  // namespace

namespace {

TEST(UIControls, ASliderDrawsItsTrackFilledUpToTheValueAndItsThumbThere) {
    const UIColor filled{0.2, 0.5, 0.9, 1}, rest{0.4, 0.4, 0.4, 1}, thumb{1, 1, 1, 1};
    for (const float value : {0.25f, 0.75f}) {
        SCOPED_TRACE(value);
        UISlider slider(CGRect(0, 0, 200, 20));
        slider.minimumTrackTintColor = filled;
        slider.maximumTrackTintColor = rest;
        slider.thumbTintColor = thumb;
        slider.setValue(value);
        ImageSurface picture({200, 20});
        picture.fill(UIColor::black());
        picture.draw([&](CGContext& c) { slider.render(c); });
        const CGFloat at = 200 * value;
        EXPECT_TRUE(testkit::pixelNear(picture, {at - 20, 10}, testkit::overWhite({filled})));
        EXPECT_TRUE(testkit::pixelNear(picture, {at + 20, 10}, testkit::overWhite({rest})));
        EXPECT_TRUE(testkit::pixelNear(picture, {at, 10}, testkit::overWhite({thumb})));
        EXPECT_TRUE(testkit::pixelNear(picture, {at - 20, 1}, testkit::overWhite({UIColor::black()})));
    }
}

}  // namespace
