#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "dsp/VectorMath.h"

namespace bench {

constexpr double kSampleRate = 48000.0;

// Reports seconds of 48 kHz audio processed per second of one core.
inline void reportRealTime(benchmark::State& state, std::int64_t framesPerIteration) {
    const double audioSeconds = static_cast<double>(state.iterations()) * static_cast<double>(framesPerIteration) /
                                kSampleRate;
    state.counters["x_realtime"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
}

inline std::vector<float> noise(std::size_t n, std::uint32_t seed = 7, float amplitude = 0.5f) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-amplitude, amplitude);
    std::vector<float> v(n);
    for (auto& s : v) s = dist(rng);
    return v;
}

// Forces the lane width a benchmark's argument names (4 or 8) while it lives,
// automatic again afterwards. Where the processor has no AVX2, eight lanes
// skip the benchmark: ok() is false and the caller returns at once.
class ForcedLanes {
public:
    ForcedLanes(benchmark::State& state, std::int64_t lanes)
        : runs(lanes != 8 || VectorMath::canRunEightLanes()) {
        if (!runs) {
            state.SkipWithError("no AVX2 on this processor");
            return;
        }
        VectorMath::forceLaneWidth(lanes == 8 ? VectorMath::LaneWidth::Eight : VectorMath::LaneWidth::Four);
    }
    ~ForcedLanes() { VectorMath::forceLaneWidth(VectorMath::LaneWidth::Automatic); }
    ForcedLanes(const ForcedLanes&) = delete;
    ForcedLanes& operator=(const ForcedLanes&) = delete;
    bool ok() const { return runs; }

private:
    const bool runs;
};

} // namespace bench
