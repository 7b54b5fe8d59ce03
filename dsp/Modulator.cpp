#include "dsp/Modulator.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <memory>
#include <numbers>

namespace {

constexpr int kN = Modulator::kTableSize;

struct SharedTables {
    std::array<float, 128> freqTable;
    std::array<float, 128> freqFactors;
    Modulator::Curve waveSine, waveSaw, waveSineSquar, waveSineQuad;
    Modulator::Curve waveRampLinUp, waveRampLinDown, waveRampExponUp, waveRampExponDown;
    Modulator::Curve wave100, waveRampLogUp, waveRampLogDown;
    float maxFrequency;
};

void buildNoteTables(SharedTables& t) {
    constexpr double semitone = 1.059463094359;
    double hz = 6.875 * semitone * semitone * semitone;
    for (int i = 0; i < 128; ++i) {
        t.freqTable[i] = static_cast<float>(hz);
        hz *= semitone;
    }
    for (int i = 0; i < 128; ++i)
        t.freqFactors[i] = static_cast<float>(double(t.freqTable[i]) / double(t.freqTable[60]));
}

void buildCurves(SharedTables& t) {
    t.maxFrequency = 440.0f * 32.0f;
    for (int i = 0; i < kN; ++i) {
        const double x = static_cast<float>(i) * (1.0f / kN);
        // The curves' own 2 pi is the decimal 6.2831855, not std::numbers'.
        const double s = std::sin(6.2831855 * x);
        const double root8 = std::sqrt(std::sqrt(std::sqrt(std::fabs(s))));
        const double hz = 440.0 * std::pow(2.0, x * 10.0 - 5.0);
        t.waveSine[i] = static_cast<float>((s + 1.0) * 0.5);
        t.waveSaw[i] = static_cast<float>(1.0 - x);
        t.waveSineSquar[i] = static_cast<float>((i < kN / 2 ? 0.5 : -0.5) * (root8 + 1.0));
        t.waveSineQuad[i] = static_cast<float>((s * s * s + 1.0) * 0.5);
        t.waveRampLinUp[i] = static_cast<float>(x);
        t.waveRampLinDown[i] = static_cast<float>(1.0 - x);
        t.waveRampExponUp[i] = static_cast<float>(x * x * x);
        t.wave100[i] = static_cast<float>(hz);
        t.waveRampLogUp[i] = static_cast<float>(hz / t.maxFrequency * x);
    }
    for (int i = 0; i < kN; ++i) {
        t.waveRampExponDown[i] = t.waveRampExponUp[kN - 1 - i];
        t.waveRampLogDown[i] = t.waveRampLogUp[kN - 1 - i];
    }
}

// Built by whichever thread asks first; the guard makes the others wait.
const SharedTables& shared() {
    static SharedTables tables; // zero-initialised static storage, filled once below
    static const bool built = (buildNoteTables(tables), buildCurves(tables), true);
    (void)built;
    return tables;
}

// Table entry for |x| x 4096, or 1 past the end. The range test is done in
// float, so NaN (-> 0) and huge values never reach the integer conversion.
float lookupMagnitude(const Modulator::Curve& curve, float x, bool inverted) {
    const float position = std::fabs(x) * static_cast<float>(kN);
    if (!(position >= 0.0f)) return 0.0f;
    if (position >= static_cast<float>(kN)) return 1.0f;
    const float entry = curve[static_cast<int>(position)];
    return inverted ? 1.0f - entry : entry;
}

// NaN leaves the value as it was.
void clampInto(float& field, float v, float lo, float hi) {
    if (!std::isnan(v)) field = std::clamp(v, lo, hi);
}

} // namespace

// ---- NoiseOscillator ----

NoiseOscillator::NoiseOscillator() {
    init();
    setSamplerate(44100.0f);
    setFrequency(1.0f);
}

void NoiseOscillator::init() { noise = noise2 = last = inc = skip = 0.0f; }

void NoiseOscillator::setSamplerate(float rate) {
    samplerate = rate;
    freq = std::min(std::max(fFrequency * rate, 1.0f), rate);
}

