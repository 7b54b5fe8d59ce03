#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "tests/support/AllocationCounter.h"
#include "tests/support/Signals.h"
#include "tests/support/FrequencyMeasures.h"
#include "tests/support/Subnormals.h"

// The kit's measurements must themselves be right before anything relies on them.
TEST(TestKit, PeakFinderLocatesSines) {
    for (double f : {110.0, 440.0, 1000.0, 3520.0, 12345.0}) {
        const auto s = testkit::sine(f, 48000.0, 8192);
        EXPECT_NEAR(testkit::peakFrequency(s, 48000.0), f, 48000.0 / 8192 / 4) << f;
    }
}

TEST(TestKit, BandEnergySeparatesTwoTones) {
    auto a = testkit::sine(200.0, 48000.0, 8192);
    const auto b = testkit::sine(8000.0, 48000.0, 8192, 0.1f);
    for (std::size_t i = 0; i < a.size(); ++i) a[i] += b[i];
    const double low = testkit::bandEnergy(a, 48000.0, 0.0, 1000.0);
    const double high = testkit::bandEnergy(a, 48000.0, 4000.0, 24000.0);
    EXPECT_NEAR(low / high, 100.0, 5.0);
}

TEST(TestKit, DftOfCosineHasTwoBins) {
    const std::size_t n = 16;
    std::vector<std::complex<double>> x(n);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = std::cos(2.0 * std::numbers::pi * 3.0 * static_cast<double>(i) / n);
    const auto X = testkit::dft(x);
    EXPECT_NEAR(X[3].real(), 8.0, 1e-9);
    EXPECT_NEAR(X[13].real(), 8.0, 1e-9);
    EXPECT_NEAR(std::abs(X[4]), 0.0, 1e-9);
}

TEST(TestKit, AllocationCounterSeesNewAndNothingElse) {
    std::size_t quiet = 0, busy = 0;
    {
        testkit::AllocationCounter counter;
        volatile int x = 3;
        x = x + 1;
        quiet = counter.count();
    }
    {
        testkit::AllocationCounter counter;
        // Kept in a volatile so that clang cannot elide the new/delete pair.
        std::vector<int>* volatile p = new std::vector<int>(10);
        delete p;
        busy = counter.count();
    }
    EXPECT_EQ(quiet, 0u);
    EXPECT_EQ(busy, 2u);
}

TEST(TestKit, SubnormalScanner) {
    const float values[] = {0.0f, 1e-40f, 1.0f, -1e-39f, 1e-30f};
    EXPECT_EQ(testkit::countSubnormals(values, 5), 2u);
    EXPECT_TRUE(testkit::allFinite(values, 5));
}

TEST(TestKit, SignalsHaveTheirShape) {
    const auto imp = testkit::impulse(8, 3, 0.5f);
    EXPECT_EQ(imp[3], 0.5f);
    EXPECT_EQ(testkit::energy(imp.data(), imp.size()), 0.25);
    const auto n1 = testkit::noise(1000, 5);
    const auto n2 = testkit::noise(1000, 5);
    EXPECT_EQ(n1, n2);
    EXPECT_LE(testkit::peakAbs(n1.data(), n1.size()), 1.0f);
    const auto sw = testkit::sweep(100.0, 10000.0, 48000.0, 48000);
    EXPECT_LT(testkit::peakFrequency(sw.data(), 4096, 48000.0), 200.0);
    EXPECT_GT(testkit::peakFrequency(sw.data() + 48000 - 4096, 4096, 48000.0), 8000.0);
}
