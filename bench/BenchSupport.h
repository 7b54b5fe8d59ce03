#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

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

} // namespace bench
