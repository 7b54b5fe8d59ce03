#include "platform/ui/NSLayoutConstraint.h"

#include <algorithm>

#include "platform/ui/UIView.h"

std::shared_ptr<NSLayoutConstraint> NSLayoutAnchor::constraint(const NSLayoutAnchor& equalTo, CGFloat constant) const {
    return std::make_shared<NSLayoutConstraint>(*this, equalTo, constant);
}

std::shared_ptr<NSLayoutConstraint> NSLayoutAnchor::constraint(const NSLayoutAnchor& equalTo, CGFloat multiplier,
                                                               CGFloat constant) const {
    return std::make_shared<NSLayoutConstraint>(*this, equalTo, constant, multiplier);
}

NSLayoutAnchor UIView::anchor(NSLayoutAttribute attribute) { return {weak_from_this(), attribute}; }
NSLayoutAnchor UIView::topAnchor() { return anchor(NSLayoutAttribute::top); }
NSLayoutAnchor UIView::bottomAnchor() { return anchor(NSLayoutAttribute::bottom); }
NSLayoutAnchor UIView::leadingAnchor() { return anchor(NSLayoutAttribute::leading); }
NSLayoutAnchor UIView::trailingAnchor() { return anchor(NSLayoutAttribute::trailing); }

NSLayoutConstraint::NSLayoutConstraint(NSLayoutAnchor first, NSLayoutAnchor second, CGFloat constant,
                                       CGFloat multiplier)
    : first_(std::move(first)), second_(std::move(second)), constant_(constant), multiplier_(multiplier) {}

void NSLayoutConstraint::markLayout() const {
    if (const auto view = first_.item.lock())
        if (UIView* parent = view->superview())
            parent->setNeedsLayout();
}

void NSLayoutConstraint::setConstant(CGFloat constant) {
    constant_ = constant;
    markLayout();
}

void NSLayoutConstraint::setActive(bool active) {
    const auto view = first_.item.lock();
    if (active == active_ || !view)
        return;
    active_ = active;
    auto& list = view->constraints_;
    if (active)
        list.push_back(shared_from_this());
    else
        std::erase_if(list, [this](const auto& c) { return c.get() == this; });
    markLayout();
}

void NSLayoutConstraint::activate(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints) {
    for (const auto& c : constraints)
        if (c)
            c->setActive(true);
}

void NSLayoutConstraint::deactivate(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints) {
    for (const auto& c : constraints)
        if (c)
            c->setActive(false);
}

void NSLayoutConstraint::pinEdges(UIView& view, UIView& container) {
    view.setTranslatesAutoresizingMaskIntoConstraints(false);
    activate({view.topAnchor().constraint(container.topAnchor()),
              view.leadingAnchor().constraint(container.leadingAnchor()),
              view.bottomAnchor().constraint(container.bottomAnchor()),
              view.trailingAnchor().constraint(container.trailingAnchor())});
}

void NSLayoutConstraint::place(UIView& view, const CGRect& frame) {
    const CGPoint origin = view.bounds().origin;
    view.setBounds({origin.x, origin.y, frame.width(), frame.height()});
    view.setCenter({frame.midX(), frame.midY()});
}

void NSLayoutConstraint::pinProportionally(UIView& view, UIView& container, const CGRect& design, CGSize designSize) {
    if (!(designSize.width > 0 && designSize.height > 0))
        return;
    using A = NSLayoutAttribute;
    view.setTranslatesAutoresizingMaskIntoConstraints(false);
    // Edges in proportion to the container's far edges (its bounds start at 0).
    activate({view.leadingAnchor().constraint(container.trailingAnchor(), design.minX() / designSize.width, 0),
              view.topAnchor().constraint(container.bottomAnchor(), design.minY() / designSize.height, 0),
              view.anchor(A::width).constraint(container.anchor(A::width), design.width() / designSize.width, 0),
              view.anchor(A::height).constraint(container.anchor(A::height), design.height() / designSize.height, 0)});
}

namespace {

// Layout places a view's untransformed frame: a transform (an animation, say)
// changes how it shows, not where layout puts it.
CGRect layoutFrame(const UIView& view) {
    const CGRect b = view.bounds();
    const CGPoint c = view.center();
    return {c.x - b.width() / 2, c.y - b.height() / 2, b.width(), b.height()};
}

bool horizontal(NSLayoutAttribute a) {
    using A = NSLayoutAttribute;
    return a == A::left || a == A::right || a == A::leading || a == A::trailing || a == A::width || a == A::centerX;
}

// The attribute's value for a rectangle in the superview's space.
CGFloat valueOf(const CGRect& r, NSLayoutAttribute a) {
    using A = NSLayoutAttribute;
    switch (a) {
    case A::left:
    case A::leading: return r.minX();
    case A::right:
    case A::trailing: return r.maxX();
    case A::top: return r.minY();
    case A::bottom: return r.maxY();
    case A::width: return r.width();
    case A::height: return r.height();
    case A::centerX: return r.midX();
    case A::centerY: return r.midY();
    }
    return 0;
}

// One axis: start, end, size and centre as the constraints fix them.
struct Axis {
    std::optional<CGFloat> start, end, size, center;

    // Position and length, the current ones filling what is left open.
    std::pair<CGFloat, CGFloat> solve(CGFloat curStart, CGFloat curSize) const {
        CGFloat length = curSize;
        if (size)
            length = *size;
        else if (start && end)
            length = *end - *start;
        else if (center && start)
            length = 2 * (*center - *start);
        else if (center && end)
            length = 2 * (*end - *center);
        CGFloat origin = curStart;
        if (start)
            origin = *start;
        else if (end)
            origin = *end - length;
        else if (center)
            origin = *center - length / 2;
        return {origin, length};
    }
};

}  // namespace

std::optional<CGRect> NSLayoutConstraint::solve(const UIView& view,
                                                const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints) {
    const UIView* parent = view.superview();
    if (!parent)
        return std::nullopt;
    Axis xs, ys;
    bool any = false;
    for (const auto& c : constraints) {
        const auto other = c->second_.item.lock();
        if (!c->active_ || !other || horizontal(c->first_.attribute) != horizontal(c->second_.attribute))
            continue;
        // The other view in the superview's space: the superview itself by its
        // bounds, a sibling by its frame.
        CGRect space;
        if (other.get() == parent)
            space = parent->bounds();
        else if (other->superview() == parent)
            space = layoutFrame(*other);
        else
            continue;
        const CGFloat value = valueOf(space, c->second_.attribute) * c->multiplier_ + c->constant_;
        using A = NSLayoutAttribute;
        switch (c->first_.attribute) {
        case A::left:
        case A::leading: xs.start = value; break;
        case A::right:
        case A::trailing: xs.end = value; break;
        case A::width: xs.size = value; break;
        case A::centerX: xs.center = value; break;
        case A::top: ys.start = value; break;
        case A::bottom: ys.end = value; break;
        case A::height: ys.size = value; break;
        case A::centerY: ys.center = value; break;
        }
        any = true;
    }
    if (!any)
        return std::nullopt;
    const CGRect now = layoutFrame(view);
    const auto [x, w] = xs.solve(now.minX(), now.width());
    const auto [y, h] = ys.solve(now.minY(), now.height());
    return CGRect(x, y, w, h);
}
