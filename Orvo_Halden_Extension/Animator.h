#pragma once

// The animation library: easing curves, the frame-stepping Animator, groups that drive several Animators
// from one timer (stack, chain, sequencer) and a decaying impulse. Everything runs on the thread whose
// run loop started it; callbacks run synchronously inside the tick.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class Timer;

enum class EnumEasing : std::int64_t {
    EASING_easeNone = 0,
    EASING_easeInQuad,
    EASING_easeOutQuad,
    EASING_easeInOutQuad,
    EASING_easeOutInQuad,
    EASING_easeInCubic,
    EASING_easeOutCubic,
    EASING_easeInOutCubic,
    EASING_easeOutInCubic,
    EASING_easeInQuart,
    EASING_easeOutQuart,
    EASING_easeInOutQuart,
    EASING_easeOutInQuart,
    EASING_easeInQuint,
    EASING_easeOutQuint,
    EASING_easeInOutQuint,
    EASING_easeOutInQuint,
    EASING_easeInSine,
    EASING_easeOutSine,
    EASING_easeInOutSine,
    EASING_easeOutInSine,
    EASING_easeInExpo,
    EASING_easeOutExpo,
    EASING_easeInOutExpo,
    EASING_easeOutInExpo,
    EASING_easeInCirc,
    EASING_easeOutCirc,
    EASING_easeInOutCirc,
    EASING_easeOutInCirc,
    EASING_easeInElastic,
    EASING_easeOutElastic,
    EASING_easeInOutElastic,
    EASING_easeOutInElastic,
    EASING_easeInBack,
    EASING_easeOutBack,
    EASING_easeInOutBack,
    EASING_easeOutInBack,
    EASING_easeInBounce,
    EASING_easeOutBounce,
    EASING_easeInOutBounce,
    EASING_easeOutInBounce,
    EASING_easeLast,
};

// The curve for a stored raw value; nothing for values outside 0...41.
std::optional<EnumEasing> easingFromRawValue(std::int64_t rawValue);

// Calls an optional callback through a copy: the callback may replace or clear itself while it runs.
template <class Callback, class... Args> void notifyCallback(const Callback& callback, Args&&... args) {
    if (!callback) return;
    const Callback call = callback;
    call(std::forward<Args>(args)...);
}

// Base of every animation object: owns the repeating timer that drives it. While the timer is scheduled
// it keeps its object alive, so an owner may start an animation and let go of it; the object goes away
// once its run has stopped the timer.
class AnimationTicker : public std::enable_shared_from_this<AnimationTicker> {
public:
    AnimationTicker() = default;
    AnimationTicker(const AnimationTicker&) = delete;
    AnimationTicker& operator=(const AnimationTicker&) = delete;
    virtual ~AnimationTicker();

    bool isTimerScheduled() const { return _timer != nullptr; }

protected:
    // A timer already running is invalidated first: a restart never leaves the old one ticking.
    void scheduleTimer(float interval);
    void invalidateTimer();

    // Reports the end of a run, then stops, unless the report itself started a new run.
    template <class Self> void finishRun(Self& self, const std::function<void(Self&)>& onFinished) {
        const std::uint64_t generation = _generation;
        notifyCallback(onFinished, self);
        if (_generation == generation) self.stop();
    }

    virtual void timerFired() = 0;

private:
    std::shared_ptr<Timer> _timer;
    std::uint64_t _generation = 0; // timers scheduled so far
};

class Animator : public AnimationTicker {
public:
    using Int = std::int64_t;
    using Curve = float (*)(Int currentFrame, float sourceValue, float amount, Int numFrames);

    Animator();
    Animator(float sourceValue, float destinationValue, Int frames, float interval = 0.009f,
             EnumEasing type = EnumEasing::EASING_easeNone);
    ~Animator() override;

    // Live Animators in the process.
    static Int classCount() { return _classCount.load(std::memory_order_relaxed); }

    void setup(float source, float destination, Int frames, float interval = 0.009f,
               EnumEasing type = EnumEasing::EASING_easeNone);
    void reverse();
    void undo();
    void rewind();
    void start();
    void stop();
    void animate();
    bool isFinished() const { return _frames < 0; }

    float getValue() const { return _value; }
    float getSourceValue() const { return _source; }
    float getDestinationValue() const { return _destination; }
    void setType(EnumEasing type);
    void setInterval(float interval) { _interval = interval; }

    EnumEasing type() const { return _type; }
    float interval() const { return _interval; }
    Int frames() const { return _frames; }
    Int frameCount() const { return _frameCount; }
    Int step() const { return _step; }
    Int startFrame() const { return _startFrame; }
    void setStartFrame(Int frame) { _startFrame = frame; }

    bool looped = false;
    std::function<void(Animator&, float)> onAnimation;
    std::function<void(Animator&, float)> onFinished;
    std::function<void(Animator&)> onLoop;

    // The curve a type selects; the end marker selects the linear one.
    static Curve curveFor(EnumEasing type);

