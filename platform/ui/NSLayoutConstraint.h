#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "platform/graphics/CGGeometry.h"

class UIView;

// Which edge or line of a view a constraint speaks of. Text runs left to
// right here, so leading is left and trailing is right.
enum class NSLayoutAttribute { left, right, top, bottom, leading, trailing, width, height, centerX, centerY };

class NSLayoutConstraint;

// One attribute of one view, as the views offer them (`view->topAnchor()`).
struct NSLayoutAnchor {
    std::weak_ptr<UIView> item;
    NSLayoutAttribute attribute;

    // item.attribute = other.attribute + constant, not active yet.
    std::shared_ptr<NSLayoutConstraint> constraint(const NSLayoutAnchor& equalTo, CGFloat constant = 0) const;
    // item.attribute = other.attribute × multiplier + constant: a place or size
    // in proportion to another view's.
    std::shared_ptr<NSLayoutConstraint> constraint(const NSLayoutAnchor& equalTo, CGFloat multiplier,
                                                   CGFloat constant) const;
};

// An equation between an attribute of a view and one of its superview or of
// a sibling. Active constraints belong to their first view and place it in
// its superview's layout pass; the views are held weakly, so a constraint to
// a view that is gone is ignored.
class NSLayoutConstraint : public std::enable_shared_from_this<NSLayoutConstraint> {
public:
    NSLayoutConstraint(NSLayoutAnchor first, NSLayoutAnchor second, CGFloat constant, CGFloat multiplier = 1);

    const NSLayoutAnchor& firstAnchor() const { return first_; }
    const NSLayoutAnchor& secondAnchor() const { return second_; }
    CGFloat multiplier() const { return multiplier_; }
    CGFloat constant() const { return constant_; }
    void setConstant(CGFloat constant);
    bool isActive() const { return active_; }
    void setActive(bool active);

    // Activates all of them; the superviews involved get a layout pass.
    static void activate(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints);
    static void deactivate(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints);
    // The view stops keeping its own frame and follows the container's top,
    // leading, bottom and trailing edges (activated in that order).
    static void pinEdges(UIView& view, UIView& container);
    // The view stops keeping its own frame and keeps `design`'s place and size
    // within a container of `designSize`, in proportion, at any container size.
    static void pinProportionally(UIView& view, UIView& container, const CGRect& design, CGSize designSize);

    // The frame the constraints give `view` in its superview, transform left
    // aside; what they leave open (a size, a position) stays as it is. None
    // when no constraint can be applied.
    static std::optional<CGRect> solve(const UIView& view,
                                       const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints);

    // Gives the view the solved frame as its untransformed frame.
    static void place(UIView& view, const CGRect& frame);

private:
    void markLayout() const;

    NSLayoutAnchor first_;
    NSLayoutAnchor second_;
    CGFloat constant_;
    CGFloat multiplier_;
    bool active_ = false;
};
