#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "dsp/BandSplitFilter3.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/Heap.h"
#include "tests/support/Signals.h"
#include "tests/support/FrequencyMeasures.h"
#include "tests/support/Subnormals.h"

namespace {

constexpr double kRate = 48000.0;
constexpr int kMax = BandSplitFilter3::kMaxFrames;

bool sameBits(const float* a, const float* b, int n) { return std::memcmp(a, b, sizeof(float) * n) == 0; }

// Low, band and high rows; left channel first.
std::array<float*, 6> bands(BandSplitFilter3& s) {
    return {s.getLPLeft(), s.getBPLeft(), s.getHPLeft(), s.getLPRight(), s.getBPRight(), s.getHPRight()};
}

bool sameBands(BandSplitFilter3& a, BandSplitFilter3& b, int n) {
    for (int k = 0; k < 6; ++k)
        if (!sameBits(bands(a)[k], bands(b)[k], n)) return false;
    return true;
}

std::unique_ptr<BandSplitFilter3> splitterAt(float low, float high) {
    auto splitter = testkit::makeHeap<BandSplitFilter3>();
    splitter->setCutoff1(0.0f);
    splitter->setCutoff2(high);
    splitter->setCutoff1(low);
    return splitter;
}

// Energy of each band of one channel over a sine held long enough to settle.
struct Shares {
    double low, band, high;
};

Shares bandShares(double hz) {
    auto splitter = splitterAt(0.6f, 0.8f);
    const auto tone = testkit::sine(hz, kRate, 4 * kMax);
    for (int block = 0; block < 4; ++block) splitter->split(&tone[block * kMax], &tone[block * kMax], kMax);
    const double low = testkit::energy(splitter->getLPLeft(), kMax);
    const double band = testkit::energy(splitter->getBPLeft(), kMax);
    const double high = testkit::energy(splitter->getHPLeft(), kMax);
    const double total = low + band + high;
    return {low / total, band / total, high / total};
}

} // namespace

TEST(BandSplitFilter3, BandsSumToTheInputAcrossCutoffChanges) {
    auto splitter = testkit::makeHeap<BandSplitFilter3>();
    const int frames = 40 * 300;
    const auto left = testkit::noise(frames, 3);
    const auto right = testkit::sweep(20.0, 20000.0, kRate, frames);
    const float cutoffs[][2] = {{0.1f, 0.9f}, {0.7f, 0.2f}, {0.0f, 1.0f}, {0.95f, 0.99f}, {0.5f, 0.5f}};
    double worst = 0.0;
    for (int block = 0; block < frames / 300; ++block) {
        splitter->setCutoff1(cutoffs[block % 5][0]);
        splitter->setCutoff2(cutoffs[block % 5][1]);
        const float* in[2] = {&left[block * 300], &right[block * 300]};
        splitter->split(in[0], in[1], 300);
        const auto row = bands(*splitter);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < 300; ++i) {
                const double sum = double(row[3 * c][i]) + row[3 * c + 1][i] + row[3 * c + 2][i];
                worst = std::max(worst, std::fabs(sum - in[c][i]));
            }
    }
    EXPECT_LE(worst, 1e-6);
}

// Split points at about 290 Hz and 1.5 kHz: each tone lands in its own band,
// and the high share only grows with frequency.
TEST(BandSplitFilter3, BandEnergyMovesWithFrequency) {
    struct Tone {
        double hz;
        int band; // 0 low, 1 band, 2 high
    };
    const Tone tones[] = {{30.0, 0}, {120.0, 0}, {600.0, 1}, {3000.0, 2}, {12000.0, 2}};
    double previousHigh = 0.0, previousLow = 1.0;
    for (const Tone& tone : tones) {
        const Shares s = bandShares(tone.hz);
        const double share[3] = {s.low, s.band, s.high};
        EXPECT_GT(share[tone.band], 0.85) << tone.hz;
        EXPECT_GE(s.high, previousHigh) << tone.hz;
        if (tone.hz > 120.0) {
            EXPECT_LT(s.low, previousLow) << tone.hz;
        }
        previousHigh = s.high;
        previousLow = s.low;
    }
}

