#include "Orvo_Halden_Extension/Animator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "platform/foundation/Timer.h"

std::optional<EnumEasing> easingFromRawValue(std::int64_t rawValue) {
    if (rawValue < 0 || rawValue > static_cast<std::int64_t>(EnumEasing::EASING_easeLast))
        return std::nullopt;
    return static_cast<EnumEasing>(rawValue);
}

// ---------------------------------------------------------------------------
// Easing curves: pure functions of (frame, source, amount, frame count), all in single precision.

namespace {

using Int = std::int64_t;

constexpr float kPi = std::numbers::pi_v<float>;

struct Frames {
    float t, d, b, c; // frame, frame count, source, amount

    Frames(Int currentFrame, float sourceValue, float amount, Int numFrames)
        : t(static_cast<float>(currentFrame)), d(static_cast<float>(numFrames)), b(sourceValue), c(amount) {}

    float u() const { return t / d; }
    float half() const { return t / (d / 2.0f); }
};

float power(float x, int n) {
    float r = x;
    for (int i = 1; i < n; ++i) r *= x;
    return r;
}

// Quad, cubic, quartic and quintic curves; even and odd exponents mirror the out half differently.
template <int N> struct Power {
    static float in(const Frames& f) { return f.c * power(f.u(), N) + f.b; }

    static float out(const Frames& f) {
        const float u = f.u();
        if constexpr (N == 2) return -f.c * u * (u - 2.0f) + f.b;
        if constexpr (N % 2 == 0) return -f.c * (power(u - 1.0f, N) - 1.0f) + f.b;
        return f.c * (power(u - 1.0f, N) + 1.0f) + f.b;
    }

    static float inOut(const Frames& f) {
        const float v = f.half();
        const float h = f.c / 2.0f;
        if (v < 1.0f) return h * power(v, N) + f.b;
        if constexpr (N == 2) return -h * ((v - 1.0f) * ((v - 1.0f) - 2.0f) - 1.0f) + f.b;
        if constexpr (N % 2 == 0) return -h * (power(v - 2.0f, N) - 2.0f) + f.b;
        return h * (power(v - 2.0f, N) + 2.0f) + f.b;
    }
};

struct Sine {
    static float in(const Frames& f) { return -f.c * std::cos(f.u() * kPi / 2.0f) + f.c + f.b; }
    static float out(const Frames& f) { return f.c * std::sin(f.u() * kPi / 2.0f) + f.b; }
    static float inOut(const Frames& f) { return -(f.c / 2.0f) * (std::cos(kPi * f.t / f.d) - 1.0f) + f.b; }
};

struct Expo {
    static float in(const Frames& f) {
        if (f.t == 0.0f) return f.b;
        return f.c * std::pow(2.0f, 10.0f * (f.u() - 1.0f)) + f.b;
    }
    static float out(const Frames& f) {
        if (f.t == f.d) return f.b + f.c;
        return f.c * (1.0f - std::pow(2.0f, -10.0f * f.t / f.d)) + f.b;
    }
    static float inOut(const Frames& f) {
        if (f.t == 0.0f) return f.b;
        if (f.t == f.d) return f.b + f.c;
        const float v = f.half();
        if (v < 1.0f) return (f.c / 2.0f) * std::pow(2.0f, 10.0f * (v - 1.0f)) + f.b;
        return (f.c / 2.0f) * (2.0f - std::pow(2.0f, -10.0f * (v - 1.0f))) + f.b;
    }
};

struct Circ {
    static float in(const Frames& f) {
        const float u = f.u();
        return -f.c * (std::sqrt(1.0f - u * u) - 1.0f) + f.b;
    }
    static float out(const Frames& f) {
        const float w = f.u() - 1.0f;
        return f.c * std::sqrt(1.0f - w * w) + f.b;
    }
    static float inOut(const Frames& f) {
        const float v = f.half();
        if (v < 1.0f) return -(f.c / 2.0f) * (std::sqrt(1.0f - v * v) - 1.0f) + f.b;
        const float w = v - 2.0f;
        return (f.c / 2.0f) * (std::sqrt(1.0f - w * w) + 1.0f) + f.b;
    }
};

struct Elastic {
    // The period scales with the run's length, so the number of swings is the same for any frame count.
    static float in(const Frames& f) {
        const float u = f.u();
        if (f.t == 0.0f) return f.b;
        if (u == 1.0f) return f.b + f.c;
        const float p = 0.3f * f.d;
        const float s = p / 4.0f;
        const float w = u - 1.0f;
        return -(f.c * std::pow(2.0f, 10.0f * w) * std::sin((w * f.d - s) * (2.0f * kPi) / p)) + f.b;
    }
    static float out(const Frames& f) {
        const float u = f.u();
        if (f.t == 0.0f) return f.b;
        if (u == 1.0f) return f.b + f.c;
        const float p = 0.3f * f.d;
        const float s = p / 4.0f;
        return f.c * std::pow(2.0f, -10.0f * u) * std::sin((u * f.d - s) * (2.0f * kPi) / p) + f.c + f.b;
    }
    static float inOut(const Frames& f) {
        if (f.t == 0.0f) return f.b;
        const float v = f.half();
        if (v == 2.0f) return f.b + f.c;
        const float p = 0.45000002f * f.d; // 0.3 * 1.5
        const float s = p / 4.0f;
        const float w = v - 1.0f;
        const float sine = std::sin((w * f.d - s) * 2.0f * kPi / p);
        if (v < 1.0f) return -0.5f * (f.c * std::pow(2.0f, 10.0f * w) * sine) + f.b;
        return f.c * std::pow(2.0f, -10.0f * w) * sine * 0.5f + f.c + f.b;
    }
};

struct Back {
    static constexpr float kOvershoot = 1.70158f;
    static constexpr float kOvershootPlusOne = 2.70158f;
    static constexpr float kInOutOvershoot = 2.5949094f; // 1.70158 * 1.525
    static constexpr float kInOutOvershootPlusOne = 3.5949094f;

