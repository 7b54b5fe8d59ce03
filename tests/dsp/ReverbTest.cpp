#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "dsp/Reverb.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/FrequencyMeasures.h"
#include "tests/support/Heap.h"
#include "tests/support/LaneWidths.h"
#include "tests/support/SameBits.h"
#include "tests/support/Signals.h"
#include "tests/support/Subnormals.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kSend = 2.0f; // input gain as the kernel passes it

struct Stereo {
    std::vector<float> left, right;
    explicit Stereo(std::size_t n, float fill = 0.0f) : left(n, fill), right(n, fill) {}
    std::size_t size() const { return left.size(); }
    long frames() const { return static_cast<long>(left.size()); }
    Stereo slice(std::size_t from, std::size_t n) const {
        Stereo s(n);
        std::copy_n(left.begin() + static_cast<long>(from), n, s.left.begin());
        std::copy_n(right.begin() + static_cast<long>(from), n, s.right.begin());
        return s;
    }
};

Stereo noise(std::size_t n, std::uint32_t seed) {
    Stereo s(n);
    s.left = testkit::noise(n, seed);
    s.right = testkit::noise(n, seed + 100);
    return s;
}

enum class Variant { Process, ReplaceHP, MixHP };

template <class Model>
Stereo render(Model& m, const Stereo& in, Variant variant = Variant::Process, float fill = 0.0f) {
    Stereo out(in.size(), fill);
    const float *l = in.left.data(), *r = in.right.data();
    if (variant == Variant::Process)
        m.process(l, r, out.left.data(), out.right.data(), in.frames(), kSend, 1);
    if (variant == Variant::ReplaceHP)
        m.processreplaceHP(l, r, out.left.data(), out.right.data(), in.frames(), 1);
    if (variant == Variant::MixHP) m.processmixHP(l, r, out.left.data(), out.right.data(), in.frames(), 1);
    return out;
}

using testkit::sameBits;
bool sameBits(const Stereo& a, const Stereo& b) {
    return sameBits(a.left, b.left) && sameBits(a.right, b.right);
}

std::size_t firstNonZero(const std::vector<float>& v) {
    return static_cast<std::size_t>(std::find_if(v.begin(), v.end(), [](float x) { return x != 0.0f; }) -
                                    v.begin());
}
bool silent(const Stereo& s) { return firstNonZero(s.left) == s.size() && firstNonZero(s.right) == s.size(); }

template <class Model> double combEnergy(const Model& m) {
    double sum = 0.0;
    for (const auto* bank : {&m.combL, &m.combR})
        for (const comb& c : *bank) sum += testkit::energy(c.buffer, static_cast<std::size_t>(c.bufsize));
    return sum;
}

// Frame by frame through the model's own combs and all-passes: what the block
// renderer must match bit for bit.
template <class Model> Stereo reference(Model& m, const Stereo& in, Variant variant) {
    const bool hp = variant != Variant::Process;
    if (!hp) { // the renderer puts the width-only gains into the fields
        m.wet1 = m.getwidth() / 2.0f + 0.5f;
        m.wet2 = (1.0f - m.getwidth()) / 2.0f;
    }
    const float wet1 = m.wet1, wet2 = m.wet2;
    const float g = hp ? m.gain : m.gain * kSend;
    if (hp)
        for (HPF& f : m.hpf) f.processParameters();
    Stereo out(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        float accL = 0.0f, accR = 0.0f;
        for (comb& c : m.combL) accL += c.process(in.left[i] * g);
        for (comb& c : m.combR) accR += c.process(in.right[i] * g);
        for (allpass& a : m.allpassL) accL = a.process(accL);
        for (allpass& a : m.allpassR) accR = a.process(accR);
        if (hp) {
            m.hpf[0].processSample(&accL);
            m.hpf[1].processSample(&accR);
        }
        const float dry = hp ? m.dry : 0.0f;
        out.left[i] = flushDenormal(accL * wet1 + accR * wet2 + in.left[i] * dry);
        out.right[i] = flushDenormal(accR * wet1 + accL * wet2 + in.right[i] * dry);
    }
    return out;
}

