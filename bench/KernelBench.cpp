#include <cstring>

#include "bench/BenchSupport.h"
#include "kernel/Orvo_Halden_ExtensionDSPKernelAdapter.h"
#include "kernel/ParameterAddress.h"

namespace {

enum class Setup { FullBand, ThreeBands, ThreeBandsSpectralShift, ThreeBandsDelays };

void configure(Orvo_Halden_Extension_DSPKernel& k, Setup setup) {
    k.setParameter(kCurrentMode, setup == Setup::FullBand ? 0.0f : 1.0f);
    for (AUParameterAddress b = 0; b < 4; ++b) {
        k.setParameter(kReverbWet0 + b, 1.0f); // wet
        if (setup == Setup::ThreeBandsSpectralShift) {
            k.setParameter(kReverbShift0 + b, 1.0f);
            k.setParameter(kReverbShiftAmount0 + b, 0.75f);
            k.setParameter(kReverbShiftMode0 + b, 1.0f);
        }
        if (setup == Setup::ThreeBandsDelays) {
            k.setParameter(kReverbPreDelay0 + b, 1.0f);
            k.setParameter(kReverbPreDelayFeedback0 + b, 0.5f);
            k.setParameter(kReverbPostDelayFeedback0 + b, 0.5f);
        }
    }
}

// The whole effect through its render entry, 512-frame blocks of stereo
// noise (or silence after a burst, for the decaying tail).
void runKernel(benchmark::State& state, Setup setup, bool tail) {
    constexpr AUAudioFrameCount kFrames = 512;
    auto adapter = Orvo_Halden_ExtensionDSPKernelAdapter::make();
    adapter->allocateRenderResources();
    configure(adapter->kernel(), setup);
    const auto noise = bench::noise(kFrames * 2);
    bool silent = false;
    AURenderPullInputBlock pull = [&](AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                                      AUAudioFrameCount frames, NSInteger,
                                      AudioBufferList* list) -> AUAudioUnitStatus {
        for (std::uint32_t c = 0; c < 2; ++c) {
            auto* dst = static_cast<float*>(list->mBuffers[c].mData);
            if (silent)
                std::memset(dst, 0, frames * sizeof(float));
            else
                std::memcpy(dst, noise.data() + c * kFrames, frames * sizeof(float));
        }
        return noErr;
    };
    std::vector<float> left(kFrames), right(kFrames);
    AudioBufferListStorage out(2);
    out.get()->mBuffers[0] = AudioBuffer{1, kFrames * sizeof(float), left.data()};
    out.get()->mBuffers[1] = AudioBuffer{1, kFrames * sizeof(float), right.data()};
    AudioTimeStamp ts;
    auto render = [&] {
        benchmark::DoNotOptimize(adapter->render(nullptr, &ts, kFrames, 0, out.get(), nullptr, pull));
        ts.mSampleTime += kFrames;
    };
    if (tail) {
        for (int i = 0; i < 200; ++i) render();
        silent = true;
    }
    for (auto _ : state) {
        render();
        benchmark::DoNotOptimize(left.data());
    }
    bench::reportRealTime(state, kFrames);
}

} // namespace

BENCHMARK_CAPTURE(runKernel, FullBand_Noise, Setup::FullBand, false);
BENCHMARK_CAPTURE(runKernel, FullBand_Tail, Setup::FullBand, true);
BENCHMARK_CAPTURE(runKernel, ThreeBands_Noise, Setup::ThreeBands, false);
BENCHMARK_CAPTURE(runKernel, ThreeBands_Tail, Setup::ThreeBands, true);
BENCHMARK_CAPTURE(runKernel, ThreeBandsSpectralShift_Noise, Setup::ThreeBandsSpectralShift, false);
BENCHMARK_CAPTURE(runKernel, ThreeBandsDelays_Noise, Setup::ThreeBandsDelays, false);
