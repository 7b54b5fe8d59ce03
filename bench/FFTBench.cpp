#include <vector>

#include "bench/BenchSupport.h"
#include "dsp/FFTBase.h"

namespace {

// Only the transform is timed; the streaming hooks are not needed.
class TransformOnly : public SPECTRO::FFTBase {
public:
    explicit TransformOnly(int size) : FFTBase(size, 4, 48000.0f) {}
    void process(float*, int) noexcept override {}
    void onBufferReady() override {}
};

} // namespace

// A forward and an inverse transform per iteration, rescaled so the data
// stays put; the counter is the time per transform.
static void BM_FFT(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    TransformOnly transform(size);
    auto work = bench::noise(2 * static_cast<std::size_t>(size));
    const float scale = 1.0f / static_cast<float>(size);
    for (auto _ : state) {
        transform.fft(-1, work.data());
        transform.fft(1, work.data());
        for (auto& x : work) x *= scale;
        benchmark::DoNotOptimize(work.data());
        benchmark::ClobberMemory();
    }
    state.counters["us_per_transform"] =
        benchmark::Counter(2.0e-6 * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FFT)->Arg(1024)->Arg(4096)->Unit(benchmark::kMicrosecond);