// Every size's lines: comb 1..8 L/R, then all-pass 1..4 L/R.
template <class Model> constexpr int kSize = 0;
template <> constexpr int kSize<revmodelA> = 0;
template <> constexpr int kSize<revmodelB> = 1;
template <> constexpr int kSize<revmodelC> = 2;
template <> constexpr int kSize<revmodelD> = 3;
template <> constexpr int kSize<revmodelE> = 4;
constexpr int kLines[5][24] = {{279, 284, 297, 302, 319, 325, 339, 344, 355, 361, 372, 378,
                                389, 395, 404, 410, 139, 144, 110, 116, 85,  91,  56,  62},
                               {558, 569, 594, 605, 638, 650, 678, 689, 711, 722, 745, 757,
                                778, 790, 808, 820, 278, 289, 220, 232, 170, 182, 112, 124},
                               {1116, 1139, 1188, 1211, 1277, 1300, 1356, 1379, 1422, 1445, 1491, 1514,
                                1557, 1580, 1617, 1640, 556,  579,  441,  464,  341,  364,  225,  248},
                               {2232, 2278, 2376, 2422, 2554, 2600, 2712, 2758, 2844, 2890, 2982, 3028,
                                3114, 3160, 3234, 3280, 1112, 1158, 882,  928,  682,  728,  450,  496},
                               {4464, 4556, 4752, 4844, 5108, 5200, 5424, 5516, 5688, 5780, 5964, 6056,
                                6228, 6320, 6468, 6560, 2224, 2316, 1764, 1856, 1364, 1456, 900,  992}};

template <class Model> class ReverbModels : public ::testing::Test {};
struct ModelName {
    template <class Model> static std::string GetName(int index) {
        return std::string("revmodel") + static_cast<char>('A' + index);
    }
};
using AllModels = ::testing::Types<revmodelA, revmodelB, revmodelC, revmodelD, revmodelE>;
TYPED_TEST_SUITE(ReverbModels, AllModels, ModelName);

} // namespace

TEST(ReverbStages, CombAndAllpassImpulseResponses) {
    std::array<float, 3> combLine{}, allpassLine{};
    comb c;
    c.setbuffer(combLine.data(), 3);
    c.setfeedback(0.5f);
    c.setdamp(0.25f);
    allpass a;
    a.setbuffer(allpassLine.data(), 2);
    a.setfeedback(0.5f);
    std::vector<float> combOut, allpassOut;
    for (int i = 0; i < 10; ++i) {
        combOut.push_back(c.process(i == 0 ? 1.0f : 0.0f));
        allpassOut.push_back(a.process(i == 0 ? 1.0f : 0.0f));
    }
    // Echo every 3 frames; the loop's low-pass keeps 3/4 of each sample and
    // smears the rest into the following ones: 0.75 x 0.5 = 0.375, then
    // 0.1875 x 0.5, 0.046875 x 0.5, (0.375 x 0.75 + 0.046875 x 0.25) x 0.5.
    EXPECT_EQ(combOut, (std::vector<float>{0, 0, 0, 1, 0, 0, 0.375f, 0.09375f, 0.0234375f, 0.146484375f}));
    EXPECT_EQ(allpassOut, (std::vector<float>{-1, 0, 1, 0, 0.5f, 0, 0.25f, 0, 0.125f, 0}));
    c.mute();
    EXPECT_EQ(combLine, (std::array<float, 3>{}));
}

TYPED_TEST(ReverbModels, LinesHaveTheTableLengthsAndTileTheStorage) {
    auto reverb = testkit::makeHeap<TypeParam>();
    const int* expected = kLines[kSize<TypeParam>];
    const float* next = reverb->lines.data() + kReverbPass; // after the headroom
    auto check = [&](const auto& line, int length) {
        EXPECT_EQ(line.bufsize, length);
        EXPECT_EQ(line.buffer, next);
        next += length;
    };
    for (std::size_t i = 0; i < 8; ++i) {
        check(reverb->combL[i], expected[2 * i]);
        check(reverb->combR[i], expected[2 * i + 1]);
    }
    for (std::size_t i = 0; i < 4; ++i) {
        check(reverb->allpassL[i], expected[16 + 2 * i]);
        check(reverb->allpassR[i], expected[17 + 2 * i]);
    }
    EXPECT_EQ(next, reverb->lines.data() + reverb->lines.size());
}

