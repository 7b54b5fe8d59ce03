#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "dsp/Modulator.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

} // namespace

// ctest runs every test in its own process, so here nothing has built the tables yet.
TEST(ModulatorTables, LookupsWorkBeforeAnyInstanceAndFromManyThreads) {
    ASSERT_EQ(Modulator::count(), 0u);
    std::vector<float> seen(8, -1.0f);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < seen.size(); ++t)
        threads.emplace_back([&seen, t] { seen[t] = Modulator::getValueFrequencyScaled(0.5f); });
    for (auto& th : threads) th.join();
    for (float v : seen) EXPECT_EQ(v, 0.015625f);
    EXPECT_EQ(Modulator::freqTable()[69], 440.0f);
    EXPECT_EQ(Modulator::count(), 0u);
}

TEST(ModulatorTables, NoteFrequenciesAndFactors) {
    const auto& hz = Modulator::freqTable();
    const auto& factor = Modulator::freqFactors();
    EXPECT_EQ(hz[69], 440.0f);
    EXPECT_NEAR(hz[0], 8.1758f, 1e-4f);
    EXPECT_NEAR(hz[81], 880.0f, 1e-3f);
    EXPECT_NEAR(hz[127], 12543.85f, 0.05f);
    EXPECT_EQ(factor[60], 1.0f);
    EXPECT_NEAR(factor[72], 2.0f, 1e-6f);
    EXPECT_NEAR(factor[48], 0.5f, 1e-6f);
    for (int i = 1; i < 128; ++i) EXPECT_NEAR(hz[i] / hz[i - 1], 1.0594631f, 1e-6f) << i;
}

TEST(ModulatorTables, LogFrequencyCurveAtItsNamedPoints) {
    const auto& up = Modulator::waveRampLogUp();
    const auto& down = Modulator::waveRampLogDown();
    const auto& hz = Modulator::wave100();
    EXPECT_EQ(Modulator::maxFrequency(), 14080.0f);
    EXPECT_NEAR(hz[0], 13.75f, 1e-5f);
    EXPECT_EQ(hz[2048], 440.0f);
    EXPECT_NEAR(hz[4095], 14056.2f, 0.1f);
    EXPECT_EQ(up[0], 0.0f);
    EXPECT_NEAR(up[1024], 0.0013811f, 1e-7f);
    EXPECT_EQ(up[2048], 0.015625f);
    EXPECT_NEAR(up[3072], 0.13258f, 1e-5f);
    EXPECT_NEAR(up[4095], 0.99807f, 1e-5f);
    for (int i = 0; i < 4096; ++i) {
        ASSERT_EQ(down[i], up[4095 - i]);
        if (i > 0) {
            ASSERT_GT(up[i], up[i - 1]) << i;
        }
    }
}

TEST(ModulatorTables, ShapesAtTheirEnds) {
    EXPECT_EQ(Modulator::waveSine()[0], 0.5f);
    EXPECT_NEAR(Modulator::waveSine()[1024], 1.0f, 1e-6f);
    EXPECT_NEAR(Modulator::waveSine()[3072], 0.0f, 1e-6f);
    EXPECT_EQ(Modulator::waveSaw()[0], 1.0f);
    EXPECT_EQ(Modulator::waveRampLinUp()[2048], 0.5f);
    EXPECT_EQ(Modulator::waveRampLinDown()[1024], 0.75f);
    EXPECT_EQ(Modulator::waveRampExponUp()[2048], 0.125f);
    EXPECT_EQ(Modulator::waveRampExponDown()[0], Modulator::waveRampExponUp()[4095]);
    EXPECT_NEAR(Modulator::waveSineQuad()[1024], 1.0f, 1e-6f);
    EXPECT_NEAR(Modulator::waveSineQuad()[3072], 0.0f, 1e-6f);
    const auto& squar = Modulator::waveSineSquar();
    EXPECT_NEAR(squar[1024], 1.0f, 1e-6f);
    for (int i = 2048; i < 4096; ++i) {
        ASSERT_LE(squar[i], -0.5f) << i;
        ASSERT_GE(squar[i], -1.0f) << i;
    }
}

