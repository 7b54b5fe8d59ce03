#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Deterministic test signals, one float per frame.
namespace testkit {

std::vector<float> sine(double frequency, double sampleRate, std::size_t frames, float amplitude = 1.0f,
                        double phase = 0.0);
std::vector<float> noise(std::size_t frames, std::uint32_t seed = 1, float amplitude = 1.0f);
std::vector<float> impulse(std::size_t frames, std::size_t at = 0, float amplitude = 1.0f);
// Exponential sweep from f0 to f1 over the whole length.
std::vector<float> sweep(double f0, double f1, double sampleRate, std::size_t frames, float amplitude = 1.0f);

} // namespace testkit
