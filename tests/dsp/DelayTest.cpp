#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "dsp/Delay.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/FrequencyMeasures.h"
#include "tests/support/Heap.h"
#include "tests/support/SameBits.h"
#include "tests/support/Signals.h"
#include "tests/support/Subnormals.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

struct Echo {
    std::size_t at;
    float amplitude;
    bool operator==(const Echo&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Echo& e) { return os << e.amplitude << "@" << e.at; }

// Every nonzero output sample, in order.
std::vector<Echo> echoes(const std::vector<float>& out) {
    std::vector<Echo> found;
    for (std::size_t i = 0; i < out.size(); ++i)
        if (out[i] != 0.0f) found.push_back({i, out[i]});
    return found;
}

// A line at 48 kHz, freshly reset: tempo 120, division 1, so a 24000-sample cycle.
std::unique_ptr<Delay> lineAt48k() {
    auto d = testkit::makeHeap<Delay>();
    d->setSamplerate(48000.0f);
    d->reset();
    return d;
}

std::vector<float> impulseResponse(Delay& d, std::size_t frames) {
    const std::vector<float> in = testkit::impulse(frames);
    std::vector<float> out(frames, 0.0f);
    d.processBuffer(in.data(), out.data(), static_cast<long>(frames));
    return out;
}

std::int64_t lengthFor(float rate, float bpm, float division) {
    auto d = testkit::makeHeap<Delay>();
    d->setSamplerate(rate);
    d->setTempo(bpm);
    d->setDivision(division);
    d->resetDelayTime();
    return d->len;
}

} // namespace

TEST(Delay, EchoesEveryCycleHalvingWithDefaultFeedback) {
    auto d = lineAt48k();
    ASSERT_EQ(d->len, 24000);
    const std::vector<Echo> expected = {{24000, 1.0f}, {48000, 0.5f}, {72000, 0.25f}, {96000, 0.125f}};
    EXPECT_EQ(echoes(impulseResponse(*d, 96001)), expected);
}

TEST(Delay, PhaseHalfEchoesAtHalfTheCycle) {
    auto d = lineAt48k();
    d->setPhase(0.5f);
    const std::vector<Echo> expected = {{12000, 1.0f}, {24000, 0.5f}, {36000, 0.25f}, {48000, 0.125f}};
    EXPECT_EQ(echoes(impulseResponse(*d, 48001)), expected);
}

TEST(Delay, ProcessBufferAddsIntoTheOutputAndWorksInPlace) {
    auto a = lineAt48k();
    auto b = lineAt48k();
    std::vector<float> in = testkit::noise(30000, 9);
    std::vector<float> out(30000, 0.25f);
    a->processBuffer(in.data(), out.data(), 30000);
    EXPECT_EQ(out[100], 0.25f);
    EXPECT_EQ(out[24100], 0.25f + in[100]);

    std::vector<float> inPlace = in;
    b->processBuffer(inPlace.data(), inPlace.data(), 30000);
    EXPECT_EQ(inPlace[100], in[100]);
    EXPECT_EQ(inPlace[24100], in[24100] + in[100]);
}

// Blocks of odd sizes, added into a full output or in place, through tempo,
// phase and rate changes, must give what the line gives one sample at a time.
TEST(Delay, BlocksMatchSampleBySampleBitForBit) {
    struct Setup {
        const char* name;
        float bpm, division, phase, feedback;
    };
    const Setup setups[] = {
        {"write at the read position", 120.0f, 1.0f, 0.0f, 0.5f},
        {"half a cycle ahead, long feedback", 120.0f, 7.0f, 0.5f, 0.9f},
        {"write two frames ahead on a short line", 960.0f, 128.0f, 0.1f, 0.98f},
        {"fractional write crossing a binade", 15.0f, 0.125f, 0.3413f, 0.7f},
        {"write starting at the end", 120.0f, 16.0f, 1.0f, 0.5f},
    };
    const long blocks[] = {1, 3, 17, 509, 1021, 4093};
    const auto in = testkit::noise(120000, 21);
    for (const Setup& setup : setups) {
        SCOPED_TRACE(setup.name);
        auto blockwise = lineAt48k();
        auto stepwise = lineAt48k();
        for (Delay* d : {blockwise.get(), stepwise.get()}) {
            d->setTempo(setup.bpm);
            d->setDivision(setup.division);
            d->setPhase(setup.phase);
            d->setFeedback(setup.feedback);
            d->resetDelayTime();
        }
        std::vector<float> expected = testkit::noise(in.size(), 22), got = expected;
        long at = 0;
        for (int round = 0; at < static_cast<long>(in.size()); ++round) {
            for (Delay* d : {blockwise.get(), stepwise.get()}) {
                if (round == 40) d->setTempo(setup.bpm * 1.5f);
                if (round == 60) d->setPhase(0.77f);
                if (round == 80) d->setSamplerate(44100.0f);
            }
            const long n = std::min(blocks[round % 6], static_cast<long>(in.size()) - at);
            const bool inPlace = round % 2 == 1;
            if (inPlace) std::copy_n(in.begin() + at, n, expected.begin() + at);
            for (long i = at; i < at + n; ++i) expected[i] += stepwise->processSample(in[i]);
            if (inPlace) {
                std::copy_n(in.begin() + at, n, got.begin() + at);
                blockwise->processBuffer(got.data() + at, got.data() + at, n);
            } else {
                blockwise->processBuffer(in.data() + at, got.data() + at, n);
            }
            at += n;
        }
        EXPECT_TRUE(testkit::sameBits(got, expected));
    }
}