    static float in(const Frames& f) {
        const float u = f.u();
        return f.c * u * u * (kOvershootPlusOne * u - kOvershoot) + f.b;
    }
    static float out(const Frames& f) {
        const float w = f.u() - 1.0f;
        return f.c * (w * w * (kOvershootPlusOne * w + kOvershoot) + 1.0f) + f.b;
    }
    static float inOut(const Frames& f) {
        const float v = f.half();
        const float h = f.c / 2.0f;
        if (v < 1.0f) return h * (v * v * (kInOutOvershootPlusOne * v - kInOutOvershoot)) + f.b;
        const float w = v - 2.0f;
        return h * (w * w * (kInOutOvershootPlusOne * w + kInOutOvershoot) + 2.0f) + f.b;
    }
};

struct Bounce {
    static float out(const Frames& f) {
        const float u = f.u();
        float w = u;
        float floorValue = 0.0f;
        if (u < 1.0f / 2.75f) {
            w = u;
        } else if (u < 2.0f / 2.75f) {
            w = u - 1.5f / 2.75f;
            floorValue = 0.75f;
        } else if (u < 2.5f / 2.75f) {
            w = u - 2.25f / 2.75f;
            floorValue = 0.9375f;
        } else {
            w = u - 2.625f / 2.75f;
            floorValue = 0.984375f;
        }
        return f.c * (7.5625f * w * w + floorValue) + f.b;
    }
    // The mirrored halves call back in with whole frames, as the animator would.
    static float in(const Frames& f) {
        const Int frames = static_cast<Int>(f.d);
        return f.c - out(Frames(static_cast<Int>(f.d - f.t), 0.0f, f.c, frames)) + f.b;
    }
    static float inOut(const Frames& f) {
        const Int frames = static_cast<Int>(f.d);
        if (f.t < f.d / 2.0f) return in(Frames(static_cast<Int>(f.t * 2.0f), 0.0f, f.c, frames)) * 0.5f + f.b;
        return out(Frames(static_cast<Int>(f.t * 2.0f - f.d), 0.0f, f.c, frames)) * 0.5f + f.c * 0.5f + f.b;
    }
};

// Out to the middle, then In from there; the middle is an integer frame. With an odd frame count the
// first frame of the second half would be -1, which lies before the curve: it starts at frame 0 instead.
template <class Family> float outIn(Int currentFrame, float b, float c, Int numFrames) {
    if (currentFrame < numFrames / 2) return Family::out(Frames(currentFrame * 2, b, c / 2.0f, numFrames));
    const Int frame = std::max<Int>(0, currentFrame * 2 - numFrames);
    return Family::in(Frames(frame, b + c / 2.0f, c / 2.0f, numFrames));
}

} // namespace

