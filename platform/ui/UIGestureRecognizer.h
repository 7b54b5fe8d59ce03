#pragma once

#include <functional>
#include <vector>

#include "platform/graphics/CGGeometry.h"

class UIView;

enum class UIGestureRecognizerState { possible = 0, began = 1, changed = 2, ended = 3, cancelled = 4, failed = 5 };

// A gesture attached to a view, with the actions it calls as its state
// changes. These are plain objects so far: they keep their settings, state
// and readings, and send their actions when told to (sendActions); reading
// touches into gestures is not theirs yet.
class UIGestureRecognizer {
public:
    using Action = std::function<void(UIGestureRecognizer& sender)>;

    UIGestureRecognizer() = default;
    virtual ~UIGestureRecognizer() = default;
    UIGestureRecognizer(const UIGestureRecognizer&) = delete;
    UIGestureRecognizer& operator=(const UIGestureRecognizer&) = delete;

    void addTarget(Action action) {
        if (action)
            actions_.push_back(std::move(action));
    }
    std::size_t targetCount() const { return actions_.size(); }
    // Calls every action, in the order they were added.
    void sendActions() {
        const auto snapshot = actions_;
        for (const Action& action : snapshot)
            action(*this);
    }

    UIGestureRecognizerState state() const { return state_; }
    void setState(UIGestureRecognizerState state) { state_ = state; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled) { enabled_ = enabled; }

    // The view it watches; not owned (the view owns its recognisers).
    UIView* view() const { return view_; }

private:
    friend class UIView;

    std::vector<Action> actions_;
    UIGestureRecognizerState state_ = UIGestureRecognizerState::possible;
    bool enabled_ = true;
    UIView* view_ = nullptr;
};

class UIPanGestureRecognizer : public UIGestureRecognizer {
public:
    // How far the touch has moved since the gesture began. One space for
    // every view for now: the recogniser's view is not transformed.
    CGPoint translationInView(const UIView*) const { return translation_; }
    void setTranslation(CGPoint translation, const UIView*) { translation_ = translation; }
    int minimumNumberOfTouches = 1;

private:
    CGPoint translation_;
};

class UIPinchGestureRecognizer : public UIGestureRecognizer {
public:
    // The factor since the gesture began.
    CGFloat scale = 1;
};

class UITapGestureRecognizer : public UIGestureRecognizer {
public:
    int numberOfTapsRequired = 1;
    int numberOfTouchesRequired = 1;
};

class UILongPressGestureRecognizer : public UIGestureRecognizer {
public:
    double minimumPressDuration = 0.5;  // seconds
};
