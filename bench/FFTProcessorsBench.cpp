#include <algorithm>
#include <memory>
#include <vector>

#include "bench/BenchSupport.h"
#include "dsp/FFTProcessors.h"

namespace {

constexpr int kBlock = 512;
constexpr int kBlocks = 64;

// The analyser base prints a load line per object; make each one once.
template <class P> P& instance(int size, int overlap) {
    static const auto p = std::make_unique<P>(size, overlap, static_cast<float>(bench::kSampleRate));
    return *p;
}

// One mono channel, 512-frame blocks of noise.
template <class P> void runMono(benchmark::State& state, P& p) {
    const std::vector<float> source = bench::noise(kBlock * kBlocks, 21);
    std::vector<float> buffer(kBlock);
    int block = 0;
    for (auto _ : state) {
        std::copy_n(source.begin() + block * kBlock, kBlock, buffer.begin());
        p.process(buffer.data(), kBlock);
        block = (block + 1) % kBlocks;
        benchmark::DoNotOptimize(buffer.data());
    }
    bench::reportRealTime(state, kBlock);
}

} // namespace

// Frame 1024, overlap 4 (hop 256) for all four.
static void BM_ChromaticFilter(benchmark::State& state) {
    auto& filter = instance<SPECTRO::ChromaticFilter>(1024, 4);
    filter.setChromaticFilterRange(40, 90, 0.0f);
    runMono(state, filter);
}
BENCHMARK(BM_ChromaticFilter);

static void BM_ChromaticPitchShift(benchmark::State& state) {
    auto& pitch = instance<SPECTRO::ChromaticPitch>(1024, 4);
    for (int note = 0; note < 128; note += 2) pitch.setChromaticPitch(note, 1.5f, 1.0f);
    runMono(state, pitch);
}
BENCHMARK(BM_ChromaticPitchShift);

static void BM_SuperSpectro(benchmark::State& state) {
    auto& bank = instance<SPECTRO::SuperSpectro>(1024, 4);
    runMono(state, bank);
}
BENCHMARK(BM_SuperSpectro);

// The carrier is the channel; the modulator rides along.
static void BM_CrossModulator(benchmark::State& state) {
    auto& cm = instance<SPECTRO::CrossModulator>(1024, 4);
    const std::vector<float> source = bench::noise(kBlock * kBlocks, 22);
    std::vector<float> modulator = bench::noise(kBlock * kBlocks, 23);
    std::vector<float> carrier(kBlock);
    int block = 0;
    for (auto _ : state) {
        std::copy_n(source.begin() + block * kBlock, kBlock, carrier.begin());
        cm.process(modulator.data() + block * kBlock, carrier.data(), kBlock);
        block = (block + 1) % kBlocks;
        benchmark::DoNotOptimize(carrier.data());
    }
    bench::reportRealTime(state, kBlock);
}
BENCHMARK(BM_CrossModulator);