void NoiseOscillator::setFrequency(float f) {
    if (std::isnan(f)) return;
    fFrequency = std::clamp(f, 0.0f, 1.0f);
    freq = fFrequency * samplerate;
}

// ---- Modulator: shared tables ----

const std::array<float, 128>& Modulator::freqTable() { return shared().freqTable; }
const std::array<float, 128>& Modulator::freqFactors() { return shared().freqFactors; }
const Modulator::Curve& Modulator::waveSine() { return shared().waveSine; }
const Modulator::Curve& Modulator::waveSaw() { return shared().waveSaw; }
const Modulator::Curve& Modulator::waveSineSquar() { return shared().waveSineSquar; }
const Modulator::Curve& Modulator::waveSineQuad() { return shared().waveSineQuad; }
const Modulator::Curve& Modulator::waveRampLinUp() { return shared().waveRampLinUp; }
const Modulator::Curve& Modulator::waveRampLinDown() { return shared().waveRampLinDown; }
const Modulator::Curve& Modulator::waveRampExponUp() { return shared().waveRampExponUp; }
const Modulator::Curve& Modulator::waveRampExponDown() { return shared().waveRampExponDown; }
const Modulator::Curve& Modulator::wave100() { return shared().wave100; }
const Modulator::Curve& Modulator::waveRampLogUp() { return shared().waveRampLogUp; }
const Modulator::Curve& Modulator::waveRampLogDown() { return shared().waveRampLogDown; }
float Modulator::maxFrequency() { return shared().maxFrequency; }

float Modulator::getValueFrequencyScaled(float x) {
    const float v = lookupMagnitude(shared().waveRampLogUp, x, false);
    return x < 0.0f ? -v : v;
}

float Modulator::getValueFrequencyScaledInv(float x) {
    const float v = lookupMagnitude(shared().waveRampLogDown, x, true);
    return x < 0.0f ? -v : v;
}

// ---- Modulator: instance ----

Modulator::Modulator() {
    setSamplerate(48000.0f);
    init();
}

void Modulator::init() {
    shared();
    lobits = 12;
    setMode(1);
    setPhase(0.0f);
    setFrequency(1.0f);
    setGain(0.5f);
    retrigger();
    setTable(65);
}

void Modulator::setSamplerate(float rate) {
    if (!(rate > 0.0f) || !std::isfinite(rate)) return;
    fSamplerate = rate;
    sicvt = 16777216.0f / rate;
}

void Modulator::setPhase(float p) {
    if (!(p >= 0.0f) || !std::isfinite(p)) {
        phase = 0;
        return;
    }
    double scaled = std::trunc(16777216.0 * p);
    // Past what the accumulator holds, keep the position within the cycle.
    if (scaled >= 0x1p62) scaled = std::fmod(scaled, 16777216.0);
    phase = static_cast<std::int64_t>(scaled);
}

float Modulator::getPhase() const { return static_cast<float>(static_cast<double>(phase) / 16777216.0); }

void Modulator::setFrequency(float hz) {
    if (std::isnan(hz)) return;
    fFrequency = hz < 0.0f ? 0.0f : hz >= fSamplerate ? fSamplerate - 1.0f : hz;
}

void Modulator::setGain(float g) { clampInto(fGain, g, -1.0f, 1.0f); }

void Modulator::setShape(float s) { clampInto(fShape, s, 0.0f, 1.0f); }

void Modulator::retrigger() {
    setPhase(0.0f);
    currentIndex = 0;
    cycles = 0;
    currentValue = 0.0f;
}

void Modulator::setTables(const float* t1, const float* t2, int size) {
    if (size < 1 || size > (1 << 24) || !std::has_single_bit(static_cast<unsigned>(size))) return;
    waveTable1 = t1;
    waveTable2 = t2;
    // Shift from the 24-bit phase down to an index into `size` points.
    lobits = 24 - (std::bit_width(static_cast<unsigned>(size)) - 1);
}

void Modulator::setTable(int n) {
    if (n >= 0 && n <= 64) {
        setTables(waveBankTable(table_sine), waveBankTable(n + 1), kWaveBankPoints);
    } else {
        const float* sine = waveSine().data();
        setTables(sine, sine, kTableSize);
    }
}

