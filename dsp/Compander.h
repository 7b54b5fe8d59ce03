#pragma once

#include <cstdint>

// Linear-ramp peak detector: rises by a fixed step per sample while the input
// is above it, holds for a while once the input drops, then falls linearly.
class Follower {
public:
    Follower();

    // Puts attack, release and hold back to their defaults. A rate that is not
    // a finite positive number is ignored.
    void setSamplerate(float rate);
    // Each is ignored outside its range (NaN included): attack 0..1 s,
    // release 0..10 s, hold 0..1 s.
    void setAttack(float seconds) noexcept;
    void setRelease(float seconds) noexcept;
    void setDecay(float seconds) noexcept;

    void init() { reset(); }
    void reset() noexcept { currentPeak = 0.0; }

    // Reads the sample; it is left unchanged.
    void processSample(const float* sample) noexcept;

    float getPeak() const { return static_cast<float>(currentPeak); }
    float getPeakInverted() const;

    float fSamplerate = 48000.0f;
    float fAttack = 0.01f;
    float fRelease = 1.0f;
    float fDecay = 0.001f;
    float attackTime = 480.0f;
    float releaseTime = 48000.0f;
    std::int32_t decayTime = 48;
    double increase = 0.0;
    double decrease = 0.0;
    double currentPeak = 0.0;

private:
    std::int32_t holdSamples() const;
};

// Gain from the input peak: limits above full scale; below it, the multiplier
// lifts quiet passages (> 0), leaves them (0) or pushes them down (< 0).
// Inverted, it outputs only the part the gain removed.
class Compander {
public:
    Compander();

    void setSamplerate(float rate);
    // Raised to -1 when below; NaN and +inf keep the old value.
    void setMultiplier(float m) noexcept;
    void setInverted(bool inverted) { bInverted = inverted; }

    void init() { reset(); }
    void reset() noexcept;

    // In place.
    void processBuffers(float* left, float* right, long n) noexcept;

    Follower inputFollower;
    Follower outputFollower;
    float fSamplerate = 48000.0f;
    float fMultiplier = 1.0f;
    float factor = 1.0f;
    bool bInverted = false;

private:
    float gainFor(float peak) const;
};
