#include <memory>
#include <vector>

#include "bench/BenchSupport.h"
#include "dsp/Reverb.h"

namespace {

constexpr int kBlock = 512;
constexpr float kInputGain = 2.0f; // the kernel's send at full level

// Stereo noise, rendered in place as the kernel does, four or eight lanes wide.
template <class Model> void BM_ReverbNoise(benchmark::State& state) {
    const bench::ForcedLanes lanes(state, state.range(0));
    if (!lanes.ok()) return;
    auto reverb = std::make_unique<Model>();
    const std::vector<float> sourceL = bench::noise(kBlock, 1);
    const std::vector<float> sourceR = bench::noise(kBlock, 2);
    std::vector<float> left(kBlock), right(kBlock);
    for (auto _ : state) {
        left = sourceL;
        right = sourceR;
        reverb->process(left.data(), right.data(), left.data(), right.data(), kBlock, kInputGain, 1);
        benchmark::DoNotOptimize(left.data());
        benchmark::DoNotOptimize(right.data());
    }
    bench::reportRealTime(state, kBlock);
}

bool silent(const std::vector<float>& v) {
    for (float s : v)
        if (s != 0.0f) return false;
    return true;
}

// Blocks it takes a tail excited by one block of noise to die away to zeros:
// the first of 16 silent blocks in a row, longer than any line.
template <class Model> int blocksToSilence(Model& reverb, const std::vector<float>& excitation) {
    std::vector<float> left(kBlock), right(kBlock);
    reverb.process(excitation.data(), excitation.data(), left.data(), right.data(), kBlock, kInputGain, 1);
    const std::vector<float> silence(kBlock, 0.0f);
    int blocks = 0;
    int quiet = 0;
    while (quiet < 16) {
        reverb.process(silence.data(), silence.data(), left.data(), right.data(), kBlock, kInputGain, 1);
        ++blocks;
        quiet = silent(left) && silent(right) ? quiet + 1 : 0;
    }
    return blocks - quiet;
}

// Silence after a burst of noise, through the whole decay down to zeros (the
// stretch where subnormals would appear). The burst itself is not timed.
template <class Model> void BM_ReverbTail(benchmark::State& state) {
    const bench::ForcedLanes lanes(state, state.range(0));
    if (!lanes.ok()) return;
    auto reverb = std::make_unique<Model>();
    const std::vector<float> excitation = bench::noise(kBlock, 3);
    const int cycle = blocksToSilence(*reverb, excitation);
    const std::vector<float> silence(kBlock, 0.0f);
    std::vector<float> left(kBlock), right(kBlock);
    int position = 0;
    for (auto _ : state) {
        if (position == 0) {
            state.PauseTiming();
            reverb->process(excitation.data(), excitation.data(), left.data(), right.data(), kBlock,
                            kInputGain, 1);
            state.ResumeTiming();
        }
        reverb->process(silence.data(), silence.data(), left.data(), right.data(), kBlock, kInputGain, 1);
        benchmark::DoNotOptimize(left.data());
        position = (position + 1) % cycle;
    }
    state.counters["tail_blocks"] = cycle;
    bench::reportRealTime(state, kBlock);
}

} // namespace

BENCHMARK(BM_ReverbNoise<revmodelA>)->ArgName("lanes")->Arg(4)->Arg(8);
BENCHMARK(BM_ReverbNoise<revmodelB>)->ArgName("lanes")->Arg(4)->Arg(8);
BENCHMARK(BM_ReverbNoise<revmodelC>)->ArgName("lanes")->Arg(4)->Arg(8);
BENCHMARK(BM_ReverbNoise<revmodelD>)->ArgName("lanes")->Arg(4)->Arg(8);
BENCHMARK(BM_ReverbNoise<revmodelE>)->ArgName("lanes")->Arg(4)->Arg(8);
BENCHMARK(BM_ReverbTail<revmodelA>)->ArgName("lanes")->Arg(4)->Arg(8);
BENCHMARK(BM_ReverbTail<revmodelB>)->ArgName("lanes")->Arg(4)->Arg(8);
BENCHMARK(BM_ReverbTail<revmodelC>)->ArgName("lanes")->Arg(4)->Arg(8);
BENCHMARK(BM_ReverbTail<revmodelD>)->ArgName("lanes")->Arg(4)->Arg(8);
BENCHMARK(BM_ReverbTail<revmodelE>)->ArgName("lanes")->Arg(4)->Arg(8);