TEST(ModulatorLookup, ScaledAndInverseAtNamedPoints) {
    EXPECT_EQ(Modulator::getValueFrequencyScaled(0.5f), 0.015625f);
    EXPECT_EQ(Modulator::getValueFrequencyScaled(-0.5f), -0.015625f);
    EXPECT_EQ(Modulator::getValueFrequencyScaled(0.0f), 0.0f);
    EXPECT_NEAR(Modulator::getValueFrequencyScaled(0.75f), 0.13258f, 1e-5f);
    EXPECT_EQ(Modulator::getValueFrequencyScaled(1.0f), 1.0f);
    EXPECT_NEAR(Modulator::getValueFrequencyScaledInv(0.0f), 1.0f - 0.99807f, 1e-5f);
    EXPECT_EQ(Modulator::getValueFrequencyScaledInv(0.5f), 1.0f - Modulator::waveRampLogDown()[2048]);
    EXPECT_EQ(Modulator::getValueFrequencyScaledInv(-0.5f), -(1.0f - Modulator::waveRampLogDown()[2048]));
    EXPECT_EQ(Modulator::getValueFrequencyScaledInv(1.0f), 1.0f);
}

TEST(ModulatorLookup, NaNHugeAndInfiniteInputsStayDefined) {
    for (auto lookup : {&Modulator::getValueFrequencyScaled, &Modulator::getValueFrequencyScaledInv}) {
        EXPECT_EQ(lookup(kNaN), 0.0f);
        EXPECT_EQ(lookup(-kNaN), 0.0f);
        EXPECT_EQ(lookup(1e30f), 1.0f);
        EXPECT_EQ(lookup(-1e30f), -1.0f);
        EXPECT_EQ(lookup(kInf), 1.0f);
        EXPECT_EQ(lookup(-kInf), -1.0f);
        EXPECT_EQ(lookup(std::numeric_limits<float>::max()), 1.0f);
        EXPECT_EQ(lookup(-1.5f), -1.0f);
    }
}

TEST(Modulator, CountFollowsInstancesAndCopies) {
    const auto before = Modulator::count();
    {
        Modulator a;
        EXPECT_EQ(Modulator::count(), before + 1);
        {
            std::vector<Modulator> many(3, a);
            EXPECT_EQ(Modulator::count(), before + 4);
        }
        EXPECT_EQ(Modulator::count(), before + 1);
        Modulator b;
        b = a;
        EXPECT_EQ(Modulator::count(), before + 2);
    }
    EXPECT_EQ(Modulator::count(), before);
}

TEST(Modulator, ConstructedState) {
    Modulator m;
    EXPECT_EQ(m.getMode(), 1);
    EXPECT_EQ(m.fSamplerate, 48000.0f);
    EXPECT_EQ(m.sicvt, 16777216.0f / 48000.0f);
    EXPECT_EQ(m.getFrequency(), 1.0f);
    EXPECT_EQ(m.getGain(), 0.5f);
    EXPECT_EQ(m.getShape(), 1.0f);
    EXPECT_EQ(m.getPhase(), 0.0f);
    EXPECT_EQ(m.lobits, 12);
    EXPECT_EQ(m.waveTable1, Modulator::waveSine().data());
    EXPECT_EQ(m.waveTable2, Modulator::waveSine().data());
    EXPECT_EQ(m.onCycleEnd, nullptr);
    EXPECT_EQ(m.noise.randseed, 33333u);
    EXPECT_EQ(m.noise.samplerate, 44100.0f);
    EXPECT_EQ(m.noise.freq, 44100.0f);
}

TEST(Modulator, SettersClampOrIgnore) {
    Modulator m;
    m.setFrequency(48000.0f);
    EXPECT_EQ(m.getFrequency(), 47999.0f);
    m.setFrequency(-3.0f);
    EXPECT_EQ(m.getFrequency(), 0.0f);
    m.setFrequency(220.0f);
    m.setFrequency(kNaN);
    EXPECT_EQ(m.getFrequency(), 220.0f);

    m.setSamplerate(0.0f);
    m.setSamplerate(kNaN);
    EXPECT_EQ(m.fSamplerate, 48000.0f);
    m.setSamplerate(96000.0f);
    EXPECT_EQ(m.sicvt, 16777216.0f / 96000.0f);

    m.setGain(2.0f);
    EXPECT_EQ(m.getGain(), 1.0f);
    m.setGain(-2.0f);
    EXPECT_EQ(m.getGain(), -1.0f);
    m.setGain(kNaN);
    EXPECT_EQ(m.getGain(), -1.0f);
    m.setShape(-1.0f);
    EXPECT_EQ(m.getShape(), 0.0f);
    m.setShape(0.25f);
    EXPECT_EQ(m.getShape(), 0.25f);
}

