#include "platform/ui/UIGestureRecognizer.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/Timer.h"
#include "platform/ui/UIView.h"

namespace {

CGPoint centroid(const UITouchSet& touches, const UITouchSet* leaving = nullptr) {
    CGPoint sum;
    std::size_t n = 0;
    for (const auto& t : touches) {
        if (leaving && leaving->contains(t.get()))
            continue;
        const CGPoint p = t->location(nullptr);
        sum.x += p.x;
        sum.y += p.y;
        ++n;
    }
    return n ? CGPoint{sum.x / CGFloat(n), sum.y / CGFloat(n)} : CGPoint{};
}

CGFloat distanceBetween(CGPoint a, CGPoint b) { return std::hypot(a.x - b.x, a.y - b.y); }

// A window-space vector as seen in a view (window space for none).
CGPoint vectorIn(const UIView* view, CGPoint v) {
    if (!view)
        return v;
    const CGPoint a = view->convertFrom(CGPoint{}, nullptr);
    const CGPoint b = view->convertFrom(v, nullptr);
    return {b.x - a.x, b.y - a.y};
}

CGPoint vectorFrom(const UIView* view, CGPoint v) {
    if (!view)
        return v;
    const CGPoint a = view->convert(CGPoint{}, nullptr);
    const CGPoint b = view->convert(v, nullptr);
    return {b.x - a.x, b.y - a.y};
}

}  // namespace

UIGestureRecognizer::~UIGestureRecognizer() { stopTimer(); }

void UIGestureRecognizer::addTarget(const void* target, Action action) {
    if (action)
        targets_.push_back({target, std::move(action)});
}

void UIGestureRecognizer::removeTarget(const void* target) {
    std::erase_if(targets_, [target](const Registration& r) { return r.target == target; });
}

void UIGestureRecognizer::setEnabled(bool enabled) {
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    if (!enabled) {
        if (isActive())
            transition(State::cancelled);
        touches_ = {};
        reset();
    }
}

CGPoint UIGestureRecognizer::location(const UIView* view) const {
    const CGPoint p = touches_.empty() ? lastLocation_ : centroid(touches_);
    return view ? view->convertFrom(p, nullptr) : p;
}

void UIGestureRecognizer::requireToFail(const std::shared_ptr<UIGestureRecognizer>& other) {
    if (!other || other.get() == this)
        return;
    requiredToFail_.push_back(other);
    other->dependents_.push_back(weak_from_this());
}

bool UIGestureRecognizer::live() const { return state_ == State::possible || isActive(); }

void UIGestureRecognizer::touchesBegan(const UITouchSet& touches) {
    if (!enabled_)
        return;
    for (const auto& t : touches)
        touches_.insert(t);
    lastLocation_ = centroid(touches_);
    if (live() && !pending_)
        began(touches);
}

void UIGestureRecognizer::touchesMoved(const UITouchSet& touches) {
    if (!enabled_)
        return;
    lastLocation_ = centroid(touches_);
    if (live() && !pending_)
        moved(touches);
}

void UIGestureRecognizer::touchesEnded(const UITouchSet& touches) {
    if (!enabled_)
        return;
    const auto keep = weak_from_this().lock();
    lastLocation_ = centroid(touches_);
    if (live() && !pending_)
        ended(touches);
    forget(touches);
}

void UIGestureRecognizer::touchesCancelled(const UITouchSet& touches) {
    if (!enabled_)
        return;
    const auto keep = weak_from_this().lock();
    if (live() && !pending_)
        cancelled(touches);
    forget(touches);
}

void UIGestureRecognizer::forget(const UITouchSet& leaving) {
    UITouchSet still;
    for (const auto& t : touches_)
        if (!leaving.contains(t.get()))
            still.insert(t);
    touches_ = std::move(still);
    resetIfIdle();
}

void UIGestureRecognizer::cancelled(const UITouchSet&) {
    transition(isActive() ? State::cancelled : State::failed);
}

