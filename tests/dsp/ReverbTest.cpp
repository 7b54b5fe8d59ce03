#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "dsp/Reverb.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/Heap.h"
#include "tests/support/Signals.h"
#include "tests/support/Spectrum.h"
#include "tests/support/Subnormals.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kSend = 2.0f; // input gain as the kernel passes it

struct Stereo {
    std::vector<float> left, right;
    explicit Stereo(std::size_t n) : left(n, 0.0f), right(n, 0.0f) {}
    Stereo(std::vector<float> l, std::vector<float> r) : left(std::move(l)), right(std::move(r)) {}
    std::size_t size() const { return left.size(); }
};

Stereo noise(std::size_t n, std::uint32_t seed) {
    return Stereo(testkit::noise(n, seed), testkit::noise(n, seed + 100));
}

template <class Model> Stereo render(Model& reverb, const Stereo& in, float send = kSend) {
    Stereo out(in.size());
    reverb.process(in.left.data(), in.right.data(), out.left.data(), out.right.data(),
                   static_cast<long>(in.size()), send, 1);
    return out;
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::bit_cast<std::uint32_t>(a[i]) != std::bit_cast<std::uint32_t>(b[i])) return false;
    return true;
}

bool sameBits(const Stereo& a, const Stereo& b) {
    return sameBits(a.left, b.left) && sameBits(a.right, b.right);
}

std::size_t firstNonZero(const std::vector<float>& v) {
    for (std::size_t i = 0; i < v.size(); ++i)
        if (v[i] != 0.0f) return i;
    return v.size();
}

template <std::size_t N> double combEnergy(const std::array<comb, N>& combs) {
    double sum = 0.0;
    for (const comb& c : combs) sum += testkit::energy(c.buffer, static_cast<std::size_t>(c.bufsize));
    return sum;
}

// The lines of each size, in the order comb 1..8 L/R, all-pass 1..4 L/R.
template <class Model> struct Table;
template <> struct Table<revmodelA> {
    static constexpr std::array<int, 24> lines = {279, 284, 297, 302, 319, 325, 339, 344, 355, 361, 372, 378,
                                                  389, 395, 404, 410, 139, 144, 110, 116, 85,  91,  56,  62};
};
template <> struct Table<revmodelB> {
    static constexpr std::array<int, 24> lines = {558, 569, 594, 605, 638, 650, 678, 689, 711, 722, 745, 757,
                                                  778, 790, 808, 820, 278, 289, 220, 232, 170, 182, 112, 124};
};
template <> struct Table<revmodelC> {
    static constexpr std::array<int, 24> lines = {1116, 1139, 1188, 1211, 1277, 1300, 1356, 1379,
                                                  1422, 1445, 1491, 1514, 1557, 1580, 1617, 1640,
                                                  556,  579,  441,  464,  341,  364,  225,  248};
};
template <> struct Table<revmodelD> {
    static constexpr std::array<int, 24> lines = {2232, 2278, 2376, 2422, 2554, 2600, 2712, 2758,
                                                  2844, 2890, 2982, 3028, 3114, 3160, 3234, 3280,
                                                  1112, 1158, 882,  928,  682,  728,  450,  496};
};
template <> struct Table<revmodelE> {
    static constexpr std::array<int, 24> lines = {4464, 4556, 4752, 4844, 5108, 5200, 5424, 5516,
                                                  5688, 5780, 5964, 6056, 6228, 6320, 6468, 6560,
                                                  2224, 2316, 1764, 1856, 1364, 1456, 900,  992};
};

template <class Model> class ReverbModels : public ::testing::Test {};
using AllModels = ::testing::Types<revmodelA, revmodelB, revmodelC, revmodelD, revmodelE>;
struct ModelName {
    template <class Model> static std::string GetName(int index) {
        return std::string("revmodel") + static_cast<char>('A' + index);
    }
};
TYPED_TEST_SUITE(ReverbModels, AllModels, ModelName);

// Straightforward frame-by-frame rendering through the model's own combs and
// all-passes: what the block renderer must match bit for bit.
template <class Model>
void referenceFrame(Model& m, float inL, float inR, float g, float& accL, float& accR) {
    accL = 0.0f;
    accR = 0.0f;
    for (comb& c : m.combL) accL += c.process(inL * g);
    for (comb& c : m.combR) accR += c.process(inR * g);
    for (allpass& a : m.allpassL) accL = a.process(accL);
    for (allpass& a : m.allpassR) accR = a.process(accR);
}

