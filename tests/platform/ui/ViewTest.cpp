#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/UIControl.h"
#include "platform/ui/UIWindow.h"

namespace {

// A window 400 by 300 holding a panel scaled by 2 at (100, 50), which holds a
// 40 by 30 leaf at (10, 10) of its own coordinates.
struct Tree {
    std::shared_ptr<UIWindow> window = std::make_shared<UIWindow>(CGRect(0, 0, 400, 300));
    std::shared_ptr<UIView> panel = std::make_shared<UIView>(CGRect(100, 50, 100, 80));
    std::shared_ptr<UIView> leaf = std::make_shared<UIView>(CGRect(10, 10, 40, 30));

    Tree() {
        window->addSubview(panel);
        panel->addSubview(leaf);
        panel->setTransform(CGAffineTransform::makeScale(2, 2));
    }
};

class DrawCounter : public UIView {
public:
    using UIView::UIView;
    void draw(const CGRect& rect) override { rects.push_back(rect); }
    std::vector<CGRect> rects;
};

}  // namespace

TEST(UIView, TreeMovesViewsAndRefusesCycles) {
    Tree t;
    EXPECT_EQ(t.leaf->window(), t.window.get());
    auto other = std::make_shared<UIView>();
    other->addSubview(t.leaf);  // moves it
    EXPECT_EQ(t.leaf->superview(), other.get());
    EXPECT_TRUE(t.panel->subviews().empty());
    EXPECT_EQ(t.leaf->window(), nullptr);  // off screen

    t.leaf->addSubview(other);  // other holds leaf: a cycle
    t.leaf->addSubview(t.leaf);
    EXPECT_EQ(other->superview(), nullptr);
    EXPECT_TRUE(t.leaf->subviews().empty());

    // A subview outlives its dropped superview without a dangling link.
    std::weak_ptr<UIView> gone = other;
    other.reset();
    EXPECT_TRUE(gone.expired());
    EXPECT_EQ(t.leaf->superview(), nullptr);
}

TEST(UIView, FrameIsTheTransformedBoundsAboutTheCentre) {
    Tree t;
    // Scaled by 2 about its centre (150, 90): 200 by 160 from (50, 10).
    EXPECT_EQ(t.panel->frame(), CGRect(50, 10, 200, 160));
    EXPECT_EQ(t.panel->bounds(), CGRect(0, 0, 100, 80));
    t.panel->setFrame({0, 0, 300, 240});
    EXPECT_EQ(t.panel->bounds(), CGRect(0, 0, 150, 120));
    EXPECT_EQ(t.panel->center(), (CGPoint{150, 120}));
}

TEST(UIView, PointsConvertThroughFramesAndTransforms) {
    Tree t;
    struct Case {
        CGPoint inLeaf;
        CGPoint inWindow;
    };
    // Leaf (0, 0) is panel (10, 10), which lies 40 and 40 from the panel's
    // centre (50, 40) in its own units, so (150 - 80, 90 - 60) on screen.
    const Case cases[] = {{{0, 0}, {70, 30}}, {{40, 30}, {150, 90}}, {{-5, 2.5}, {60, 35}}};
    for (const Case& c : cases) {
        const CGPoint w = t.leaf->convert(c.inLeaf, nullptr);
        EXPECT_NEAR(w.x, c.inWindow.x, 1e-9);
        EXPECT_NEAR(w.y, c.inWindow.y, 1e-9);
        const CGPoint back = t.leaf->convertFrom(c.inWindow, t.window.get());
        EXPECT_NEAR(back.x, c.inLeaf.x, 1e-9);
        EXPECT_NEAR(back.y, c.inLeaf.y, 1e-9);
    }
    // Between siblings through their common superview.
    auto sibling = std::make_shared<UIView>(CGRect(0, 0, 10, 10));
    t.panel->addSubview(sibling);
    const CGPoint p = t.leaf->convert({1, 2}, sibling.get());
    EXPECT_NEAR(p.x, 11, 1e-9);
    EXPECT_NEAR(p.y, 12, 1e-9);
    // A view squashed to nothing maps the screen nowhere.
    t.panel->setTransform(CGAffineTransform::makeScale(0, 0));
    EXPECT_TRUE(std::isnan(t.leaf->convertFrom({70, 30}, nullptr).x));
}

TEST(UIView, HitTestFindsTheDeepestVisibleTouchableView) {
    Tree t;
    auto front = std::make_shared<UIControl>(CGRect(30, 20, 40, 40));  // overlaps the leaf, added later
    t.panel->addSubview(front);
    struct Case {
        std::string what;
        CGPoint point;  // window coordinates
        const UIView* expected;
    };
    const std::vector<Case> cases = {
        {"leaf", {72, 32}, t.leaf.get()},
        {"frontmost of two", {140, 80}, front.get()},
        {"panel beside its subviews", {240, 160}, t.panel.get()},
        {"window outside the panel", {20, 20}, t.window.get()},
        {"outside the window", {401, 20}, nullptr},
        {"not a number", {NAN, 20}, nullptr},
    };
    for (const Case& c : cases)
        EXPECT_EQ(t.window->hitTest(c.point, nullptr), c.expected) << c.what;

    // Views that take no touches let the point through to what lies below.
    front->setEnabled(false);
    EXPECT_EQ(t.window->hitTest({140, 80}, nullptr), t.leaf.get());
    t.leaf->setHidden(true);
    EXPECT_EQ(t.window->hitTest({72, 32}, nullptr), t.panel.get());
    t.leaf->setHidden(false);
    t.leaf->setAlpha(0.005);
    EXPECT_EQ(t.window->hitTest({72, 32}, nullptr), t.panel.get());
    t.panel->setUserInteractionEnabled(false);
    EXPECT_EQ(t.window->hitTest({72, 32}, nullptr), t.window.get());
}

TEST(UIView, DisplayPassDrawsEachRequestOnceWithTheWholeBounds) {
    auto root = std::make_shared<DrawCounter>(CGRect(0, 0, 200, 100));
    auto child = std::make_shared<DrawCounter>(CGRect(10, 10, 50, 20));
    root->addSubview(child);
    std::vector<const UIView*> order;
    const UIView::DrawWrapper wrapper = [&](UIView& v, const std::function<void()>& draw) {
        order.push_back(&v);
        draw();
    };
    EXPECT_EQ(root->displayIfNeeded(wrapper), 2u);  // new views ask to be drawn
    EXPECT_EQ(order, (std::vector<const UIView*>{root.get(), child.get()}));
    EXPECT_EQ(root->displayIfNeeded(wrapper), 0u);

    child->setNeedsDisplay();
    child->setNeedsDisplay();
    child->setNeedsDisplay();
    EXPECT_EQ(root->displayIfNeeded(), 1u);
    ASSERT_EQ(child->rects.size(), 2u);
    EXPECT_EQ(child->rects.back(), CGRect(0, 0, 50, 20));

    // A hidden view (or one inside a hidden view) keeps its request.
    root->setHidden(true);
    child->setNeedsDisplay();
    EXPECT_EQ(root->displayIfNeeded(), 0u);
    root->setHidden(false);
    EXPECT_EQ(root->displayIfNeeded(), 1u);
    EXPECT_EQ(child->rects.size(), 3u);
}