TEST(Delay, TempoChangeWaitsForTheEndOfTheCycle) {
    auto d = lineAt48k();
    std::vector<float> out(60001, 0.0f);
    const std::vector<float> in = testkit::impulse(out.size());
    d->processBuffer(in.data(), out.data(), 100);
    d->setTempo(240.0f); // halves the cycle, but only from sample 24000 on
    d->processBuffer(in.data() + 100, out.data() + 100, 23800);
    EXPECT_EQ(d->len, 24000);
    d->processBuffer(in.data() + 23900, out.data() + 23900, static_cast<long>(out.size()) - 23900);
    EXPECT_EQ(d->len, 12000);
    const std::vector<Echo> expected = {{24000, 1.0f}, {36000, 0.5f}, {48000, 0.25f}, {60000, 0.125f}};
    EXPECT_EQ(echoes(out), expected);
}

TEST(Delay, LengthAtNamedPoints) {
    EXPECT_EQ(lengthFor(48000.0f, 15.0f, 0.125f), 1536000);
    EXPECT_EQ(lengthFor(96000.0f, 15.0f, 0.125f), 1536000);
    EXPECT_EQ(lengthFor(48000.0f, 120.0f, 1.0f), 24000);
    EXPECT_EQ(lengthFor(48000.0f, 960.0f, 128.0f), 23);
    EXPECT_EQ(lengthFor(44100.0f, 100.0f, 1.0f), 26460);
    EXPECT_EQ(lengthFor(44100.0f, 120.0f, 3.0f), 7350);
}

TEST(Delay, SampleRateMakesTheRunningCycleTwoSeconds) {
    auto d = testkit::makeHeap<Delay>();
    EXPECT_EQ(d->len, 22050);
    d->setSamplerate(48000.0f);
    EXPECT_EQ(d->len, 96000);
    d->setSamplerate(1e6f);
    EXPECT_EQ(d->len, 1536000);
    d->setSamplerate(kNaN);
    d->setSamplerate(-48000.0f);
    d->setSamplerate(std::numeric_limits<float>::infinity());
    EXPECT_EQ(d->fSamplerate, 1e6f);

    // A fresh 44.1 kHz line switched to 48 kHz: two seconds, then the tempo length.
    auto fresh = testkit::makeHeap<Delay>();
    fresh->setSamplerate(48000.0f);
    const std::vector<float> out = impulseResponse(*fresh, 120001);
    EXPECT_EQ(echoes(out), (std::vector<Echo>{{96000, 1.0f}, {120000, 0.5f}}));
    EXPECT_EQ(fresh->len, 24000);
}

TEST(Delay, SettersClampAndIgnoreNaN) {
    auto d = testkit::makeHeap<Delay>();
    d->setFeedback(1.0f);
    d->setTempo(4.0f);
    d->setDivision(0.0f);
    d->setPhase(-2.0f);
    EXPECT_EQ(d->fFeedback, 0.98f);
    EXPECT_EQ(d->fTempo, 15.0f);
    EXPECT_EQ(d->fTempoDivision, 0.125f);
    EXPECT_EQ(d->fPhase, 0.0f);
    d->setTempo(5000.0f);
    d->setDivision(1000.0f);
    d->setFeedback(-1.0f);
    d->setPhase(3.0f);
    EXPECT_EQ(d->fTempo, 960.0f);
    EXPECT_EQ(d->fTempoDivision, 128.0f);
    EXPECT_EQ(d->fFeedback, 0.0f);
    EXPECT_EQ(d->fPhase, 1.0f);

    d->setTempo(kNaN);
    d->setDivision(kNaN);
    d->setFeedback(kNaN);
    d->setPhase(kNaN);
    EXPECT_EQ(d->fTempo, 960.0f);
    EXPECT_EQ(d->fTempoDivision, 128.0f);
    EXPECT_EQ(d->fFeedback, 0.0f);
    EXPECT_EQ(d->fPhase, 1.0f);
    EXPECT_EQ(d->posWrite, static_cast<float>(d->len));

    // A NaN phase must never reach the write index.
    const std::vector<float> out = impulseResponse(*d, 50000);
    EXPECT_TRUE(testkit::allFinite(out.data(), out.size()));
}