void UIGestureRecognizer::transition(State state) {
    const auto keep = weak_from_this().lock();
    const State previous = state_;
    const bool recognising = state == State::began || (state == State::ended && previous == State::possible);
    if (recognising && waitingForDependency()) {
        pending_ = true;
        return;
    }
    state_ = state;
    if (recognising)
        recognizedExclusively();
    if (recognising || state == State::failed) {
        for (const auto& weak : dependents_)
            if (const auto dependent = weak.lock())
                state == State::failed ? dependent->dependencyFailed() : dependent->dependencyRecognized();
    }
    if (state != State::possible && state != State::failed)
        sendActions();
    resetIfIdle();
}

void UIGestureRecognizer::sendActions() {
    const auto snapshot = targets_;
    for (const Registration& r : snapshot)
        r.action(*this);
}

void UIGestureRecognizer::reset() {
    stopTimer();
    state_ = State::possible;
    pending_ = false;
    resetGesture();
}

void UIGestureRecognizer::resetIfIdle() {
    const bool settled = state_ == State::ended || state_ == State::cancelled || state_ == State::failed;
    if (settled && touches_.empty() && !pending_)
        reset();
}

bool UIGestureRecognizer::waitingForDependency() const {
    return std::any_of(requiredToFail_.begin(), requiredToFail_.end(), [](const auto& weak) {
        const auto other = weak.lock();
        return other && other->enabled_ && other->state_ != State::failed;
    });
}

void UIGestureRecognizer::dependencyFailed() {
    if (pending_ && !waitingForDependency()) {
        pending_ = false;
        transition(State::ended);
    }
}

void UIGestureRecognizer::dependencyRecognized() {
    if (pending_) {
        pending_ = false;
        transition(State::failed);
    } else if (state_ == State::possible && !touches_.empty()) {
        transition(State::failed);
    }
}

void UIGestureRecognizer::recognizedExclusively() {
    std::vector<std::shared_ptr<UIGestureRecognizer>> rivals;
    for (const auto& t : touches_)
        for (const auto& weak : t->recognizers_)
            if (const auto other = weak.lock())
                if (other.get() != this && other->state_ == State::possible && !other->pending_ &&
                    std::find(rivals.begin(), rivals.end(), other) == rivals.end())
                    rivals.push_back(other);
    for (const auto& other : rivals)
        if (other->state_ == State::possible)
            other->transition(State::failed);
}

void UIGestureRecognizer::detached() {
    if (isActive())
        transition(State::cancelled);
    touches_ = {};
    view_ = nullptr;
    reset();
}

void UIGestureRecognizer::startTimer(TimeInterval seconds, std::function<void(UIGestureRecognizer&)> fire) {
    stopTimer();
    std::weak_ptr<UIGestureRecognizer> weak = weak_from_this();
    timer_ = Timer::scheduledTimer(seconds, false, [weak, fire = std::move(fire)](Timer&) {
        if (const auto self = weak.lock())
            fire(*self);
    });
}

void UIGestureRecognizer::stopTimer() {
    if (timer_) {
        timer_->invalidate();
        timer_.reset();
    }
}

// --- pan

CGPoint UIPanGestureRecognizer::windowTranslation() const {
    const CGPoint c = centroid(touches());
    return {c.x - start_.x + offset_.x, c.y - start_.y + offset_.y};
}

CGPoint UIPanGestureRecognizer::translationInView(const UIView* view) const { return vectorIn(view, windowTranslation()); }

void UIPanGestureRecognizer::setTranslation(CGPoint translation, const UIView* view) {
    const CGPoint wanted = vectorFrom(view, translation);
    const CGPoint c = centroid(touches());
    offset_ = {wanted.x - (c.x - start_.x), wanted.y - (c.y - start_.y)};
}

// Keeps the translation where it is while the set of fingers changes: the
// middle jumps, the offset takes the jump back.
void UIPanGestureRecognizer::rebase(CGPoint before, CGPoint after) {
    offset_.x += before.x - after.x;
    offset_.y += before.y - after.y;
}

void UIPanGestureRecognizer::began(const UITouchSet& touches) {
    if (touches.size() == this->touches().size()) {
        start_ = centroid(this->touches());
        offset_ = {};
    } else {
        rebase(centroid(this->touches(), &touches), centroid(this->touches()));
    }
    if (state() == State::possible && this->touches().size() > std::size_t(std::max(maximumNumberOfTouches, 1)))
        transition(State::failed);
}

