#include <cstdio>
#include <memory>

#include "bench/BenchSupport.h"
#include "dsp/Analyzer.h"

// The display analyser as the kernel runs it: frame 4096, overlap 2, every
// frame sorted into the chromatic scale, fed 512-frame stereo blocks of noise.
static void BM_AnalyzerStereoNoise(benchmark::State& state) {
    std::fflush(stdout);
    auto analyzer = std::make_unique<SPECTRO::Analyzer>(4096, 2, static_cast<float>(bench::kSampleRate));
    analyzer->setChromatic(true);
    constexpr int kBlock = 512;
    constexpr int kBlocks = 64;
    std::vector<float> left = bench::noise(kBlock * kBlocks, 11);
    std::vector<float> right = bench::noise(kBlock * kBlocks, 12);
    int block = 0;
    for (auto _ : state) {
        analyzer->process(left.data() + block * kBlock, right.data() + block * kBlock, kBlock);
        block = (block + 1) % kBlocks;
        benchmark::DoNotOptimize(analyzer->scala.chromatic);
    }
    bench::reportRealTime(state, kBlock);
}
BENCHMARK(BM_AnalyzerStereoNoise);
