#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "dsp/Analyzer.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/Heap.h"
#include "tests/support/Signals.h"

using SPECTRO::Analyzer;

namespace {

constexpr float kRate = 48000.0f;

std::unique_ptr<Analyzer> makeAnalyzer(int size = 4096, int overlap = 2) {
    testing::internal::CaptureStdout();
    auto analyzer = testkit::makeHeap<Analyzer>(size, overlap, kRate);
    testing::internal::GetCapturedStdout();
    return analyzer;
}

// Plays a stereo pair carrying half the signal on each side.
void play(Analyzer& analyzer, std::vector<float> signal) {
    for (float& s : signal) s *= 0.5f;
    std::vector<float> right = signal;
    analyzer.process(signal.data(), right.data(), static_cast<int>(signal.size()));
}

// Sorts chosen bin frequencies straight into the scale.
class WalkProbe : public Analyzer {
public:
    WalkProbe() : Analyzer(16, 2, kRate) { setChromatic(true); }
    void sort(const std::vector<float>& freqs) {
        for (int k = 0; k < static_cast<int>(freqs.size()); ++k) {
            frequencies[k] = freqs[static_cast<std::size_t>(k)];
            magnitudes[k] = 1.0f;
        }
        createSpectrum();
    }
};

// The same, at the kernel's frame size.
class FrameProbe : public Analyzer {
public:
    FrameProbe() : Analyzer(4096, 2, kRate) { setChromatic(true); }
    void sort(const std::vector<float>& freqs) {
        for (int k = 0; k <= 2048; ++k) {
            frequencies[k] = freqs[static_cast<std::size_t>(k)];
            // Each record names its bin.
            magnitudes[k] = static_cast<float>(k);
        }
        createSpectrum();
    }
};

// The tone walk's rules, one test after another, over a frame of estimates.
std::vector<int> walkByTheRules(const Scala& scala, const std::vector<float>& freqs) {
    std::vector<int> landed;
    int t = 0;
    for (const float f : freqs) {
        while (true) {
            const Tone& tone = scala.tones[t];
            if (f <= tone.lowerfreq) {
                landed.push_back(t > 0 ? t - 1 : 0);
                break;
            }
            if (f <= tone.upperfreq) {
                landed.push_back(t);
                t = std::min(t + 1, Scala::kTones - 1);
                break;
            }
            if (t == Scala::kTones - 1) {
                landed.push_back(t);
                break;
            }
            ++t;
        }
    }
    return landed;
}

int loudestNote(const float* chromatic, int from, int to) {
    return static_cast<int>(std::max_element(chromatic + from, chromatic + to) - chromatic);
}

} // namespace

TEST(Names, PitchClassesOctavesAndKeys) {
    Names names;
    EXPECT_STREQ(names.getName(60, 4), "C 4");
    EXPECT_STREQ(names.getName(61, 4), "C#4");
    EXPECT_STREQ(names.getName(0, -1), "C -1");
    EXPECT_STREQ(names.getName(127, 9), "G 9");
    EXPECT_STREQ(names.getName(-1, -2), "");
    EXPECT_STREQ(names.getName(128, 9), "");
    EXPECT_EQ(Names::getWhite(60), 1);
    EXPECT_EQ(Names::getWhite(61), 0);
    EXPECT_EQ(Names::getWhite(71), 1);
    EXPECT_EQ(Names::getWhite(70), 0);
    EXPECT_EQ(Names::getWhite(-1), -1);
    EXPECT_EQ(Names::getWhite(128), -1);
}

