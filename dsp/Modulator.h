#pragma once

#include <array>
#include <atomic>
#include <cstdint>

// Settings of the noise source every modulator carries; it keeps them only.
class NoiseOscillator {
public:
    NoiseOscillator();

    void init();
    // freq follows the rate, kept within 1..rate.
    void setSamplerate(float rate);
    // f is a fraction of the sample rate, clamped to 0..1; NaN is ignored.
    void setFrequency(float f);

    std::uint32_t randseed = 33333;
    float fFrequency = 1.0f;
    float fVolume = 1.0f;
    std::int64_t lMode = 0;
    float samplerate = 44100.0f;
    float freq = 44100.0f;
    float noise = 0.0f;
    float noise2 = 0.0f;
    float last = 0.0f;
    float inc = 0.0f;
    float skip = 0.0f;
};

// The 66 single-cycle shapes of the waveform bank, in bank order.
// clang-format off
enum WaveBankTable : int {
    table_sine, table_tri, table_saw, table_sqr,
    table_03, table_04, table_05, table_06, table_07, table_08, table_09, table_10, table_11, table_12,
    table_13, table_14, table_15, table_16, table_17, table_18, table_19, table_20, table_21, table_22,
    table_23, table_24, table_25, table_26, table_27, table_28, table_29, table_30, table_31, table_32,
    table_33, table_34, table_35, table_36, table_37, table_38, table_39, table_40, table_41, table_42,
    table_43, table_44, table_45, table_46, table_47, table_48, table_49, table_50, table_51, table_52,
    table_53, table_54, table_55, table_56, table_57, table_58, table_59, table_60, table_61, table_62,
    table_63, table_64,
    waveBankSize
};
// clang-format on

constexpr int kWaveBankPoints = 4096;

// 4096 points of bank table `index` (0..65), built on first use; null for any other index.
const float* waveBankTable(int index);

// Wavetable modulation source. Its lasting use is the set of shared curves,
// above all the logarithmic frequency mapping of the filter cutoffs and the
// spectrum display. The oscillator settings are kept but produce no output.
class Modulator {
public:
    static constexpr int kTableSize = 4096;
    using Curve = std::array<float, kTableSize>;
    using Callback = void (*)(Modulator&);

    Modulator();

    // The shared tables: built once, on first use, from any thread.
    static const std::array<float, 128>& freqTable();   // Hz of MIDI note i
    static const std::array<float, 128>& freqFactors(); // relative to note 60
    static const Curve& waveSine();
    static const Curve& waveSaw();
    static const Curve& waveSineSquar();
    static const Curve& waveSineQuad();
    static const Curve& waveRampLinUp();
    static const Curve& waveRampLinDown();
    static const Curve& waveRampExponUp();
    static const Curve& waveRampExponDown();
    static const Curve& wave100();
    static const Curve& waveRampLogUp();
    static const Curve& waveRampLogDown();
    static float maxFrequency();

    // Live instances.
    static std::uint64_t count() { return liveCount.load(std::memory_order_relaxed); }

    // Control value x (-1..1) on the logarithmic frequency curve, sign kept.
    // |x| >= 1 maps to 1, NaN to 0.
    static float getValueFrequencyScaled(float x);
    static float getValueFrequencyScaledInv(float x);

    void init();
    void setSamplerate(float rate);
    void setMode(int mode) { lMode = mode; }
    int getMode() const { return lMode; }
    void setPhase(float p);
    float getPhase() const;
    void setFrequency(float hz);
    float getFrequency() const { return fFrequency; }
    void setGain(float g);
    float getGain() const { return fGain; }
    void setShape(float s);
    float getShape() const { return fShape; }
    void setNumCycles(int n) { numCycles = n; }
    int getNumCycles() const { return numCycles; }
    void retrigger();
    // size must be a power of two in 1..2^24; any other size is ignored.
    void setTables(const float* t1, const float* t2, int size);
    // 0..64: sine plus bank table n + 1; anything else: the shared sine for both.
    void setTable(int n);

    Callback onCycleEnd = nullptr;
    Callback onSyncReceived = nullptr;
    void* triggerDestination = nullptr;
    NoiseOscillator noise;
    bool isBidirectional = false;
    std::int32_t lMode = 9;
    float fSamplerate = 48000.0f;
    float fFrequency = 1.0f;
    float fGain = 1.0f;
    float fShape = 1.0f;
    float currentValue = 0.0f;
    float sicvt = 0.0f;
    std::int64_t lobits = 0;
    std::int64_t phase = 0;
    std::int64_t currentIndex = 0;
    std::int32_t cycles = 0;
    std::int32_t numCycles = 0;
    const float* waveTable1 = nullptr;
    const float* waveTable2 = nullptr;

private:
    static inline std::atomic<std::uint64_t> liveCount{0};

    // Counts every live instance, copies included.
    struct InstanceToken {
        InstanceToken() { liveCount.fetch_add(1, std::memory_order_relaxed); }
        InstanceToken(const InstanceToken&) : InstanceToken() {}
        InstanceToken& operator=(const InstanceToken&) { return *this; }
        ~InstanceToken() { liveCount.fetch_sub(1, std::memory_order_relaxed); }
    };
    InstanceToken token;
};