template <class Model> Stereo referenceProcess(Model& m, const Stereo& in, float send) {
    const float wet1 = m.getwidth() / 2.0f + 0.5f;
    const float wet2 = (1.0f - m.getwidth()) / 2.0f;
    Stereo out(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        float accL, accR;
        referenceFrame(m, in.left[i], in.right[i], m.gain * send, accL, accR);
        out.left[i] = flushDenormal(accL * wet1 + accR * wet2);
        out.right[i] = flushDenormal(accR * wet1 + accL * wet2);
    }
    return out;
}

template <class Model> Stereo referenceReplaceHP(Model& m, const Stereo& in) {
    for (HPF& f : m.hpf) f.processParameters();
    Stereo out(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        float accL, accR;
        referenceFrame(m, in.left[i], in.right[i], m.gain, accL, accR);
        m.hpf[0].processSample(&accL);
        m.hpf[1].processSample(&accR);
        out.left[i] = flushDenormal(accL * m.wet1 + accR * m.wet2 + in.left[i] * m.dry);
        out.right[i] = flushDenormal(accR * m.wet1 + accL * m.wet2 + in.right[i] * m.dry);
    }
    return out;
}

} // namespace

TYPED_TEST(ReverbModels, LinesHaveTheTableLengths) {
    auto reverb = testkit::makeHeap<TypeParam>();
    const auto& expected = Table<TypeParam>::lines;
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(reverb->combL[i].bufsize, expected[2 * i]) << "comb L" << i + 1;
        EXPECT_EQ(reverb->combR[i].bufsize, expected[2 * i + 1]) << "comb R" << i + 1;
    }
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(reverb->allpassL[i].bufsize, expected[16 + 2 * i]) << "all-pass L" << i + 1;
        EXPECT_EQ(reverb->allpassR[i].bufsize, expected[17 + 2 * i]) << "all-pass R" << i + 1;
    }
    // The lines tile the storage inside the object without overlap.
    const float* next = reverb->lines.data();
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(reverb->combL[i].buffer, next);
        next += expected[2 * i];
        EXPECT_EQ(reverb->combR[i].buffer, next);
        next += expected[2 * i + 1];
    }
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(reverb->allpassL[i].buffer, next);
        next += expected[16 + 2 * i];
        EXPECT_EQ(reverb->allpassR[i].buffer, next);
        next += expected[17 + 2 * i];
    }
    EXPECT_EQ(next, reverb->lines.data() + reverb->lines.size());
}

TYPED_TEST(ReverbModels, ImpulseArrivesAfterTheShortestCombOnEachChannel) {
    const auto& table = Table<TypeParam>::lines;
    const std::size_t n = static_cast<std::size_t>(table[1]) + 50;
    for (int channel = 0; channel < 2; ++channel) {
        auto reverb = testkit::makeHeap<TypeParam>();
        Stereo in(n);
        (channel == 0 ? in.left : in.right)[0] = 1.0f;
        const Stereo out = render(*reverb, in);
        const auto& hit = channel == 0 ? out.left : out.right;
        const auto& other = channel == 0 ? out.right : out.left;
        const std::size_t onset = firstNonZero(hit);
        EXPECT_EQ(onset, static_cast<std::size_t>(table[channel])) << "channel " << channel;
        ASSERT_LT(onset, n);
        EXPECT_EQ(hit[onset], 0.015f * kSend); // fixed gain times send, through four sign flips
        EXPECT_EQ(firstNonZero(other), n);     // full width: no crosstalk
    }
}

TYPED_TEST(ReverbModels, BlockRenderingMatchesFrameByFrameReference) {
    auto block = testkit::makeHeap<TypeParam>();
    auto reference = testkit::makeHeap<TypeParam>();
    const Stereo in = noise(30000, 11);
    Stereo out(in.size());
    // Odd block sizes cross every wrap of every line at every phase.
    const std::array<long, 7> sizes = {1, 3, 700, 5, 128, 129, 517};
    std::size_t done = 0;
    for (std::size_t b = 0; done < in.size(); ++b) {
        if (b == 20) {
            for (auto* m : {block.get(), reference.get()}) {
                m->setroomsize(0.9f);
                m->setdamp(0.1f);
                m->setwidth(0.3f);
            }
        }
        const long count = std::min<long>(sizes[b % sizes.size()], static_cast<long>(in.size() - done));
        block->process(&in.left[done], &in.right[done], &out.left[done], &out.right[done], count, kSend, 1);
        const Stereo slice(std::vector<float>(in.left.begin() + done, in.left.begin() + done + count),
                           std::vector<float>(in.right.begin() + done, in.right.begin() + done + count));
        const Stereo expected = referenceProcess(*reference, slice, kSend);
        ASSERT_TRUE(sameBits(std::vector<float>(out.left.begin() + done, out.left.begin() + done + count),
                             expected.left))
            << "block " << b;
        ASSERT_TRUE(sameBits(std::vector<float>(out.right.begin() + done, out.right.begin() + done + count),
                             expected.right))
            << "block " << b;
        done += static_cast<std::size_t>(count);
    }
    EXPECT_GT(testkit::energy(out.left.data(), out.size()), 1.0);
}