#define ORVO_EASING_FAMILY(Name, Family)                                                                     \
    float Animator::easeIn##Name(Int t, float b, float c, Int d) { return Family::in(Frames(t, b, c, d)); }  \
    float Animator::easeOut##Name(Int t, float b, float c, Int d) {                                          \
        return Family::out(Frames(t, b, c, d));                                                              \
    }                                                                                                        \
    float Animator::easeInOut##Name(Int t, float b, float c, Int d) {                                        \
        return Family::inOut(Frames(t, b, c, d));                                                            \
    }                                                                                                        \
    float Animator::easeOutIn##Name(Int t, float b, float c, Int d) { return outIn<Family>(t, b, c, d); }

ORVO_EASING_FAMILY(Quad, Power<2>)
ORVO_EASING_FAMILY(Cubic, Power<3>)
ORVO_EASING_FAMILY(Quart, Power<4>)
ORVO_EASING_FAMILY(Quint, Power<5>)
ORVO_EASING_FAMILY(Sine, Sine)
ORVO_EASING_FAMILY(Expo, Expo)
ORVO_EASING_FAMILY(Circ, Circ)
ORVO_EASING_FAMILY(Elastic, Elastic)
ORVO_EASING_FAMILY(Back, Back)
ORVO_EASING_FAMILY(Bounce, Bounce)

#undef ORVO_EASING_FAMILY

float Animator::easeNone(Int currentFrame, float sourceValue, float amount, Int numFrames) {
    const Frames f(currentFrame, sourceValue, amount, numFrames);
    return (f.c * f.t) / f.d + f.b;
}

Animator::Curve Animator::curveFor(EnumEasing type) {
    static constexpr std::array<Curve, 41> curves = {
        &easeNone,       &easeInQuad,       &easeOutQuad,      &easeInOutQuad,  &easeOutInQuad,
        &easeInCubic,    &easeOutCubic,     &easeInOutCubic,   &easeOutInCubic, &easeInQuart,
        &easeOutQuart,   &easeInOutQuart,   &easeOutInQuart,   &easeInQuint,    &easeOutQuint,
        &easeInOutQuint, &easeOutInQuint,   &easeInSine,       &easeOutSine,    &easeInOutSine,
        &easeOutInSine,  &easeInExpo,       &easeOutExpo,      &easeInOutExpo,  &easeOutInExpo,
        &easeInCirc,     &easeOutCirc,      &easeInOutCirc,    &easeOutInCirc,  &easeInElastic,
        &easeOutElastic, &easeInOutElastic, &easeOutInElastic, &easeInBack,     &easeOutBack,
        &easeInOutBack,  &easeOutInBack,    &easeInBounce,     &easeOutBounce,  &easeInOutBounce,
        &easeOutInBounce};
    const auto raw = static_cast<std::size_t>(type);
    return raw < curves.size() ? curves[raw] : &easeNone; // the end marker runs linearly
}

// ---------------------------------------------------------------------------
// Timer ownership

AnimationTicker::~AnimationTicker() { invalidateTimer(); }

void AnimationTicker::scheduleTimer(float interval) {
    invalidateTimer();
    ++_generation;
    // The block holds its object while the timer is valid; an object that nobody shares is kept safe by its
    // destructor, which invalidates the timer.
    std::shared_ptr<AnimationTicker> owner = weak_from_this().lock();
    AnimationTicker* self = this;
    _timer = Timer::scheduledTimer(static_cast<TimeInterval>(interval), true, [owner, self](Timer&) {
        const auto keepAlive = owner; // the tick may invalidate this timer and so release the block
        self->timerFired();
    });
}

void AnimationTicker::invalidateTimer() {
    if (!_timer) return;
    const std::shared_ptr<Timer> timer = std::move(_timer);
    _timer = nullptr;
    timer->invalidate();
}