TYPED_TEST(ReverbModels, ImpulseArrivesAfterTheShortestCombOnEachChannel) {
    const int* table = kLines[kSize<TypeParam>];
    for (int channel = 0; channel < 2; ++channel) {
        auto reverb = testkit::makeHeap<TypeParam>();
        Stereo in(static_cast<std::size_t>(table[1]) + 50);
        (channel == 0 ? in.left : in.right)[0] = 1.0f;
        reverb->setSamplerate(96000.0f); // lengths do not follow the rate
        const Stereo out = render(*reverb, in);
        const auto& hit = channel == 0 ? out.left : out.right;
        const std::size_t onset = firstNonZero(hit);
        ASSERT_EQ(onset, static_cast<std::size_t>(table[channel])) << "channel " << channel;
        EXPECT_EQ(hit[onset], 0.015f * kSend); // fixed gain times send, through four sign flips
        EXPECT_EQ(firstNonZero(channel == 0 ? out.right : out.left), in.size()); // full width: no crosstalk
    }
}

// Both comb banks, each forced in turn (the wide one where the processor has
// it), through loud noise and then the whole decay to zeros.
TYPED_TEST(ReverbModels, BlockRenderingMatchesFrameByFrameReference) {
    testkit::forEachLaneWidth([](VectorMath::LaneWidth) {
        auto block = testkit::makeHeap<TypeParam>();
        auto ref = testkit::makeHeap<TypeParam>();
        const Stereo in = noise(24000, 11);
        // Odd block sizes meet every wrap of every line at every phase.
        const std::array<std::size_t, 7> sizes = {1, 3, 700, 5, 128, 129, 517};
        for (std::size_t b = 0, done = 0; done < in.size(); done += sizes[b % 7], ++b) {
            const Variant variant = b % 3 == 0 ? Variant::ReplaceHP : Variant::Process;
            for (auto* m : {block.get(), ref.get()}) {
                if (b == 20) {
                    m->setroomsize(0.9f);
                    m->setdamp(0.1f);
                    m->setwidth(0.3f);
                } else if (b == 30) {
                    m->setfilter(0.1f);
                    m->setdry(0.5f);
                    m->setwet(0.8f);
                }
            }
            const Stereo slice = in.slice(done, std::min(sizes[b % 7], in.size() - done));
            const Stereo out = render(*block, slice, variant);
            ASSERT_TRUE(sameBits(out, reference(*ref, slice, variant))) << "block " << b;
        }
        EXPECT_GT(combEnergy(*block), 1.0);
        // On through the whole decay of a small room: every path flushes at the same level.
        for (auto* m : {block.get(), ref.get()}) m->setroomsize(0.0f);
        const Stereo silence(4099);
        for (int quiet = 0, b = 0; quiet < 16; ++b) {
            ASSERT_LT(b, 2000) << "still ringing";
            const Variant variant = b % 2 == 0 ? Variant::ReplaceHP : Variant::Process;
            const Stereo out = render(*block, silence, variant);
            ASSERT_TRUE(sameBits(out, reference(*ref, silence, variant))) << "tail block " << b;
            quiet = silent(out) ? quiet + 1 : 0;
        }
    });
}

TYPED_TEST(ReverbModels, SilenceDecaysToExactZerosWithoutSubnormals) {
    auto reverb = testkit::makeHeap<TypeParam>();
    render(*reverb, noise(4096, 3), Variant::ReplaceHP);
    const Stereo silence(512);
    std::size_t subnormals = 0;
    bool subnormalState = false;
    int quiet = 0, blocks = 0;
    auto filtersAtRest = [&] {
        return std::all_of(std::begin(reverb->hpf), std::end(reverb->hpf),
                           [](const HPF& f) { return f.a[6] == 0.0f && f.a[7] == 0.0f; });
    };
    // Quiet for longer than the longest line, and the high-pass state (which
    // outlives its audible output) at rest: the whole state is gone.
    for (; (quiet < 16 || !filtersAtRest()) && blocks < 40000; ++blocks) {
        const Stereo out = render(*reverb, silence, blocks % 2 ? Variant::Process : Variant::ReplaceHP);
        subnormals += testkit::countSubnormals(out.left.data(), out.size()) +
                      testkit::countSubnormals(out.right.data(), out.size());
        for (const HPF& f : reverb->hpf)
            subnormalState |= testkit::isSubnormal(f.a[6]) || testkit::isSubnormal(f.a[7]);
        quiet = silent(out) ? quiet + 1 : 0;
    }
    EXPECT_LT(blocks, 40000) << "still ringing";
    EXPECT_EQ(subnormals, 0u);
    EXPECT_FALSE(subnormalState);
    EXPECT_EQ(combEnergy(*reverb), 0.0);
    for (const auto* bank : {&reverb->combL, &reverb->combR})
        for (const comb& c : *bank) EXPECT_EQ(c.filterstore, 0.0f);
}

