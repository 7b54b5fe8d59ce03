#include "resources/LoopRecipe.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace loops {
namespace {

// A small generator of our own, so every machine makes the same loops.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull) {}
    std::uint64_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; } // [0, 1)
    double between(double a, double b) { return a + (b - a) * unit(); }
    int below(int n) { return static_cast<int>(unit() * n); }
    bool chance(double p) { return unit() < p; }

private:
    std::uint64_t state_;
};

constexpr int kScales[4][5] = {{0, 3, 5, 7, 10}, {0, 2, 4, 7, 9}, {0, 2, 3, 7, 8}, {0, 4, 5, 7, 11}};

double frequency(int midiNote) { return 440.0 * std::pow(2.0, (midiNote - 69) / 12.0); }

// Stereo samples on a ring the length of the loop.
class Canvas {
public:
    explicit Canvas(std::size_t frames) : left_(frames, 0.0), right_(frames, 0.0) {}

    // Adds a mono voice at `start`, placed by `pan` (-1 left ... 1 right).
    void add(std::size_t start, const std::vector<double>& voice, double pan) {
        const double angle = (pan + 1.0) * std::numbers::pi / 4.0;
        const double l = std::cos(angle), r = std::sin(angle);
        for (std::size_t i = 0; i < voice.size(); ++i) {
            const std::size_t at = (start + i) % left_.size();
            left_[at] += voice[i] * l;
            right_[at] += voice[i] * r;
        }
    }
    const std::vector<double>& left() const { return left_; }
    const std::vector<double>& right() const { return right_; }

private:
    std::vector<double> left_, right_;
};

std::vector<double> pluck(Random& random, double hz, double seconds) {
    // A plucked string: a noise burst circulating through a damped average.
    const auto period = static_cast<std::size_t>(std::max(2.0, kSampleRate / hz));
    std::vector<double> line(period);
    for (auto& s : line) s = random.between(-1.0, 1.0);
    std::vector<double> out(static_cast<std::size_t>(seconds * kSampleRate));
    const double damping = random.between(0.990, 0.997);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const std::size_t a = i % period, b = (i + 1) % period;
        out[i] = line[a];
        line[a] = damping * 0.5 * (line[a] + line[b]);
    }
    return out;
}

std::vector<double> burst(Random& random, double seconds) {
    // Percussive noise, coloured by a one-pole low-pass and a decay.
    std::vector<double> out(static_cast<std::size_t>(seconds * kSampleRate));
    const double tau = random.between(0.015, 0.08) * kSampleRate;
    const double colour = random.between(0.05, 0.9);
    double state = 0.0;
    for (std::size_t i = 0; i < out.size(); ++i) {
        state += colour * (random.between(-1.0, 1.0) - state);
        out[i] = state * std::exp(-static_cast<double>(i) / tau) * (1.0 + (1.0 - colour));
    }
    return out;
}

std::vector<double> tone(double hz, double seconds, int harmonics, double attack, double decay) {
    std::vector<double> out(static_cast<std::size_t>(seconds * kSampleRate));
    for (std::size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / kSampleRate;
        double s = 0.0;
        for (int k = 1; k <= harmonics; ++k)
            if (hz * k < kSampleRate / 2.5) s += std::sin(2.0 * std::numbers::pi * hz * k * t) / k;
        const double envelope = std::min(1.0, t / attack) * std::exp(-t / decay);
        out[i] = s * envelope;
    }
    return out;
}

} // namespace

Recipe recipe(int number) {
    Random random(static_cast<std::uint64_t>(number));
    const int tempo = 84 + random.below(49);
    const int bars = random.chance(0.5) ? 2 : 4;
    const double seconds = bars * 4 * 60.0 / tempo;
    return {tempo, bars, static_cast<AVAudioFrameCount>(std::lround(seconds * kSampleRate))};
}

std::shared_ptr<AVAudioPCMBuffer> render(int number) {
    const Recipe loop = recipe(number);
    Random random(static_cast<std::uint64_t>(number) * 1000003u + 11u);
    const int style = number % 4;
    const int* scale = kScales[random.below(4)];
    const int root = 45 + random.below(12);
    const double step = 60.0 / loop.tempo / 4.0; // a sixteenth, in seconds
    Canvas canvas(loop.frames);
    auto at = [&](int sixteenth) {
        return static_cast<std::size_t>(std::lround(sixteenth * step * kSampleRate)) % loop.frames;
    };
    auto note = [&](int degree, int octave) {
        return root + 12 * octave + scale[degree % 5] + 12 * (degree / 5);
    };

    const int steps = loop.bars * 16;
    for (int s = 0; s < steps; ++s) {
        const int inBar = s % 16;
        // Rests: the bar's last beat stays empty most of the time, so tails are heard.
        if (inBar >= 12 && !random.chance(0.15)) continue;
        const bool downbeat = inBar % 4 == 0;
        if ((style == 1 || style == 3) && (downbeat ? random.chance(0.7) : random.chance(0.18)))
            canvas.add(at(s), burst(random, 0.4), random.between(-0.6, 0.6));
        if ((style == 0 || style == 3) && random.chance(downbeat ? 0.5 : 0.2)) {
            const double hz = frequency(note(random.below(8), 1));
            auto voice = pluck(random, hz, 1.6);
            for (auto& v : voice) v *= 0.8;
            canvas.add(at(s), voice, random.between(-0.7, 0.7));
        }
        if (style == 2 && inBar % 8 == 0 && random.chance(0.8)) {
            const int base = random.below(5);
            for (int k = 0; k < 4; ++k) {
                auto voice = tone(frequency(note(base + 2 * k, 0) + 12), 0.9, 6, 0.004, 0.18);
                canvas.add(at(s), voice, -0.5 + k / 3.0);
            }
        }
        if ((style == 0 || style == 2) && inBar % 2 == 0 && random.chance(0.25)) {
            auto voice = tone(frequency(note(random.below(10), 2)), 0.7, 2, 0.01, 0.15);
            canvas.add(at(s), voice, random.between(-0.3, 0.3));
        }
    }
    // Every loop starts with something on its first beat.
    canvas.add(0, style == 1 ? burst(random, 0.4) : pluck(random, frequency(note(0, 1)), 1.6), 0.0);

    double peak = 0.0;
    for (const auto* channel : {&canvas.left(), &canvas.right()})
        for (double s : *channel) peak = std::max(peak, std::fabs(s));
    const double gain = peak > 0.0 ? kPeak / peak : 0.0;
    auto buffer =
        std::make_shared<AVAudioPCMBuffer>(AVAudioFormat::standardFormat(kSampleRate, 2), loop.frames);
    for (std::size_t i = 0; i < loop.frames; ++i) {
        buffer->channelData(0)[i] = static_cast<float>(canvas.left()[i] * gain);
        buffer->channelData(1)[i] = static_cast<float>(canvas.right()[i] * gain);
    }
    buffer->setFrameLength(loop.frames);
    return buffer;
}

} // namespace loops