namespace {

constexpr const char* kNoAnimators = "WARNUNG: Es sind keine Animator Objekte definiert.";
constexpr const char* kInvalidAnimator = "FEHLER: Das Animator Objekt ist ungültig.";

void printLine(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

// Removes the first entry that is `item`; tells whether there was one.
bool removeFirst(std::vector<AnimatorRef>& list, const Animator* item) {
    const auto it =
        std::find_if(list.begin(), list.end(), [item](const AnimatorRef& m) { return m.get() == item; });
    if (it == list.end()) return false;
    list.erase(it);
    return true;
}

} // namespace

// ---------------------------------------------------------------------------
// Animator

Animator::Animator() { _classCount.fetch_add(1, std::memory_order_relaxed); }

Animator::Animator(float sourceValue, float destinationValue, Int frames, float interval, EnumEasing type)
    : Animator() {
    setup(sourceValue, destinationValue, frames, interval, type);
}

Animator::~Animator() { _classCount.fetch_sub(1, std::memory_order_relaxed); }

void Animator::setup(float source, float destination, Int frames, float interval, EnumEasing type) {
    _source = source;
    _destination = destination;
    _value = _source;
    _amount = _destination - _source;
    _frames = frames;
    _frameCount = _frames;
    _step = 0;
    _interval = interval;
    setType(type);
    if (_frames < 0) _frames = 0;
    if (_amount == 0.0f) _frames = 0;
}

void Animator::setType(EnumEasing type) {
    _type = type;
    _action = curveFor(type);
}

void Animator::reverse() { setup(_destination, _source, _frames, _interval, _type); }

void Animator::rewind() { setup(_source, _destination, _frameCount, 0.009f, EnumEasing::EASING_easeNone); }

void Animator::undo() {
    setup(_source, _destination, 1, 0.009f, EnumEasing::EASING_easeNone);
    animate();
    animate();
}

void Animator::start() { scheduleTimer(_interval); }

void Animator::stop() {
    invalidateTimer();
    reset();
}

void Animator::reset() {
    _step = 0;
    _frames = -1;
    looped = false;
}

void Animator::animate() {
    if (_frames < 0) return;
    if (_step < _frames) {
        notifyCallback(onAnimation, *this, _value);
        // The callback may have stopped the run or set up a shorter one: a frame outside the run is never
        // evaluated (a curve over 0 frames divides by zero); the next tick ends it instead.
        if (_step >= _frames) return;
        ++_step;
        _value = _action(_step, _source, _amount, _frames);
        return;
    }
    _value = _destination;
    if (looped) {
        notifyCallback(onLoop, *this);
        reverse();
        return;
    }
    stop();
    notifyCallback(onFinished, *this, _value);
}

// ---------------------------------------------------------------------------
// AnimatorStack

void AnimatorStack::add(AnimatorRef item) {
    if (item) _animators.push_back(std::move(item));
}

void AnimatorStack::reset() {
    invalidateTimer();
    _animators.clear();
}

void AnimatorStack::animate() {
    // Members added by a callback wait for the next tick; the copy also keeps every member alive if a
    // callback empties the stack.
    const std::vector<AnimatorRef> members = _animators;
    bool stepped = false;
    for (const AnimatorRef& member : members) {
        if (member->isFinished()) continue;
        notifyCallback(onAnimation, *this, *member);
        member->animate();
        stepped = true;
        if (member->isFinished() && removeFirst(_animators, member.get())) {
            notifyCallback(onRemovedItem, *this, *member);
        }
    }
    if (!stepped) finishRun(*this, onFinished);
}

// ---------------------------------------------------------------------------
// AnimatorChain

void AnimatorChain::add(AnimatorRef item) {
    if (item) _animators.push_back(std::move(item));
}

void AnimatorChain::remove(const AnimatorRef& item) {
    if (item) removeFirst(_animators, item.get());
}

void AnimatorChain::removeAll() {
    stop();
    _animators.clear();
}

AnimatorRef AnimatorChain::getCurrentItem() const {
    if (_currentIndex < 0 || _currentIndex >= getCount()) return nullptr;
    return _animators[static_cast<std::size_t>(_currentIndex)];
}

void AnimatorChain::start() {
    // A backward run from the rest position begins with the last member: the first tick brings -1 there.
    if (_direction < 0 && _currentIndex == 0) _currentIndex = -1;
    scheduleTimer(interval);
}

void AnimatorChain::reset() {
    invalidateTimer();
    _currentIndex = 0;
}

bool AnimatorChain::passedEnd() const {
    return _direction > 0 ? _currentIndex >= getCount() : _currentIndex < 0;
}

void AnimatorChain::animate() {
    if (_animators.empty()) {
        printLine(kNoAnimators);
        return;
    }
    _currentIndex =
        std::clamp<std::int64_t>(_currentIndex < 0 ? getCount() - 1 : _currentIndex, 0, getCount() - 1);
    const AnimatorRef member = _animators[static_cast<std::size_t>(_currentIndex)];
    notifyCallback(onAnimation, *this, *member);
    if (async) {
        member->start();
        _currentIndex += _direction;
    } else {
        member->animate();
        if (member->isFinished()) _currentIndex += _direction;
    }
    if (passedEnd()) finishRun(*this, onFinished);
}

// ---------------------------------------------------------------------------
// AnimationSequencer

void AnimationSequencer::add(AnimatorRef item, std::int64_t at) {
    if (!item) {
        printLine(kInvalidAnimator);
        return;
    }
    item->setStartFrame(at);
    _animators.push_back(std::move(item));
    std::stable_sort(_animators.begin(), _animators.end(), [](const AnimatorRef& a, const AnimatorRef& b) {
        return a->startFrame() < b->startFrame();
    });
    calculateFrames();
}

void AnimationSequencer::remove(const AnimatorRef& item) {
    if (item) removeFirst(_animators, item.get());
    calculateFrames();
}

void AnimationSequencer::removeAll() {
    _animators.clear();
    _maxFrames = 0;
}

void AnimationSequencer::calculateFrames() {
    for (const AnimatorRef& member : _animators) {
        _maxFrames = std::max(_maxFrames, member->startFrame() + member->frames());
    }
}

void AnimationSequencer::rewind() {
    for (const AnimatorRef& member : _animators) member->rewind();
}

void AnimationSequencer::reset() {
    invalidateTimer();
    _currentIndex = 0;
    _currentFrame = 0;
}

void AnimationSequencer::seek(std::int64_t to) {
    _currentFrame = to;
    _currentIndex = 0;
    if (_currentFrame > _maxFrames) {
        stop();
        return;
    }
    // Members that began before the target count as done; the others start over from their source.
    for (const AnimatorRef& member : _animators) {
        if (member->startFrame() < _currentFrame) {
            member->stop();
            ++_currentIndex;
        } else {
            member->rewind();
        }
    }
}

void AnimationSequencer::tick() {
    ++_currentFrame;
    animate();
}

void AnimationSequencer::findAnimators() {
    // The scan starts where the last one took a member in; a start past the end (members removed after a
    // seek) scans nothing.
    for (auto i = static_cast<std::size_t>(std::max<std::int64_t>(_currentIndex, 0)); i < _animators.size();
         ++i) {
        const AnimatorRef& member = _animators[i];
        if (member->startFrame() <= _currentFrame && !member->isFinished()) {
            _currentIndex = static_cast<std::int64_t>(i);
            scheduleItem(member);
        }
    }
}

void AnimationSequencer::scheduleItem(const AnimatorRef& item) {
    const bool active = std::any_of(_animatedItems.begin(), _animatedItems.end(),
                                    [&item](const AnimatorRef& m) { return m == item; });
    if (!active) _animatedItems.push_back(item);
}

void AnimationSequencer::animate() {
    if (_suspended) return;
    if (_animators.empty()) {
        printLine(kNoAnimators);
        return;
    }
    findAnimators();
    const std::vector<AnimatorRef> active = _animatedItems;
    for (const AnimatorRef& member : active) {
        notifyCallback(onAnimation, *this, *member);
        member->animate();
        if (member->isFinished()) removeFirst(_animatedItems, member.get());
    }
    if (_currentFrame >= _maxFrames) finishRun(*this, onFinished);
}

// ---------------------------------------------------------------------------
// Impulse

Impulse::Impulse(std::int64_t frames, float amount, float interval, float intensity) : Impulse() {
    setup(frames, amount, interval, intensity);
}

void Impulse::setup(std::int64_t frames, float amount, float interval, float intensity) {
    _frames = std::max<std::int64_t>(frames, 0);
    _source = amount;
    _amount = amount;
    _intensity = intensity;
    _interval = interval;
}

void Impulse::setMinMax(bool enabled, float min, float max) {
    _collision = enabled;
    _minVal = min;
    _maxVal = max;
}

void Impulse::stop() {
    invalidateTimer();
    reset();
}

void Impulse::reset() {
    _frames = -1;
    _amount = 0.0f;
    _value = 0.0f;
}

void Impulse::animate() {
    _amount *= _intensity;
    if (std::fabs(_amount) < _threshold) {
        _amount = 0.0f;
        finishRun(*this, onFinished);
        return;
    }
    _value += _amount;
    if (_collision && (_value <= _minVal || _value >= _maxVal)) {
        // Step back and move the other way for the rest of the run.
        _amount = -_amount;
        _value += _amount;
        notifyCallback(onCollision, *this);
    }
    notifyCallback(onAnimation, *this);
}