TEST(Scala, ToneTableNamedValues) {
    auto scala = testkit::makeHeap<Scala>();
    const Tone* t = scala->tones;
    EXPECT_FLOAT_EQ(t[0].centerfreq, 6.875f);
    EXPECT_EQ(t[0].lowerfreq, 0.0f);
    EXPECT_EQ(t[0].note, -3);
    EXPECT_EQ(t[0].octave, -2);
    EXPECT_EQ(t[0].group, 10);
    EXPECT_EQ(t[0].white, -1);
    EXPECT_STREQ(t[0].name, "");
    EXPECT_EQ(t[2].group, 12);

    EXPECT_NEAR(t[3].centerfreq, 8.1758f, 1e-4f);
    EXPECT_EQ(t[3].note, 0);
    EXPECT_EQ(t[3].octave, -1);
    EXPECT_EQ(t[3].group, 1);
    EXPECT_STREQ(t[3].name, "C -1");

    EXPECT_EQ(t[72].centerfreq, 440.0f);
    EXPECT_NEAR(t[72].lowerfreq, 427.474f, 1e-3f);
    EXPECT_NEAR(t[72].upperfreq, 452.893f, 1e-3f);
    EXPECT_EQ(t[72].note, 69);
    EXPECT_EQ(t[72].octave, 4);
    EXPECT_EQ(t[72].group, 10);
    EXPECT_EQ(t[72].white, 1);
    EXPECT_STREQ(t[72].name, "A 4");
    EXPECT_EQ(t[63].octave, 4);
    EXPECT_STREQ(t[63].name, "C 4");
    EXPECT_EQ(t[64].white, 0);

    EXPECT_FLOAT_EQ(t[139].centerfreq, static_cast<float>(6.875 * std::pow(2.0, 139.0 / 12.0)));
    EXPECT_FLOAT_EQ(t[139].upperfreq, static_cast<float>(6.875 * std::pow(2.0, 139.5 / 12.0)));
    EXPECT_EQ(t[139].note, 136);
    EXPECT_EQ(t[139].white, -1);
    EXPECT_STREQ(t[139].name, "");
    EXPECT_STREQ(t[130].name, "G 9");

    for (int i = 1; i < Scala::kTones; ++i) {
        EXPECT_EQ(t[i].index, i);
        EXPECT_EQ(t[i].lowerfreq, t[i - 1].upperfreq) << i;
        EXPECT_LT(t[i].lowerfreq, t[i].centerfreq) << i;
        EXPECT_LT(t[i].centerfreq, t[i].upperfreq) << i;
    }

    EXPECT_EQ(scala->getFrequency(69), 440.0f);
    EXPECT_NEAR(scala->getFrequency(0), 8.1758f, 1e-4f);
    EXPECT_EQ(scala->getFrequency(200), 1.0f);
}

// Units are made on worker threads: scales made side by side name their
// tones alike and share nothing (ThreadSanitizer sees any sharing).
TEST(Scala, ScalesMadeOnTwoThreadsAtOnceNameTheirTonesAlike) {
    std::unique_ptr<Scala> made[2];
    std::thread other([&] { made[1] = testkit::makeHeap<Scala>(); });
    made[0] = testkit::makeHeap<Scala>();
    other.join();
    for (int i = 0; i < Scala::kTones; ++i) EXPECT_STREQ(made[0]->tones[i].name, made[1]->tones[i].name) << i;
    EXPECT_STREQ(made[0]->tones[72].name, "A 4");
}

TEST(Scala, ReadsAverageAndNormaliseOnlyAboveOne) {
    auto scala = testkit::makeHeap<Scala>();
    float* first = scala->getChromatic(0, 137, true);
    EXPECT_EQ(first, scala->chromatic);
    EXPECT_EQ(*std::max_element(first, first + Scala::kTones), 0.0f);
    EXPECT_FALSE(scala->clearChromatic.load());

    scala->chromatic[10] = 0.4f;
    scala->chromatic[20] = 4.0f;
    scala->chromaticCount = 2;
    scala->getChromatic(0, 137, true);
    EXPECT_FLOAT_EQ(scala->chromatic[10], 0.1f);
    EXPECT_FLOAT_EQ(scala->chromatic[20], 1.0f);
    EXPECT_TRUE(scala->clearChromatic.load());

    scala->chromatic[20] = 0.5f;
    scala->chromaticCount = 1;
    scala->getChromatic(0, 137, true);
    EXPECT_FLOAT_EQ(scala->chromatic[10], 0.1f);
    EXPECT_FLOAT_EQ(scala->chromatic[20], 0.5f);

    // A set flag makes the next frame replace the sums.
    scala->chromatic[139] = 5.0f;
    scala->chromaticScaleSums(0, 127);
    EXPECT_EQ(scala->chromaticCount.load(), 1);
    EXPECT_EQ(scala->chromatic[20], 0.0f);
    EXPECT_EQ(scala->chromatic[139], 0.0f);
    // Ranges past the scale are cut to it.
    scala->chromaticScaleSums(-5, 500);
    scala->getChromatic(-5, 500, true);
}

