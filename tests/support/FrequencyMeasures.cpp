#include "tests/support/FrequencyMeasures.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace testkit {
namespace {

// Iterative radix-2 FFT, in place; size must be a power of two.
void fft(std::vector<std::complex<double>>& a) {
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const double ang = -2.0 * std::numbers::pi / static_cast<double>(len);
        const std::complex<double> wl(std::cos(ang), std::sin(ang));
        for (std::size_t i = 0; i < n; i += len) {
            std::complex<double> w(1.0);
            for (std::size_t k = 0; k < len / 2; ++k) {
                const auto u = a[i + k];
                const auto v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
                w *= wl;
            }
        }
    }
}

std::vector<double> powerSpectrum(const float* signal, std::size_t frames, std::size_t& size) {
    size = 1;
    while (size < frames) size <<= 1;
    size = std::max<std::size_t>(size, 2);
    std::vector<std::complex<double>> buf(size);
    for (std::size_t i = 0; i < frames; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) /
                                              static_cast<double>(frames > 1 ? frames - 1 : 1));
        buf[i] = signal[i] * w;
    }
    fft(buf);
    std::vector<double> power(size / 2 + 1);
    for (std::size_t k = 0; k < power.size(); ++k) power[k] = std::norm(buf[k]);
    return power;
}

} // namespace

std::vector<std::complex<double>> dft(const std::vector<std::complex<double>>& input) {
    const std::size_t n = input.size();
    std::vector<std::complex<double>> out(n);
    for (std::size_t k = 0; k < n; ++k) {
        std::complex<double> sum = 0.0;
        for (std::size_t t = 0; t < n; ++t) {
            const double ang = -2.0 * std::numbers::pi * static_cast<double>((k * t) % n) / static_cast<double>(n);
            sum += input[t] * std::complex<double>(std::cos(ang), std::sin(ang));
        }
        out[k] = sum;
    }
    return out;
}

double peakFrequency(const float* signal, std::size_t frames, double sampleRate) {
    std::size_t size = 0;
    const auto power = powerSpectrum(signal, frames, size);
    std::size_t best = 1;
    for (std::size_t k = 1; k + 1 < power.size(); ++k)
        if (power[k] > power[best]) best = k;
    double offset = 0.0;
    if (best > 0 && best + 1 < power.size()) {
        // Parabolic fit on log magnitudes.
        const double a = std::log(power[best - 1] + 1e-300);
        const double b = std::log(power[best] + 1e-300);
        const double c = std::log(power[best + 1] + 1e-300);
        const double d = a - 2.0 * b + c;
        if (d != 0.0) offset = 0.5 * (a - c) / d;
    }
    return (static_cast<double>(best) + offset) * sampleRate / static_cast<double>(size);
}

double bandEnergy(const float* signal, std::size_t frames, double sampleRate, double lo, double hi) {
    std::size_t size = 0;
    const auto power = powerSpectrum(signal, frames, size);
    double sum = 0.0;
    for (std::size_t k = 0; k < power.size(); ++k) {
        const double f = static_cast<double>(k) * sampleRate / static_cast<double>(size);
        if (f >= lo && f <= hi) sum += power[k];
    }
    return sum;
}

double energy(const float* signal, std::size_t frames) {
    double sum = 0.0;
    for (std::size_t i = 0; i < frames; ++i) sum += static_cast<double>(signal[i]) * signal[i];
    return sum;
}

double rms(const float* signal, std::size_t frames) {
    return frames == 0 ? 0.0 : std::sqrt(energy(signal, frames) / static_cast<double>(frames));
}

float peakAbs(const float* signal, std::size_t frames) {
    float peak = 0.0f;
    for (std::size_t i = 0; i < frames; ++i) peak = std::max(peak, std::fabs(signal[i]));
    return peak;
}

} // namespace testkit
