#include "dsp/PSOLA.h"

#include <cmath>
#include <new>

// ---- CircularBuffer ---------------------------------------------------------

void CircularBuffer::reset() noexcept {
    clear();
    pos = size;
}

void CircularBuffer::setInitialDelay(int d) {
    if (d >= 0 && d <= size) pos = size - d;
}

void CircularBuffer::processBuffer(float* buf, int n) noexcept {
    if (buf == nullptr || data == nullptr) return;
    for (int i = 0; i < n; ++i) {
        wrap(size);
        data[pos++] = buf[i];
    }
}

void CircularBuffer::processBufferEx(float* buf, int n) noexcept {
    if (buf == nullptr || data == nullptr) return;
    for (int i = 0; i < n; ++i) {
        wrap(size);
        const float stored = data[pos];
        data[pos++] = buf[i];
        buf[i] = stored;
    }
}

// ---- Latency ----------------------------------------------------------------

Latency::Latency() { allocate(lSize); }

void Latency::setSize(int n) { lNewSize = n < 2 ? 1 : n; }

void Latency::startTurn(float first) {
    pos = 0;
    onBufferReady();
    if (lSize == lNewSize) return;
    allocate(lNewSize); // grows only: callers make the room ahead of time
    if (data == nullptr) return;
    lSize = lNewSize;
    data[0] = first;
}

void Latency::processBuffer(float* buf, int n) noexcept {
    if (buf == nullptr || !ready()) return;
    for (int i = 0; i < n; ++i) {
        if (pos >= lSize) startTurn(i > 0 ? buf[i - 1] : buf[i]);
        if (data == nullptr) return;
        data[pos++] = buf[i];
    }
}

void Latency::processBufferEx(float* buf, int n) noexcept {
    if (buf == nullptr || !ready()) return;
    float previous = buf[0];
    for (int i = 0; i < n; ++i) {
        const float x = buf[i];
        buf[i] = exchange(x, previous);
        previous = x;
    }
}

// ---- PitchShiftDelay --------------------------------------------------------

namespace PSOLA {

PitchShift::PitchShiftDelay::PitchShiftDelay(float delay, int maxDelay) {
    buffer.ensure(maxDelay > 0 ? maxDelay : 1);
    size_ = buffer.getSize();
    setDelay(delay);
    doNextOut_ = true;
}

void PitchShift::PitchShiftDelay::setMaximumDelay(int n) {
    if (n > 0) buffer.ensure(n);
    size_ = buffer.getSize();
}

// ---- PitchShift -------------------------------------------------------------

PitchShift::PitchShift(float lowestFreq, float samplerate) {
    setLowestFreq(lowestFreq, samplerate);
    setShift(1.0f);
    setFeedback(0.1f);
}

void PitchShift::setLowestFreq(float f, float fs) {
    if (std::isfinite(f)) fLowestFreq = f < 20.0f ? 20.0f : f;
    setSamplerate(fs);
}

void PitchShift::setSamplerate(float fs) {
    if (std::isfinite(fs)) fSamplerate = fs < 12000.0f ? 12000.0f : fs;
    // Limited in float first so the conversion is always in range.
    float n = fSamplerate / fLowestFreq;
    if (n < static_cast<float>(kMinWindow)) n = static_cast<float>(kMinWindow);
    if (n > static_cast<float>(kMaxWindow)) n = static_cast<float>(kMaxWindow);
    init(static_cast<int>(n));
}

void PitchShift::init(int n) {
    if (n < kMinWindow) n = kMinWindow;
    if (n > kMaxWindow) n = kMaxWindow;
    if (n == size) return;
    // The old configuration stays in place unless the new window exists.
    std::unique_ptr<float[]> fresh(new (std::nothrow) float[static_cast<std::size_t>(n)]());
    if (!fresh) return;
    size = n;
    window = std::move(fresh);

    // The window's pi is the ten-digit 3.1415926536, not std::numbers'.
    const int h = n / 2;
    for (int i = -h; i < h; ++i) {
        const float angle = static_cast<float>(3.1415926536 * i / h);
        window[static_cast<std::size_t>(i + h)] = (1.0f + std::cos(angle)) / 2.0f;
    }

    delayLength_ = n - 2 * period;
    halfLength_ = delayLength_ / 2;
    delay_[0] = static_cast<float>(period);
    delay_[1] = static_cast<float>(h);

    latency.ensure(halfLength_);
    latency.setSize(halfLength_);

    for (int k = 0; k < 2; ++k) {
        delayLine_[k].setMaximumDelay(n);
        delayLine_[k].setDelay(delay_[k]);
    }

    dephaser.fDepth = 1.0f;
    dephaser.fFeedback = 0.0f;
    dephaser.fFrequency = fSamplerate / static_cast<float>(halfLength_);
    dephaser.fMix = 1.0f;
    dephaser.lNumStages = 1;

    clear();
}

void PitchShift::setShift(float ratio) noexcept {
    if (std::isfinite(ratio)) rate_.store(1.0f - ratio, std::memory_order_relaxed);
}

void PitchShift::setFeedback(float f) noexcept {
    if (!std::isfinite(f)) return;
    fFeedback = f;
    for (auto& line : delayLine_) line.setFeedback(f);
}

void PitchShift::clear() noexcept {
    for (auto& line : delayLine_) line.clear();
    latency.clear();
    dephaser.clear();
}

inline float PitchShift::wrapDelay(float d) const {
    const float lo = static_cast<float>(period);
    const float hi = static_cast<float>(size - period);
    const float length = static_cast<float>(delayLength_);
    // One sweep is all a sane ratio ever needs; anything further is folded
    // in one step so that no ratio can keep this loop going.
    if (d > hi) {
        d -= length;
        if (d > hi) d = lo + std::fmod(d - lo, length);
    } else if (d < lo) {
        d += length;
        if (d < lo) d = hi - std::fmod(hi - d, length);
    }
    return d;
}

inline int PitchShift::windowIndex(float d) const {
    const int i = static_cast<int>(d) - 1;
    return i < 0 ? 0 : (i > size - 1 ? size - 1 : i);
}

float PitchShift::processSample(float x) noexcept {
    if (!window) return x; // only when the very first window could not be had
    delay_[0] = wrapDelay(delay_[0] + rate_.load(std::memory_order_relaxed));
    delay_[1] = wrapDelay(delay_[0] + static_cast<float>(halfLength_));
    delayLine_[0].setDelay(delay_[0]);
    delayLine_[1].setDelay(delay_[1]);
    const float gain0 = window[static_cast<std::size_t>(windowIndex(delay_[0]))];
    const float gain1 = window[static_cast<std::size_t>(windowIndex(delay_[1]))];

    if (!useLatency) return delayLine_[0].processSample(x) * gain0 + delayLine_[1].processSample(x) * gain1;

    const float out0 = gain0 * delayLine_[0].processSample(latency.processSampleEx(x));
    float out1 = gain1 * delayLine_[1].processSample(x);
    if (usePhaser) out1 = dephaser.processSample(out1);
    return out0 + out1;
}

void PitchShift::processBuffer(float* buffer, int n) noexcept {
    for (int i = 0; i < n; ++i) buffer[i] = processSample(buffer[i]);
}

} // namespace PSOLA