TEST(Analyzer, SinesLandOnTheirMidiNotes) {
    struct Case {
        double frequency;
        int note;
    };
    for (const Case c : {Case{110.0, 45}, Case{440.0, 69}, Case{1000.0, 83}, Case{3520.0, 105}}) {
        auto analyzer = makeAnalyzer();
        analyzer->setChromatic(true);
        play(*analyzer, testkit::sine(c.frequency, kRate, 6 * 4096));
        const float* chromatic = analyzer->scala.getChromatic(0, 137, true);
        EXPECT_EQ(loudestNote(chromatic, 0, Scala::kTones), c.note) << c.frequency;
        EXPECT_FLOAT_EQ(chromatic[c.note], 1.0f) << c.frequency;
        for (int i = 0; i < 137; ++i) {
            EXPECT_GE(chromatic[i], 0.0f);
            EXPECT_LE(chromatic[i], 1.0f);
        }
        EXPECT_EQ(analyzer->scala.getFrequency(c.note),
                  analyzer->scala.tones[c.note + Scala::kNoteOffset].centerfreq);
    }
}

TEST(Analyzer, ToneWalkOnlyMovesUpwards) {
    testing::internal::CaptureStdout();
    auto probe = testkit::makeHeap<WalkProbe>();
    testing::internal::GetCapturedStdout();
    // A bin below the cursor's tone lands on the tone just below the cursor;
    // everything above the top tone's lower bound lands on the top tone.
    probe->sort({0.0f, 440.0f, 445.0f, 300.0f, 500.0f, 30000.0f, 1e9f, 8.0f, 20000.0f});
    const int expected[9] = {0, 72, 72, 72, 74, 139, 139, 138, 138};
    for (int k = 0; k < 9; ++k) EXPECT_EQ(probe->getChromaticIndex(k), expected[k]) << k;
    EXPECT_EQ(probe->scala.tones[72].bins.Count(), 3);
    EXPECT_FLOAT_EQ(probe->scala.tones[72].getSum(), 3.0f);
}

TEST(Analyzer, ToneWalkFollowsItsRulesOnAnyFrame) {
    testing::internal::CaptureStdout();
    auto probe = testkit::makeHeap<FrameProbe>();
    testing::internal::GetCapturedStdout();
    std::mt19937 rng(5);
    std::vector<float> edges = {0.0f,
                                -0.0f,
                                -5.0f,
                                std::nanf(""),
                                std::numeric_limits<float>::infinity(),
                                -std::numeric_limits<float>::infinity(),
                                4.0f,
                                32768.0f,
                                1e30f,
                                1e-40f};
    for (const Tone& tone : probe->scala.tones)
        for (float f : {tone.lowerfreq, tone.upperfreq, tone.centerfreq})
            for (float g : {f, std::nextafter(f, 0.0f), std::nextafter(f, 1e30f)}) edges.push_back(g);
    std::uniform_int_distribution<std::size_t> pick(0, edges.size() - 1);
    std::uniform_real_distribution<float> jitter(-1.5f, 1.5f), anywhere(-100.0f, 30000.0f);
    for (int frame = 0; frame < 40; ++frame) {
        // Mostly near the bin centres, as an analysis gives them, with jumps and edge values mixed in.
        std::vector<float> freqs(2049);
        for (int k = 0; k <= 2048; ++k) {
            const int kind = static_cast<int>(rng() % 8);
            freqs[k] = kind == 0   ? edges[pick(rng)]
                       : kind == 1 ? anywhere(rng)
                                   : (static_cast<float>(k) + jitter(rng)) * kRate / 4096.0f;
        }
        probe->sort(freqs);
        const std::vector<int> expected = walkByTheRules(probe->scala, freqs);
        int mismatches = 0;
        for (int k = 0; k <= 2048; ++k) mismatches += probe->getChromaticIndex(k) != expected[k];
        EXPECT_EQ(mismatches, 0) << "frame " << frame;
        // Each list holds its bins in ascending order, with their estimates.
        std::vector<std::vector<int>> members(Scala::kTones);
        for (int k = 0; k <= 2048; ++k) members[static_cast<std::size_t>(expected[k])].push_back(k);
        for (int t = 0; t < Scala::kTones; ++t) {
            Tone& tone = probe->scala.tones[t];
            std::vector<int> held;
            tone.bins.Rewind();
            while (auto* record = static_cast<BinRecord*>(tone.bins.Next())) {
                const int k = static_cast<int>(record->magnitude);
                held.push_back(k);
                EXPECT_EQ(std::bit_cast<std::uint32_t>(record->frequency),
                          std::bit_cast<std::uint32_t>(freqs[k]));
            }
            ASSERT_EQ(held, members[static_cast<std::size_t>(t)]) << "frame " << frame << " tone " << t;
            EXPECT_EQ(tone.bins.Count(), static_cast<int>(held.size()));
        }
    }
}

