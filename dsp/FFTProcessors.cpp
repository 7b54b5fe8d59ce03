#include "dsp/FFTProcessors.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace SPECTRO {
namespace {

// Tones 3..130 are MIDI notes 0..127.
constexpr int kFirstMidiTone = Scala::kNoteOffset;
constexpr int kLastMidiTone = Scala::kNoteOffset + 127;

constexpr int kBandsEveryFrames = 8;

bool isTone(int t) { return t >= 0 && t < Scala::kTones; }

// The tone of a MIDI note, or -1; checked before adding so no note overflows.
int toneOfNote(int note) {
    return note >= -Scala::kNoteOffset && note < Scala::kTones - Scala::kNoteOffset
               ? note + Scala::kNoteOffset
               : -1;
}

// Applies op to bin k of the n-point spectrum of a real frame and to its
// negative-frequency twin n - k; bins 0 and n / 2 have none.
template <class Op> void forBinAndMirror(int k, int n, Op op) {
    op(k);
    if (k > 0 && 2 * k < n) op(n - k);
}

// The larger value; of two equal ones the one without a minus sign (+0 over -0).
float fmax(float a, float b) {
    if (a == b) return std::signbit(a) ? b : a;
    return a > b ? a : b;
}

float bandGain(float v) {
    const float g = 2.0f * v;
    return g > 1.0f ? g * g : g;
}

// NaN stays NaN, so the setters can ignore it.
float pitchRatio(float v, float range) {
    if (std::isnan(v)) return v;
    if (v > 0.0f) return v * range;
    if (v < 0.0f) return 1.0f + v + 1.0f / range;
    return 1.0f;
}

// Grows an int table to n entries, zeroed; false when that failed.
bool ensureInts(std::unique_ptr<int[]>& table, int& size, int n) {
    if (size >= n) return true;
    table.reset(new (std::nothrow) int[static_cast<std::size_t>(n)]());
    size = table ? n : 0;
    return table != nullptr;
}

} // namespace

// ---------------------------------------------------------------------------

CrossModulator::CrossModulator(int size, int overlap, float samplerate) : FFTBase(size, overlap, samplerate) {
    sizeBuffers();
}

void CrossModulator::sizeBuffers() {
    const int bins = fftFrameSize2 + 1;
    carrierFifo.ensure(fftFrameSize);
    carrierSpectrum.ensure(2 * (fftFrameSize + 1));
    ensureInts(binToTone, binToToneSize, bins);
    scala.reserve(bins);
}

void CrossModulator::init() {
    FFTBase::init();
    sizeBuffers();
}

void CrossModulator::clear() noexcept {
    FFTBase::clear();
    carrierFifo.clear();
    carrierSpectrum.clear();
    frameCount = 0;
}

void CrossModulator::setRange(int from, int to) {
    rangeFrom = from;
    rangeTo = to;
}

void CrossModulator::setAmount(float a) {
    if (std::isfinite(a)) amount = a;
}

void CrossModulator::process(float* modulator, float* carrier, int n) noexcept {
    float* fifo = carrierFifo.getBuffer();
    if (!modulator || !carrier || !fifo || !carrierSpectrum.getBuffer() || !canStream()) return;
    for (int i = 0; i < n; ++i) {
        fifo[iterator] = carrier[i];
        carrier[i] = stream(modulator[i]);
    }
}

void CrossModulator::onBufferReady() {
    buffer2complex(nullptr, nullptr);
    complex2frequencies(nullptr);
    buffer2complex(carrierFifo.getBuffer(), carrierSpectrum.getBuffer());
    complex2buffer(carrierSpectrum.getBuffer(), nullptr);
    shiftInput(carrierFifo.getBuffer());
}

void CrossModulator::onAnalysis(float* /*freqs*/, float* /*mags*/) {
    const int c = frameCount;
    frameCount = (c + 1) % kBandsEveryFrames;
    if (c == 0) createChromaticBands();
}

void CrossModulator::createChromaticBands() {
    const int bins = fftFrameSize2 + 1;
    const float* mags = magnitudes.getBuffer();
    const float* freqs = frequencies.getBuffer();
    const float* phs = phases.getBuffer();
    if (!mags || !freqs || !phs || binToToneSize < bins) return;
    scala.sortBins(mags, freqs, phs, bins, binToTone.get());
    scala.chromaticScaleSums(rangeFrom, rangeTo);
}