TEST(Delay, ResetClearsTheLineAndDiscardsSettings) {
    auto d = lineAt48k();
    d->setTempo(60.0f);
    d->setDivision(2.0f);
    d->setFeedback(0.9f);
    d->setPhase(0.5f);
    impulseResponse(*d, 1000);
    d->reset();
    EXPECT_EQ(d->fTempo, 120.0f);
    EXPECT_EQ(d->fTempoDivision, 1.0f);
    EXPECT_EQ(d->fFeedback, 0.5f);
    EXPECT_EQ(d->fPhase, 0.0f);
    EXPECT_EQ(d->fSamplerate, 48000.0f);
    EXPECT_EQ(d->len, 24000);
    std::vector<float> out(60000, 0.0f);
    const std::vector<float> silence(out.size(), 0.0f);
    d->processBuffer(silence.data(), out.data(), static_cast<long>(out.size()));
    EXPECT_TRUE(echoes(out).empty());
}

TEST(Delay, LongFeedbackTailEndsInExactZerosWithoutSubnormals) {
    auto d = lineAt48k();
    d->setTempo(960.0f);
    d->setDivision(128.0f);
    d->setFeedback(1.0f); // stored as 0.98
    d->resetDelayTime();
    ASSERT_EQ(d->len, 23);
    std::vector<float> out(200000, 0.0f);
    std::vector<float> in = testkit::noise(out.size(), 2);
    std::fill(in.begin() + 23, in.end(), 0.0f);
    d->processBuffer(in.data(), out.data(), static_cast<long>(out.size()));
    EXPECT_EQ(testkit::countSubnormals(out.data(), out.size()), 0u);
    EXPECT_GT(testkit::peakAbs(out.data() + 1000, 23), 0.1f); // the tail is really there
    EXPECT_TRUE(std::all_of(out.end() - 1000, out.end(), [](float v) { return v == 0.0f; }));
    EXPECT_TRUE(std::all_of(d->delay_buffer, d->delay_buffer + d->len, [](float v) { return v == 0.0f; }));
}

TEST(StereoDelay, FreshLeftRepeatsAtHalfTheCycle) {
    auto s = testkit::makeHeap<StereoDelay>();
    s->setFeedback(0.5f);
    const std::size_t n = 88201;
    const std::vector<float> in = testkit::impulse(n);
    std::vector<float> l(n, 0.0f), r(n, 0.0f);
    s->processBuffer(in.data(), in.data(), l.data(), r.data(), static_cast<long>(n));
    // Two seconds at 44.1 kHz until the first cycle ends.
    EXPECT_EQ(echoes(l), (std::vector<Echo>{{44100, 1.0f}, {88200, 0.5f}}));
    EXPECT_EQ(echoes(r), (std::vector<Echo>{{88200, 1.0f}}));
    // From then on the sixteenth-beat cycle applies.
    EXPECT_EQ(s->left.len, 1378);
    EXPECT_EQ(s->right.len, 1378);
}

TEST(StereoDelay, ForwardsSettingsAndResetGivesPhaseZero) {
    auto s = testkit::makeHeap<StereoDelay>();
    EXPECT_EQ(s->left.fFeedback, 0.0f);
    s->setTempo(90.0f);
    s->setDivision(3.0f);
    s->setFeedback(0.3f);
    s->setSamplerate(48000.0f);
    for (const Delay* d : {&s->left, &s->right}) {
        EXPECT_EQ(d->fTempo, 90.0f);
        EXPECT_EQ(d->fTempoDivision, 3.0f);
        EXPECT_EQ(d->fFeedback, 0.3f);
        EXPECT_EQ(d->fSamplerate, 48000.0f);
    }
    s->setTempo(kNaN);
    EXPECT_EQ(s->fTempo, 90.0f);
    EXPECT_EQ(s->left.fTempo, 90.0f);

    s->reset();
    EXPECT_EQ(s->left.fPhase, 0.0f);
    EXPECT_EQ(s->right.fPhase, 0.0f);
    EXPECT_EQ(s->left.fTempo, 120.0f);
    EXPECT_EQ(s->left.len, 24000);
}

TEST(StereoDelay, ProcessingDoesNotAllocate) {
    auto s = testkit::makeHeap<StereoDelay>();
    s->setFeedback(0.7f);
    const std::vector<float> inL = testkit::noise(4096, 1), inR = testkit::noise(4096, 2);
    std::vector<float> outL(4096, 0.0f), outR(4096, 0.0f);

    testkit::AllocationCounter counter;
    s->processBuffer(inL.data(), inR.data(), outL.data(), outR.data(), 4096);
    s->setTempo(133.0f);
    s->left.resetDelayTime();
    for (int i = 0; i < 512; ++i) outL[static_cast<std::size_t>(i)] += s->right.processSample(inR[0]);
    const std::size_t allocations = counter.count();
    EXPECT_EQ(allocations, 0u);
}