TYPED_TEST(ReverbModels, ResetAfterNaNInputGivesCleanOutput) {
    auto poisoned = testkit::makeHeap<TypeParam>();
    auto fresh = testkit::makeHeap<TypeParam>();
    Stereo bad = noise(777, 5);
    bad.left[100] = kNaN;
    bad.right[300] = std::numeric_limits<float>::infinity();
    render(*poisoned, bad);
    const Stereo spoiled = render(*poisoned, bad, Variant::ReplaceHP);
    ASSERT_FALSE(testkit::allFinite(spoiled.left.data(), spoiled.size()));

    poisoned->reset();
    // Positions are kept, but with every line and filter empty the response is
    // that of a new reverb, bit for bit.
    const Stereo probe = noise(3 * static_cast<std::size_t>(kLines[kSize<TypeParam>][15]), 9);
    for (Variant v : {Variant::Process, Variant::ReplaceHP})
        EXPECT_TRUE(sameBits(render(*poisoned, probe, v), render(*fresh, probe, v)));
}

TEST(Reverb, WidthZeroGivesIdenticalChannelsAndWetDoesNotSilenceTheRenderer) {
    auto narrow = testkit::makeHeap<revmodelB>();
    auto plain = testkit::makeHeap<revmodelB>();
    narrow->setwidth(0.0f);
    narrow->setwet(0.0f); // the kernel's renderer leaves wet and dry to the caller
    narrow->setdry(1.0f);
    const Stereo in = noise(5000, 4);
    const Stereo mono = render(*narrow, in);
    EXPECT_TRUE(sameBits(mono.left, mono.right));
    EXPECT_GT(testkit::energy(mono.left.data(), mono.size()), 0.1);
    const Stereo wide = render(*plain, in);
    EXPECT_FALSE(sameBits(wide.left, wide.right));
    for (std::size_t i = 0; i < in.size(); i += 101)
        EXPECT_FLOAT_EQ(mono.left[i], (wide.left[i] + wide.right[i]) / 2);
}

TEST(Reverb, PublishedVariantsApplyWetAndDry) {
    const Stereo in = noise(3000, 8);
    auto dryOnly = testkit::makeHeap<revmodelA>();
    dryOnly->setwet(0.0f);
    dryOnly->setdry(1.0f);
    Stereo out(in.size());
    dryOnly->processreplace(in.left.data(), in.right.data(), out.left.data(), out.right.data(), in.frames(),
                            1);
    EXPECT_TRUE(sameBits(out, in));

    // processmix adds the wet signal, without dry, to what the buffer holds.
    auto mixer = testkit::makeHeap<revmodelA>();
    auto replacer = testkit::makeHeap<revmodelA>();
    Stereo wet(in.size()), mixed(in.size(), 0.25f);
    replacer->processreplace(in.left.data(), in.right.data(), wet.left.data(), wet.right.data(), in.frames(),
                             1);
    mixer->processmix(in.left.data(), in.right.data(), mixed.left.data(), mixed.right.data(), in.frames(), 1);
    EXPECT_GT(testkit::energy(wet.left.data(), wet.size()), 0.1);
    for (std::size_t i = 0; i < in.size(); i += 97) EXPECT_FLOAT_EQ(mixed.right[i], 0.25f + wet.right[i]);
}

TEST(Reverb, InterleavedInPlaceMatchesSeparateBuffers) {
    auto separate = testkit::makeHeap<revmodelA>();
    auto interleaved = testkit::makeHeap<revmodelA>();
    const Stereo in = noise(1500, 12);
    const Stereo expected = render(*separate, in);
    std::vector<float> frames(2 * in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        frames[2 * i] = in.left[i];
        frames[2 * i + 1] = in.right[i];
    }
    float* f = frames.data();
    interleaved->process(f, f + 1, f, f + 1, in.frames(), kSend, 2);
    for (std::size_t i = 0; i < in.size(); ++i) {
        ASSERT_EQ(frames[2 * i], expected.left[i]) << i;
        ASSERT_EQ(frames[2 * i + 1], expected.right[i]) << i;
    }
}