TYPED_TEST(ReverbModels, HighPassVariantMatchesFrameByFrameReference) {
    auto block = testkit::makeHeap<TypeParam>();
    auto reference = testkit::makeHeap<TypeParam>();
    for (auto* m : {block.get(), reference.get()}) {
        m->setfilter(0.1f);
        m->setdry(0.5f);
        m->setwidth(0.7f);
    }
    const Stereo in = noise(6000, 21);
    Stereo out(in.size());
    for (std::size_t done = 0; done < in.size(); done += 1000) {
        block->processreplaceHP(&in.left[done], &in.right[done], &out.left[done], &out.right[done], 1000, 1);
        const Stereo slice(std::vector<float>(in.left.begin() + done, in.left.begin() + done + 1000),
                           std::vector<float>(in.right.begin() + done, in.right.begin() + done + 1000));
        const Stereo expected = referenceReplaceHP(*reference, slice);
        ASSERT_TRUE(sameBits(std::vector<float>(out.left.begin() + done, out.left.begin() + done + 1000),
                             expected.left));
        ASSERT_TRUE(sameBits(std::vector<float>(out.right.begin() + done, out.right.begin() + done + 1000),
                             expected.right));
    }
}

TYPED_TEST(ReverbModels, SilenceDecaysToExactZerosWithoutSubnormals) {
    auto reverb = testkit::makeHeap<TypeParam>();
    render(*reverb, noise(4096, 3));
    const Stereo silence(512);
    std::size_t subnormals = 0;
    int quietBlocks = 0;
    int blocks = 0;
    // Quiet for longer than the longest line means the whole state is gone.
    while (quietBlocks < 16 && blocks < 20000) {
        const Stereo out = render(*reverb, silence);
        subnormals += testkit::countSubnormals(out.left.data(), out.size()) +
                      testkit::countSubnormals(out.right.data(), out.size());
        const bool quiet = firstNonZero(out.left) == out.size() && firstNonZero(out.right) == out.size();
        quietBlocks = quiet ? quietBlocks + 1 : 0;
        ++blocks;
    }
    EXPECT_EQ(quietBlocks, 16) << "still ringing after " << blocks << " blocks";
    EXPECT_EQ(subnormals, 0u);
    EXPECT_EQ(firstNonZero(std::vector<float>(reverb->lines.begin(), reverb->lines.end())),
              reverb->lines.size());
    for (const comb& c : reverb->combL) EXPECT_EQ(c.filterstore, 0.0f);
    for (const comb& c : reverb->combR) EXPECT_EQ(c.filterstore, 0.0f);
}

TEST(Reverb, HighPassStateDecaysToExactZeros) {
    auto reverb = testkit::makeHeap<revmodelA>();
    Stereo out(512);
    const Stereo excitation = noise(512, 15);
    reverb->processreplaceHP(excitation.left.data(), excitation.right.data(), out.left.data(),
                             out.right.data(), 512, 1);
    const Stereo silence(512);
    bool subnormalState = false;
    for (int block = 0; block < 2000; ++block) {
        reverb->processreplaceHP(silence.left.data(), silence.right.data(), out.left.data(), out.right.data(),
                                 512, 1);
        for (const HPF& f : reverb->hpf)
            subnormalState = subnormalState || testkit::isSubnormal(f.a[6]) || testkit::isSubnormal(f.a[7]);
        ASSERT_EQ(testkit::countSubnormals(out.left.data(), 512), 0u);
    }
    EXPECT_FALSE(subnormalState);
    for (const HPF& f : reverb->hpf) {
        EXPECT_EQ(f.a[6], 0.0f);
        EXPECT_EQ(f.a[7], 0.0f);
    }
    EXPECT_EQ(firstNonZero(out.left), out.size());
}