void CrossModulator::onComplex(float* c) {
    if (c != nullptr && c == carrierSpectrum.getBuffer()) crossmodulate();
}

float CrossModulator::weightOf(const float* noteWeights, int k) const {
    if (!binToTone || k >= binToToneSize) return 0.0f;
    // The weights are indexed by MIDI note, the bins know their tone.
    const int note = binToTone[k] - Scala::kNoteOffset;
    return note >= 0 && note < Scala::kTones ? noteWeights[note] : 0.0f;
}

void CrossModulator::crossmodulate() {
    float* carrierBins = carrierSpectrum.getBuffer();
    const float* modulatorBins = complex.getBuffer();
    if (!carrierBins || !modulatorBins) return;
    const float* w = scala.getChromatic(0, Scala::kTones - Scala::kNoteOffset, true);
    for (int k = 0; k <= fftFrameSize2; ++k) {
        const float g = weightOf(w, k) * amount;
        // Real by real and imaginary by imaginary, not a complex product.
        forBinAndMirror(k, fftFrameSize, [&](int b) {
            carrierBins[2 * b] *= modulatorBins[2 * b] * g;
            carrierBins[2 * b + 1] *= modulatorBins[2 * b + 1] * g;
        });
    }
}

// ---------------------------------------------------------------------------

ChromaticFilter::ChromaticFilter(int size, int overlap, float samplerate)
    : Analyzer(size, overlap, samplerate) {
    std::fill(std::begin(gains), std::end(gains), 1.0f);
    setChromatic(true);
    // Every frame analysed: the frequency estimate needs consecutive frames.
    setUpdateRate(0);
}

void ChromaticFilter::process(float* buffer, int n) noexcept {
    if (!buffer || !canStream()) return;
    for (int i = 0; i < n; ++i) buffer[i] = stream(buffer[i]);
}

void ChromaticFilter::onBufferReady() { runFrame(nextFrameAnalysed()); }

void ChromaticFilter::runFrame(bool analyse) {
    buffer2complex(nullptr, nullptr);
    if (analyse) complex2frequencies(nullptr);
    complex2buffer(nullptr, nullptr);
}

void ChromaticFilter::onComplex(float* /*c*/) { filter(nullptr); }

float ChromaticFilter::toneValue(const float* table, int k) const {
    const int t = getChromaticIndex(k);
    return isTone(t) ? table[t] : 1.0f;
}

void ChromaticFilter::filter(float* c) {
    if (c == nullptr) c = complex.getBuffer();
    if (c == nullptr) return;
    for (int k = 0; k <= fftFrameSize2; ++k) {
        const float g = toneValue(gains, k);
        forBinAndMirror(k, fftFrameSize, [&](int b) {
            c[2 * b] *= g;
            c[2 * b + 1] *= g;
        });
    }
}

void ChromaticFilter::setChromaticFilterBand(int note, float v) {
    const int t = toneOfNote(note);
    if (t >= 0 && std::isfinite(v)) gains[t] = bandGain(v);
}

void ChromaticFilter::setChromaticFilterBand2(int note, float v) {
    const int t = toneOfNote(note);
    if (t >= 0 && std::isfinite(v)) gains[t] = v;
}

void ChromaticFilter::setChromaticFilterBands(const float* values, float outside) {
    if (values != nullptr)
        for (int t = kFirstMidiTone; t <= kLastMidiTone; ++t)
            if (std::isfinite(values[t])) gains[t] = bandGain(values[t]);
    setOutsideRange(outside);
}

void ChromaticFilter::silenceByRange(float* table, int from, int to) const {
    for (int t = kFirstMidiTone; t <= kLastMidiTone; ++t) {
        const int note = t - Scala::kNoteOffset;
        const bool inside = note >= from && note <= to;
        if (inside == inverted) table[t] = 0.0f;
    }
}

void ChromaticFilter::setBeyondMidi(float* table, float v) {
    if (!std::isfinite(v)) return;
    std::fill(table, table + kFirstMidiTone, v);
    std::fill(table + kLastMidiTone + 1, table + Scala::kTones, v);
}

void ChromaticFilter::setChromaticFilterRange(int from, int to, float outside) {
    silenceByRange(gains, from, to);
    setOutsideRange(outside);
}

void ChromaticFilter::setOutsideRange(float v) { setBeyondMidi(gains, v); }

float ChromaticFilter::getToneGain(int t) const { return isTone(t) ? gains[t] : 0.0f; }

