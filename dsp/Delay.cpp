#include "dsp/Delay.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "dsp/Denormal.h"
#include "dsp/VectorMath.h"

namespace {

// Stores x clamped to lo..hi unless it is NaN.
void clampInto(float& field, float x, float lo, float hi) {
    if (!std::isnan(x)) field = std::clamp(x, lo, hi);
}

// Cycle length in samples, clamped before the conversion so it is always defined.
std::int64_t cycleLength(double samples) {
    return static_cast<std::int64_t>(std::clamp(samples, 1.0, static_cast<double>(Delay::kMaxLength)));
}

} // namespace

Delay::Delay() { reset(); }

void Delay::setSamplerate(float rate) {
    if (!(std::isfinite(rate) && rate > 0.0f)) return;
    fSamplerate = rate;
    len = cycleLength(std::trunc(static_cast<double>(rate) * 2.0));
    setPhase(fPhase);
}

void Delay::setPhase(float p) {
    clampInto(fPhase, p, 0.0f, 1.0f);
    posWrite = static_cast<float>(len) * fPhase;
}

void Delay::setTempo(float bpm) noexcept { clampInto(fTempo, bpm, 15.0f, 960.0f); }

void Delay::setDivision(float d) noexcept { clampInto(fTempoDivision, d, 0.125f, 128.0f); }

void Delay::setFeedback(float f) noexcept { clampInto(fFeedback, f, 0.0f, 0.98f); }

void Delay::resetDelayTime() {
    // One beat (half a second at 120 BPM) divided by the division.
    const double beatSamples = static_cast<double>(fSamplerate) * 60.0 / static_cast<double>(fTempo);
    len = cycleLength(beatSamples / static_cast<double>(fTempoDivision));
    posRead = 0.0f;
    posWrite = static_cast<float>(len) * fPhase;
}

void Delay::reset() noexcept {
    std::fill(std::begin(delay_buffer), std::end(delay_buffer), 0.0f);
    posWrite = 0.0f;
    posRead = 0.0f;
    scaler = 1.0f;
    fPhase = 0.0f;
    fTempo = 120.0f;
    fFeedback = 0.5f;
    fTempoDivision = 1.0f;
    setSamplerate(fSamplerate);
    setDivision(fTempoDivision);
    setTempo(fTempo);
    resetDelayTime();
}

float Delay::processSample(float x) noexcept {
    if (posRead >= static_cast<float>(len)) resetDelayTime();
    const float out = delay_buffer[static_cast<std::int64_t>(posRead)];
    posRead += 1.0f;
    if (posWrite >= static_cast<float>(len)) posWrite = 0.0f;
    delay_buffer[static_cast<std::int64_t>(posWrite)] = flushDenormal(x + out * fFeedback);
    posWrite += 1.0f;
    return out;
}

void Delay::processBuffer(const float* in, float* out, long n) noexcept {
    for (long i = 0; i < n;) {
        const long run = wholeRun(n - i);
        if (run == 0) {
            out[i] += processSample(in[i]);
            ++i;
            continue;
        }
        runLine(in + i, out + i, run);
        i += run;
    }
}

// Frames from here on, up to `wanted`, before either position wraps and while
// stepping the float positions one by one stays exact: in such a run the
// positions are plain array indices. 0 where the next frame must go the
// per-sample way.
long Delay::wholeRun(long wanted) const noexcept {
    if (!(posRead < static_cast<float>(len) && posWrite < static_cast<float>(len))) return 0;
    const auto read = static_cast<std::int64_t>(posRead);
    const auto write = static_cast<std::int64_t>(posWrite);
    const long run = static_cast<long>(std::min<std::int64_t>({wanted, len - read, len - write}));
    // A fractional write position loses its fraction when it steps into a
    // coarser binade; the run holds if its end is still representable.
    const double end = static_cast<double>(posWrite) + static_cast<double>(run);
    return static_cast<double>(static_cast<float>(end)) == end ? run : 0;
}

void Delay::runLine(const float* in, float* out, long run) noexcept {
    using namespace VectorMath;
    float* read = delay_buffer + static_cast<std::int64_t>(posRead);
    float* write = delay_buffer + static_cast<std::int64_t>(posWrite);
    const float feedback = fFeedback;
    long k = 0;
    // Four at a time only where no write lands on a read still to come.
    if (write <= read || write - read >= 4)
        for (; k + 4 <= run; k += 4) {
            const Lanes y = load(read + k);
            const Lanes x = load(in + k);
            store(write + k, flush(x + y * feedback));
            store(out + k, load(out + k) + y);
        }
    for (; k < run; ++k) {
        const float y = read[k];
        const float x = in[k];
        write[k] = flushDenormal(x + y * feedback);
        out[k] += y;
    }
    posRead += static_cast<float>(run);
    posWrite = static_cast<float>(static_cast<double>(posWrite) + static_cast<double>(run));
}

StereoDelay::StereoDelay() {
    setSamplerate(44100.0f);
    setTempo(120.0f);
    left.setPhase(0.5f);
    setDivision(16.0f);
    setFeedback(0.0f);
}

void StereoDelay::setSamplerate(float rate) {
    left.setSamplerate(rate);
    right.setSamplerate(rate);
}

void StereoDelay::setTempo(float bpm) noexcept {
    if (std::isnan(bpm)) return;
    fTempo = bpm;
    left.setTempo(bpm);
    right.setTempo(bpm);
}

void StereoDelay::setDivision(float d) noexcept {
    left.setDivision(d);
    right.setDivision(d);
}

void StereoDelay::setFeedback(float f) noexcept {
    left.setFeedback(f);
    right.setFeedback(f);
}

void StereoDelay::reset() noexcept {
    left.reset();
    right.reset();
}

void StereoDelay::processBuffer(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                                long n) noexcept {
    left.processBuffer(inLeft, outLeft, n);
    right.processBuffer(inRight, outRight, n);
}
