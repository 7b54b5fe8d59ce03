#include "dsp/Compander.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "dsp/Denormal.h"

namespace {

bool usableRate(float rate) { return std::isfinite(rate) && rate > 0.0f; }

bool within(float x, float lo, float hi) { return x >= lo && x <= hi; }

// A step of one over a ramp length; a step below the flush level is no step at all.
double stepFor(float samples) { return flushDenormal(1.0 / static_cast<double>(samples)); }

} // namespace

Follower::Follower() {
    setSamplerate(48000.0f);
    init();
}

void Follower::setSamplerate(float rate) {
    if (!usableRate(rate)) return;
    fSamplerate = rate;
    setAttack(0.01f);
    setRelease(0.5f);
    setDecay(0.0001f);
}

void Follower::setAttack(float seconds) noexcept {
    if (!within(seconds, 0.0f, 1.0f)) return;
    fAttack = seconds;
    attackTime = std::max(seconds * fSamplerate, 16.0f);
    increase = stepFor(attackTime);
}

void Follower::setRelease(float seconds) noexcept {
    if (!within(seconds, 0.0f, 10.0f)) return;
    fRelease = seconds;
    releaseTime = std::max(seconds * fSamplerate, 16.0f);
    decrease = stepFor(releaseTime);
}

void Follower::setDecay(float seconds) noexcept {
    if (!within(seconds, 0.0f, 1.0f)) return;
    fDecay = seconds;
    decayTime = holdSamples();
}

std::int32_t Follower::holdSamples() const {
    // Saturate so an extreme rate cannot overflow the counter.
    const double samples = static_cast<double>(fDecay) * static_cast<double>(fSamplerate);
    return static_cast<std::int32_t>(std::min(samples, double{std::numeric_limits<std::int32_t>::max()}));
}

void Follower::processSample(const float* sample) noexcept {
    const double v = std::fabs(static_cast<double>(*sample));
    if (v > currentPeak) {
        currentPeak += increase;
        decayTime = holdSamples();
    } else if (v < currentPeak) {
        if (decayTime-- <= 0) {
            decayTime = 0;
            currentPeak = flushDenormal(std::max(currentPeak - decrease, 0.0));
        }
    }
}

float Follower::getPeakInverted() const {
    return 1.0f - static_cast<float>(std::clamp(currentPeak, 0.0, 1.0));
}

Compander::Compander() {
    setSamplerate(48000.0f);
    init();
    setMultiplier(1.0f);
    setInverted(false);
}

void Compander::setSamplerate(float rate) {
    if (!usableRate(rate)) return;
    fSamplerate = rate;
    inputFollower.setSamplerate(rate);
    outputFollower.setSamplerate(rate);
}

void Compander::setMultiplier(float m) noexcept {
    if (!(m < std::numeric_limits<float>::infinity())) return;
    fMultiplier = std::max(m, -1.0f);
}

void Compander::reset() noexcept {
    inputFollower.reset();
    outputFollower.reset();
    factor = 1.0f;
}

float Compander::gainFor(float peak) const {
    if (peak == 1.0f) return 1.0f;
    if (peak > 1.0f) return 1.0f / peak;
    return 1.0f + inputFollower.getPeakInverted() * fMultiplier;
}

void Compander::processBuffers(float* left, float* right, long n) noexcept {
    for (long i = 0; i < n; ++i) {
        const float sum = left[i] + right[i];
        inputFollower.processSample(&sum);
        factor = gainFor(inputFollower.getPeak());
        const float l = left[i] * factor;
        const float r = right[i] * factor;
        if (bInverted) {
            left[i] -= l;
            right[i] -= r;
        } else {
            left[i] = l;
            right[i] = r;
        }
        const float scaled = l + r;
        outputFollower.processSample(&scaled);
    }
}
