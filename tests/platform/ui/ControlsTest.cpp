#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/ui/UIButton.h"
#include "platform/ui/UISlider.h"
#include "platform/ui/UIWindow.h"

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
