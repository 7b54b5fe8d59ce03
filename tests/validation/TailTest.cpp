#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

#include "tests/validation/ValidationHost.h"

using namespace validation;

namespace {

constexpr double kRate = 48000.0;
constexpr AUAudioFrameCount kBlock = 512;
constexpr AUParameterAddress kReverbModel = 46, kReverbSize = 26;

void setAllBands(Host& host, AUParameterAddress base, AUValue value) {
    for (AUParameterAddress b = 0; b < 4; ++b) host.setThroughTree(base + b, value);
}

// CPU time of the calling thread, which a loaded machine inflates far less than wall time.
double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

class EveryModel : public testing::TestWithParam<int> {};

std::string modelName(const testing::TestParamInfo<int>& info) {
    return "Model" + std::to_string(info.param);
}

} // namespace

// A host may stop calling a plug-in that never falls silent.
TEST_P(EveryModel, SilenceFollowsNoiseWithinTwentySeconds) {
    Host host(kRate, 4096);
    setAllBands(host, kReverbModel, static_cast<AUValue>(GetParam()));
    host.unit->reset();
    Stereo loud = noise(framesFor(1.0, kRate), 8, 1.0f);
    ASSERT_EQ(host.process(loud, kBlock), noErr);
    ASSERT_GT(peak(loud), 0.1f);

    Stereo quiet(static_cast<std::size_t>(20.5 * kRate));
    ASSERT_EQ(host.process(quiet, kBlock), noErr);
    const float after = peak(quiet, static_cast<std::size_t>(20.0 * kRate));
    EXPECT_LT(dBFS(after), -77.6f);
    EXPECT_EQ(subnormals(quiet), 0u);
    EXPECT_EQ(host.renderAllocations(), 0u);
}

// The tail of a small room falls through the whole float range within the
// run; where values near zero were not flushed, processing them would cost
// many times what loud noise costs.
TEST_P(EveryModel, ADecayingTailCostsNoMoreThanTwiceWhatNoiseCosts) {
    Host host(kRate, 4096);
    setAllBands(host, kReverbModel, static_cast<AUValue>(GetParam()));
    setAllBands(host, kReverbSize, 0.0f);
    constexpr std::size_t kChunk = 12000; // a quarter of a second
    constexpr int kNoiseChunks = 8, kTailChunks = 180, kRuns = 3;
    std::vector<double> noiseBest(kNoiseChunks, 1e9), tailBest(kTailChunks, 1e9);

    // Every chunk's best of several runs: a slow moment of the machine has to
    // hit the same chunk in every run to count.
    for (int run = 0; run < kRuns; ++run) {
        host.unit->reset();
        for (int i = 0; i < kNoiseChunks; ++i) {
            Stereo chunk = noise(kChunk, static_cast<std::uint32_t>(i), 0.5f);
            const double start = threadSeconds();
            ASSERT_EQ(host.process(chunk, kBlock), noErr);
            noiseBest[i] = std::min(noiseBest[i], threadSeconds() - start);
        }
        Stereo chunk(kChunk);
        for (int i = 0; i < kTailChunks; ++i) {
            std::fill(chunk.L.begin(), chunk.L.end(), 0.0f);
            std::fill(chunk.R.begin(), chunk.R.end(), 0.0f);
            const double start = threadSeconds();
            ASSERT_EQ(host.process(chunk, kBlock), noErr);
            tailBest[i] = std::min(tailBest[i], threadSeconds() - start);
            ASSERT_EQ(subnormals(chunk), 0u) << "chunk " << i;
        }
        // The tail did reach true silence, so its whole decay was measured.
        EXPECT_EQ(peak(chunk), 0.0f);
    }
    const double noiseCost = *std::max_element(noiseBest.begin(), noiseBest.end());
    const double tailCost = *std::max_element(tailBest.begin(), tailBest.end());
    EXPECT_LT(tailCost, 2.0 * noiseCost)
        << "tail " << tailCost << " s, noise " << noiseCost << " s per chunk";
}

INSTANTIATE_TEST_SUITE_P(Tails, EveryModel, testing::Range(0, 5), modelName);
