#include <memory>

#include "bench/BenchSupport.h"
#include "dsp/Analyzer.h"

// The display analyser as the kernel runs it: frame 4096, overlap 2, every
// frame sorted into the chromatic scale, fed 512-frame stereo blocks of noise.
static void BM_AnalyzerStereoNoise(benchmark::State& state) {
    // One analyser for every run, so its load line is printed once.
    static const auto analyzer = [] {
        auto a = std::make_unique<SPECTRO::Analyzer>(4096, 2, static_cast<float>(bench::kSampleRate));
        a->setChromatic(true);
        return a;
    }();
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