TEST(Reverb, FreezeHoldsTheTailIgnoresInputSurvivesResetAndThaws) {
    auto frozen = testkit::makeHeap<revmodelC>();
    auto twin = testkit::makeHeap<revmodelC>();
    for (auto* m : {frozen.get(), twin.get()}) {
        render(*m, noise(4000, 6));
        m->setmode(0.5f);
    }
    EXPECT_EQ(frozen->getmode(), 1.0f);
    const double held = combEnergy(*frozen);

    // Loud input and resets change nothing: the twin hears silence, no reset.
    const Stereo loud = noise(48000, 7), silence(48000);
    const Stereo a = render(*frozen, loud);
    frozen->reset();
    frozen->mute();
    const Stereo b = render(*frozen, loud);
    EXPECT_TRUE(sameBits(a, render(*twin, silence)));
    EXPECT_TRUE(sameBits(b, render(*twin, silence)));
    EXPECT_NEAR(combEnergy(*frozen), held, held * 1e-6);
    const double early = testkit::energy(a.left.data(), 24000);
    EXPECT_NEAR(testkit::energy(b.left.data() + 24000, 24000), early, early * 0.1);

    // Just below the threshold it thaws: the tail decays, input is heard, reset clears.
    frozen->setmode(0.49f);
    EXPECT_EQ(frozen->getmode(), 0.0f);
    EXPECT_LT(testkit::energy(render(*frozen, silence).left.data() + 40000, 8000), early * 1e-3);
    EXPECT_GT(testkit::energy(render(*frozen, loud).left.data(), loud.size()), 1.0);
    frozen->reset();
    EXPECT_TRUE(silent(render(*frozen, silence)));
}

TEST(Reverb, GettersRoundTripAndNonFiniteValuesAreRefused) {
    auto reverb = testkit::makeHeap<revmodelD>();
    auto expectState = [&](float room, float damp, float wet, float dry, float width, float mode) {
        EXPECT_NEAR(reverb->getroomsize(), room, 1e-6f);
        EXPECT_NEAR(reverb->getdamp(), damp, 1e-6f);
        EXPECT_EQ(reverb->getwet(), wet); // stored unscaled
        EXPECT_EQ(reverb->getdry(), dry);
        EXPECT_EQ(reverb->getwidth(), width);
        EXPECT_EQ(reverb->getmode(), mode);
    };
    expectState(0.5f, 0.5f, 1.0f, 0.0f, 1.0f, 0.0f);
    EXPECT_FLOAT_EQ(reverb->combR[7].getfeedback(), 0.84f);
    EXPECT_FLOAT_EQ(reverb->combL[2].getdamp(), 0.2f);
    EXPECT_EQ(reverb->allpassR[3].getfeedback(), 0.5f);
    reverb->setroomsize(0.25f);
    reverb->setdamp(1.0f);
    reverb->setwet(0.3f);
    reverb->setdry(0.7f);
    reverb->setwidth(0.6f);
    reverb->setmode(0.7f);
    expectState(0.25f, 1.0f, 0.3f, 0.7f, 0.6f, 1.0f);
    EXPECT_EQ(reverb->combL[0].getfeedback(), 1.0f); // frozen: no loss, no damping, no input
    EXPECT_EQ(reverb->combR[5].getdamp(), 0.0f);
    EXPECT_EQ(reverb->gain, 0.0f);
    for (float bad : {kNaN, std::numeric_limits<float>::infinity()}) {
        reverb->setroomsize(bad);
        reverb->setdamp(bad);
        reverb->setwet(bad);
        reverb->setdry(bad);
        reverb->setwidth(bad);
        reverb->setmode(bad);
    }
    expectState(0.25f, 1.0f, 0.3f, 0.7f, 0.6f, 1.0f);
}