TYPED_TEST(ReverbModels, ResetAfterNaNInputGivesCleanOutput) {
    auto poisoned = testkit::makeHeap<TypeParam>();
    auto fresh = testkit::makeHeap<TypeParam>();
    Stereo bad = noise(777, 5);
    bad.left[100] = kNaN;
    bad.right[300] = std::numeric_limits<float>::infinity();
    const Stereo spoiled = render(*poisoned, bad);
    Stereo spoiledHP(bad.size());
    poisoned->processreplaceHP(bad.left.data(), bad.right.data(), spoiledHP.left.data(),
                               spoiledHP.right.data(), static_cast<long>(bad.size()), 1);
    ASSERT_FALSE(testkit::allFinite(spoiledHP.left.data(), spoiledHP.size()));

    poisoned->reset();
    // Positions are kept, but with every line and filter empty the response
    // cannot tell: it is that of a new reverb, bit for bit.
    const Stereo probe = noise(3 * static_cast<std::size_t>(Table<TypeParam>::lines[15]), 9);
    EXPECT_TRUE(sameBits(render(*poisoned, probe), render(*fresh, probe)));
    Stereo hpA(probe.size()), hpB(probe.size());
    poisoned->processreplaceHP(probe.left.data(), probe.right.data(), hpA.left.data(), hpA.right.data(),
                               static_cast<long>(probe.size()), 1);
    fresh->processreplaceHP(probe.left.data(), probe.right.data(), hpB.left.data(), hpB.right.data(),
                            static_cast<long>(probe.size()), 1);
    EXPECT_TRUE(sameBits(hpA, hpB));
    EXPECT_TRUE(testkit::allFinite(hpA.left.data(), hpA.size()));
}

TEST(Reverb, ZeroWidthGivesIdenticalChannels) {
    auto reverb = testkit::makeHeap<revmodelB>();
    reverb->setwidth(0.0f);
    const Stereo out = render(*reverb, noise(5000, 4));
    EXPECT_TRUE(sameBits(out.left, out.right));
    EXPECT_GT(testkit::energy(out.left.data(), out.size()), 0.1);

    // The full width keeps them apart.
    auto wide = testkit::makeHeap<revmodelB>();
    const Stereo apart = render(*wide, noise(5000, 4));
    EXPECT_FALSE(sameBits(apart.left, apart.right));
}

TEST(Reverb, RendererIgnoresWetAndDryButThePublishedVariantsDoNot) {
    auto muted = testkit::makeHeap<revmodelA>();
    auto plain = testkit::makeHeap<revmodelA>();
    muted->setwet(0.0f);
    muted->setdry(1.0f);
    const Stereo in = noise(3000, 8);
    const Stereo out = render(*muted, in);
    EXPECT_GT(testkit::energy(out.left.data(), out.size()), 0.1);
    EXPECT_TRUE(sameBits(out, render(*plain, in)));

    // processreplace: wet 0, dry 1 passes the input through untouched.
    auto replace = testkit::makeHeap<revmodelA>();
    replace->setwet(0.0f);
    replace->setdry(1.0f);
    Stereo dryOnly(in.size());
    replace->processreplace(in.left.data(), in.right.data(), dryOnly.left.data(), dryOnly.right.data(),
                            static_cast<long>(in.size()), 1);
    EXPECT_TRUE(sameBits(dryOnly, in));

    // processmix adds the wet signal (and no dry) to what is there.
    auto mixer = testkit::makeHeap<revmodelA>();
    auto replacer = testkit::makeHeap<revmodelA>();
    replacer->setdry(0.0f);
    Stereo wetOnly(in.size());
    replacer->processreplace(in.left.data(), in.right.data(), wetOnly.left.data(), wetOnly.right.data(),
                             static_cast<long>(in.size()), 1);
    Stereo mixed(std::vector<float>(in.size(), 0.25f), std::vector<float>(in.size(), -0.5f));
    mixer->processmix(in.left.data(), in.right.data(), mixed.left.data(), mixed.right.data(),
                      static_cast<long>(in.size()), 1);
    for (std::size_t i = 0; i < in.size(); i += 97) {
        EXPECT_FLOAT_EQ(mixed.left[i], 0.25f + wetOnly.left[i]);
        EXPECT_FLOAT_EQ(mixed.right[i], -0.5f + wetOnly.right[i]);
    }
}

