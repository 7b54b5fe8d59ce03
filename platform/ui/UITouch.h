#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/graphics/CGGeometry.h"

class UIGestureRecognizer;
class UIView;
class UIWindow;

enum class UITouchPhase { began, moved, stationary, ended, cancelled };

// One finger (or the pointer) from touch-down to touch-up or cancel. It keeps
// its place in window coordinates and the view it came down in; neither
// reference keeps that view or window alive.
class UITouch {
public:
    UITouchPhase phase() const { return phase_; }
    TimeInterval timestamp() const { return timestamp_; }
    // The view the touch came down in, none when it was not over one or is gone.
    UIView* view() const { return view_.lock().get(); }
    UIWindow* window() const;

    // The point in `view`'s own coordinates; window coordinates for none.
    CGPoint location(const UIView* view) const;
    CGPoint previousLocation(const UIView* view) const;

private:
    friend class UIGestureRecognizer;
    friend class UIWindow;

    UITouchPhase phase_ = UITouchPhase::began;
    TimeInterval timestamp_ = 0;
    CGPoint location_;
    CGPoint previous_;
    std::weak_ptr<UIView> view_;
    std::weak_ptr<UIView> window_;
    // The recognisers watching this touch, chosen when it came down.
    std::vector<std::weak_ptr<UIGestureRecognizer>> recognizers_;
};

// The touches of one callback, in the order they came down, so that "the
// first" is always the same one.
class UITouchSet {
public:
    UITouchSet() = default;
    UITouchSet(std::initializer_list<std::shared_ptr<UITouch>> touches) : touches_(touches) {}

    // Adds a touch that is not in the set yet, at the end.
    void insert(const std::shared_ptr<UITouch>& touch);
    bool contains(const UITouch* touch) const;

    UITouch* first() const { return touches_.empty() ? nullptr : touches_.front().get(); }
    std::size_t size() const { return touches_.size(); }
    bool empty() const { return touches_.empty(); }
    auto begin() const { return touches_.begin(); }
    auto end() const { return touches_.end(); }

private:
    std::vector<std::shared_ptr<UITouch>> touches_;
};

// What a touch callback gets besides its own touches: every touch of the
// window that is down at the time.
class UIEvent {
public:
    UIEvent(UITouchSet all, TimeInterval timestamp) : all_(std::move(all)), timestamp_(timestamp) {}
    const UITouchSet& allTouches() const { return all_; }
    TimeInterval timestamp() const { return timestamp_; }

private:
    UITouchSet all_;
    TimeInterval timestamp_;
};