TEST(BandSplitFilter3, CutoffsKeepTheirOrderAndIgnoreOutOfRange) {
    auto splitter = testkit::makeHeap<BandSplitFilter3>();
    EXPECT_EQ(splitter->fCutoff1, 0.333f);
    EXPECT_EQ(splitter->fCutoff2, 0.666f);
    splitter->setCutoff1(0.8f);
    EXPECT_EQ(splitter->fCutoff1, 0.666f);
    splitter->setCutoff1(0.333f);
    splitter->setCutoff2(0.1f);
    EXPECT_EQ(splitter->fCutoff2, 0.333f);
    splitter->setCutoff2(0.7f);
    for (float bad :
         {1.5f, -0.1f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        splitter->setCutoff1(bad);
        splitter->setCutoff2(bad);
        EXPECT_EQ(splitter->fCutoff1, 0.333f) << bad;
        EXPECT_EQ(splitter->fCutoff2, 0.7f) << bad;
    }
    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(splitter->lpf[c].fCutoff, 0.333f);
        EXPECT_EQ(splitter->hpf[c].fCutoff, 0.7f);
    }
}

TEST(BandSplitFilter3, SplitProcessesAtMostOneBufferOfFrames) {
    auto capped = testkit::makeHeap<BandSplitFilter3>();
    auto exact = testkit::makeHeap<BandSplitFilter3>();
    const auto left = testkit::noise(5000, 5);
    const auto right = testkit::noise(5000, 6);
    capped->split(left.data(), right.data(), 5000);
    exact->split(left.data(), right.data(), kMax);
    EXPECT_TRUE(sameBands(*capped, *exact, kMax));
    // Same state afterwards: the next block comes out the same.
    capped->split(left.data(), right.data(), 100);
    exact->split(left.data(), right.data(), 100);
    EXPECT_TRUE(sameBands(*capped, *exact, 100));

    const auto before = testkit::makeHeap<BandSplitFilter3>(*exact);
    exact->split(left.data(), right.data(), -7);
    exact->split(nullptr, nullptr, 0);
    EXPECT_TRUE(sameBands(*exact, *before, kMax));
}

TEST(BandSplitFilter3, SplitMatchesTheTwoFilterPassesPerChannel) {
    auto splitter = splitterAt(0.55f, 0.85f);
    auto byHand = splitterAt(0.55f, 0.85f);
    const auto left = testkit::noise(kMax, 8);
    const auto right = testkit::sweep(30.0, 18000.0, kRate, kMax);
    splitter->split(left.data(), right.data(), kMax);
    const float* in[2] = {left.data(), right.data()};
    for (int c = 0; c < 2; ++c) {
        byHand->hpf[c].processBufferHP(in[c], byHand->bufferHP[c], byHand->bufferBP[c], kMax);
        byHand->lpf[c].processBufferLP(byHand->bufferBP[c], byHand->bufferLP[c], byHand->bufferBP[c], kMax);
    }
    EXPECT_TRUE(sameBands(*splitter, *byHand, kMax));
}

TEST(BandSplitFilter3, ResetClearsStateButKeepsTheCutoffs) {
    auto used = splitterAt(0.55f, 0.75f);
    auto fresh = splitterAt(0.55f, 0.75f);
    const auto noise = testkit::noise(kMax, 9);
    used->split(noise.data(), noise.data(), kMax);
    used->reset();
    EXPECT_EQ(used->fCutoff1, 0.55f);
    EXPECT_EQ(used->fCutoff2, 0.75f);
    EXPECT_EQ(testkit::peakAbs(used->getHPLeft(), kMax), 0.0f);
    EXPECT_EQ(testkit::peakAbs(used->getBPRight(), kMax), 0.0f);
    EXPECT_EQ(used->lpf[0].cf, fresh->lpf[0].cf);
    EXPECT_EQ(used->hpf[1].cf, fresh->hpf[1].cf);

    const auto next = testkit::sweep(40.0, 15000.0, kRate, kMax);
    used->split(next.data(), noise.data(), kMax);
    fresh->split(next.data(), noise.data(), kMax);
    EXPECT_TRUE(sameBands(*used, *fresh, kMax));
}

