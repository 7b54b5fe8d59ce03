#include "dsp/BandSplitFilter3.h"

#include <algorithm>
#include <bit>
#include <cstdint>

// ---- SVFilter4Pole1 ----

namespace {

using StateField = float SVFilter4Pole1::*;
constexpr StateField kBand[4] = {&SVFilter4Pole1::b1, &SVFilter4Pole1::b2, &SVFilter4Pole1::b3,
                                 &SVFilter4Pole1::b4};
constexpr StateField kLow[4] = {&SVFilter4Pole1::r1, &SVFilter4Pole1::r2, &SVFilter4Pole1::r3,
                                &SVFilter4Pole1::r4};

bool sameBits(float a, float b) { return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b); }

} // namespace

SVFilter4Pole1::SVFilter4Pole1() { init(); }

void SVFilter4Pole1::reset() noexcept {
    cutoff = resonance = booster = cf = cq = 0.0f;
    b1 = r1 = b2 = r2 = b3 = r3 = b4 = r4 = 0.0f;
    fMode = 0.0f;
    fCutoff = 0.5f;
    fResonance = 0.0f;
    processParameters();
}

void SVFilter4Pole1::setCutoff(float c) noexcept {
    fCutoff = c;
    processParameters();
}

void SVFilter4Pole1::processParameters() noexcept {
    float m = Modulator::getValueFrequencyScaled(fCutoff);
    if (static_cast<double>(m) < 0.0012) m = 0.0012f;
    if (m > 1.0f) m = 1.0f;
    const float r = fResonance > 0.0f ? std::min(fResonance, 1.0f) : 0.0f; // NaN counts as 0
    if (m == cutoff && r == resonance) return;
    cutoff = m;
    resonance = r;
    const float q = r * r + 0.05f;
    booster = 0.7f + (1.0f - q);
    cf = m;
    cq = 1.0f / (q * (1.0f + (1.0f - m)) * 25.0f);
}

int SVFilter4Pole1::activeStages() const { return 1 + (fPoles > 1.0f) + (fPoles > 2.0f) + (fPoles > 3.0f); }

SVFilter4Pole1::Stage SVFilter4Pole1::loadStage(int k) const { return {this->*kBand[k], this->*kLow[k]}; }

void SVFilter4Pole1::storeStage(int k, Stage stage) {
    this->*kBand[k] = stage.b;
    this->*kLow[k] = stage.r;
}

// The stages see the same input and coefficients, so once they hold the same
// state they stay bit-identical and one of them can stand for all.
bool SVFilter4Pole1::stagesInStep() const {
    for (int k = 1; k < activeStages(); ++k) {
        const Stage stage = loadStage(k);
        if (!sameBits(stage.b, b1) || !sameBits(stage.r, r1)) return false;
    }
    return true;
}

void SVFilter4Pole1::Runner::finish() {
    stage.settle(freq);
    for (int k = 0; k < owner.activeStages(); ++k) owner.storeStage(k, stage);
}

template <SVFilter4Pole1::Pass P>
void SVFilter4Pole1::process(const float* in, float* out, float* rest, int n) {
    if (!stagesInStep()) {
        processEachStage<P>(in, out, rest, n);
        return;
    }
    Runner runner(*this);
    for (int i = 0; i < n; ++i) {
        const float x = in[i];
        const float y = P == Pass::High ? runner.high(x) : runner.low(x);
        out[i] = y;
        rest[i] = x - y;
    }
    runner.finish();
}

// Every active stage in turn; the output comes from the last one.
template <SVFilter4Pole1::Pass P>
void SVFilter4Pole1::processEachStage(const float* in, float* out, float* rest, int n) {
    const int stages = activeStages();
    for (int i = 0; i < n; ++i) {
        const float x = in[i];
        float y = 0.0f;
        for (int k = 0; k < stages; ++k) {
            Stage stage = loadStage(k);
            y = stage.tick<P>(x, cf, cq);
            storeStage(k, stage);
        }
        out[i] = flushDenormal(y * booster);
        rest[i] = x - out[i];
    }
    for (int k = 0; k < stages; ++k) {
        Stage stage = loadStage(k);
        stage.settle(cf);
        storeStage(k, stage);
    }
}

void SVFilter4Pole1::processBufferHP(const float* in, float* out, float* rest, int n) noexcept {
    process<Pass::High>(in, out, rest, n);
}

void SVFilter4Pole1::processBufferLP(const float* in, float* out, float* rest, int n) noexcept {
    process<Pass::Low>(in, out, rest, n);
}

void SVFilter4Pole1::processSampleHP(float* sample) noexcept {
    float rest;
    process<Pass::High>(sample, sample, &rest, 1);
}

