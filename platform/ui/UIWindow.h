#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/ui/UITouch.h"
#include "platform/ui/UIView.h"

class UIViewController;

// The root of a view tree on screen. Its coordinate space is the one touches
// arrive in: the window turns touch-downs into touches by hit testing, then
// keeps sending each touch to the view it came down in until it ends.
// The desktop window feeds it from the mouse; tests feed it by hand.
class UIWindow : public UIView {
public:
    using UIView::UIView;

    struct TouchMove {
        std::shared_ptr<UITouch> touch;
        CGPoint location;  // window coordinates
    };

    // New touches at these points, delivered together to each view hit.
    std::vector<std::shared_ptr<UITouch>> touchesDown(const std::vector<CGPoint>& locations);
    std::shared_ptr<UITouch> touchDown(CGPoint location) { return touchesDown({location}).front(); }
    // Touches for gesture recognisers alone: they come down at `locations`
    // and go to the recognisers that `accept` takes among those of the view
    // under `anchor` and of every view around it. No view receives them, so
    // they can press no control. They move and lift like any other touch.
    using RecognizerFilter = std::function<bool(const UIGestureRecognizer&)>;
    std::vector<std::shared_ptr<UITouch>> recognizerTouchesDown(CGPoint anchor, const std::vector<CGPoint>& locations,
                                                                const RecognizerFilter& accept);
    void touchesMove(const std::vector<TouchMove>& moves);
    void touchMove(const std::shared_ptr<UITouch>& touch, CGPoint location) { touchesMove({{touch, location}}); }
    // Touch-up at the given points (a touch that is no longer down is skipped).
    void touchesUp(const std::vector<TouchMove>& ups);
    void touchUp(const std::shared_ptr<UITouch>& touch, CGPoint location) { touchesUp({{touch, location}}); }
    void touchUp(const std::shared_ptr<UITouch>& touch) { touchesUp({{touch, touch->location(nullptr)}}); }
    // The system took the touches away (every one that is down when none are named).
    void touchesCancel(std::vector<std::shared_ptr<UITouch>> touches = {});

    const UITouchSet& activeTouches() const { return active_; }

    // The controller whose view fills the window: its view is added and
    // pinned to the window's edges, and the one before is taken out.
    void setRootViewController(std::shared_ptr<UIViewController> controller);
    const std::shared_ptr<UIViewController>& rootViewController() const { return root_; }

private:
    std::shared_ptr<UITouch> makeTouch(CGPoint location, TimeInterval timestamp);
    std::vector<std::shared_ptr<UITouch>> relocate(const std::vector<TouchMove>& moves);
    void deliver(UITouchPhase phase, const std::vector<std::shared_ptr<UITouch>>& touches);

    UITouchSet active_;
    std::shared_ptr<UIViewController> root_;
};
