#include "platform/ui/UIView.h"

#include <algorithm>
#include <limits>

#include <cairo.h>

#include "platform/graphics/CGContext.h"
#include "platform/graphics/UIBezierPath.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIGestureRecognizer.h"
#include "platform/ui/UITouch.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"

namespace {

constexpr CGFloat kHiddenAlpha = 0.01;  // below this a view takes no touches

bool invertible(const CGAffineTransform& t) {
    const CGFloat det = t.a * t.d - t.b * t.c;
    return det != 0 && std::isfinite(det);
}

}  // namespace

UIView::UIView(const CGRect& frame) { setFrame(frame); }

UIView::~UIView() {
    for (const auto& view : subviews_)
        view->superview_ = nullptr;
    for (const auto& recognizer : recognizers_)
        recognizer->view_ = nullptr;
}

CGRect UIView::frame() const {
    const CGRect local(-bounds_.width() / 2, -bounds_.height() / 2, bounds_.width(), bounds_.height());
    const CGRect mapped = transform_.apply(local);
    return {mapped.origin.x + center_.x, mapped.origin.y + center_.y, mapped.size.width, mapped.size.height};
}

void UIView::setFrame(const CGRect& frame) {
    const CGRect r = frame.standardized();
    center_ = {r.midX(), r.midY()};
    CGSize size = r.size;
    if (!transform_.isIdentity() && invertible(transform_)) {
        const CGAffineTransform inverse = transform_.inverted();
        size = {std::abs(inverse.a) * r.size.width + std::abs(inverse.c) * r.size.height,
                std::abs(inverse.b) * r.size.width + std::abs(inverse.d) * r.size.height};
    }
    if (!(size == bounds_.size))
        needsLayout_ = needsDisplay_ = true;
    bounds_.size = size;
}

void UIView::setBounds(const CGRect& bounds) {
    if (!(bounds.size == bounds_.size))
        needsLayout_ = needsDisplay_ = true;
    bounds_ = bounds;
}

void UIView::addSubview(const std::shared_ptr<UIView>& view) {
    if (!view || view.get() == this || isDescendant(view.get()))
        return;
    const std::shared_ptr<UIView> keep = view;  // removing may drop the last owner
    view->removeFromSuperview();
    view->superview_ = this;
    subviews_.push_back(view);
    needsLayout_ = true;
}

void UIView::removeFromSuperview() {
    UIView* parent = superview_;
    if (!parent)
        return;
    superview_ = nullptr;
    parent->needsLayout_ = true;
    auto& siblings = parent->subviews_;
    siblings.erase(std::remove_if(siblings.begin(), siblings.end(), [this](const auto& v) { return v.get() == this; }),
                   siblings.end());
}

bool UIView::isDescendant(const UIView* ancestor) const {
    for (const UIView* v = this; v; v = v->superview_)
        if (v == ancestor)
            return true;
    return false;
}

UIWindow* UIView::window() const {
    for (const UIView* v = this; v; v = v->superview_)
        if (auto* w = dynamic_cast<const UIWindow*>(v))
            return const_cast<UIWindow*>(w);
    return nullptr;
}

CGPoint UIView::convertToSuperview(CGPoint p) const {
    const CGPoint fromMiddle = transform_.apply(CGPoint{p.x - bounds_.midX(), p.y - bounds_.midY()});
    return {fromMiddle.x + center_.x, fromMiddle.y + center_.y};
}

CGPoint UIView::convertFromSuperview(CGPoint p) const {
    if (!invertible(transform_)) {
        const CGFloat nan = std::numeric_limits<CGFloat>::quiet_NaN();
        return {nan, nan};
    }
    const CGPoint local = transform_.inverted().apply(CGPoint{p.x - center_.x, p.y - center_.y});
    return {local.x + bounds_.midX(), local.y + bounds_.midY()};
}

CGPoint UIView::convert(CGPoint point, const UIView* to) const {
    const UIView* root = this;
    for (; root->superview_; root = root->superview_)
        point = root->convertToSuperview(point);
    return to ? to->convertFrom(point, nullptr) : point;
}

CGPoint UIView::convertFrom(CGPoint point, const UIView* from) const {
    if (from)
        point = from->convert(point, nullptr);
    // Down from the outermost superview to this view.
    std::vector<const UIView*> chain;
    for (const UIView* v = this; v->superview_; v = v->superview_)
        chain.push_back(v);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        point = (*it)->convertFromSuperview(point);
    return point;
}

