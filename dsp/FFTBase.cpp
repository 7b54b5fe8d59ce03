#include "dsp/FFTBase.h"

#include <algorithm>
#include <cstring>
#include <numbers>
#include <utility>

#include "dsp/Denormal.h"

namespace SPECTRO {
namespace {

constexpr int kDefaultSize = 1024;
constexpr int kDefaultOverlap = 4;
constexpr float kDefaultSamplerate = 48000.0f;

bool isPowerOfTwo(int n) { return n > 0 && (n & (n - 1)) == 0; }

bool isValidSamplerate(float rate) { return std::isfinite(rate) && rate > 0.0f; }

// Takes away the whole multiples of 2 pi from a phase difference, folding it
// into about [-pi, pi].
float foldPhaseDifference(float d) {
    if (!(std::fabs(d) < 1.0e15f)) return 0.0f;
    long q = static_cast<long>(d / kPi);
    q += q >= 0 ? (q & 1) : -(q & 1);
    return d - kPi * static_cast<float>(q);
}

} // namespace

float wrapPhase(float phase) {
    if (!std::isfinite(phase)) return 0.0f;
    // Reduced in double so that even a large accumulator lands in range.
    const double turns = std::floor((static_cast<double>(phase) + kPi) / kTwoPi);
    phase = static_cast<float>(static_cast<double>(phase) - turns * static_cast<double>(kTwoPi));
    if (phase >= kPi) phase -= kTwoPi;
    if (phase < -kPi) phase += kTwoPi;
    return phase;
}

bool FFTBase::isValidLayout(int size, int overlap) {
    return isPowerOfTwo(size) && size >= 2 && size <= kMaxFrameSize && overlap >= 1 && overlap <= size;
}

FFTBase::FFTBase(int size, int overlap, float samplerate)
    : lFrameSize(isValidLayout(size, 1) ? size : kDefaultSize),
      fSamplerate(isValidSamplerate(samplerate) ? samplerate : kDefaultSamplerate),
      lOverlap(isValidLayout(lFrameSize, overlap) ? overlap : std::min(kDefaultOverlap, lFrameSize)) {
    init();
}

// The true hop count per frame. Where the overlap does not divide the frame
// (1024 / 6 is a hop of 170) the overlap itself would mis-state every phase
// advance by a little, bin by bin, and bins that should stay locked drift
// apart: a steady tone would swell and fade by up to 20 dB every few seconds.
float FFTBase::hopsPerFrame() const {
    return static_cast<float>(fftFrameSize) / static_cast<float>(stepSize);
}

void FFTBase::setSamplerate(float value) {
    if (!isValidSamplerate(value)) return;
    fSamplerate = value;
    freqPerBin = value / static_cast<float>(fftFrameSize);
}

void FFTBase::setSize(int value) {
    if (!isValidLayout(value, lOverlap)) return;
    lFrameSize = value;
    init();
}

void FFTBase::setOverlap(int value) {
    if (!isValidLayout(lFrameSize, value)) return;
    lOverlap = value;
    init();
}

void FFTBase::init() {
    const bool resized = fftFrameSize != lFrameSize;
    osamp = lOverlap;
    fftFrameSize = lFrameSize;
    fftFrameSize2 = fftFrameSize / 2;
    _2fftFrameSize = 2 * fftFrameSize;

    const int bins = fftFrameSize2 + 1;
    window.ensure(fftFrameSize);
    complex.ensure(2 * (fftFrameSize + 1));
    input.ensure(fftFrameSize);
    output.ensure(fftFrameSize);
    frequencies.ensure(bins);
    magnitudes.ensure(bins);
    magnitudes_norm.ensure(bins);
    magnitudes_peaks.ensure(bins);
    phases.ensure(bins);
    resynth.ensure(_2fftFrameSize);
    twiddles.ensure(fftFrameSize);
    buildTables();

    freqPerBin = fSamplerate / static_cast<float>(fftFrameSize);
    stepSize = fftFrameSize / osamp;
    expct = kTwoPi * static_cast<float>(stepSize) / static_cast<float>(fftFrameSize);
    inFifoLatency = fftFrameSize - stepSize;
    iterator = inFifoLatency;
    max = 1.0f;

    // The larger buffers kept from an earlier size still hold that layout's
    // samples, which would otherwise be replayed into the new frames.
    if (resized) {
        clear();
        magnitudes.clear();
    }
}

void FFTBase::buildTables() {
    const double n = static_cast<double>(fftFrameSize);
    if (float* w = window.getBuffer())
        for (int k = 0; k < fftFrameSize; ++k)
            w[k] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * k / n));
    if (float* t = twiddles.getBuffer())
        for (int m = 0; m < fftFrameSize2; ++m) {
            t[2 * m] = static_cast<float>(std::cos(2.0 * std::numbers::pi * m / n));
            t[2 * m + 1] = static_cast<float>(std::sin(2.0 * std::numbers::pi * m / n));
        }
}

void FFTBase::clear() {
    complex.clear();
    input.clear();
    output.clear();
    frequencies.clear();
    magnitudes_norm.clear();
    magnitudes_peaks.clear();
    phases.clear();
    resynth.clear();
    iterator = inFifoLatency;
}

void FFTBase::buffer2complex(float* src, float* dst) {
    if (src == nullptr) src = input.getBuffer();
    if (dst == nullptr) dst = complex.getBuffer();
    const float* w = window.getBuffer();
    if (w == nullptr || src == nullptr || dst == nullptr) return;
    for (int k = 0; k < fftFrameSize; ++k) {
        dst[2 * k] = src[k] * w[k];
        dst[2 * k + 1] = 0.0f;
    }
    fft(-1, dst);
}

