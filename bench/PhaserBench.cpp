#include <algorithm>
#include <memory>
#include <vector>

#include "bench/BenchSupport.h"
#include "dsp/Phaser.h"

namespace {
constexpr int kFrames = 512;
}

// Eight-section block form on one mono channel of noise.
static void BM_PhaserBlock(benchmark::State& state) {
    auto phaser = std::make_unique<CPhaser>();
    phaser->setSamplerate(48000.0f);
    const auto in = bench::noise(kFrames);
    std::vector<float> out(kFrames);
    for (auto _ : state) {
        std::copy(in.begin(), in.end(), out.begin());
        phaser->processBuffer(in.data(), out.data(), kFrames);
        benchmark::DoNotOptimize(out.data());
    }
    bench::reportRealTime(state, kFrames);
}
BENCHMARK(BM_PhaserBlock);

// Single-section form, one call per sample, as the pitch shifter drives it.
static void BM_PhaserSample(benchmark::State& state) {
    auto phaser = std::make_unique<CPhaser>();
    phaser->setSamplerate(48000.0f);
    auto buffer = bench::noise(kFrames);
    for (auto _ : state) {
        for (auto& s : buffer) s = phaser->processSample(s);
        benchmark::DoNotOptimize(buffer.data());
    }
    bench::reportRealTime(state, kFrames);
}
BENCHMARK(BM_PhaserSample);
