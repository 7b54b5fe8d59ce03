#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>

#include "dsp/Panpot.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/Signals.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

struct Frame {
    float l;
    float r;
};

Frame pan(Panpot& p, Frame f) {
    p.processBuffer(&f.l, &f.r, 1);
    return f;
}

Frame width(StereoProcessor& w, Frame f) {
    w.processBufferInpalce(&f.l, &f.r, 1);
    return f;
}

struct NoisePair {
    std::vector<float> l = testkit::noise(4096, 3);
    std::vector<float> r = testkit::noise(4096, 4);
};

bool bitIdentical(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

} // namespace

TEST(Panpot, PanLawAtWorkedPoints) {
    Panpot p;
    p.setValue(-1.0f, 0);
    Frame f = pan(p, {1.0f, 1.0f});
    EXPECT_FLOAT_EQ(f.l, 1.2f);
    EXPECT_EQ(f.r, 0.0f);

    p.setValue(0.5f, 0);
    f = pan(p, {1.0f, 0.0f});
    EXPECT_FLOAT_EQ(f.l, 0.5f);
    EXPECT_FLOAT_EQ(f.r, 0.4f);

    // Mirror image of the left extreme.
    p.setValue(1.0f, 0);
    f = pan(p, {0.25f, 0.75f});
    EXPECT_EQ(f.l, 0.0f);
    EXPECT_FLOAT_EQ(f.r, 0.6f);
}

TEST(Panpot, CentreLeavesSamplesBitIdenticalOnBothPaths) {
    for (long smoothed : {0L, 1L}) {
        Panpot p;
        p.setValue(0.0f, smoothed);
        NoisePair in, out;
        p.processBuffer(out.l.data(), out.r.data(), static_cast<long>(out.l.size()));
        EXPECT_TRUE(bitIdentical(in.l, out.l)) << smoothed;
        EXPECT_TRUE(bitIdentical(in.r, out.r)) << smoothed;
    }
}

TEST(Panpot, SmoothedPathFollowsTheSameLaw) {
    Panpot plain, smooth;
    plain.setValue(-0.3f, 0);
    smooth.setValue(-0.3f, 1);
    NoisePair a, b;
    plain.processBuffer(a.l.data(), a.r.data(), static_cast<long>(a.l.size()));
    smooth.processBuffer(b.l.data(), b.r.data(), static_cast<long>(b.l.size()));
    EXPECT_TRUE(bitIdentical(a.l, b.l));
    EXPECT_TRUE(bitIdentical(a.r, b.r));
    EXPECT_NE(a.l, NoisePair().l);
}

TEST(Panpot, OutOfRangeOrNaNKeepsPanButStoresSelector) {
    Panpot p;
    p.setValue(0.5f, 1);
    p.setValue(1.5f, 0);
    EXPECT_EQ(p.lSmoothed, 0);
    EXPECT_EQ(p.fPan, 0.5f);
    p.setValue(kNaN, 0);
    p.setInitialValue(-1.0001f);
    EXPECT_EQ(p.fPan, 0.5f);
    Frame f = pan(p, {1.0f, 0.0f});
    EXPECT_FLOAT_EQ(f.r, 0.4f);

    p.reset();
    EXPECT_EQ(p.fPan, 0.0f);
    EXPECT_EQ(p.interp.getValue(), 0.0f);
}

TEST(StereoProcessor, WidthLawAtWorkedPoints) {
    StereoProcessor w;
    w.setValue(-1.0f);
    Frame f = width(w, {1.0f, 0.0f});
    EXPECT_FLOAT_EQ(f.l, 0.5f);
    EXPECT_FLOAT_EQ(f.r, 0.5f);

    w.setValue(1.0f);
    f = width(w, {1.0f, 0.0f});
    EXPECT_FLOAT_EQ(f.l, 1.5f);
    EXPECT_FLOAT_EQ(f.r, -0.5f);
}

TEST(StereoProcessor, ZeroIsBitIdenticalAndMinusOneIsMono) {
    StereoProcessor w;
    NoisePair in, out;
    w.processBufferInpalce(out.l.data(), out.r.data(), static_cast<long>(out.l.size()));
    EXPECT_TRUE(bitIdentical(in.l, out.l));
    EXPECT_TRUE(bitIdentical(in.r, out.r));

    w.setValue(-1.0f);
    w.processBufferInpalce(out.l.data(), out.r.data(), static_cast<long>(out.l.size()));
    EXPECT_TRUE(bitIdentical(out.l, out.r));
}

TEST(StereoProcessor, KeepsMidAndScalesSide) {
    for (float a : {-0.6f, 0.7f}) {
        StereoProcessor w;
        w.setValue(a);
        NoisePair in, out;
        w.processBufferInpalce(out.l.data(), out.r.data(), static_cast<long>(out.l.size()));
        const float sideGain = 1.0f + a; // narrowing and widening alike
        for (std::size_t i = 0; i < in.l.size(); ++i) {
            ASSERT_NEAR(out.l[i] + out.r[i], in.l[i] + in.r[i], 1e-6f) << a << " at " << i;
            ASSERT_NEAR(out.l[i] - out.r[i], (in.l[i] - in.r[i]) * sideGain, 1e-6f) << a << " at " << i;
        }
    }
}

TEST(StereoProcessor, ClampsAndIgnoresNaN) {
    StereoProcessor w;
    w.setValue(-3.0f);
    EXPECT_EQ(w.fAdjust, -1.0f);
    w.setValue(std::numeric_limits<float>::infinity());
    EXPECT_EQ(w.fAdjust, 1.0f);
    w.setValue(kNaN);
    EXPECT_EQ(w.fAdjust, 1.0f);
    EXPECT_EQ(StereoProcessor::getAbsVal(-0.25f), 0.25f);
    w.reset();
    EXPECT_EQ(w.fAdjust, 0.0f);
    static_assert(std::has_virtual_destructor_v<StereoProcessor>);
}

TEST(PanAndWidth, ProcessingDoesNotAllocate) {
    Panpot plain, smooth;
    plain.setValue(0.4f, 0);
    smooth.setValue(-0.4f, 1);
    StereoProcessor narrow, wide;
    narrow.setValue(-0.5f);
    wide.setValue(0.5f);
    NoisePair buf;
    const long n = static_cast<long>(buf.l.size());

    testkit::AllocationCounter counter;
    plain.processBuffer(buf.l.data(), buf.r.data(), n);
    smooth.processBuffer(buf.l.data(), buf.r.data(), n);
    narrow.processBufferInpalce(buf.l.data(), buf.r.data(), n);
    wide.processBufferInpalce(buf.l.data(), buf.r.data(), n);
    plain.setValue(0.1f, 1);
    wide.setValue(0.2f);
    const std::size_t allocations = counter.count();
    EXPECT_EQ(allocations, 0u);
}
