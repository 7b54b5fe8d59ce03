#include <memory>
#include <vector>

#include "bench/BenchSupport.h"
#include "dsp/Delay.h"

namespace {

constexpr int kFrames = 512;

// A 48 kHz pair at a quarter-second cycle with a long feedback tail.
std::unique_ptr<StereoDelay> makeDelay() {
    auto d = std::make_unique<StereoDelay>();
    d->setSamplerate(48000.0f);
    d->reset();
    d->setTempo(120.0f);
    d->setDivision(2.0f);
    d->setFeedback(0.9f);
    d->left.setPhase(0.5f);
    return d;
}

} // namespace

static void BM_StereoDelayNoise(benchmark::State& state) {
    auto d = makeDelay();
    const std::vector<float> inL = bench::noise(kFrames, 1), inR = bench::noise(kFrames, 2);
    std::vector<float> outL(kFrames), outR(kFrames);
    for (auto _ : state) {
        d->processBuffer(inL.data(), inR.data(), outL.data(), outR.data(), kFrames);
        benchmark::DoNotOptimize(outL.data());
        benchmark::DoNotOptimize(outR.data());
    }
    bench::reportRealTime(state, kFrames);
}
BENCHMARK(BM_StereoDelayNoise);

// Silence in after a burst of noise: the lines recirculate their own decaying
// tail, down through the range where denormals would appear.
static void BM_StereoDelayTail(benchmark::State& state) {
    auto d = makeDelay();
    const std::vector<float> burstL = bench::noise(12000, 3), burstR = bench::noise(12000, 4);
    std::vector<float> scratchL(12000), scratchR(12000);
    d->processBuffer(burstL.data(), burstR.data(), scratchL.data(), scratchR.data(), 12000);
    const std::vector<float> silence(kFrames, 0.0f);
    std::vector<float> outL(kFrames), outR(kFrames);
    for (auto _ : state) {
        d->processBuffer(silence.data(), silence.data(), outL.data(), outR.data(), kFrames);
        benchmark::DoNotOptimize(outL.data());
        benchmark::DoNotOptimize(outR.data());
    }
    bench::reportRealTime(state, kFrames);
}
BENCHMARK(BM_StereoDelayTail);
