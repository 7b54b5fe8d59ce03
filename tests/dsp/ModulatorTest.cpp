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
    EXPECT_EQ(Modulator::count(), 0u);
}

TEST(ModulatorTables, NotesCurvesAndShapesAtTheirNamedPoints) {
    const auto& hz = Modulator::freqTable();
    EXPECT_EQ(hz[69], 440.0f);
    EXPECT_NEAR(hz[0], 8.1758f, 1e-4f);
    EXPECT_NEAR(hz[81], 880.0f, 1e-3f);
    EXPECT_EQ(Modulator::freqFactors()[60], 1.0f);
    EXPECT_NEAR(Modulator::freqFactors()[72], 2.0f, 1e-6f);

    const auto& up = Modulator::waveRampLogUp();
    EXPECT_EQ(Modulator::maxFrequency(), 14080.0f);
    EXPECT_NEAR(Modulator::wave100()[0], 13.75f, 1e-5f);
    EXPECT_EQ(Modulator::wave100()[2048], 440.0f);
    EXPECT_EQ(up[0], 0.0f);
    EXPECT_NEAR(up[1024], 0.0013811f, 1e-7f);
    EXPECT_EQ(up[2048], 0.015625f);
    EXPECT_NEAR(up[3072], 0.13258f, 1e-5f);
    EXPECT_NEAR(up[4095], 0.99807f, 1e-5f);
    for (int i = 1; i < 4096; ++i) ASSERT_GT(up[i], up[i - 1]) << i;
    for (int i = 0; i < 4096; ++i) ASSERT_EQ(Modulator::waveRampLogDown()[i], up[4095 - i]);

    EXPECT_EQ(Modulator::waveSine()[0], 0.5f);
    EXPECT_NEAR(Modulator::waveSine()[1024], 1.0f, 1e-6f);
    EXPECT_EQ(Modulator::waveRampExponUp()[2048], 0.125f);
    EXPECT_EQ(Modulator::waveRampExponDown()[0], Modulator::waveRampExponUp()[4095]);
    for (int i = 2048; i < 4096; ++i) ASSERT_LE(Modulator::waveSineSquar()[i], -0.5f) << i;
}

TEST(ModulatorLookup, NamedPointsAndBadInputs) {
    EXPECT_EQ(Modulator::getValueFrequencyScaled(0.5f), 0.015625f);
    EXPECT_EQ(Modulator::getValueFrequencyScaled(-0.5f), -0.015625f);
    EXPECT_NEAR(Modulator::getValueFrequencyScaled(0.75f), 0.13258f, 1e-5f);
    EXPECT_NEAR(Modulator::getValueFrequencyScaledInv(0.0f), 1.0f - 0.99807f, 1e-5f);
    EXPECT_EQ(Modulator::getValueFrequencyScaledInv(-0.5f), -(1.0f - Modulator::waveRampLogDown()[2048]));
    for (auto lookup : {&Modulator::getValueFrequencyScaled, &Modulator::getValueFrequencyScaledInv}) {
        EXPECT_EQ(lookup(1.0f), 1.0f);
        EXPECT_EQ(lookup(kNaN), 0.0f);
        EXPECT_EQ(lookup(-kNaN), 0.0f);
        EXPECT_EQ(lookup(1e30f), 1.0f);
        EXPECT_EQ(lookup(-1e30f), -1.0f);
        EXPECT_EQ(lookup(kInf), 1.0f);
        EXPECT_EQ(lookup(-kInf), -1.0f);
    }
}

TEST(Modulator, CountFollowsInstancesAndCopies) {
    const auto before = Modulator::count();
    {
        Modulator a;
        std::vector<Modulator> copies(3, a);
        EXPECT_EQ(Modulator::count(), before + 4);
        copies.clear();
        Modulator b;
        b = a;
        EXPECT_EQ(Modulator::count(), before + 2);
    }
    EXPECT_EQ(Modulator::count(), before);
}

