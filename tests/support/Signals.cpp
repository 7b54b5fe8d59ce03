#include "tests/support/Signals.h"

#include <cmath>
#include <numbers>
#include <random>

namespace testkit {

std::vector<float> sine(double frequency, double sampleRate, std::size_t frames, float amplitude, double phase) {
    std::vector<float> out(frames);
    const double w = 2.0 * std::numbers::pi * frequency / sampleRate;
    for (std::size_t i = 0; i < frames; ++i)
        out[i] = static_cast<float>(amplitude * std::sin(w * static_cast<double>(i) + phase));
    return out;
}

std::vector<float> noise(std::size_t frames, std::uint32_t seed, float amplitude) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-amplitude, amplitude);
    std::vector<float> out(frames);
    for (auto& s : out) s = dist(rng);
    return out;
}

std::vector<float> impulse(std::size_t frames, std::size_t at, float amplitude) {
    std::vector<float> out(frames, 0.0f);
    if (at < frames) out[at] = amplitude;
    return out;
}

std::vector<float> sweep(double f0, double f1, double sampleRate, std::size_t frames, float amplitude) {
    std::vector<float> out(frames);
    const double duration = static_cast<double>(frames) / sampleRate;
    const double k = std::log(f1 / f0);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        const double phase = 2.0 * std::numbers::pi * f0 * duration / k * (std::exp(t / duration * k) - 1.0);
        out[i] = static_cast<float>(amplitude * std::sin(phase));
    }
    return out;
}

} // namespace testkit
