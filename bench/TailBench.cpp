#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "kernel/Orvo_Halden_ExtensionDSPKernelAdapter.h"
#include "kernel/ParameterAddress.h"

namespace {

// CPU time of the calling thread, which a busy machine inflates far less than wall time.
double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// What the decaying tail of a small room costs beside the loud noise that
// made it, full band, per reverb size and lane width. The tail falls through
// the bottom of the float range within the run; a processor that takes a slow
// path for tiny operands shows it here as a ratio well above 1.
//
// Every iteration renders 2 s of noise and 45 s of silence in quarter-second
// chunks; each chunk keeps its best time over the iterations, so a slow moment
// of the machine has to hit the same chunk every time to count. tail_vs_noise
// is the dearest tail chunk over the dearest noise chunk.
void decayingTail(benchmark::State& state) {
    const int model = static_cast<int>(state.range(0));
    const bench::ForcedLanes lanes(state, state.range(1));
    if (!lanes.ok()) return;

    constexpr AUAudioFrameCount kBlock = 512;
    constexpr std::size_t kChunk = 12000;
    constexpr int kNoiseChunks = 8, kTailChunks = 180;
    auto adapter = Orvo_Halden_ExtensionDSPKernelAdapter::make();
    adapter->allocateRenderResources();
    Orvo_Halden_Extension_DSPKernel& kernel = adapter->kernel();
    kernel.setParameter(kReverbModel0, static_cast<AUValue>(model));
    kernel.setParameter(kReverbSize0, 0.0f);
    kernel.setParameter(kReverbWet0, 1.0f);

    std::vector<float> inL(kChunk), inR(kChunk), left(kBlock), right(kBlock);
    std::size_t at = 0;
    AURenderPullInputBlock pull = [&](AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                                      AUAudioFrameCount frames, NSInteger,
                                      AudioBufferList* list) -> AUAudioUnitStatus {
        std::copy_n(inL.data() + at, frames, static_cast<float*>(list->mBuffers[0].mData));
        std::copy_n(inR.data() + at, frames, static_cast<float*>(list->mBuffers[1].mData));
        return noErr;
    };
    AudioBufferListStorage out(2);
    AudioTimeStamp ts;
    // One chunk through the render entry; answers its thread time.
    auto renderChunk = [&] {
        const double start = threadSeconds();
        for (at = 0; at < kChunk; at += kBlock) {
            const auto frames = static_cast<AUAudioFrameCount>(std::min<std::size_t>(kBlock, kChunk - at));
            const auto bytes = static_cast<std::uint32_t>(frames * sizeof(float));
            out.get()->mBuffers[0] = AudioBuffer{1, bytes, left.data()};
            out.get()->mBuffers[1] = AudioBuffer{1, bytes, right.data()};
            benchmark::DoNotOptimize(adapter->render(nullptr, &ts, frames, 0, out.get(), nullptr, pull));
            ts.mSampleTime += frames;
        }
        benchmark::ClobberMemory();
        return threadSeconds() - start;
    };

    std::vector<double> noiseBest(kNoiseChunks, 1e9), tailBest(kTailChunks, 1e9);
    float lastPeak = 0.0f;
    for (auto _ : state) {
        adapter->reset();
        for (int i = 0; i < kNoiseChunks; ++i) {
            inL = bench::noise(kChunk, static_cast<std::uint32_t>(2 * i));
            inR = bench::noise(kChunk, static_cast<std::uint32_t>(2 * i + 1));
            noiseBest[i] = std::min(noiseBest[i], renderChunk());
        }
        std::fill(inL.begin(), inL.end(), 0.0f);
        std::fill(inR.begin(), inR.end(), 0.0f);
        for (int i = 0; i < kTailChunks; ++i) tailBest[i] = std::min(tailBest[i], renderChunk());
        lastPeak = 0.0f;
        for (std::size_t k = 0; k < kBlock; ++k)
            lastPeak = std::max({lastPeak, std::abs(left[k]), std::abs(right[k])});
    }
    // Whether the tail reached true silence, so that its whole decay was measured.
    if (lastPeak != 0.0f) state.SkipWithError("the tail is still sounding at the end");
    const double noise = *std::max_element(noiseBest.begin(), noiseBest.end());
    const double tail = *std::max_element(tailBest.begin(), tailBest.end());
    state.counters["noise_ms"] = 1e3 * noise;
    state.counters["tail_ms"] = 1e3 * tail;
    state.counters["tail_vs_noise"] = tail / noise;
    state.SetLabel("model " + std::to_string(model));
}

} // namespace

BENCHMARK(decayingTail)
    ->ArgNames({"model", "lanes"})
    ->ArgsProduct({{0, 1, 2, 3, 4}, {4, 8}})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
