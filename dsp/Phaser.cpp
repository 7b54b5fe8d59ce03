#include "dsp/Phaser.h"

#include <cmath>

#include "dsp/Denormal.h"

namespace {

// Fills the shared table exactly once, whichever thread constructs first.
float* sharedSineTable() {
    static const bool built = [] {
        for (long i = 0; i < SineOscillator::kTableSize; ++i) {
            SineOscillator::wave[i] = static_cast<float>(
                std::sin(SineOscillator::TWOPI * static_cast<double>(i) / SineOscillator::kTableSize));
        }
        return true;
    }();
    (void)built;
    return SineOscillator::wave;
}

} // namespace

SineOscillator::SineOscillator() {
    ++count;
    setTable(sharedSineTable(), kTableSize);
    setSamplerate(44100.0f);
    init();
}

SineOscillator::~SineOscillator() { --count; }

void SineOscillator::setTable(float* t, long n) {
    if (t == nullptr || n <= 0) return;
    table = t;
    // Shift that maps the 24-bit phase onto n entries: n << lobits reaches 2^24.
    std::int64_t bits = 0;
    for (std::int64_t len = n; len < kPhaseRange; len <<= 1) ++bits;
    lobits = bits;
}

void SineOscillator::setSamplerate(float fs) {
    if (!(fs > 0.0f) || !std::isfinite(fs)) return;
    fSamplerate = fs;
    fSamplerate_2 = fs * 0.5f;
    sicvt = static_cast<float>(kPhaseRange) / fs;
    updateIncrement();
}

void SineOscillator::setFrequency(float f) {
    if (!(f >= 0.0f) || !std::isfinite(f)) return;
    fFrequency = f;
    updateIncrement();
}

void SineOscillator::setGain(float g) {
    if (!(g >= 0.0f) || !std::isfinite(g)) return;
    fGain = g;
}

void SineOscillator::setPhase(float p) {
    if (!(p >= 0.0f && p <= 1.0f)) return;
    phase = static_cast<std::int64_t>(static_cast<float>(kPhaseRange) * p);
}

void SineOscillator::init() {
    setPhase(0.0f);
    setFrequency(440.0f);
    setGain(1.0f);
    retrigger();
}

void SineOscillator::updateIncrement() {
    // Only the step modulo 2^24 matters to the masked phase; taking it first
    // keeps the conversion in range for any rate.
    float step = fFrequency * sicvt;
    if (!std::isfinite(step)) step = 0.0f;
    if (step >= static_cast<float>(kPhaseRange)) step = std::fmod(step, static_cast<float>(kPhaseRange));
    increment = static_cast<std::int64_t>(step);
}

float CPhaser::AllPassDelay::processSample(float x) {
    const float y = -phase * x + zm;
    zm = flushDenormal(phase * y + x);
    return y;
}

void CPhaser::reset() {
    fDepth = 0.5f;
    fFeedback = 0.8f;
    fFrequency = 0.125f;
    lNumStages = kMaxStages;
    fPhase = 0.0f;
    fMix = 0.5f;
    for (auto& s : stage) s.reset();
    zm = 0.0f;
    oscillator.setPhase(fPhase);
}

void CPhaser::clear() {
    for (auto& s : stage) s.zm = 0.0f;
    zm = 0.0f;
}

void CPhaser::setSamplerate(float fs) {
    if (!(fs > 0.0f) || !std::isfinite(fs)) return;
    fSamplerate = fs;
    oscillator.setSamplerate(fs);
}

void CPhaser::setPhase(float p) {
    if (std::isnan(p)) return;
    fPhase = p < 0.0f ? 0.0f : (p > 1.0f ? 1.0f : p);
    oscillator.setPhase(fPhase);
}

void CPhaser::setFrequency(float f) {
    if (std::isnan(f)) return;
    fFrequency = f;
    if (fFrequency <= 0.125f) fFrequency = 0.125f;
    if (fFrequency > fSamplerate) fFrequency = fSamplerate;
    oscillator.setFrequency(fFrequency);
}

float CPhaser::processSample(float x) {
    AllPassDelay& section = stage[5];
    section.phase = oscillator.processSample1() * fDepth;
    zm = flushDenormal(section.processSample(x + zm * fFeedback));
    return x * (1.0f - fMix) + zm * fMix;
}

void CPhaser::processBuffer(const float* in, float* out, long n) {
    oscillator.setFrequency(fFrequency);
    oscillator.setGain(fDepth * 0.6f);
    const float fb = fFeedback * 0.98f;
    if (lNumStages < 1 || lNumStages > kMaxStages) return;
    const long first = kMaxStages - static_cast<long>(lNumStages);
    for (long i = 0; i < n; ++i) {
        const float coefficient = oscillator.processSample1();
        float v = in[i] + zm * fb;
        for (long s = kMaxStages - 1; s >= first; --s) {
            stage[s].phase = coefficient;
            v = stage[s].processSample(v);
        }
        zm = flushDenormal(v);
        out[i] += zm;
    }
}