TEST(Modulator, PhaseIsTwentyFourBitFixedPoint) {
    Modulator m;
    m.setPhase(0.25f);
    EXPECT_EQ(m.phase, 4194304);
    EXPECT_EQ(m.getPhase(), 0.25f);
    m.setPhase(2.5f);
    EXPECT_EQ(m.getPhase(), 2.5f);
    m.setPhase(-1.0f);
    EXPECT_EQ(m.phase, 0);
    m.setPhase(kNaN);
    EXPECT_EQ(m.phase, 0);
    m.setPhase(kInf);
    EXPECT_EQ(m.phase, 0);
    // Beyond what the accumulator holds: stays a valid position within one cycle.
    m.setPhase(1e30f);
    EXPECT_GE(m.phase, 0);
    EXPECT_LT(m.phase, 16777216);

    m.setPhase(0.5f);
    m.currentValue = 0.3f;
    m.cycles = 4;
    m.retrigger();
    EXPECT_EQ(m.phase, 0);
    EXPECT_EQ(m.cycles, 0);
    EXPECT_EQ(m.currentValue, 0.0f);
}

TEST(Modulator, TableSelection) {
    Modulator m;
    m.setTable(3);
    EXPECT_EQ(m.waveTable1, waveBankTable(table_sine));
    EXPECT_EQ(m.waveTable2, waveBankTable(table_03));
    m.setTable(0);
    EXPECT_EQ(m.waveTable2, waveBankTable(table_tri));
    m.setTable(64);
    EXPECT_EQ(m.waveTable2, waveBankTable(table_64));
    for (int n : {65, -1, 1000}) {
        m.setTable(3);
        m.setTable(n);
        EXPECT_EQ(m.waveTable1, Modulator::waveSine().data()) << n;
        EXPECT_EQ(m.waveTable2, Modulator::waveSine().data()) << n;
    }
}

TEST(Modulator, TableSizeSetsShiftAndBadSizesAreIgnored) {
    Modulator m;
    const float other[2] = {0.0f, 0.0f};
    for (int bad :
         {0, -4096, 3000, 1 << 25, std::numeric_limits<int>::max(), std::numeric_limits<int>::min()}) {
        m.setTables(other, other, bad);
        EXPECT_EQ(m.lobits, 12) << bad;
        EXPECT_EQ(m.waveTable1, Modulator::waveSine().data()) << bad;
    }
    m.setTables(other, other, 1 << 24);
    EXPECT_EQ(m.lobits, 0);
    m.setTables(other, other, 256);
    EXPECT_EQ(m.lobits, 16);
    m.setTables(other, other, 2);
    EXPECT_EQ(m.lobits, 23);
    EXPECT_EQ(m.waveTable1, other);
}

TEST(WaveBank, SixtySixDistinctSingleCyclesInRange) {
    EXPECT_EQ(waveBankSize, 66);
    EXPECT_EQ(waveBankTable(-1), nullptr);
    EXPECT_EQ(waveBankTable(66), nullptr);
    for (int t = 0; t < waveBankSize; ++t) {
        const float* table = waveBankTable(t);
        ASSERT_NE(table, nullptr);
        float peak = 0.0f;
        for (int i = 0; i < kWaveBankPoints; ++i) {
            ASSERT_TRUE(std::isfinite(table[i])) << t;
            ASSERT_LE(std::fabs(table[i]), 1.0f) << t << " " << i;
            peak = std::max(peak, std::fabs(table[i]));
        }
        EXPECT_GT(peak, 0.999f) << t;
        if (t > 0) {
            const float* previous = waveBankTable(t - 1);
            double difference = 0.0;
            for (int i = 0; i < kWaveBankPoints; ++i) difference += std::fabs(table[i] - previous[i]);
            EXPECT_GT(difference / kWaveBankPoints, 0.01) << t;
        }
    }
    const float* sine = waveBankTable(table_sine);
    EXPECT_NEAR(sine[1024], 1.0f, 1e-6f);
    EXPECT_NEAR(sine[3072], -1.0f, 1e-6f);
    EXPECT_EQ(waveBankTable(table_sqr)[0], 1.0f);
    EXPECT_EQ(waveBankTable(table_sqr)[2048], -1.0f);
}

TEST(NoiseOscillator, FrequencyFollowsRateWithinBounds) {
    NoiseOscillator noise;
    EXPECT_EQ(noise.freq, 44100.0f);
    noise.setFrequency(0.5f);
    EXPECT_EQ(noise.freq, 22050.0f);
    noise.setFrequency(2.0f);
    EXPECT_EQ(noise.fFrequency, 1.0f);
    noise.setFrequency(kNaN);
    EXPECT_EQ(noise.fFrequency, 1.0f);
    noise.setFrequency(0.0f);
    noise.setSamplerate(48000.0f);
    EXPECT_EQ(noise.freq, 1.0f);
    noise.noise = noise.last = 0.7f;
    noise.init();
    EXPECT_EQ(noise.noise, 0.0f);
    EXPECT_EQ(noise.last, 0.0f);
}
