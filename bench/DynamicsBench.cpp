#include <cmath>
#include <cstddef>
#include <vector>

#include "bench/BenchSupport.h"
#include "dsp/Compander.h"
#include "dsp/Panpot.h"

namespace {

constexpr std::size_t kFrames = 512;
constexpr std::size_t kSignalFrames = 96000;

// Stereo test material, processed in place in 512-frame blocks. Each block is
// processed once per pass; the working copy is refreshed (untimed) between passes.
struct Material {
    std::vector<float> left, right;
};

Material noiseMaterial() { return {bench::noise(kSignalFrames, 5), bench::noise(kSignalFrames, 6)}; }

// Noise falling exponentially from 0.5 to far below the smallest normal float.
Material tailMaterial() {
    Material m = noiseMaterial();
    const double perFrame = std::log(1e-45) / static_cast<double>(kSignalFrames);
    for (std::size_t i = 0; i < kSignalFrames; ++i) {
        const auto g = static_cast<float>(std::exp(perFrame * static_cast<double>(i)));
        m.left[i] *= g;
        m.right[i] *= g;
    }
    return m;
}

template <class Stage> void runStage(benchmark::State& state, const Material& material, Stage&& process) {
    Material work = material;
    std::size_t pos = 0;
    for (auto _ : state) {
        if (pos + kFrames > kSignalFrames) {
            state.PauseTiming();
            work = material;
            pos = 0;
            state.ResumeTiming();
        }
        process(work.left.data() + pos, work.right.data() + pos, static_cast<long>(kFrames));
        benchmark::DoNotOptimize(work.left.data());
        benchmark::DoNotOptimize(work.right.data());
        pos += kFrames;
    }
    bench::reportRealTime(state, static_cast<std::int64_t>(kFrames));
}

Material materialFor(const benchmark::State& state) {
    return state.range(0) == 0 ? noiseMaterial() : tailMaterial();
}

} // namespace

// Argument 0: noise; 1: decaying tail.
static void BM_Panpot(benchmark::State& state) {
    Panpot pan;
    pan.setValue(-0.35f, 0);
    runStage(state, materialFor(state), [&](float* l, float* r, long n) { pan.processBuffer(l, r, n); });
}
BENCHMARK(BM_Panpot)->Arg(0)->Arg(1);

static void BM_StereoProcessor(benchmark::State& state) {
    StereoProcessor width;
    width.setValue(0.6f);
    runStage(state, materialFor(state),
             [&](float* l, float* r, long n) { width.processBufferInpalce(l, r, n); });
}
BENCHMARK(BM_StereoProcessor)->Arg(0)->Arg(1);

static void BM_Compander(benchmark::State& state) {
    Compander comp;
    comp.setMultiplier(0.5f);
    runStage(state, materialFor(state), [&](float* l, float* r, long n) { comp.processBuffers(l, r, n); });
}
BENCHMARK(BM_Compander)->Arg(0)->Arg(1);