    static float easeInElastic(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeOutElastic(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeInOutElastic(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeOutInElastic(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeInBack(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeOutBack(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeInOutBack(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeOutInBack(Int currentFrame, float sourceValue, float amount, Int numFrames);

private:
    void reset();
    void timerFired() override { animate(); }

    static float easeNone(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeInQuad(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeOutQuad(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeInOutQuad(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeOutInQuad(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeInCubic(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeOutCubic(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeInOutCubic(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeOutInCubic(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeInQuart(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeOutQuart(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeInOutQuart(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeOutInQuart(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeInQuint(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeOutQuint(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeInOutQuint(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeOutInQuint(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeInSine(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeOutSine(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeInOutSine(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeOutInSine(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeInExpo(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeOutExpo(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeInOutExpo(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeOutInExpo(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeInCirc(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeOutCirc(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeInOutCirc(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeOutInCirc(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeInBounce(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeOutBounce(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeInOutBounce(Int currentFrame, float sourceValue, float amount, Int numFrames);
    static float easeOutInBounce(Int currentFrame, float sourceValue, float amount, Int numFrames);

    static inline std::atomic<Int> _classCount{0};

    Int _startFrame = 0;
    Int _frameCount = 0;
    float _source = 0.0f;
    float _value = 0.0f;
    float _destination = 0.0f;
    float _amount = 0.0f;
    Int _frames = -1;
    Int _step = 0;
    float _interval = 0.005f;
    Curve _action = &easeNone;
    EnumEasing _type = EnumEasing::EASING_easeNone;
};

using AnimatorRef = std::shared_ptr<Animator>;

// Steps all members in parallel, one frame per tick, and drops each as soon as it has finished.
class AnimatorStack : public AnimationTicker {
public:
    void add(AnimatorRef item);
    std::int64_t getCount() const { return static_cast<std::int64_t>(_animators.size()); }
    std::vector<AnimatorRef> getItems() const { return _animators; }
    void start() { scheduleTimer(interval); }
    void stop() { reset(); }
    void animate();
    void reset();

    float interval = 0.005f;
    std::function<void(AnimatorStack&, Animator&)> onAnimation;
    std::function<void(AnimatorStack&)> onFinished;
    std::function<void(AnimatorStack&, Animator&)> onRemovedItem;

private:
    void timerFired() override { animate(); }

    std::vector<AnimatorRef> _animators;
};

// Steps one member at a time in list order; in asynchronous mode it starts one member per tick instead.
// Set backwards, a run started from the beginning goes from the last member down to the first, then ends.
class AnimatorChain : public AnimationTicker {
public:
    void add(AnimatorRef item);
    void remove(const AnimatorRef& item);
    void removeAll();
    std::int64_t getCount() const { return static_cast<std::int64_t>(_animators.size()); }
    std::int64_t getCurrentIndex() const { return _currentIndex; }
    AnimatorRef getCurrentItem() const;
    void start();
    void stop() { reset(); }
    void setBackwards(bool direction) { _direction = direction ? -1 : 1; }
    void animate();

    float interval = 0.005f;
    bool async = false;
    std::function<void(AnimatorChain&, Animator&)> onAnimation;
    std::function<void(AnimatorChain&)> onFinished;

private:
    void reset();
    void timerFired() override { animate(); }
    bool passedEnd() const;

    std::vector<AnimatorRef> _animators;
    std::int64_t _currentIndex = 0;
    std::int64_t _direction = 1;
};

// Plays a timeline of Animators, each placed at a start frame, from one frame counter.
class AnimationSequencer : public AnimationTicker {
public:
    void add(AnimatorRef item, std::int64_t at);
    void remove(const AnimatorRef& item);
    void removeAll();
    std::int64_t getCount() const { return static_cast<std::int64_t>(_animators.size()); }
    std::int64_t getCurrentCount() const { return static_cast<std::int64_t>(_animatedItems.size()); }
    std::int64_t getCurrentFrame() const { return _currentFrame; }
    std::int64_t getCurrentIndex() const { return _currentIndex; }
    std::int64_t maxFrames() const { return _maxFrames; }
    std::vector<AnimatorRef> getItems() const { return _animators; }
    void start() { scheduleTimer(interval); }
    void stop() { reset(); }
    void pause() { _suspended = true; }
    void resume() { _suspended = false; }
    void rewind();
    void seek(std::int64_t to);
    // What the timer does on every tick: the next frame, then animate().
    void tick();
    void animate();
    void calculateFrames();

    float interval = 0.005f;
    std::function<void(AnimationSequencer&, Animator&)> onAnimation;
    std::function<void(AnimationSequencer&)> onFinished;

private:
    void timerFired() override { tick(); }
    void findAnimators();
    void scheduleItem(const AnimatorRef& item);
    void reset();

    std::int64_t _currentFrame = 0;
    std::int64_t _maxFrames = 0;
    std::vector<AnimatorRef> _animators;
    std::vector<AnimatorRef> _animatedItems;
    std::int64_t _currentIndex = 0;
    bool _suspended = false;
};

// A value kicked by an amount that then moves by a step shrinking by a constant factor on every tick,
// optionally bouncing between two bounds, until the step falls below a threshold.
class Impulse : public AnimationTicker {
public:
    Impulse() = default;
    Impulse(std::int64_t frames, float amount, float interval = 0.009f, float intensity = 0.75f);

    void setup(std::int64_t frames, float amount, float interval = 0.009f, float intensity = 0.75f);
    void setMinMax(bool enabled, float min, float max);
    void start() { scheduleTimer(_interval); }
    void stop();
    void animate();
    bool isFinished() const { return _frames < 0; }
    float getSourceValue() const { return _source; }
    float getValue() const { return _value; }

    std::function<void(Impulse&)> onAnimation;
    std::function<void(Impulse&)> onFinished;
    std::function<void(Impulse&)> onCollision;

private:
    void reset();
    void timerFired() override { animate(); }

    std::int64_t _frames = -1;
    float _amount = 0.0f;
    float _value = 0.0f;
    float _source = 0.0f;
    float _intensity = 0.75f;
    float _threshold = 0.001f;
    float _interval = 0.009f;
    float _minVal = -1024.0f;
    float _maxVal = 1024.0f;
    bool _collision = false;
};