// ---------------------------------------------------------------------------

ChromaticPitch::ChromaticPitch(int size, int overlap, float samplerate)
    : ChromaticFilter(size, overlap, samplerate) {
    std::fill(std::begin(ratios), std::end(ratios), 1.0f);
    sizeBuffers();
}

void ChromaticPitch::sizeBuffers() {
    const int bins = fftFrameSize2 + 1;
    shiftedFrequencies.ensure(bins);
    shiftedMagnitudes.ensure(bins);
    synthesisPhases.ensure(bins);
}

void ChromaticPitch::init() {
    ChromaticFilter::init();
    sizeBuffers();
}

void ChromaticPitch::clear() noexcept {
    ChromaticFilter::clear();
    shiftedFrequencies.clear();
    shiftedMagnitudes.clear();
    synthesisPhases.clear();
}

void ChromaticPitch::onBufferReady() {
    const bool everyFrame = !analysisAtUpdateRate && mode != kResynthesis;
    const bool due = nextFrameAnalysed();
    runFrame(everyFrame || due);
}

void ChromaticPitch::onComplex(float* /*c*/) {
    switch (mode) {
    case kShiftPitches:
        shiftPitches();
        break;
    case kShiftMagnitudes:
        shiftMagnitudes();
        break;
    case kGain:
        filter2();
        break;
    case kFilter:
        filter(nullptr);
        break;
    default:
        break;
    }
}

void ChromaticPitch::setChromaticPitch(int note, float v, float range) {
    const int t = toneOfNote(note);
    const float r = pitchRatio(v, range);
    if (t >= 0 && std::isfinite(r)) ratios[t] = r;
}

void ChromaticPitch::setChromaticPitches(const float* values, float range) {
    if (values == nullptr) return;
    for (int t = kFirstMidiTone; t <= kLastMidiTone; ++t) {
        const float r = pitchRatio(values[t], range);
        if (std::isfinite(r)) ratios[t] = r;
    }
}

void ChromaticPitch::setChromaticFilterRange(int from, int to, float outside) {
    ChromaticFilter::setChromaticFilterRange(from, to, outside);
    silenceByRange(ratios, from, to);
    setOutsideRange(outside);
}

void ChromaticPitch::setOutsideRange(float v) {
    ChromaticFilter::setOutsideRange(v);
    setBeyondMidi(ratios, v);
}

float ChromaticPitch::getTonePitch(int t) const { return isTone(t) ? ratios[t] : 0.0f; }

void ChromaticPitch::shiftPitches() { shiftBins(Shift::Pitch); }

void ChromaticPitch::shiftMagnitudes() { shiftBins(Shift::Magnitude); }

void ChromaticPitch::shiftBins(Shift how) {
    float* mags = magnitudes.getBuffer();
    float* freqs = frequencies.getBuffer();
    float* toMags = shiftedMagnitudes.getBuffer();
    float* toFreqs = shiftedFrequencies.getBuffer();
    if (!mags || !freqs || !toMags || !toFreqs || !synthesisPhases.getBuffer()) return;
    // The DC bin never contributes.
    mags[0] = 0.0f;
    freqs[0] = 0.0f;
    shiftedMagnitudes.clear();
    shiftedFrequencies.clear();
    const float ceiling = fSamplerate * 0.5f;
    const float silentBelow = how == Shift::Pitch ? 0.01f : 0.0f;
    // Each bin moves by the ratio of its own note, so a ratio on a note moves
    // that note; where bins meet, the strongest one is heard.
    for (int j = 1; j <= fftFrameSize2; ++j) {
        const float r = toneValue(ratios, j);
        if (!(r > silentBelow)) continue;
        const int k = round1(static_cast<float>(j) * r);
        if (k < 0 || k > fftFrameSize2) continue;
        const float f = how == Shift::Pitch ? freqs[j] * r : freqs[j];
        const float m = how == Shift::Pitch ? mags[j] : mags[j] * r;
        if (f > ceiling || m <= toMags[k]) continue;
        toMags[k] = m;
        toFreqs[k] = f;
    }
    frequencies2complex(toMags, toFreqs, synthesisPhases.getBuffer(), nullptr);
    clearNegativeHalf();
}

