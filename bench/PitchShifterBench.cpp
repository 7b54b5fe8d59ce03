#include <memory>

#include "bench/BenchSupport.h"
#include "dsp/PitchShifter.h"

// One mono shifter as the kernel runs it (frame 1024, overlap 6) on noise,
// in render-sized blocks.
static void BM_PitchShifterMono(benchmark::State& state) {
    auto shifter = std::make_unique<SPECTRO::PitchShifter>(4096, 6, 48000.0f);
    shifter->setSize(1024);
    shifter->setShift(1.5f);
    constexpr int kBlock = 512;
    const auto source = bench::noise(kBlock * 94);
    auto work = source;
    for (auto _ : state) {
        for (std::size_t at = 0; at < work.size(); at += kBlock) shifter->process(work.data() + at, kBlock);
        benchmark::DoNotOptimize(work.data());
        work = source;
    }
    bench::reportRealTime(state, static_cast<std::int64_t>(source.size()));
}
BENCHMARK(BM_PitchShifterMono)->Unit(benchmark::kMillisecond);