void UIPanGestureRecognizer::moved(const UITouchSet&) {
    if (isActive()) {
        transition(State::changed);
        return;
    }
    const CGPoint t = windowTranslation();
    if (touches().size() >= std::size_t(std::max(minimumNumberOfTouches, 1)) && std::hypot(t.x, t.y) >= hysteresis)
        transition(State::began);
}

void UIPanGestureRecognizer::ended(const UITouchSet& leaving) {
    if (leaving.size() < touches().size()) {
        rebase(centroid(touches()), centroid(touches(), &leaving));
        return;
    }
    transition(isActive() ? State::ended : State::failed);
}

void UIPanGestureRecognizer::resetGesture() {
    start_ = {};
    offset_ = {};
}

// --- pinch

CGFloat UIPinchGestureRecognizer::distance() const {
    auto it = touches().begin();
    const CGPoint a = (*it)->location(nullptr);
    const CGPoint b = (*++it)->location(nullptr);
    return distanceBetween(a, b);
}

void UIPinchGestureRecognizer::began(const UITouchSet&) {
    if (touches().size() != 2) {
        if (touches().size() > 2)
            transition(isActive() ? State::ended : State::failed);
        return;
    }
    startDistance_ = distance();
    scale = 1;
    // Fingers on one spot give no scale to measure against.
    if (!(startDistance_ >= 1))
        transition(State::failed);
}

void UIPinchGestureRecognizer::moved(const UITouchSet&) {
    if (touches().size() != 2 || !(startDistance_ >= 1))
        return;
    const CGFloat d = distance();
    if (isActive()) {
        scale = d / startDistance_;
        transition(State::changed);
    } else if (std::abs(d - startDistance_) >= hysteresis) {
        scale = d / startDistance_;
        transition(State::began);
    }
}

void UIPinchGestureRecognizer::ended(const UITouchSet&) { transition(isActive() ? State::ended : State::failed); }

void UIPinchGestureRecognizer::resetGesture() {
    startDistance_ = 0;
    scale = 1;
}

// --- tap

void UITapGestureRecognizer::began(const UITouchSet& touches) {
    if (touches.size() == this->touches().size()) {
        stopTimer();  // the next tap came in time
        start_ = centroid(this->touches());
    }
    fingers_ = std::max(fingers_, this->touches().size());
    if (fingers_ > std::size_t(numberOfTouchesRequired))
        transition(State::failed);
}

void UITapGestureRecognizer::moved(const UITouchSet&) {
    if (distanceBetween(centroid(touches()), start_) > allowableMovement)
        transition(State::failed);
}

void UITapGestureRecognizer::ended(const UITouchSet& leaving) {
    if (leaving.size() < touches().size())
        return;  // the tap ends with its last finger
    if (fingers_ != std::size_t(numberOfTouchesRequired)) {
        transition(State::failed);
        return;
    }
    fingers_ = 0;
    if (++taps_ >= std::size_t(numberOfTapsRequired)) {
        transition(State::ended);
        return;
    }
    startTimer(maximumTapInterval, [](UIGestureRecognizer& self) {
        if (self.state() == State::possible)
            static_cast<UITapGestureRecognizer&>(self).transition(State::failed);
    });
}

void UITapGestureRecognizer::resetGesture() {
    taps_ = 0;
    fingers_ = 0;
}

// --- long press

void UILongPressGestureRecognizer::began(const UITouchSet&) {
    if (touches().size() > std::size_t(numberOfTouchesRequired)) {
        transition(isActive() ? State::ended : State::failed);
        return;
    }
    if (touches().size() == std::size_t(numberOfTouchesRequired) && state() == State::possible) {
        start_ = centroid(touches());
        startTimer(minimumPressDuration, [](UIGestureRecognizer& self) {
            auto& press = static_cast<UILongPressGestureRecognizer&>(self);
            if (press.state() == State::possible && press.touches().size() == std::size_t(press.numberOfTouchesRequired))
                press.transition(State::began);
        });
    }
}

void UILongPressGestureRecognizer::moved(const UITouchSet&) {
    if (isActive())
        transition(State::changed);
    else if (distanceBetween(centroid(touches()), start_) > allowableMovement)
        transition(State::failed);
}

void UILongPressGestureRecognizer::ended(const UITouchSet&) { transition(isActive() ? State::ended : State::failed); }
