#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "Orvo_Halden_Extension/PluginFrameEx.h"
#include "Orvo_Halden_Extension/ChromaticLinesView.h"
#include "Session.h"
#include "platform/graphics/ImageSurface.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UISlider.h"
#include "tests/support/Geometry.h"
#include "tests/support/PixelProbe.h"

using controller::Session;

namespace {

// An editor whose window and root view are `size`, laid out and drawn.
struct Editor : Session {
    explicit Editor(CGSize size) {
        window->setFrame({0, 0, size.width, size.height});
        show();
        controller->view()->setFrame(window->bounds());
        window->layoutIfNeeded();
        draw();
    }
    void draw() {
        picture = std::make_unique<ImageSurface>(window->bounds().size);
        picture->draw([&](CGContext& c) { window->render(c); });
    }
    // Every view the storyboard puts in the plug-in view, with its frame there.
    std::vector<std::pair<const UIView*, CGRect>> insides() const {
        const AudioUnitViewController& c = *controller;
        std::vector<std::pair<const UIView*, CGRect>> all;
        for (const UIView* v : std::initializer_list<const UIView*>{c.pluginFrame.get(), c.spectroView.get(),
                                                                    c.mainView.get(), c.contrastButton.get(),
                                                                    c.freezeButton.get(), c.brightnessSlider.get(),
                                                                    c.infoView.get(), c.infoMessage.get()})
            all.emplace_back(v, v->frame());
        return all;
    }
    // A design point of the canvas in window coordinates.
    CGPoint onScreen(CGPoint design) const {
        const CGFloat s = controller->pluginView->bounds().width() / 680;
        return controller->mainView->convert({design.x * s, design.y * s}, nullptr);
    }
    std::unique_ptr<ImageSurface> picture;
};

CGPoint middleOf(const UIBezierPath& path) {
    const CGRect r = testkit::rectangleOf(path).value_or(CGRect());
    return {r.midX(), r.midY()};
}

void expectScaled(const CGRect& got, const CGRect& reference, CGFloat s) {
    EXPECT_NEAR(got.minX(), reference.minX() * s, 1e-6) << got;
    EXPECT_NEAR(got.minY(), reference.minY() * s, 1e-6) << got;
    EXPECT_NEAR(got.width(), reference.width() * s, 1e-6) << got;
    EXPECT_NEAR(got.height(), reference.height() * s, 1e-6) << got;
}

}  // namespace

TEST(Scaling, EverythingInThePluginViewFollowsItsFrameAndATouchFindsTheScaledControl) {
    const Editor reference({680, 600});
    const auto designed = reference.insides();
    const CGPoint knob = middleOf(*reference.controller->mainView->baseClass().hotspotSizePath);

    struct Case {
        CGSize window;
        CGFloat scale;  // the fitted plug-in view over the design size
    };
    const Case cases[] = {{{680, 600}, 1}, {{1360, 1200}, 2}, {{510, 800}, 0.75}, {{1000, 300}, 0.5}};
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << "window " << k.window);
        Editor e(k.window);
        ASSERT_NEAR(e.controller->pluginView->bounds().width(), 680 * k.scale, 1e-9);
        const auto now = e.insides();
        for (std::size_t i = 0; i < now.size(); ++i)
            expectScaled(now[i].second, designed[i].second, k.scale);

        // The canvas fills the plug-in view: its far corner is the plate, not the black root.
        const CGPoint corner = e.onScreen({670, 590});
        EXPECT_GT(e.picture->pixelAt(corner).red, 40) << "the picture stops short of the plug-in view";

        const auto finger = e.window->touchDown(e.onScreen(knob));
        EXPECT_EQ(e.controller->mainView->hotspotMode(), "size");
        e.window->touchUp(finger);
    }
}

TEST(Scaling, APinchScalesThePictureAboutItsCentreAndKeepsTheHotspotsUnderTheirControls) {
    Editor e({680, 600});
    e.controller->onFreezeButton(*e.controller->freezeButton);
    const CGPoint knob = middleOf(*e.controller->mainView->baseClass().hotspotDampPath);
    auto& pinch = *e.controller->pinchGesture;
    for (const CGFloat scale : {1.2, 0.5}) {
        SCOPED_TRACE(testing::Message() << "pinch " << scale);
        pinch.setState(UIGestureRecognizerState::began);
        e.controller->onPinchGesture(pinch);
        pinch.scale = scale;
        pinch.setState(UIGestureRecognizerState::changed);
        e.controller->onPinchGesture(pinch);
        pinch.setState(UIGestureRecognizerState::ended);
        e.controller->onPinchGesture(pinch);
        e.window->layoutIfNeeded();
        e.draw();
        EXPECT_NEAR(e.controller->mainView->bounds().width(), e.controller->pluginView->bounds().width(), 1e-9);
        EXPECT_EQ(e.controller->mainView->baseClass().canvasScale().width,
                  e.controller->pluginView->bounds().width() / 680);
        const auto finger = e.window->touchDown(e.onScreen(knob));
        EXPECT_EQ(e.controller->mainView->hotspotMode(), "damp");
        e.window->touchUp(finger);
        e.clock.advance(1);  // two of these in a row would be a double tap, which fits again
    }
    EXPECT_NEAR(e.controller->pluginView->frame().width(), 680 * 1.2 * 0.5, 1e-9);
}
