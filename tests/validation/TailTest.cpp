#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/Subnormals.h"
#include "tests/validation/ValidationHost.h"

using namespace validation;

namespace {

constexpr double kRate = 48000.0;
constexpr AUAudioFrameCount kBlock = 512;

void setAllBands(Host& host, AUParameterAddress base, AUValue value) {
    for (AUParameterAddress b = 0; b < 4; ++b) host.setThroughTree(base + b, value);
}

class EveryModel : public testing::TestWithParam<int> {};

std::string modelName(const testing::TestParamInfo<int>& info) {
    return "Model" + std::to_string(info.param);
}

} // namespace

// A host may stop calling a plug-in that never falls silent.
TEST_P(EveryModel, SilenceFollowsNoiseWithinTwentySeconds) {
    Host host(kRate, 4096);
    setAllBands(host, kReverbModel0, static_cast<AUValue>(GetParam()));
    host.unit->reset();
    Stereo loud = noise(framesFor(1.0, kRate), 8, 1.0f);
    ASSERT_EQ(host.process(loud, kBlock), noErr);
    ASSERT_GT(peak(loud), 0.1f);

    Stereo quiet(static_cast<std::size_t>(20.5 * kRate));
    ASSERT_EQ(host.process(quiet, kBlock), noErr);
    const float after = peak(quiet, static_cast<std::size_t>(20.0 * kRate));
    EXPECT_LT(dBFS(after), -77.6f);
    EXPECT_EQ(subnormals(quiet), 0u);
    EXPECT_EQ(host.renderAllocations(), 0u);
}

namespace {

// Where the effect's state decays in a tail: every reverb's lines and filters,
// the delays' current cycles (withDelays), the band-split filters, the
// spectrum's smoothing and the limiter's followers.
class StateScan {
public:
    StateScan(Orvo_Halden_Extension_DSPKernel& k, bool withDelays) {
        for (int b = 0; b < Orvo_Halden_Extension_DSPKernel::kBands; ++b) {
            const std::string band = " of band " + std::to_string(b);
            addModel("reverb A" + band, k.reverbA[b]);
            addModel("reverb B" + band, k.reverbB[b]);
            addModel("reverb C" + band, k.reverbC[b]);
            addModel("reverb D" + band, k.reverbD[b]);
            addModel("reverb E" + band, k.reverbE[b]);
            if (!withDelays) continue; // up to six megabytes a line
            for (const auto* d : {&k.predelay[b], &k.postdelay[b]})
                for (const Delay* line : {&d->left, &d->right})
                    add("delay line" + band, line->delay_buffer, static_cast<std::size_t>(line->len));
        }
        for (const auto* bank : {&k.bands.lpf, &k.bands.hpf})
            for (const SVFilter4Pole1& f : *bank)
                for (const float* v : {&f.b1, &f.r1, &f.b2, &f.r2, &f.b3, &f.r3, &f.b4, &f.r4})
                    add("band split filter", v, 1);
        const auto bins = static_cast<std::size_t>(k.analyzer.getSize() / 2);
        add("held spectrum peaks", k.analyzer.getMagnitudesPeaks(), bins);
        add("normalised spectrum", k.analyzer.getMagnitudesNormalized(), bins);
        peaks = {k.compander.inputFollower.currentPeak, k.compander.outputFollower.currentPeak};
    }

    // The first place that holds a subnormal, or (with nonZero) anything but 0.
    testing::AssertionResult clear(bool nonZero) const {
        for (const auto& [name, data, n] : regions)
            for (std::size_t i = 0; i < n; ++i)
                if (testkit::isSubnormal(data[i]) || (nonZero && data[i] != 0.0f))
                    return testing::AssertionFailure()
                           << name << " [" << i << " of " << n << "] holds " << data[i];
        for (const double p : peaks)
            if (testkit::isSubnormal(p) || (nonZero && p != 0.0))
                return testing::AssertionFailure() << "the limiter's follower holds " << p;
        return testing::AssertionSuccess();
    }

private:
    struct Region {
        std::string name;
        const float* data;
        std::size_t n;
    };
    void add(std::string name, const float* data, std::size_t n) {
        regions.push_back({std::move(name), data, n});
    }
    template <class Model> void addModel(const std::string& name, const Model& m) {
        add(name + " lines", m.lines.data(), m.lines.size());
        for (const auto* bank : {&m.combL, &m.combR})
            for (const comb& c : *bank) add(name + " comb filter", &c.filterstore, 1);
        for (const HPF& f : m.hpf) add(name + " high-pass", &f.a[6], 2);
    }

    std::vector<Region> regions;
    std::vector<double> peaks;
};

} // namespace

// Where a tiny value stays in a feedback path, every operation on it is slow
// on many processors, and a tail that settles on one never ends: every line,
// filter and smoothed value holds no subnormal at any point of the decay and
// is exactly 0 at the end of it.
TEST_P(EveryModel, ATailDecaysToZeroStateWithoutSubnormals) {
    Host host(kRate, 4096);
    host.setThroughTree(kCurrentMode, 1.0f);
    setAllBands(host, kReverbModel0, static_cast<AUValue>(GetParam()));
    setAllBands(host, kReverbSize0, 0.0f);
    setAllBands(host, kReverbPreDelay0, 1.0f);
    setAllBands(host, kReverbPreDelayFeedback0, 0.5f);
    setAllBands(host, kReverbPostDelay0, 1.0f);
    setAllBands(host, kReverbPostDelayFeedback0, 0.5f);
    setAllBands(host, kReverbPreDelayDivision0, 7.0f); // sixteenths
    setAllBands(host, kReverbPostDelayDivision0, 7.0f);
    host.unit->reset();
    auto& kernel = host.unit->kernelAdapter()->kernel();
    const StateScan reverbAndFilters(kernel, false);

    Stereo loud = noise(framesFor(1.0, kRate), 8, 1.0f);
    ASSERT_EQ(host.process(loud, kBlock), noErr);
    ASSERT_TRUE(reverbAndFilters.clear(false));
    Stereo quiet(static_cast<std::size_t>(kRate / 4));
    for (int chunk = 0; chunk < 180; ++chunk) { // 45 s
        std::fill(quiet.L.begin(), quiet.L.end(), 0.0f);
        std::fill(quiet.R.begin(), quiet.R.end(), 0.0f);
        ASSERT_EQ(host.process(quiet, kBlock), noErr);
        ASSERT_TRUE(reverbAndFilters.clear(false)) << "after " << (chunk + 1) / 4.0 << " s of silence";
    }
    EXPECT_TRUE(StateScan(kernel, true).clear(true)); // the delays' cycles as they stand now
    EXPECT_EQ(peak(quiet), 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Tails, EveryModel, testing::Range(0, 5), modelName);