TEST(Reverb, InterleavedInPlaceMatchesSeparateBuffers) {
    auto separate = testkit::makeHeap<revmodelA>();
    auto interleaved = testkit::makeHeap<revmodelA>();
    const Stereo in = noise(1500, 12);
    const Stereo expected = render(*separate, in, 1.0f);
    std::vector<float> frames(2 * in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        frames[2 * i] = in.left[i];
        frames[2 * i + 1] = in.right[i];
    }
    interleaved->process(frames.data(), frames.data() + 1, frames.data(), frames.data() + 1,
                         static_cast<long>(in.size()), 1.0f, 2);
    Stereo got(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        got.left[i] = frames[2 * i];
        got.right[i] = frames[2 * i + 1];
    }
    EXPECT_TRUE(sameBits(got, expected));
}

TEST(Reverb, FreezeHoldsTheTailIgnoresInputAndSurvivesReset) {
    auto frozen = testkit::makeHeap<revmodelC>();
    auto twin = testkit::makeHeap<revmodelC>();
    const Stereo excitation = noise(4000, 6);
    for (auto* m : {frozen.get(), twin.get()}) {
        render(*m, excitation);
        m->setmode(0.5f);
    }
    EXPECT_EQ(frozen->getmode(), 1.0f);
    const double held = combEnergy(frozen->combL) + combEnergy(frozen->combR);
    ASSERT_GT(held, 0.0);

    // Loud input and a reset change nothing: the twin hears silence, no reset.
    const Stereo loud = noise(48000, 7);
    const Stereo silence(loud.size());
    const Stereo a = render(*frozen, loud);
    frozen->reset();
    frozen->mute();
    const Stereo b = render(*frozen, loud);
    EXPECT_TRUE(sameBits(a, render(*twin, silence)));
    EXPECT_TRUE(sameBits(b, render(*twin, silence)));
    EXPECT_NEAR(combEnergy(frozen->combL) + combEnergy(frozen->combR), held, held * 1e-6);
    const double early = testkit::energy(a.left.data(), 24000);
    const double late = testkit::energy(b.left.data() + 24000, 24000);
    EXPECT_NEAR(late, early, early * 0.1);

    // Just below the threshold it thaws: the tail decays and input is heard.
    frozen->setmode(0.49f);
    EXPECT_EQ(frozen->getmode(), 0.0f);
    EXPECT_EQ(frozen->gain, 0.015f);
    const Stereo thawed = render(*frozen, silence);
    EXPECT_LT(testkit::energy(thawed.left.data() + 40000, 8000), early / 6 * 0.01);
    const Stereo heard = render(*frozen, loud);
    EXPECT_GT(testkit::energy(heard.left.data(), heard.size()), 1.0);
    frozen->reset();
    EXPECT_EQ(firstNonZero(render(*frozen, silence).left), silence.size());
}

TEST(Reverb, ConstructionDefaultsAndGettersRoundTrip) {
    auto reverb = testkit::makeHeap<revmodelD>();
    EXPECT_NEAR(reverb->getroomsize(), 0.5f, 1e-6f);
    EXPECT_NEAR(reverb->getdamp(), 0.5f, 1e-6f);
    EXPECT_EQ(reverb->getwet(), 1.0f);
    EXPECT_EQ(reverb->getdry(), 0.0f);
    EXPECT_EQ(reverb->getwidth(), 1.0f);
    EXPECT_EQ(reverb->getmode(), 0.0f);
    EXPECT_EQ(reverb->getfilter(), 80.0f / 48000.0f);

    reverb->setroomsize(0.25f);
    reverb->setdamp(1.0f);
    reverb->setwet(0.3f);
    reverb->setdry(0.7f);
    reverb->setwidth(0.6f);
    reverb->setmode(0.7f);
    EXPECT_NEAR(reverb->getroomsize(), 0.25f, 1e-6f);
    EXPECT_NEAR(reverb->getdamp(), 1.0f, 1e-6f);
    EXPECT_EQ(reverb->getwet(), 0.3f); // stored unscaled
    EXPECT_EQ(reverb->getdry(), 0.7f);
    EXPECT_EQ(reverb->getwidth(), 0.6f);
    EXPECT_EQ(reverb->getmode(), 1.0f);

    // Non-finite values are refused, the old ones kept.
    for (float bad : {kNaN, std::numeric_limits<float>::infinity()}) {
        reverb->setroomsize(bad);
        reverb->setdamp(bad);
        reverb->setwet(bad);
        reverb->setdry(bad);
        reverb->setwidth(bad);
        reverb->setmode(bad);
    }
    EXPECT_NEAR(reverb->getroomsize(), 0.25f, 1e-6f);
    EXPECT_NEAR(reverb->getdamp(), 1.0f, 1e-6f);
    EXPECT_EQ(reverb->getwet(), 0.3f);
    EXPECT_EQ(reverb->getdry(), 0.7f);
    EXPECT_EQ(reverb->getwidth(), 0.6f);
    EXPECT_EQ(reverb->getmode(), 1.0f);
}

