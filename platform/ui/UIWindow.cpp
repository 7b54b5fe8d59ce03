#include "platform/ui/UIWindow.h"

#include <algorithm>
#include <utility>

#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIGestureRecognizer.h"
#include "platform/ui/UIViewController.h"

namespace {

// The touches sorted to their receivers, receivers in the order their first touch appears.
template <class Receiver, class KeysOf>
std::vector<std::pair<std::shared_ptr<Receiver>, UITouchSet>> groupBy(const std::vector<std::shared_ptr<UITouch>>& touches,
                                                                        KeysOf keysOf) {
    std::vector<std::pair<std::shared_ptr<Receiver>, UITouchSet>> groups;
    for (const auto& t : touches)
        for (const auto& key : keysOf(*t)) {
            auto it = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.first == key; });
            if (it == groups.end())
                it = groups.insert(groups.end(), {key, {}});
            it->second.insert(t);
        }
    return groups;
}

}  // namespace

std::shared_ptr<UITouch> UIWindow::makeTouch(CGPoint location, TimeInterval timestamp) {
    auto touch = std::make_shared<UITouch>();
    touch->timestamp_ = timestamp;
    touch->location_ = touch->previous_ = location;
    touch->window_ = weak_from_this();
    active_.insert(touch);
    return touch;
}

std::vector<std::shared_ptr<UITouch>> UIWindow::touchesDown(const std::vector<CGPoint>& locations) {
    std::vector<std::shared_ptr<UITouch>> touches;
    const UIEvent probe(active_, Clock::now());
    for (const CGPoint& p : locations) {
        // The window's own space is the one its bounds give to hit testing.
        UIView* hit = hitTest(p, &probe);
        auto touch = makeTouch(p, probe.timestamp());
        if (hit) {
            touch->view_ = hit->weak_from_this();
            // The recognisers of the view and of every view around it.
            for (UIView* v = hit; v; v = v->superview())
                for (const auto& r : v->gestureRecognizers())
                    if (r->isEnabled() && hit->gestureRecognizerShouldBegin(*r))
                        touch->recognizers_.push_back(r);
        }
        touches.push_back(std::move(touch));
    }
    deliver(UITouchPhase::began, touches);
    return touches;
}

std::vector<std::shared_ptr<UITouch>> UIWindow::recognizerTouchesDown(CGPoint anchor,
                                                                      const std::vector<CGPoint>& locations,
                                                                      const RecognizerFilter& accept) {
    const UIEvent probe(active_, Clock::now());
    std::vector<std::weak_ptr<UIGestureRecognizer>> watching;
    // No view takes these touches, so none can keep them from a recogniser.
    for (UIView* v = hitTest(anchor, &probe); v; v = v->superview())
        for (const auto& r : v->gestureRecognizers())
            if (r->isEnabled() && (!accept || accept(*r)))
                watching.push_back(r);
    std::vector<std::shared_ptr<UITouch>> touches;
    for (const CGPoint& p : locations) {
        auto touch = makeTouch(p, probe.timestamp());
        touch->recognizers_ = watching;
        touches.push_back(std::move(touch));
    }
    deliver(UITouchPhase::began, touches);
    return touches;
}

// The touches of `moves` that are still down, each taken to its new place.
std::vector<std::shared_ptr<UITouch>> UIWindow::relocate(const std::vector<TouchMove>& moves) {
    std::vector<std::shared_ptr<UITouch>> touches;
    for (const TouchMove& m : moves) {
        if (!m.touch || !active_.contains(m.touch.get()))
            continue;
        m.touch->previous_ = m.touch->location_;
        m.touch->location_ = m.location;
        touches.push_back(m.touch);
    }
    return touches;
}

void UIWindow::touchesMove(const std::vector<TouchMove>& moves) { deliver(UITouchPhase::moved, relocate(moves)); }

void UIWindow::touchesUp(const std::vector<TouchMove>& ups) { deliver(UITouchPhase::ended, relocate(ups)); }

void UIWindow::touchesCancel(std::vector<std::shared_ptr<UITouch>> touches) {
    if (touches.empty())
        touches.assign(active_.begin(), active_.end());
    std::erase_if(touches, [this](const auto& t) { return !t || !active_.contains(t.get()); });
    deliver(UITouchPhase::cancelled, touches);
}

void UIWindow::deliver(UITouchPhase phase, const std::vector<std::shared_ptr<UITouch>>& touches) {
    if (touches.empty())
        return;
    const TimeInterval now = Clock::now();
    for (const auto& t : touches) {
        t->phase_ = phase;
        t->timestamp_ = now;
    }
    const UIEvent event(active_, now);
    // Recognisers see the touches first, then the views; each gets one call
    // with its own touches in the order given, served in the order its first
    // touch appears.
    const auto recognizers = groupBy<UIGestureRecognizer>(touches, [](const UITouch& t) {
        std::vector<std::shared_ptr<UIGestureRecognizer>> all;
        for (const auto& weak : t.recognizers_)
            if (auto r = weak.lock())
                all.push_back(std::move(r));
        return all;
    });
    for (const auto& [r, set] : recognizers) {
        switch (phase) {
        case UITouchPhase::began: r->touchesBegan(set); break;
        case UITouchPhase::moved:
        case UITouchPhase::stationary: r->touchesMoved(set); break;
        case UITouchPhase::ended: r->touchesEnded(set); break;
        case UITouchPhase::cancelled: r->touchesCancelled(set); break;
        }
    }
    const auto views = groupBy<UIView>(touches, [](const UITouch& t) {
        std::vector<std::shared_ptr<UIView>> one;
        if (auto v = t.view_.lock())
            one.push_back(std::move(v));
        return one;
    });
    for (const auto& [view, set] : views) {
        switch (phase) {
        case UITouchPhase::began: view->touchesBegan(set, &event); break;
        case UITouchPhase::moved:
        case UITouchPhase::stationary: view->touchesMoved(set, &event); break;
        case UITouchPhase::ended: view->touchesEnded(set, &event); break;
        case UITouchPhase::cancelled: view->touchesCancelled(set, &event); break;
        }
    }
    if (phase == UITouchPhase::ended || phase == UITouchPhase::cancelled) {
        UITouchSet still;
        for (const auto& t : active_)
            if (std::find(touches.begin(), touches.end(), t) == touches.end())
                still.insert(t);
        active_ = std::move(still);
    }
}

void UIWindow::setRootViewController(std::shared_ptr<UIViewController> controller) {
    if (root_ && root_->isViewLoaded() && root_->view()->superview() == this) {
        root_->viewWillDisappear(false);
        root_->view()->removeFromSuperview();
        root_->viewDidDisappear(false);
    }
    root_ = std::move(controller);
    if (!root_)
        return;
    const std::shared_ptr<UIView>& view = root_->view();
    root_->viewWillAppear(false);
    addSubview(view);
    view->setFrame(bounds());
    NSLayoutConstraint::pinEdges(*view, *this);
    root_->viewDidAppear(false);
}