TEST(Analyzer, EachToneHoldsExactlyTheBinsOfTheLastFrame) {
    auto analyzer = makeAnalyzer(1024, 2);
    analyzer->setChromatic(true);
    for (int round = 0; round < 3; ++round) {
        play(*analyzer, testkit::noise(1024, static_cast<std::uint32_t>(round + 1)));
        int bins = 0;
        for (Tone& tone : analyzer->scala.tones) bins += tone.bins.Count();
        EXPECT_EQ(bins, 513);
    }
    // Every bin is in the tone its index names, with the analysed values.
    const float* mags = analyzer->getMagnitudes();
    const float* freqs = analyzer->getFrequencies();
    for (int k = 0; k <= 512; k += 37) {
        Tone& tone = analyzer->scala.tones[analyzer->getChromaticIndex(k)];
        bool found = false;
        tone.bins.Rewind();
        while (auto* record = static_cast<BinRecord*>(tone.bins.Next()))
            found = found || (record->magnitude == mags[k] && record->frequency == freqs[k]);
        EXPECT_TRUE(found) << k;
    }
}

TEST(Analyzer, NotesFrom127UpStayEmpty) {
    auto analyzer = makeAnalyzer(1024, 2);
    analyzer->setChromatic(true);
    play(*analyzer, testkit::sweep(20.0, 20000.0, kRate, 8 * 1024));
    const float* chromatic = analyzer->scala.getChromatic(0, 137, true);
    EXPECT_GT(*std::max_element(chromatic, chromatic + 127), 0.0f);
    for (int i = 127; i < Scala::kTones; ++i) EXPECT_EQ(chromatic[i], 0.0f) << i;
}

TEST(Analyzer, GrowingTheFrameGrowsTheChromaticTables) {
    auto analyzer = makeAnalyzer(512, 2);
    analyzer->setChromatic(true);
    play(*analyzer, testkit::sine(440.0, kRate, 2048));
    analyzer->setSize(4096);
    analyzer->reset();
    play(*analyzer, testkit::sine(440.0, kRate, 6 * 4096));
    EXPECT_EQ(analyzer->scala.capacity(), 2049);
    EXPECT_EQ(analyzer->getChromaticIndex(2048), Scala::kTones - 1);
    const float* chromatic = analyzer->scala.getChromatic(0, 137, true);
    EXPECT_EQ(loudestNote(chromatic, 0, Scala::kTones), 69);
}