TEST(Modulator, SettersClampOrIgnore) {
    Modulator m;
    m.setFrequency(48000.0f);
    EXPECT_EQ(m.getFrequency(), 47999.0f);
    m.setFrequency(-3.0f);
    EXPECT_EQ(m.getFrequency(), 0.0f);
    m.setFrequency(kNaN);
    EXPECT_EQ(m.getFrequency(), 0.0f);
    m.setSamplerate(0.0f);
    EXPECT_EQ(m.fSamplerate, 48000.0f);
    m.setGain(-2.0f);
    EXPECT_EQ(m.getGain(), -1.0f);
    m.setShape(kNaN);
    EXPECT_EQ(m.getShape(), 1.0f);

    m.setPhase(2.5f);
    EXPECT_EQ(m.getPhase(), 2.5f);
    for (float bad : {-1.0f, kNaN, kInf}) {
        m.setPhase(bad);
        EXPECT_EQ(m.phase, 0) << bad;
    }
    m.setPhase(1e30f); // past what the accumulator holds: a position within one cycle
    EXPECT_GE(m.phase, 0);
    EXPECT_LT(m.phase, 16777216);
}

TEST(Modulator, TableSelectionAndSizes) {
    Modulator m;
    EXPECT_EQ(m.waveTable2, Modulator::waveSine().data());
    m.setTable(3);
    EXPECT_EQ(m.waveTable1, waveBankTable(table_sine));
    EXPECT_EQ(m.waveTable2, waveBankTable(table_03));
    m.setTable(64);
    EXPECT_EQ(m.waveTable2, waveBankTable(table_64));
    m.setTable(-1);
    EXPECT_EQ(m.waveTable1, Modulator::waveSine().data());
    EXPECT_EQ(m.waveTable2, Modulator::waveSine().data());

    const float other[2] = {0.0f, 0.0f};
    for (int bad : {0, -4096, 3000, 1 << 25, std::numeric_limits<int>::max()}) {
        m.setTables(other, other, bad);
        EXPECT_EQ(m.lobits, 12) << bad;
        EXPECT_EQ(m.waveTable1, Modulator::waveSine().data()) << bad;
    }
    m.setTables(other, other, 1 << 24);
    EXPECT_EQ(m.lobits, 0);
    m.setTables(other, other, 2);
    EXPECT_EQ(m.lobits, 23);
}

TEST(WaveBank, SixtySixDistinctSingleCyclesInRange) {
    EXPECT_EQ(waveBankTable(-1), nullptr);
    EXPECT_EQ(waveBankTable(66), nullptr);
    for (int t = 0; t < waveBankSize; ++t) {
        const float* table = waveBankTable(t);
        ASSERT_NE(table, nullptr);
        float peak = 0.0f;
        for (int i = 0; i < kWaveBankPoints; ++i) {
            ASSERT_LE(std::fabs(table[i]), 1.0f) << t << " " << i; // NaN fails too
            peak = std::max(peak, std::fabs(table[i]));
        }
        EXPECT_GT(peak, 0.999f) << t;
        if (t > 0) {
            double difference = 0.0;
            for (int i = 0; i < kWaveBankPoints; ++i)
                difference += std::fabs(table[i] - waveBankTable(t - 1)[i]);
            EXPECT_GT(difference / kWaveBankPoints, 0.01) << t;
        }
    }
    EXPECT_NEAR(waveBankTable(table_sine)[3072], -1.0f, 1e-6f);
}

TEST(NoiseOscillator, FrequencyFollowsRateWithinBounds) {
    NoiseOscillator noise;
    EXPECT_EQ(noise.freq, 44100.0f);
    noise.setFrequency(0.5f);
    EXPECT_EQ(noise.freq, 22050.0f);
    noise.setFrequency(2.0f);
    EXPECT_EQ(noise.fFrequency, 1.0f);
    noise.setFrequency(0.0f);
    noise.setSamplerate(48000.0f);
    EXPECT_EQ(noise.freq, 1.0f);
}
