#include "bench/BenchSupport.h"
#include "dsp/Interpolator2.h"

// A control ramp read once per sample, as the smoothed pan path does.
static void BM_Interpolator2Ramp(benchmark::State& state) {
    Interpolator2 ramp;
    constexpr int kFrames = 512;
    float flip = 0.0f;
    for (auto _ : state) {
        ramp.setDestinationValue(flip, 256);
        flip = 1.0f - flip;
        float sum = 0.0f;
        for (int i = 0; i < kFrames; ++i) sum += ramp.getValue();
        benchmark::DoNotOptimize(sum);
    }
    bench::reportRealTime(state, kFrames);
}
BENCHMARK(BM_Interpolator2Ramp);