TEST(Reverb, RoomAndDampBeyondTheDialStillDecay) {
    auto reverb = testkit::makeHeap<revmodelC>();
    reverb->setroomsize(3.0f);
    reverb->setdamp(-2.0f);
    EXPECT_NEAR(reverb->getroomsize(), 1.0f, 1e-6f);
    EXPECT_EQ(reverb->getdamp(), 0.0f);
    std::vector<float> inL = testkit::noise(4800, 1), inR = testkit::noise(4800, 2);
    std::vector<float> outL(4800), outR(4800);
    reverb->process(inL.data(), inR.data(), outL.data(), outR.data(), 4800, 1.0f, 1);
    std::fill(inL.begin(), inL.end(), 0.0f);
    std::fill(inR.begin(), inR.end(), 0.0f);
    float last = 0.0f;
    for (int block = 0; block < 200; ++block) // 20 s of silence
        reverb->process(inL.data(), inR.data(), outL.data(), outR.data(), 4800, 1.0f, 1);
    for (float s : outL) last = std::max(last, std::fabs(s));
    EXPECT_LT(last, 1e-3f);
}

TEST(Reverb, FilterCutoffClampsToItsRange) {
    auto reverb = testkit::makeHeap<revmodelA>();
    EXPECT_EQ(reverb->getfilter(), 80.0f / 48000.0f);
    reverb->setfilter(1.0f);
    EXPECT_EQ(reverb->getfilter(), 0.9f);
    for (const HPF& f : reverb->hpf) {
        EXPECT_NEAR(f.kfc, 0.36f * 48000.0f, 0.01f);
        EXPECT_NEAR(f.ampscaler, 6.4f, 1e-6f);
    }
    reverb->setfilter(0.25f);
    EXPECT_EQ(reverb->hpf[1].fCutoff, 0.25f);
    reverb->setfilter(kNaN);
    EXPECT_EQ(reverb->getfilter(), 80.0f / 48000.0f);
    reverb->setSamplerate(96000.0f);
    reverb->setfilter(-3.0f);
    EXPECT_EQ(reverb->getfilter(), 80.0f / 96000.0f);
    for (float bad : {0.0f, -44100.0f, kNaN, std::numeric_limits<float>::infinity()}) {
        reverb->setSamplerate(bad);
        reverb->setfilter(0.0f);
        EXPECT_EQ(reverb->getfilter(), 80.0f / 96000.0f);
    }
}

TEST(Reverb, HighPassVariantsTakeTheLowsOutOfTheWet) {
    auto plain = testkit::makeHeap<revmodelC>();
    auto filtered = testkit::makeHeap<revmodelC>();
    auto mixer = testkit::makeHeap<revmodelC>();
    filtered->setfilter(0.05f); // 960 Hz at 48 kHz, gain 1.3
    mixer->setfilter(0.05f);
    const Stereo in = noise(48000, 13);
    Stereo a(in.size()), b(in.size());
    plain->processreplace(in.left.data(), in.right.data(), a.left.data(), a.right.data(), in.frames(), 1);
    filtered->processHP(in.left.data(), in.right.data(), b.left.data(), b.right.data(), in.frames(), 1);
    EXPECT_LT(testkit::bandEnergy(b.left, 48000.0, 20.0, 200.0),
              testkit::bandEnergy(a.left, 48000.0, 20.0, 200.0) * 0.01);
    EXPECT_GT(testkit::bandEnergy(b.left, 48000.0, 4000.0, 8000.0),
              testkit::bandEnergy(a.left, 48000.0, 4000.0, 8000.0));
    EXPECT_TRUE(sameBits(render(*mixer, in, Variant::MixHP), b)); // dry 0 onto a silent buffer
}

TEST(Reverb, ProcessingAndControlAllocateNothing) {
    auto reverb = testkit::makeHeap<revmodelE>();
    const Stereo in = noise(512, 14);
    Stereo out(in.size());
    const float *l = in.left.data(), *r = in.right.data();
    float *ol = out.left.data(), *orr = out.right.data();
    testkit::AllocationCounter counter;
    reverb->process(l, r, ol, orr, in.frames(), kSend, 1);
    reverb->processreplace(l, r, ol, orr, in.frames(), 1);
    reverb->processmix(l, r, ol, orr, in.frames(), 1);
    reverb->processHP(l, r, ol, orr, in.frames(), 1);
    reverb->processmixHP(l, r, ol, orr, in.frames(), 1);
    reverb->setroomsize(0.9f);
    reverb->setfilter(0.3f);
    reverb->setmode(1.0f);
    reverb->setmode(0.0f);
    reverb->reset();
    const std::size_t allocations = counter.count();
    EXPECT_EQ(allocations, 0u);
}
