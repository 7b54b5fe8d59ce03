#include <memory>
#include <vector>

#include "bench/BenchSupport.h"
#include "dsp/BandSplitFilter3.h"

namespace {

constexpr int kFrames = 512;

// Splits stereo 512-frame blocks; block k of each period gets its input from
// sourceOf(k), a pair of pointers into small, cache-resident buffers.
template <class Source> void runSplit(benchmark::State& state, int period, Source sourceOf) {
    auto splitter = std::make_unique<BandSplitFilter3>();
    splitter->setCutoff1(0.333f);
    splitter->setCutoff2(0.8f);
    int block = 0;
    for (auto _ : state) {
        const auto [left, right] = sourceOf(block);
        splitter->split(left, right, kFrames);
        benchmark::DoNotOptimize(splitter->getBPLeft()[kFrames - 1]);
        benchmark::DoNotOptimize(splitter->getBPRight()[kFrames - 1]);
        block = (block + 1) % period;
    }
    bench::reportRealTime(state, kFrames);
}

struct Pair {
    const float* left;
    const float* right;
};

} // namespace

static void BM_BandSplitFilter3Noise(benchmark::State& state) {
    constexpr int blocks = 64;
    const auto left = bench::noise(blocks * kFrames, 11);
    const auto right = bench::noise(blocks * kFrames, 12);
    runSplit(state, blocks, [&](int k) { return Pair{&left[k * kFrames], &right[k * kFrames]}; });
}
BENCHMARK(BM_BandSplitFilter3Noise);

// One block of noise, then 511 of silence (about 5 s): the low band rings
// down through the range where unflushed state would turn subnormal.
static void BM_BandSplitFilter3DecayingTail(benchmark::State& state) {
    const auto left = bench::noise(kFrames, 11);
    const auto right = bench::noise(kFrames, 12);
    const std::vector<float> silence(kFrames, 0.0f);
    runSplit(state, 512, [&](int k) {
        return k == 0 ? Pair{left.data(), right.data()} : Pair{silence.data(), silence.data()};
    });
}
BENCHMARK(BM_BandSplitFilter3DecayingTail);
