#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/ImageSurface.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UISlider.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"
#include "tests/support/PixelProbe.h"

namespace {

// Records its lifecycle calls in order.
class Recorder : public UIViewController {
public:
    void loadView() override {
        calls.push_back("loadView");
        auto root = std::make_shared<UIView>(CGRect(0, 0, 100, 100));
        child = std::make_shared<Child>(CGRect(0, 0, 10, 10), calls);
        root->addSubview(child);
        setView(root);
    }
    void viewDidLoad() override { calls.push_back(view() ? "viewDidLoad" : "viewDidLoad without view"); }
    void viewDidLayoutSubviews() override { calls.push_back("viewDidLayoutSubviews"); }

    struct Child : UIView {
        Child(const CGRect& frame, std::vector<std::string>& log) : UIView(frame), calls(log) {}
        void layoutSubviews() override { calls.push_back("child layoutSubviews"); }
        std::vector<std::string>& calls;
    };
    std::vector<std::string> calls;
    std::shared_ptr<Child> child;
};

TEST(UIViewController, LoadsItsViewOnceOnFirstRequest) {
    auto controller = std::make_shared<Recorder>();
    EXPECT_FALSE(controller->isViewLoaded());
    EXPECT_EQ(controller->viewIfLoaded(), nullptr);
    const auto view = controller->view();
    EXPECT_EQ(controller->view(), view);
    EXPECT_TRUE(controller->isViewLoaded());
    EXPECT_EQ(controller->calls, (std::vector<std::string>{"loadView", "viewDidLoad"}));
}

TEST(UIViewController, HearsOfEachLayoutPassOfItsRootView) {
    auto controller = std::make_shared<Recorder>();
    const auto view = controller->view();
    controller->calls.clear();
    view->layoutIfNeeded();
    EXPECT_EQ(controller->calls, (std::vector<std::string>{"viewDidLayoutSubviews", "child layoutSubviews"}));

    controller->calls.clear();
    view->layoutIfNeeded();
    view->setFrame({0, 0, 100, 100});  // same size: nothing to lay out
    view->layoutIfNeeded();
    EXPECT_TRUE(controller->calls.empty());

    view->setFrame({0, 0, 200, 100});
    view->layoutIfNeeded();
    EXPECT_EQ(controller->calls, (std::vector<std::string>{"viewDidLayoutSubviews"}));

    // A view that outlives its controller lays out without it.
    controller.reset();
    view->setNeedsLayout();
    view->layoutIfNeeded();
}

TEST(UIViewDisplay, DrawsEachViewWhereItSitsWithItsBackgroundAndAlpha) {
    UIView root({0, 0, 40, 40});
    auto panel = std::make_shared<UIView>(CGRect(10, 10, 20, 20));
    panel->setBackgroundColor(UIColor{1, 0, 0, 1});
    auto overhang = std::make_shared<UIView>(CGRect(15, 15, 20, 20));  // reaches past the panel, not past the root
    overhang->setBackgroundColor(UIColor{0, 0, 1, 1});
    overhang->setAlpha(0.5);
    auto hidden = std::make_shared<UIView>(CGRect(0, 0, 40, 40));
    hidden->setBackgroundColor(UIColor::black());
    hidden->setHidden(true);
    root.addSubview(panel);
    panel->addSubview(overhang);
    root.addSubview(hidden);

    const auto picture =
        testkit::renderOverWhite({40, 40}, 2, [&](CGContext& context) { EXPECT_EQ(root.displayIfNeeded(context), 3u); });
    const UIColor red{1, 0, 0, 1}, halfBlue{0, 0, 1, 0.5};
    EXPECT_TRUE(testkit::pixelNear(*picture, {5, 5}, testkit::overWhite({})));
    EXPECT_TRUE(testkit::pixelNear(*picture, {12, 12}, testkit::overWhite({red})));
    EXPECT_TRUE(testkit::pixelNear(*picture, {27, 27}, testkit::overWhite({red, halfBlue})));
    EXPECT_TRUE(testkit::pixelNear(*picture, {32, 32}, testkit::overWhite({halfBlue}))) << "superviews do not clip";
}

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