TEST(BandSplitFilter3, SilenceAfterNoiseDecaysToExactZeros) {
    for (float lowCut : {0.0f, 0.333f, 0.5f, 0.7f, 0.9f, 1.0f}) {
        auto splitter = splitterAt(lowCut, std::max(lowCut, 0.666f));
        const auto fresh = testkit::makeHeap<BandSplitFilter3>(*splitter);
        const auto noise = testkit::noise(kMax, 10);
        const std::vector<float> silence(kMax, 0.0f);
        splitter->split(noise.data(), noise.data(), kMax);
        std::size_t subnormals = 0;
        for (int block = 0; block < 400; ++block) {
            splitter->split(silence.data(), silence.data(), kMax);
            for (const float* row : bands(*splitter)) subnormals += testkit::countSubnormals(row, kMax);
        }
        EXPECT_EQ(subnormals, 0u) << lowCut;
        EXPECT_EQ(testkit::peakAbs(splitter->getLPLeft(), kMax), 0.0f) << lowCut;
        EXPECT_EQ(testkit::peakAbs(splitter->getBPRight(), kMax), 0.0f) << lowCut;
        for (const auto* f : {&splitter->lpf[0], &splitter->lpf[1], &splitter->hpf[0], &splitter->hpf[1]}) {
            const float state[] = {f->b1, f->r1, f->b2, f->r2, f->b3, f->r3, f->b4, f->r4};
            for (float v : state) EXPECT_EQ(v, 0.0f) << lowCut;
        }
        // Fully at rest again: new input comes out as from a fresh splitter.
        splitter->split(noise.data(), noise.data(), kMax);
        fresh->split(noise.data(), noise.data(), kMax);
        EXPECT_TRUE(sameBands(*splitter, *fresh, kMax)) << lowCut;
    }
}

TEST(BandSplitFilter3, SplitDoesNotAllocate) {
    auto splitter = testkit::makeHeap<BandSplitFilter3>();
    const auto noise = testkit::noise(kMax, 11);
    testkit::AllocationCounter counter;
    for (int i = 0; i < 8; ++i) {
        splitter->setCutoff1(0.1f * i);
        splitter->split(noise.data(), noise.data(), 512);
    }
    splitter->reset();
    const auto allocations = counter.count();
    EXPECT_EQ(allocations, 0u);
}

TEST(SVFilter4Pole1, LowCutoffsUseTheFloorCoefficient) {
    SVFilter4Pole1 filter;
    for (float c : {0.0f, 0.1f, -0.5f, std::numeric_limits<float>::quiet_NaN()}) {
        filter.setCutoff(c);
        EXPECT_EQ(filter.cf, 0.0012f) << c;
    }
    filter.setCutoff(2.0f);
    EXPECT_EQ(filter.cf, 1.0f);
    filter.setCutoff(0.5f);
    EXPECT_EQ(filter.cf, 0.015625f);
}

TEST(SVFilter4Pole1, StagesRunSideBySide) {
    const auto input = testkit::noise(2000, 12);
    auto run = [&](float poles, bool high) {
        SVFilter4Pole1 filter;
        filter.fPoles = poles;
        std::vector<float> out(input.size()), rest(input.size());
        if (high)
            filter.processBufferHP(input.data(), out.data(), rest.data(), int(input.size()));
        else
            filter.processBufferLP(input.data(), out.data(), rest.data(), int(input.size()));
        return out;
    };
    for (bool high : {false, true}) {
        const auto one = run(1.0f, high);
        for (float poles : {2.0f, 3.0f, 4.0f, 0.0f})
            EXPECT_TRUE(sameBits(one.data(), run(poles, high).data(), int(one.size()))) << poles;
    }
}

// A stage that was idle starts from its own (cleared) state when more stages are switched on.
TEST(SVFilter4Pole1, StagesSwitchedOnLateStartFromRest) {
    const auto input = testkit::noise(3000, 13);
    SVFilter4Pole1 switched, fresh;
    switched.fPoles = 1.0f;
    std::vector<float> out(3000), rest(3000), expected(3000);
    switched.processBufferHP(input.data(), out.data(), rest.data(), 1000);
    switched.fPoles = 3.0f;
    switched.processBufferHP(&input[1000], out.data(), rest.data(), 2000);
    fresh.processBufferHP(&input[1000], expected.data(), rest.data(), 2000);
    EXPECT_TRUE(sameBits(out.data(), expected.data(), 2000));
    EXPECT_NE(switched.b1, switched.b3);
}

TEST(SVFilter4Pole1, SingleSampleFormsMatchTheBufferForms) {
    const auto input = testkit::noise(500, 14);
    SVFilter4Pole1 buffered, single, inPlace;
    std::vector<float> out(500), rest(500);
    buffered.processBufferLP(input.data(), out.data(), rest.data(), 500);
    for (int i = 0; i < 500; ++i) {
        float y, r, x = input[i];
        single.processSampleLP(&input[i], &y, &r);
        inPlace.processSampleLP(&x);
        ASSERT_EQ(y, out[i]) << i;
        ASSERT_EQ(r, rest[i]) << i;
        ASSERT_EQ(x, out[i]) << i;
    }
}
