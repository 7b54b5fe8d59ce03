#pragma once

#include <atomic>
#include <cstdint>
#include <numbers>

// Table-lookup sine oscillator with a 24-bit phase accumulator. All instances
// read one shared 8192-point table, built once on first construction.
class SineOscillator {
public:
    static constexpr long kTableSize = 8192;
    static constexpr std::int64_t kPhaseRange = 16777216; // 2^24
    static constexpr std::int64_t kPhaseMask = kPhaseRange - 1;

    SineOscillator();
    ~SineOscillator();
    SineOscillator(const SineOscillator&) = delete;
    SineOscillator& operator=(const SineOscillator&) = delete;

    // Uses t (n entries, not owned); ignored when either is zero or n is negative.
    void setTable(float* t, long n);
    // Ignored unless fs is finite and positive.
    void setSamplerate(float fs);
    // Ignored unless f is finite and not negative.
    void setFrequency(float f);
    // Ignored unless g is finite and not negative.
    void setGain(float g);
    // Ignored unless 0 <= p <= 1.
    void setPhase(float p);
    void init();
    void retrigger() { setPhase(0.0f); }

    // Unipolar output between 0 and fGain.
    float processSample1() {
        phase = (phase + increment) & kPhaseMask;
        return (table[phase >> lobits] + 1.0f) * 0.5f * fGain;
    }

    static constexpr double TWOPI = 2.0 * std::numbers::pi;
    float fSamplerate = 44100.0f;
    float fSamplerate_2 = 22050.0f;
    float fFrequency = 440.0f;
    float fGain = 1.0f;
    float sicvt = 0.0f; // phase units per Hz per sample
    float* table = nullptr;
    std::int64_t lobits = 0;
    std::int64_t phase = 0;
    std::int64_t currentIndex = 0;

    static inline std::atomic<long> count{0};
    static inline float wave[kTableSize] = {};

private:
    void updateIncrement();

    std::int64_t increment = 0; // fFrequency * sicvt, truncated and taken modulo 2^24
};

// A chain of up to eight first-order all-pass sections whose common
// coefficient follows a unipolar sine LFO, with feedback around the chain.
class CPhaser {
public:
    struct AllPassDelay {
        AllPassDelay() { reset(); }
        void reset() {
            zm = 0.0f;
            phase = 0.0f;
        }
        float processSample(float x);

        float zm;    // state
        float phase; // coefficient
    };

    static constexpr long kMaxStages = 8;

    CPhaser() = default;

    void reset();
    // Zeroes the sections' and the feedback state, keeping the settings.
    void clear();
    // Ignored unless fs is finite and positive.
    void setSamplerate(float fs);
    // Limited to 0 ... 1; NaN is ignored.
    void setPhase(float p);
    // Limited to 0.125 ... fSamplerate; NaN is ignored.
    void setFrequency(float f);

    // One section, coefficient straight from the oscillator as it stands.
    float processSample(float x);
    // lNumStages sections; the wet signal is added to what out holds.
    void processBuffer(const float* in, float* out, long n);

    float fSamplerate = 44100.0f;
    float fFeedback = 0.8f;
    float fDepth = 0.5f;
    float fFrequency = 0.125f;
    float fPhase = 0.0f;
    float fMix = 0.5f;
    std::int64_t lNumStages = kMaxStages;
    AllPassDelay stage[kMaxStages];
    SineOscillator oscillator;
    float zm = 0.0f;
};