TEST(Analyzer, UpdateRateChoosesTheAnalysedFrames) {
    auto analyzer = makeAnalyzer();
    EXPECT_EQ(analyzer->getUpdateRate(), 1);
    analyzer->setChromatic(true);
    analyzer->setUpdateRate(10);
    EXPECT_EQ(analyzer->getUpdateRate(), 3);
    // Seven frames: 0, 3 and 6 are analysed.
    play(*analyzer, testkit::noise(7 * 2048));
    EXPECT_EQ(analyzer->scala.chromaticCount.load(), 3);

    analyzer->setUpdateRate(0);
    EXPECT_EQ(analyzer->getUpdateRate(), 1);
    analyzer->setUpdateRate(-4);
    EXPECT_EQ(analyzer->getUpdateRate(), 1);
    analyzer->setSamplerate(96000.0f);
    EXPECT_EQ(analyzer->getUpdateRate(), 1);
    play(*analyzer, testkit::noise(2 * 2048));
    EXPECT_EQ(analyzer->scala.chromaticCount.load(), 5);
}

TEST(Analyzer, BadRatesNeitherDivideByZeroNorStall) {
    auto analyzer = makeAnalyzer();
    analyzer->setChromatic(true);
    analyzer->setUpdateRate(1000000);
    EXPECT_EQ(analyzer->getUpdateRate(), 1);
    analyzer->setUpdateRate(10);
    analyzer->setSamplerate(0.0f);
    analyzer->setSamplerate(-44100.0f);
    EXPECT_GE(analyzer->getUpdateRate(), 1);
    analyzer->setUpdateRate(0);
    analyzer->setSamplerate(44100.0f);
    EXPECT_EQ(analyzer->getUpdateRate(), 1);
    play(*analyzer, testkit::noise(3 * 2048));
    EXPECT_EQ(analyzer->scala.chromaticCount.load(), 3);
}

TEST(Analyzer, ChromaticSortingOffLeavesTheScaleAlone) {
    auto analyzer = makeAnalyzer(1024, 2);
    play(*analyzer, testkit::sine(440.0, kRate, 4096));
    EXPECT_EQ(analyzer->scala.chromaticCount.load(), 0);
    EXPECT_EQ(analyzer->getChromaticIndex(0), -1);
    // The spectrum itself is still analysed.
    const float* norm = analyzer->getMagnitudesNormalized();
    EXPECT_NEAR(*std::max_element(norm, norm + 513), 1.0f, 0.01f);
}

TEST(Analyzer, MonoAndMissingChannelsAreFedSafely) {
    auto analyzer = makeAnalyzer(1024, 2);
    analyzer->setChromatic(true);
    std::vector<float> left = testkit::sine(440.0, kRate, 4096);
    analyzer->process(left.data(), nullptr, static_cast<int>(left.size()));
    analyzer->process(nullptr, nullptr, 512);
    analyzer->process(left.data(), left.data(), -3);
    const float* chromatic = analyzer->scala.getChromatic(0, 137, true);
    EXPECT_EQ(loudestNote(chromatic, 0, Scala::kTones), 69);
}

TEST(Analyzer, ProcessingAllocatesNothing) {
    auto analyzer = makeAnalyzer();
    analyzer->setChromatic(true);
    std::vector<float> left = testkit::noise(4 * 4096, 3);
    std::vector<float> right = testkit::noise(4 * 4096, 4);
    analyzer->process(left.data(), right.data(), 4096);
    std::size_t allocations = 0;
    {
        testkit::AllocationCounter counter;
        for (int block = 1; block < 4; ++block)
            analyzer->process(left.data() + block * 4096, right.data() + block * 4096, 4096);
        allocations = counter.count();
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_GE(analyzer->scala.chromaticCount.load(), 7);
}

TEST(Analyzer, AnnouncesItselfOnce) {
    testing::internal::CaptureStdout();
    auto analyzer = testkit::makeHeap<Analyzer>(1024, 2, kRate);
    const std::string line = testing::internal::GetCapturedStdout();
    EXPECT_EQ(line.rfind("DIAGNOSTICS: FFT Analyzer loaded. [ ", 0), 0u);
    EXPECT_EQ(line.back(), '\n');
}
