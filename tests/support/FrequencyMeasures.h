#pragma once

#include <complex>
#include <cstddef>
#include <vector>

// Reference spectral measurements in double precision, independent of the
// product's own transforms.
namespace testkit {

// Plain O(n^2) DFT with the forward sign convention exp(-2 pi i k n / N).
std::vector<std::complex<double>> dft(const std::vector<std::complex<double>>& input);

// Frequency in Hz of the strongest component (Hann window, zero padded to a
// power of two, parabolic interpolation between bins).
double peakFrequency(const float* signal, std::size_t frames, double sampleRate);
inline double peakFrequency(const std::vector<float>& s, double sampleRate) {
    return peakFrequency(s.data(), s.size(), sampleRate);
}

// Energy of the Hann-windowed spectrum between lo and hi Hz (sum of |X|^2).
double bandEnergy(const float* signal, std::size_t frames, double sampleRate, double lo, double hi);
inline double bandEnergy(const std::vector<float>& s, double sampleRate, double lo, double hi) {
    return bandEnergy(s.data(), s.size(), sampleRate, lo, hi);
}

// Plain sums over a block.
double energy(const float* signal, std::size_t frames);
double rms(const float* signal, std::size_t frames);
float peakAbs(const float* signal, std::size_t frames);

} // namespace testkit
