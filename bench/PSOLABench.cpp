#include <algorithm>
#include <memory>
#include <vector>

#include "bench/BenchSupport.h"
#include "dsp/PSOLA.h"

namespace {

constexpr int kFrames = 512;

// One mono channel as the kernel runs it: 43 Hz lowest frequency at 48 kHz.
void runShifter(benchmark::State& state, float ratio, std::vector<float> source) {
    auto shifter = std::make_unique<PSOLA::PitchShift>(43.0f, 48000.0f);
    shifter->setShift(ratio);
    std::vector<float> buffer(kFrames);
    for (auto _ : state) {
        std::copy(source.begin(), source.end(), buffer.begin());
        shifter->processBuffer(buffer.data(), kFrames);
        benchmark::DoNotOptimize(buffer.data());
    }
    bench::reportRealTime(state, kFrames);
}

} // namespace

static void BM_PSOLANoise(benchmark::State& state) {
    runShifter(state, static_cast<float>(state.range(0)) / 100.0f, bench::noise(kFrames));
}
BENCHMARK(BM_PSOLANoise)->Arg(50)->Arg(150)->Arg(200);

// Silence after a burst: the feedback tail decays through the flushed range.
static void BM_PSOLATail(benchmark::State& state) {
    auto shifter = std::make_unique<PSOLA::PitchShift>(43.0f, 48000.0f);
    shifter->setShift(1.5f);
    auto burst = bench::noise(4096);
    shifter->processBuffer(burst.data(), static_cast<int>(burst.size()));
    std::vector<float> buffer(kFrames);
    for (auto _ : state) {
        std::fill(buffer.begin(), buffer.end(), 0.0f);
        shifter->processBuffer(buffer.data(), kFrames);
        benchmark::DoNotOptimize(buffer.data());
    }
    bench::reportRealTime(state, kFrames);
}
BENCHMARK(BM_PSOLATail);