TEST(Reverb, FilterCutoffClampsToItsRange) {
    auto reverb = testkit::makeHeap<revmodelA>();
    reverb->setfilter(1.0f);
    EXPECT_EQ(reverb->getfilter(), 0.9f);
    for (const HPF& f : reverb->hpf) {
        EXPECT_NEAR(f.kfc, 0.36f * 48000.0f, 0.01f);
        EXPECT_NEAR(f.ampscaler, 6.4f, 1e-6f);
    }
    reverb->setfilter(0.0f);
    EXPECT_EQ(reverb->getfilter(), 80.0f / 48000.0f);
    reverb->setfilter(0.25f);
    EXPECT_EQ(reverb->getfilter(), 0.25f);
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
    filtered->setfilter(0.05f); // 960 Hz at 48 kHz
    const Stereo in = noise(48000, 13);
    Stereo a(in.size()), b(in.size()), c(in.size());
    plain->processreplace(in.left.data(), in.right.data(), a.left.data(), a.right.data(), 48000, 1);
    filtered->processHP(in.left.data(), in.right.data(), b.left.data(), b.right.data(), 48000, 1);
    const double lowPlain = testkit::bandEnergy(a.left, 48000.0, 20.0, 200.0);
    const double lowFiltered = testkit::bandEnergy(b.left, 48000.0, 20.0, 200.0);
    const double highPlain = testkit::bandEnergy(a.left, 48000.0, 4000.0, 8000.0);
    const double highFiltered = testkit::bandEnergy(b.left, 48000.0, 4000.0, 8000.0);
    EXPECT_LT(lowFiltered, lowPlain * 0.01);
    EXPECT_GT(highFiltered, highPlain); // the filter's gain rises with its cutoff (1.3 here)

    // processmixHP adds that same filtered wet to the buffer.
    auto mixer = testkit::makeHeap<revmodelC>();
    mixer->setfilter(0.05f);
    mixer->processmixHP(in.left.data(), in.right.data(), c.left.data(), c.right.data(), 48000, 1);
    EXPECT_TRUE(sameBits(c, b)); // dry is 0, the buffer was silent
}

TEST(Reverb, SampleRateChangesNoLength) {
    auto reverb = testkit::makeHeap<revmodelA>();
    reverb->setSamplerate(192000.0f);
    Stereo in(600);
    in.left[0] = 1.0f;
    in.right[0] = 1.0f;
    const Stereo out = render(*reverb, in);
    EXPECT_EQ(firstNonZero(out.left), 279u);
    EXPECT_EQ(firstNonZero(out.right), 284u);
    EXPECT_EQ(reverb->combL[7].bufsize, 404);
    EXPECT_EQ(reverb->allpassR[3].bufsize, 62);
}

TEST(Reverb, ProcessingAndControlAllocateNothing) {
    auto reverb = testkit::makeHeap<revmodelE>();
    const Stereo in = noise(512, 14);
    Stereo out(in.size());
    const long n = static_cast<long>(in.size());
    testkit::AllocationCounter counter;
    reverb->process(in.left.data(), in.right.data(), out.left.data(), out.right.data(), n, kSend, 1);
    reverb->processreplace(in.left.data(), in.right.data(), out.left.data(), out.right.data(), n, 1);
    reverb->processmix(in.left.data(), in.right.data(), out.left.data(), out.right.data(), n, 1);
    reverb->processHP(in.left.data(), in.right.data(), out.left.data(), out.right.data(), n, 1);
    reverb->processmixHP(in.left.data(), in.right.data(), out.left.data(), out.right.data(), n, 1);
    reverb->setroomsize(0.9f);
    reverb->setfilter(0.3f);
    reverb->setmode(1.0f);
    reverb->setmode(0.0f);
    reverb->reset();
    const std::size_t allocations = counter.count();
    EXPECT_EQ(allocations, 0u);
}
