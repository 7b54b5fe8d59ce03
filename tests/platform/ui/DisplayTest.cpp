#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include "platform/graphics/UIBezierPath.h"
#include "platform/ui/UIWindow.h"
#include "tests/support/PixelProbe.h"

namespace {

using testkit::overWhite;
using testkit::pixelNear;

constexpr CGFloat kNaN = std::numeric_limits<CGFloat>::quiet_NaN();
constexpr CGFloat kInf = std::numeric_limits<CGFloat>::infinity();

const ImageSurface::Pixel kWhite = overWhite({});
const ImageSurface::Pixel kRed = overWhite({UIColor{1, 0, 0, 1}});
const ImageSurface::Pixel kGreen = overWhite({UIColor{0, 1, 0, 1}});
const ImageSurface::Pixel kBlue = overWhite({UIColor{0, 0, 1, 1}});

// Fills an area of its own coordinates (its bounds unless told) with a colour.
class Paint : public UIView {
public:
    Paint(const CGRect& frame, UIColor fillColour, CGRect filled = CGRect::null())
        : UIView(frame), colour(fillColour), area(filled) {}
    void draw(const CGRect&) override {
        ++draws;
        colour.setFill();
        if (oval)
            UIBezierPath::ovalIn(bounds())->fill();
        else
            UIBezierPath::rect(area.isNull() ? bounds() : area)->fill();
    }
    UIColor colour;
    CGRect area;
    bool oval = false;
    int draws = 0;
};

std::unique_ptr<ImageSurface> rendered(UIView& root, CGFloat scale = 1) {
    return testkit::renderOverWhite(root.bounds().size, scale, [&](CGContext& c) { root.render(c); });
}

TEST(Display, AViewThatCannotBePlacedIsSkippedAloneAndHiddenOnesBeforeAnyTransform) {
    struct Case {
        const char* name;
        std::function<void(UIView&)> spoil;
    };
    const Case cases[] = {
        {"centre not a number", [](UIView& v) { v.setCenter({kNaN, 5}); }},
        {"centre infinite", [](UIView& v) { v.setCenter({15, kInf}); }},
        {"transform not a number", [](UIView& v) { v.setTransform({kNaN, 0, 0, 1, 0, 0}); }},
        {"transform flat", [](UIView& v) { v.setTransform(CGAffineTransform::makeScale(0, 1)); }},
        {"hidden, centre not a number", [](UIView& v) { v.setHidden(true); v.setCenter({kNaN, kNaN}); }},
        {"see-through, transform not a number",
         [](UIView& v) { v.setAlpha(0); v.setTransform({1, 0, 0, kInf, 0, 0}); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UIView root(CGRect(0, 0, 30, 10));
        auto before = std::make_shared<Paint>(CGRect(0, 0, 10, 10), UIColor{1, 0, 0, 1});
        auto spoilt = std::make_shared<Paint>(CGRect(10, 0, 10, 10), UIColor{0, 1, 0, 1});
        auto after = std::make_shared<Paint>(CGRect(20, 0, 10, 10), UIColor{0, 0, 1, 1});
        for (const auto& v : {before, spoilt, after})
            root.addSubview(v);
        c.spoil(*spoilt);
        const auto picture = rendered(root);
        EXPECT_TRUE(pixelNear(*picture, {5, 5}, kRed));
        EXPECT_TRUE(pixelNear(*picture, {15, 5}, kWhite));
        EXPECT_TRUE(pixelNear(*picture, {25, 5}, kBlue)) << "a later sibling must still draw";
        EXPECT_EQ(spoilt->draws, 0);
    }
}

TEST(Display, ClipsToBoundsKeepsTheViewsDrawingAndItsSubviewsInside) {
    // A parent at (10, 10) 20 by 20 painting 5 points past its edges, with a
    // child reaching 15 points past its lower right corner.
    struct Case {
        bool clips;
        CGPoint at;
        ImageSurface::Pixel expected;
    };
    const Case cases[] = {
        {false, {7, 7}, kGreen},  {false, {40, 40}, kRed}, {false, {27, 27}, kRed},
        {true, {7, 7}, kWhite},   {true, {40, 40}, kWhite}, {true, {27, 27}, kRed},
        {true, {12, 12}, kGreen},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "clips " << c.clips << " at " << c.at.x << ", " << c.at.y);
        UIView root(CGRect(0, 0, 50, 50));
        auto parent = std::make_shared<Paint>(CGRect(10, 10, 20, 20), UIColor{0, 1, 0, 1}, CGRect(-5, -5, 30, 30));
        parent->addSubview(std::make_shared<Paint>(CGRect(15, 15, 20, 20), UIColor{1, 0, 0, 1}));
        parent->setClipsToBounds(c.clips);
        root.addSubview(parent);
        EXPECT_TRUE(pixelNear(*rendered(root), c.at, c.expected));
    }
}

TEST(Display, OnlyTheRectanglesThatAskedAreDrawnAgainInWholePixels) {
    struct Case {
        const char* name;
        bool right;    // which view asks
        CGRect asked;  // its own coordinates; null: all of it
        CGRect pixels;
    };
    const Case cases[] = {
        {"whole view", true, CGRect::null(), {40, 0, 40, 40}},
        {"part", true, {2.5, 0, 5, 5}, {45, 0, 10, 10}},
        {"part widened to whole pixels", false, {0.25, 0.25, 1, 1}, {0, 0, 3, 3}},
        {"part beyond the window", true, {15, 15, 30, 30}, {70, 30, 10, 10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UIWindow window(CGRect(0, 0, 40, 20));
        auto left = std::make_shared<Paint>(CGRect(0, 0, 20, 20), UIColor{1, 0, 0, 1});
        auto right = std::make_shared<Paint>(CGRect(20, 0, 20, 20), UIColor{1, 0, 0, 1});
        window.addSubview(left);
        window.addSubview(right);
        ImageSurface picture({40, 20}, 2);
        ASSERT_EQ(window.display(picture, true), (std::vector<CGRect>{{0, 0, 80, 40}}));
        EXPECT_TRUE(window.display(picture, false).empty()) << "nothing asked";

        left->colour = right->colour = UIColor{0, 0, 1, 1};
        Paint& asking = c.right ? *right : *left;
        if (c.asked.isNull())
            asking.setNeedsDisplay();
        else
            asking.setNeedsDisplay(c.asked);
        EXPECT_EQ(window.display(picture, false), (std::vector<CGRect>{c.pixels}));
        for (int y = 0; y < picture.pixelHeight(); ++y)
            for (int x = 0; x < picture.pixelWidth(); ++x)
                ASSERT_EQ(picture.pixel(x, y), c.pixels.contains(CGPoint{x + 0.5, y + 0.5}) ? kBlue : kRed)
                    << x << ", " << y;
    }
}

TEST(Display, AHiddenViewKeepsItsRequestUntilItShows) {
    UIWindow window(CGRect(0, 0, 20, 10));
    auto view = std::make_shared<Paint>(CGRect(10, 0, 10, 10), UIColor{1, 0, 0, 1});
    window.addSubview(view);
    ImageSurface picture({20, 10});
    window.display(picture, true);
    view->setHidden(true);
    view->setNeedsDisplay({0, 0, 4, 4});
    EXPECT_TRUE(window.display(picture, false).empty());
    view->setHidden(false);
    EXPECT_EQ(window.display(picture, false), (std::vector<CGRect>{{10, 0, 4, 4}}));
}

TEST(Display, AKeptDrawingMatchesADirectOneAndIsRedrawnOnlyOnRequestOrResize) {
    // Fractional positions and scales: the kept picture must land on the same pixels.
    struct Case {
        CGRect frame;
        CGFloat scale;
    };
    const Case cases[] = {{{3, 2, 20, 12}, 1}, {{3.3, 2.6, 20.2, 12.5}, 1}, {{3.3, 2.6, 20.2, 12.5}, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.frame.origin.x << " scale " << c.scale);
        UIView direct(CGRect(0, 0, 30, 20)), kept(CGRect(0, 0, 30, 20));
        auto plain = std::make_shared<Paint>(c.frame, UIColor{0.2, 0.4, 0.9, 0.8});
        auto cached = std::make_shared<Paint>(c.frame, UIColor{0.2, 0.4, 0.9, 0.8});
        plain->oval = cached->oval = true;
        cached->setCachesDrawing(true);
        direct.addSubview(plain);
        kept.addSubview(cached);
        const auto expected = rendered(direct, c.scale);
        EXPECT_EQ(testkit::differingPixels(*rendered(kept, c.scale), *expected, 0), 0);
        EXPECT_EQ(testkit::differingPixels(*rendered(kept, c.scale), *expected, 0), 0);
        EXPECT_EQ(cached->draws, 1);

        cached->colour = UIColor{1, 0, 0, 1};  // no request: the kept picture shows
        EXPECT_EQ(testkit::differingPixels(*rendered(kept, c.scale), *expected, 0), 0);
        cached->setNeedsDisplay();
        EXPECT_GT(testkit::differingPixels(*rendered(kept, c.scale), *expected, 0), 0);
        EXPECT_EQ(cached->draws, 2);
        cached->setFrame({0, 0, 10, 10});
        rendered(kept, c.scale);
        EXPECT_EQ(cached->draws, 3);
    }
}

}  // namespace