UIView* UIView::hitTest(CGPoint point, const UIEvent* event) {
    if (hidden_ || !userInteractionEnabled_ || !(alpha_ >= kHiddenAlpha) || !pointInside(point, event))
        return nullptr;
    for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it)
        if (UIView* hit = (*it)->hitTest((*it)->convertFromSuperview(point), event))
            return hit;
    return this;
}

bool UIView::pointInside(CGPoint point, const UIEvent*) const { return bounds_.contains(point); }

void UIView::draw(const CGRect&) {}

std::size_t UIView::displayIfNeeded(const DrawWrapper& wrapper) {
    if (hidden_)
        return 0;
    std::size_t drawn = 0;
    if (needsDisplay_) {
        needsDisplay_ = false;
        const auto body = [this] { draw(bounds_); };
        if (wrapper)
            wrapper(*this, body);
        else
            body();
        ++drawn;
    }
    // A draw may change the tree; walk a copy.
    const auto children = subviews_;
    for (const auto& view : children)
        drawn += view->displayIfNeeded(wrapper);
    return drawn;
}

UIResponder* UIView::nextResponder() const {
    // A controller's root view hands on to its controller, as the controller
    // stands between it and the superview.
    if (viewController_)
        return viewController_;
    return superview_;
}

void UIView::addGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer) {
    if (!recognizer || recognizer->view_ == this)
        return;
    if (UIView* previous = recognizer->view_)
        previous->removeGestureRecognizer(recognizer.get());
    recognizer->view_ = this;
    recognizers_.push_back(recognizer);
}

void UIView::removeGestureRecognizer(const UIGestureRecognizer* recognizer) {
    auto it = std::find_if(recognizers_.begin(), recognizers_.end(),
                           [recognizer](const auto& r) { return r.get() == recognizer; });
    if (it == recognizers_.end())
        return;
    const std::shared_ptr<UIGestureRecognizer> keep = *it;
    recognizers_.erase(it);
    keep->detached();
}

void UIView::setTranslatesAutoresizingMaskIntoConstraints(bool translates) {
    if (translates != translatesMask_ && superview_)
        superview_->needsLayout_ = true;
    translatesMask_ = translates;
}

void UIView::layoutIfNeeded() {
    if (needsLayout_) {
        needsLayout_ = false;
        layoutSubviews();
        if (viewController_)
            viewController_->viewDidLayoutSubviews();
    }
    // Placing a subview may resize it and so ask for its own pass; a callback
    // may change the tree, so walk a copy.
    const auto children = subviews_;
    for (const auto& view : children)
        if (view->superview_ == this)
            view->layoutIfNeeded();
}

void UIView::layoutSubviews() {
    const auto children = subviews_;
    for (const auto& view : children)
        if (!view->translatesMask_ && !view->constraints_.empty())
            view->applyConstraints();
}

void UIView::applyConstraints() {
    std::erase_if(constraints_, [](const auto& c) { return !c->isActive(); });
    const std::optional<CGRect> placed = NSLayoutConstraint::solve(*this, constraints_);
    if (placed)
        NSLayoutConstraint::place(*this, *placed);
}

void UIView::render(CGContext& context) {
    if (hidden_ || !(alpha_ > 0))
        return;
    needsDisplay_ = false;
    context.saveGState();
    context.setAlpha(context.globalAlpha() * alpha_);
    if (backgroundColor_) {
        backgroundColor_->setFill();
        UIBezierPath::rect(bounds_)->fill();
    }
    draw(bounds_);
    const auto children = subviews_;
    for (const auto& view : children) {
        // Into the subview's space: its centre, its transform, its bounds'
        // middle. A transform that cannot be undone shows nothing.
        if (!invertible(view->transform_) || !context.canDraw())
            continue;
        context.saveGState();
        cairo_t* cr = context.cairo();
        const CGAffineTransform& t = view->transform_;
        const cairo_matrix_t m{t.a, t.b, t.c, t.d, t.tx, t.ty};
        cairo_translate(cr, view->center_.x, view->center_.y);
        cairo_transform(cr, &m);
        cairo_translate(cr, -view->bounds_.midX(), -view->bounds_.midY());
        view->render(context);
        context.restoreGState();
    }
    context.restoreGState();
}