void ChromaticPitch::filter2() {
    float* mags = magnitudes.getBuffer();
    float* freqs = frequencies.getBuffer();
    const float* phs = phases.getBuffer();
    float* c = complex.getBuffer();
    if (!mags || !freqs || !phs || !c) return;
    mags[0] = 0.0f;
    freqs[0] = 0.0f;
    for (int k = 0; k <= fftFrameSize2; ++k) {
        const float m = toneValue(gains, k) * mags[k];
        c[2 * k] = m * std::cos(phs[k]);
        c[2 * k + 1] = m * std::sin(phs[k]);
    }
    clearNegativeHalf();
}

void ChromaticPitch::clearNegativeHalf() {
    if (float* c = complex.getBuffer())
        std::memset(c + fftFrameSize + 2, 0, static_cast<std::size_t>(fftFrameSize - 2) * sizeof(float));
}

// ---------------------------------------------------------------------------

namespace {
constexpr float kLowestBand = 110.0f;
constexpr float kHighestBand = 880.0f;
constexpr float kWaveletQuality = 10.0f;
} // namespace

SuperSpectro::SuperSpectro(int size, int overlap, float samplerate) : FFTBase(size, overlap, samplerate) {
    bandSpectrum.ensure(2 * (fftFrameSize + 1));
}

void SuperSpectro::init() {
    FFTBase::init();
    bandSpectrum.ensure(2 * (fftFrameSize + 1));
}

void SuperSpectro::clear() noexcept {
    FFTBase::clear();
    bandSpectrum.clear();
}

void SuperSpectro::process(float* buffer, int n) noexcept {
    if (!buffer || !canStream()) return;
    for (int i = 0; i < n; ++i) buffer[i] = stream(buffer[i]);
}

void SuperSpectro::doOutput(float* out) {
    if (out == nullptr) out = output.getBuffer();
    const float* acc = resynth.getBuffer();
    if (out == nullptr || acc == nullptr) return;
    for (int k = 0; k < stepSize; ++k) out[k] += acc[k];
}

void SuperSpectro::complex2buffer2(float* c) { complex2buffer(c, nullptr); }

float SuperSpectro::wavelet(int k, float f, float c) {
    const double centre = static_cast<double>(kTwoPi) * static_cast<double>(c);
    const double d = static_cast<double>(kTwoPi * static_cast<float>(k) * (f * c)) - centre;
    return static_cast<float>(std::sqrt(static_cast<double>(f * c)) *
                              (1.8827925275534296 * std::exp(-d * d / 2.0)));
}

bool SuperSpectro::addBand(double s) {
    float* band = bandSpectrum.getBuffer();
    const float* c = complex.getBuffer();
    const double frame = static_cast<double>(fftFrameSize);
    const auto first = static_cast<unsigned>(0.9 * frame / s);
    const auto end = static_cast<unsigned>(1.1 * frame / s);
    const auto length = static_cast<unsigned>(2 * (fftFrameSize + 1));
    const float f = static_cast<float>(s / frame);
    for (unsigned k = first; k < end; ++k) {
        if (2 * k + 1 >= length) return false;
        const float w = wavelet(static_cast<int>(k), f, kWaveletQuality);
        band[2 * k] += w * c[2 * k];
        band[2 * k + 1] += w * c[2 * k + 1];
    }
    return true;
}

// The bands are summed into one spectrum and resynthesised once: the same sum
// of band outputs, and one overlap-add per frame keeps the frames in step.
// Both parts of each bin are kept, so a band does not fold its frame in time.
void SuperSpectro::onBufferReady() {
    if (!bandSpectrum.getBuffer() || !complex.getBuffer()) return;
    // Periods in samples of the lowest and the highest band.
    const float pMax = fSamplerate / kLowestBand;
    const float pMin = fmax(fSamplerate / kHighestBand, 2.0f);
    buffer2complex(nullptr, nullptr);
    output.clear();
    bandSpectrum.clear();
    // At rates this low not one band fits below the Nyquist frequency.
    if (pMax > pMin) {
        const auto limit = static_cast<unsigned>(pMax - pMin) + 1;
        const double step =
            std::pow(static_cast<double>(pMax) / pMin, 1.0 / static_cast<double>(pMax - pMin));
        double s = pMin;
        for (unsigned i = 0; i <= limit && s <= pMax && addBand(s); ++i) s *= step;
    }
    // Only positive frequencies: the overlap-add's factor 2 makes up for the rest.
    complex2buffer2(bandSpectrum.getBuffer());
}

} // namespace SPECTRO
