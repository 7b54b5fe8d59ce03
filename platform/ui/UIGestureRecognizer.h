#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/graphics/CGGeometry.h"
#include "platform/ui/UITouch.h"

class Timer;
class UIView;

enum class UIGestureRecognizerState {
    possible = 0,
    began = 1,
    changed = 2,
    ended = 3,  // also "recognised", for the discrete gestures
    cancelled = 4,
    failed = 5,
};

// Watches the touches of its view (and the view's subviews) and turns them
// into a gesture. It sees each touch before the views do and never takes a
// touch away from them.
//
// Continuous gestures (pan, pinch, long press) go began, changed..., then
// ended or cancelled; discrete ones (tap) go straight to ended. Targets hear
// every one of these states; the recogniser is back at possible once all
// its touches have lifted.
//
// Recognisers of one touch sequence compete: the first to begin or be
// recognised makes the others that are still possible fail. One that must
// wait for another to fail (requireToFail) holds its recognition until that
// one has failed, and fails itself if that one is recognised.
class UIGestureRecognizer : public std::enable_shared_from_this<UIGestureRecognizer> {
public:
    using State = UIGestureRecognizerState;
    using Action = std::function<void(UIGestureRecognizer& recognizer)>;

    UIGestureRecognizer() = default;
    virtual ~UIGestureRecognizer();
    UIGestureRecognizer(const UIGestureRecognizer&) = delete;
    UIGestureRecognizer& operator=(const UIGestureRecognizer&) = delete;

    // `target` only identifies the registration for removeTarget.
    void addTarget(const void* target, Action action);
    void addTarget(Action action) { addTarget(nullptr, std::move(action)); }
    void removeTarget(const void* target);
    std::size_t targetCount() const { return targets_.size(); }
    // Calls every action now, in the order they were added.
    void sendActions();

    State state() const { return state_; }
    // Sets the state as it is, telling nobody: for code that drives a
    // recogniser by hand. Touches move it through transition().
    void setState(State state) { state_ = state; }
    UIView* view() const { return view_; }
    bool isEnabled() const { return enabled_; }
    // Turning a recogniser off in the middle of a gesture cancels it.
    void setEnabled(bool enabled);

    // The middle of the touches, in `view`'s space (window space for none).
    CGPoint location(const UIView* view) const;
    std::size_t numberOfTouches() const { return touches_.size(); }

    // This recogniser is recognised only once `other` has failed.
    void requireToFail(const std::shared_ptr<UIGestureRecognizer>& other);

    // Fed by the window, before the views get the same touches.
    void touchesBegan(const UITouchSet& touches);
    void touchesMoved(const UITouchSet& touches);
    void touchesEnded(const UITouchSet& touches);
    void touchesCancelled(const UITouchSet& touches);

protected:
    // What a gesture does with its touches; touches() already holds the new
    // ones in began and still holds the leaving ones in ended and cancelled.
    virtual void began(const UITouchSet& touches) = 0;
    virtual void moved(const UITouchSet& touches) = 0;
    virtual void ended(const UITouchSet& touches) = 0;
    virtual void cancelled(const UITouchSet& touches);
    // Back to possible: forget the gesture's own state.
    virtual void resetGesture() {}

    // Moves to a state and tells the targets (began, changed, ended,
    // cancelled). Waiting on requireToFail may hold a recognition back.
    void transition(State state);
    const UITouchSet& touches() const { return touches_; }
    bool isActive() const { return state_ == State::began || state_ == State::changed; }
    // A one-shot timer on the run loop; a later call or the reset replaces it.
    void startTimer(TimeInterval seconds, std::function<void(UIGestureRecognizer&)> fire);
    void stopTimer();

private:
    friend class UIView;
    friend class UIWindow;

    void detached();
    bool live() const;
    void forget(const UITouchSet& leaving);
    void reset();
    void resetIfIdle();
    // A recogniser this one waits for has settled.
    void dependencyFailed();
    void dependencyRecognized();
    bool waitingForDependency() const;
    // The window: other recognisers sharing these touches.
    void recognizedExclusively();

    struct Registration {
        const void* target;
        Action action;
    };
    std::vector<Registration> targets_;
    UIView* view_ = nullptr;
    State state_ = State::possible;
    bool enabled_ = true;
    bool pending_ = false;  // recognised, waiting for a dependency to fail
    UITouchSet touches_;
    CGPoint lastLocation_;
    std::vector<std::weak_ptr<UIGestureRecognizer>> requiredToFail_;
    std::vector<std::weak_ptr<UIGestureRecognizer>> dependents_;
    std::shared_ptr<Timer> timer_;
};

// Follows one or more fingers; the translation is how far their middle has
// moved since the first finger came down (fingers added or lifted on the way
// do not make it jump). It begins once the middle has moved `hysteresis` points.
class UIPanGestureRecognizer : public UIGestureRecognizer {
public:
    static constexpr CGFloat hysteresis = 10;

    CGPoint translationInView(const UIView* view) const;
    void setTranslation(CGPoint translation, const UIView* view);

    int minimumNumberOfTouches = 1;
    int maximumNumberOfTouches = 16;

protected:
    void began(const UITouchSet& touches) override;
    void moved(const UITouchSet& touches) override;
    void ended(const UITouchSet& touches) override;
    void resetGesture() override;

private:
    void rebase(CGPoint before, CGPoint after);
    CGPoint windowTranslation() const;

    CGPoint start_;         // window space
    CGPoint offset_;        // kept across changes of the finger count
};

// Two fingers; the scale is their distance now over their distance when the
// second came down, and is never reset during the gesture. It begins once the
// distance has changed by `hysteresis` points and ends when a finger lifts.
class UIPinchGestureRecognizer : public UIGestureRecognizer {
public:
    static constexpr CGFloat hysteresis = 2;

    // The factor since the gesture began.
    CGFloat scale = 1;

protected:
    void began(const UITouchSet& touches) override;
    void moved(const UITouchSet& touches) override;
    void ended(const UITouchSet& touches) override;
    void resetGesture() override;

private:
    CGFloat distance() const;

    CGFloat startDistance_ = 0;
};

// Taps: fingers down and up again without moving more than `allowableMovement`
// points; the taps of a multiple tap follow each other within `maximumTapInterval`
// seconds. A single tap that waits for a double tap (requireToFail) is
// therefore reported that long after its release.
class UITapGestureRecognizer : public UIGestureRecognizer {
public:
    static constexpr CGFloat allowableMovement = 10;
    static constexpr TimeInterval maximumTapInterval = 0.35;

    int numberOfTapsRequired = 1;
    int numberOfTouchesRequired = 1;

protected:
    void began(const UITouchSet& touches) override;
    void moved(const UITouchSet& touches) override;
    void ended(const UITouchSet& touches) override;
    void resetGesture() override;

private:
    std::size_t taps_ = 0;
    std::size_t fingers_ = 0;  // most fingers down at once in this tap
    CGPoint start_;
};

// A finger held still for `minimumPressDuration` seconds (on the run loop's
// clock) begins it; moving then changes it and lifting ends it. Moving more
// than `allowableMovement` points before that makes it fail.
class UILongPressGestureRecognizer : public UIGestureRecognizer {
public:
    double minimumPressDuration = 0.5;  // seconds
    CGFloat allowableMovement = 10;
    int numberOfTouchesRequired = 1;

protected:
    void began(const UITouchSet& touches) override;
    void moved(const UITouchSet& touches) override;
    void ended(const UITouchSet& touches) override;

private:
    CGPoint start_;
};