// ---- Waveform bank ----

namespace {

constexpr int kP = kWaveBankPoints;
using Shape = std::array<double, kP>;

struct WaveBank {
    float table[waveBankSize][kP];
};

// Removes the offset and scales the peak to 1, so every shape spans -1..1.
void normaliseInto(const Shape& shape, float* out) {
    double mean = 0.0;
    for (double v : shape) mean += v;
    mean /= kP;
    double peak = 0.0;
    for (double v : shape) peak = std::max(peak, std::fabs(v - mean));
    const double scale = peak > 0.0 ? 1.0 / peak : 0.0;
    for (int i = 0; i < kP; ++i) out[i] = static_cast<float>((shape[i] - mean) * scale);
}

// Sum of harmonics 1..count with amplitudes amp(k), cosine phase when asked.
template <class Amplitude>
void additive(Shape& shape, const Shape& sine, int count, bool cosine, Amplitude amp) {
    shape.fill(0.0);
    const int offset = cosine ? kP / 4 : 0;
    for (int k = 1; k <= count; ++k) {
        const double a = amp(k);
        if (a == 0.0) continue;
        for (int i = 0; i < kP; ++i) shape[i] += a * sine[(k * i + offset) % kP];
    }
}

// Four families, sixteen variants each: pulses of growing width, odd
// harmonics with gentler roll-off, a formant moving up the series, and a
// decaying hard-synced sine.
void variant(Shape& shape, const Shape& sine, int t) {
    const int family = t % 4;
    const double v = t / 4;
    constexpr double pi = std::numbers::pi;
    switch (family) {
    case 0: {
        const double width = 0.04 + 0.03 * v;
        additive(shape, sine, 40, true, [&](int k) { return std::sin(pi * k * width) / k; });
        break;
    }
    case 1: {
        const double power = 2.2 - 0.1 * v;
        additive(shape, sine, 31, false, [&](int k) { return k % 2 ? 1.0 / std::pow(k, power) : 0.0; });
        break;
    }
    case 2: {
        const double centre = 2.0 + 1.5 * v;
        additive(shape, sine, 40, false, [&](int k) {
            const double d = (k - centre) / 2.0;
            return (k == 1 ? 0.5 : 0.0) + std::exp(-0.5 * d * d);
        });
        break;
    }
    default: {
        const double ratio = 1.5 + 0.5 * v;
        for (int i = 0; i < kP; ++i) {
            const double x = double(i) / kP;
            shape[i] = std::sin(2.0 * pi * ratio * x) * (1.0 - x);
        }
        break;
    }
    }
}

void buildBank(WaveBank& bank) {
    const auto sinePtr = std::make_unique<Shape>(); // 32 KB each: off the caller's stack
    const auto shapePtr = std::make_unique<Shape>();
    Shape& sine = *sinePtr;
    Shape& shape = *shapePtr;
    for (int i = 0; i < kP; ++i) sine[i] = std::sin(2.0 * std::numbers::pi * i / kP);
    for (int i = 0; i < kP; ++i) {
        const double x = double(i) / kP;
        bank.table[table_sine][i] = static_cast<float>(sine[i]);
        bank.table[table_tri][i] = static_cast<float>(x < 0.25   ? 4.0 * x
                                                      : x < 0.75 ? 2.0 - 4.0 * x
                                                                 : 4.0 * x - 4.0);
        bank.table[table_saw][i] = static_cast<float>(1.0 - 2.0 * x);
        bank.table[table_sqr][i] = i < kP / 2 ? 1.0f : -1.0f;
    }
    for (int t = table_03; t < waveBankSize; ++t) {
        variant(shape, sine, t - table_03);
        normaliseInto(shape, bank.table[t]);
    }
}

} // namespace

const float* waveBankTable(int index) {
    static WaveBank bank; // about 1 MB, static storage; filled on first use
    static const bool built = (buildBank(bank), true);
    (void)built;
    return index >= 0 && index < waveBankSize ? bank.table[index] : nullptr;
}