void FFTBase::complex2frequencies(float* c) {
    if (c == nullptr) c = complex.getBuffer();
    float* mags = magnitudes.getBuffer();
    float* freqs = frequencies.getBuffer();
    float* last = phases.getBuffer();
    if (c == nullptr || mags == nullptr || freqs == nullptr || last == nullptr) return;
    const float binsPerRadian = hopsPerFrame() / kTwoPi;
    for (int k = 0; k <= fftFrameSize2; ++k) {
        const float re = c[2 * k];
        const float im = c[2 * k + 1];
        const float phase = std::atan2(im, re);
        float d = phase - last[k];
        last[k] = phase;
        d = foldPhaseDifference(d - static_cast<float>(k) * expct);
        mags[k] = 2.0f * std::sqrt(re * re + im * im);
        freqs[k] = static_cast<float>(k) * freqPerBin + binsPerRadian * d * freqPerBin;
    }
    onAnalysis(freqs, mags);
}

void FFTBase::frequencies2complex(float* mags, float* freqs, float* phaseAcc, float* c) {
    if (mags == nullptr) mags = magnitudes.getBuffer();
    if (freqs == nullptr) freqs = frequencies.getBuffer();
    if (phaseAcc == nullptr) phaseAcc = phases.getBuffer();
    if (c == nullptr) c = complex.getBuffer();
    if (mags == nullptr || freqs == nullptr || phaseAcc == nullptr || c == nullptr) return;
    const float radiansPerBin = kTwoPi / hopsPerFrame();
    for (int k = 0; k <= fftFrameSize2; ++k) {
        const float binFreq = static_cast<float>(k) * freqPerBin;
        const float advance =
            radiansPerBin * ((freqs[k] - binFreq) / freqPerBin) + static_cast<float>(k) * expct;
        const float phase = wrapPhase(phaseAcc[k] + advance);
        phaseAcc[k] = phase;
        c[2 * k] = mags[k] * std::cos(phase);
        c[2 * k + 1] = mags[k] * std::sin(phase);
    }
}

void FFTBase::complex2buffer(float* c, float* out) {
    if (c == nullptr) c = complex.getBuffer();
    const float* w = window.getBuffer();
    float* acc = resynth.getBuffer();
    if (w == nullptr || c == nullptr || acc == nullptr) return;
    onComplex(c);
    fft(1, c);
    const float norm = static_cast<float>(fftFrameSize2 * osamp);
    for (int k = 0; k < fftFrameSize; ++k) acc[k] += 2.0f * w[k] * c[2 * k] / norm;
    doOutput(out);
    shiftResyn();
}

void FFTBase::doOutput(float* out) {
    if (out == nullptr) out = output.getBuffer();
    const float* acc = resynth.getBuffer();
    if (out == nullptr || acc == nullptr) return;
    std::memcpy(out, acc, static_cast<std::size_t>(stepSize) * sizeof(float));
}

void FFTBase::shiftResyn() {
    if (float* acc = resynth.getBuffer())
        std::memmove(acc, acc + stepSize, static_cast<std::size_t>(fftFrameSize) * sizeof(float));
}

void FFTBase::shiftInput(float* buf) {
    if (buf == nullptr) buf = input.getBuffer();
    if (buf != nullptr)
        std::memmove(buf, buf + stepSize, static_cast<std::size_t>(inFifoLatency) * sizeof(float));
}

void FFTBase::onAnalysis(float* /*freqs*/, float* mags) {
    float* norm = magnitudes_norm.getBuffer();
    float* peaks = magnitudes_peaks.getBuffer();
    if (mags == nullptr || norm == nullptr || peaks == nullptr) return;
    float peak = 1.0f;
    for (int k = 0; k <= fftFrameSize2; ++k)
        if (mags[k] > peak) peak = mags[k];
    if (peak > max) max = peak;
    for (int k = 0; k <= fftFrameSize2; ++k) {
        norm[k] = mags[k] / max;
        peaks[k] = norm[k] >= peaks[k] ? norm[k] : flushDenormal(peaks[k] * 0.93f);
    }
    max -= 0.01f;
}

void FFTBase::bitReverse(float* buf) const {
    for (int i = 1, j = 0; i < fftFrameSize; ++i) {
        int bit = fftFrameSize >> 1;
        for (; (j & bit) != 0; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) {
            std::swap(buf[2 * i], buf[2 * j]);
            std::swap(buf[2 * i + 1], buf[2 * j + 1]);
        }
    }
}

void FFTBase::fft(int sign, float* buf) {
    if (buf == nullptr) buf = complex.getBuffer();
    const float* tw = twiddles.getBuffer();
    if (buf == nullptr || tw == nullptr) return;
    bitReverse(buf);
    const float direction = sign < 0 ? -1.0f : 1.0f;
    for (int half = 1, stride = fftFrameSize / 2; half < fftFrameSize; half *= 2, stride /= 2) {
        for (int start = 0; start < fftFrameSize; start += 2 * half) {
            float* p1 = buf + 2 * start;
            float* p2 = p1 + 2 * half;
            for (int j = 0; j < half; ++j) {
                const float wr = tw[2 * j * stride];
                const float wi = direction * tw[2 * j * stride + 1];
                const float tr = p2[2 * j] * wr - p2[2 * j + 1] * wi;
                const float ti = p2[2 * j] * wi + p2[2 * j + 1] * wr;
                p2[2 * j] = p1[2 * j] - tr;
                p2[2 * j + 1] = p1[2 * j + 1] - ti;
                p1[2 * j] += tr;
                p1[2 * j + 1] += ti;
            }
        }
    }
}

} // namespace SPECTRO