void SVFilter4Pole1::processSampleLP(float* sample) noexcept {
    float rest;
    process<Pass::Low>(sample, sample, &rest, 1);
}

// ---- BandSplitFilter3 ----

BandSplitFilter3::BandSplitFilter3() {
    setSamplerate(48000.0f);
    reset();
    setCutoff1(0.333f);
    setCutoff2(0.666f);
}

void BandSplitFilter3::setSamplerate(float rate) {
    fSamplerate = rate;
    for (int c = 0; c < 2; ++c) {
        lpf[c].setSamplerate(rate);
        hpf[c].setSamplerate(rate);
    }
}

void BandSplitFilter3::setCutoff1(float v) noexcept {
    if (!(v >= 0.0f && v <= 1.0f)) return;
    fCutoff1 = std::min(v, fCutoff2);
    for (auto& filter : lpf) filter.setCutoff(fCutoff1);
}

void BandSplitFilter3::setCutoff2(float v) noexcept {
    if (!(v >= 0.0f && v <= 1.0f)) return;
    fCutoff2 = std::max(v, fCutoff1);
    for (auto& filter : hpf) filter.setCutoff(fCutoff2);
}

void BandSplitFilter3::clear() noexcept {
    std::fill(&bufferLP[0][0], &bufferLP[0][0] + 2 * kMaxFrames, 0.0f);
    std::fill(&bufferHP[0][0], &bufferHP[0][0] + 2 * kMaxFrames, 0.0f);
    std::fill(&bufferBP[0][0], &bufferBP[0][0] + 2 * kMaxFrames, 0.0f);
}

void BandSplitFilter3::reset() noexcept {
    clear();
    for (int c = 0; c < 2; ++c) {
        hpf[c].reset();
        lpf[c].reset();
        // A filter reset falls back to its own cutoff; the split points stay as set.
        hpf[c].setCutoff(fCutoff2);
        lpf[c].setCutoff(fCutoff1);
    }
}

namespace {

// True when every sample is +0, the value a filter at rest gives back.
bool allPositiveZero(const float* x, int n) {
    std::uint32_t bits = 0;
    for (int i = 0; i < n; ++i) bits |= std::bit_cast<std::uint32_t>(x[i]);
    return bits == 0;
}

} // namespace

void BandSplitFilter3::split(const float* left, const float* right, int n) noexcept {
    n = std::clamp(n, 0, kMaxFrames);
    const bool inStep =
        hpf[0].stagesInStep() && hpf[1].stagesInStep() && lpf[0].stagesInStep() && lpf[1].stagesInStep();
    if (!inStep) {
        splitEachFilter(left, right, n);
    } else if (atRest() && allPositiveZero(left, n) && allPositiveZero(right, n)) {
        // Silence into filters at rest comes out as exact zeros and leaves them at rest.
        for (auto* rows : {bufferLP, bufferBP, bufferHP})
            for (int c = 0; c < 2; ++c) std::fill(rows[c], rows[c] + n, 0.0f);
    } else {
        splitInterleaved(left, right, n);
    }
}

bool BandSplitFilter3::atRest() const {
    for (const auto* filter : {&hpf[0], &hpf[1], &lpf[0], &lpf[1]})
        if (std::bit_cast<std::uint32_t>(filter->b1) != 0 || std::bit_cast<std::uint32_t>(filter->r1) != 0)
            return false;
    return true;
}

// The two passes per channel: high pass from the input, low pass from what is left.
void BandSplitFilter3::splitEachFilter(const float* left, const float* right, int n) noexcept {
    const float* input[2] = {left, right};
    for (int c = 0; c < 2; ++c) {
        hpf[c].processBufferHP(input[c], bufferHP[c], bufferBP[c], n);
        lpf[c].processBufferLP(bufferBP[c], bufferLP[c], bufferBP[c], n);
    }
}

// Same arithmetic as splitEachFilter, with the four filters interleaved so that
// their feedback loops overlap instead of running one after another.
void BandSplitFilter3::splitInterleaved(const float* left, const float* right, int n) noexcept {
    SVFilter4Pole1::Runner highL(hpf[0]), highR(hpf[1]), lowL(lpf[0]), lowR(lpf[1]);
    for (int i = 0; i < n; ++i) {
        const float xl = left[i], xr = right[i];
        const float hl = highL.high(xl), hr = highR.high(xr);
        const float restL = xl - hl, restR = xr - hr;
        const float ll = lowL.low(restL), lr = lowR.low(restR);
        bufferHP[0][i] = hl;
        bufferHP[1][i] = hr;
        bufferLP[0][i] = ll;
        bufferLP[1][i] = lr;
        bufferBP[0][i] = restL - ll;
        bufferBP[1][i] = restR - lr;
    }
    highL.finish();
    highR.finish();
    lowL.finish();
    lowR.finish();
}
