#include <gtest/gtest.h>

#include <memory>

#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"
#include "tests/support/Geometry.h"

namespace {

class CountingController : public UIViewController {
public:
    void viewDidLoad() override { ++loads; }
    void viewDidLayoutSubviews() override {
        ++layouts;
        seen = view()->bounds().size;
    }
    int loads = 0, layouts = 0;
    CGSize seen;
};

// Like NSLayoutConstraint::pinEdges, inset on every side.
void pin(const std::shared_ptr<UIView>& view, UIView& parent, CGFloat inset) {
    view->setTranslatesAutoresizingMaskIntoConstraints(false);
    NSLayoutConstraint::activate({view->topAnchor().constraint(parent.topAnchor(), inset),
                                  view->leadingAnchor().constraint(parent.leadingAnchor(), inset),
                                  view->bottomAnchor().constraint(parent.bottomAnchor(), -inset),
                                  view->trailingAnchor().constraint(parent.trailingAnchor(), -inset)});
}

}  // namespace

TEST(Layout, APassRunsOnlyWhenAskedAndTellsTheControllerAfterPlacingItsViews) {
    auto window = std::make_shared<UIWindow>(CGRect(0, 0, 300, 200));
    auto controller = std::make_shared<CountingController>();
    window->addSubview(controller->view());
    controller->view()->setFrame(window->bounds());
    EXPECT_EQ(controller->loads, 1);
    window->layoutIfNeeded();
    EXPECT_EQ(controller->layouts, 1);
    window->layoutIfNeeded();
    EXPECT_EQ(controller->layouts, 1);  // nothing changed
    controller->view()->setFrame({0, 0, 500, 400});
    controller->view()->setFrame({0, 0, 500, 400});
    window->layoutIfNeeded();
    EXPECT_EQ(controller->layouts, 2);
    EXPECT_EQ(controller->seen, (CGSize{500, 400}));
    controller->view()->setFrame({20, 20, 500, 400});  // moved, same size: no pass
    window->layoutIfNeeded();
    EXPECT_EQ(controller->layouts, 2);
}

TEST(Layout, PinnedViewsFollowTheirParentsBoundsDownTheTree) {
    auto root = std::make_shared<UIView>(CGRect(0, 0, 300, 200));
    auto middle = std::make_shared<UIView>(CGRect(5, 5, 10, 10));
    auto leaf = std::make_shared<UIView>();
    root->addSubview(middle);
    middle->addSubview(leaf);
    pin(middle, *root, 10);
    pin(leaf, *middle, 0);
    root->layoutIfNeeded();
    EXPECT_EQ(middle->frame(), CGRect(10, 10, 280, 180));
    EXPECT_EQ(leaf->frame(), CGRect(0, 0, 280, 180));
    root->setFrame({0, 0, 640, 480});
    root->layoutIfNeeded();
    EXPECT_EQ(middle->frame(), CGRect(10, 10, 620, 460));
    EXPECT_EQ(leaf->frame(), CGRect(0, 0, 620, 460));
}

TEST(Layout, ConstraintsAreIgnoredWhileTheViewKeepsItsFrameOrOnceDeactivated) {
    auto root = std::make_shared<UIView>(CGRect(0, 0, 300, 200));
    auto child = std::make_shared<UIView>(CGRect(1, 2, 3, 4));
    root->addSubview(child);
    auto top = child->topAnchor().constraint(root->topAnchor(), 50);
    NSLayoutConstraint::activate({top});
    root->layoutIfNeeded();
    EXPECT_EQ(child->frame(), CGRect(1, 2, 3, 4));
    child->setTranslatesAutoresizingMaskIntoConstraints(false);
    root->layoutIfNeeded();
    EXPECT_EQ(child->frame(), CGRect(1, 50, 3, 4));  // what is not constrained stays
    NSLayoutConstraint::deactivate({top});
    child->setFrame({1, 2, 3, 4});
    root->layoutIfNeeded();
    EXPECT_EQ(child->frame(), CGRect(1, 2, 3, 4));
    EXPECT_TRUE(child->constraints().empty());
}

TEST(Layout, AConstraintToAViewThatIsGoneChangesNothing) {
    auto root = std::make_shared<UIView>(CGRect(0, 0, 300, 200));
    auto child = std::make_shared<UIView>(CGRect(1, 2, 3, 4));
    root->addSubview(child);
    {
        auto stranger = std::make_shared<UIView>(CGRect(0, 0, 99, 99));
        pin(child, *stranger, 0);  // not its superview: ignored
    }
    root->setNeedsLayout();
    root->layoutIfNeeded();
    EXPECT_EQ(child->frame(), CGRect(1, 2, 3, 4));
}

TEST(Layout, AProportionalPinKeepsItsShareAtAnySizeAndIgnoresTheViewsTransform) {
    auto root = std::make_shared<UIView>(CGRect(0, 0, 200, 100));
    auto child = std::make_shared<UIView>();
    root->addSubview(child);
    NSLayoutConstraint::pinProportionally(*child, *root, {20, 10, 100, 40}, {200, 100});
    struct Case {
        CGSize root;
        CGAffineTransform transform;
        CGRect untransformed;
    };
    const Case cases[] = {
        {{200, 100}, {}, {20, 10, 100, 40}},
        {{400, 300}, {}, {40, 30, 200, 120}},
        {{400, 300}, CGAffineTransform::makeScale(0.5, 0.5), {40, 30, 200, 120}},  // mid fade, say
        {{100, 50}, CGAffineTransform::makeScale(2, 2), {10, 5, 50, 20}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << k.root);
        child->setTransform(k.transform);
        root->setFrame({0, 0, k.root.width, k.root.height});
        root->layoutIfNeeded();
        EXPECT_EQ(child->bounds().size, k.untransformed.size);
        EXPECT_EQ(child->center(), (CGPoint{k.untransformed.midX(), k.untransformed.midY()}));
    }
}
