#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "tests/Orvo_Halden_Extension/canvas/CanvasPicture.h"
#include "tests/support/Geometry.h"

namespace {

using namespace canvastest;

constexpr CGFloat kNaN = std::numeric_limits<CGFloat>::quiet_NaN();

::testing::AssertionResult isRect(const V::Path& path, const CGRect& expected) {
    const auto rect = testkit::rectangleOf(*path);
    if (!rect) return ::testing::AssertionFailure() << "not a rectangle";
    const CGRect e = expected.standardized();
    const bool near = std::abs(rect->minX() - e.minX()) < 1e-9 && std::abs(rect->minY() - e.minY()) < 1e-9 &&
                      std::abs(rect->width() - e.width()) < 1e-9 &&
                      std::abs(rect->height() - e.height()) < 1e-9;
    if (near) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << *rect << ", expected " << e;
}

struct SplitCase {
    const char* name;
    CGFloat split1, split2;
    CGRect lp, bp, hp, handle1, handle2;
};

const SplitCase kSplitCases[] = {
    {"defaults",
     0.25,
     0.75,
     {20, 9, 168.5, 48},
     {188.5, 9, 305, 48},
     {493.5, 9, 166.5, 48},
     {169.5, 0, 37, 70},
     {474.56, 0, 37, 70}},
    {"outermost",
     0,
     1,
     {20, 9, 16, 48},
     {36, 9, 610, 48},
     {646, 9, 14, 48},
     {17, 0, 37, 70},
     {627.06, 0, 37, 70}},
    {"equal",
     0.5,
     0.5,
     {20, 9, 321, 48},
     {341, 9, 0, 48},
     {341, 9, 319, 48},
     {322, 0, 37, 70},
     {322.06, 0, 37, 70}},
    // Not clamped: the high range turns inside out past the outline.
    {"beyond_one",
     0.25,
     1.2,
     {20, 9, 168.5, 48},
     {188.5, 9, 579.5, 48},
     {768, 9, -108, 48},
     {169.5, 0, 37, 70},
     {749.06, 0, 37, 70}},
};

class StripHotspots : public ::testing::TestWithParam<SplitCase> {};

TEST_P(StripHotspots, FollowTheSplitsInStripCoordinates) {
    const SplitCase& c = GetParam();
    V model;
    model.valueSplit1 = c.split1;
    model.valueSplit2 = c.split2;
    drawCanvas(model);
    EXPECT_TRUE(isRect(model.hotspotRangeLPPath, c.lp));
    EXPECT_TRUE(isRect(model.hotspotRangeBPPath, c.bp));
    EXPECT_TRUE(isRect(model.hotspotRangeHPPath, c.hp));
    EXPECT_TRUE(isRect(model.hotspotSplit1Path, c.handle1));
    EXPECT_TRUE(isRect(model.hotspotSplit2Path, c.handle2));
}

INSTANTIATE_TEST_SUITE_P(Splits, StripHotspots, ::testing::ValuesIn(kSplitCases),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(StripHotspots, AnEmptyMiddleRangeCannotBeHit) {
    V model;
    model.valueSplit1 = model.valueSplit2 = 0.5;
    drawCanvas(model);
    for (CGFloat y : {9.0, 30.0, 56.9}) EXPECT_FALSE(model.hotspotRangeBPPath->contains({341, y}));
    EXPECT_TRUE(model.hotspotRangeHPPath->contains({341, 30}));
}

// The editor's order: the strip paths answer inside the band strip gate
// only, moved up by 70, the handles before the ranges.
std::string stripHit(const V& model, CGPoint canvasPoint) {
    if (!model.hotspotMultiPath->contains(canvasPoint)) return "";
    const CGPoint p{canvasPoint.x, canvasPoint.y - 70};
    const std::pair<const char*, V::Path> order[] = {
        {"split1", model.hotspotSplit1Path},    {"split2", model.hotspotSplit2Path},
        {"range_lp", model.hotspotRangeLPPath}, {"range_bp", model.hotspotRangeBPPath},
        {"range_hp", model.hotspotRangeHPPath},
    };
    for (const auto& [name, path] : order)
        if (path->contains(p)) return name;
    return "";
}

TEST(StripHotspots, HandlesWinWhereTheyOverlapARange) {
    V model;
    drawCanvas(model);
    EXPECT_EQ(stripHit(model, {100, 100}), "range_lp");
    EXPECT_EQ(stripHit(model, {172, 100}), "split1"); // over the low range
    EXPECT_EQ(stripHit(model, {200, 100}), "split1"); // over the middle range
    EXPECT_EQ(stripHit(model, {300, 100}), "range_bp");
    EXPECT_EQ(stripHit(model, {480, 100}), "split2");
    EXPECT_EQ(stripHit(model, {600, 100}), "range_hp");
    // Below the gate the handles' lower part does not answer.
    EXPECT_EQ(stripHit(model, {188, 130}), "");
}

TEST(StripHotspots, DoNotMoveWithTheFrame) {
    V reference;
    drawCanvas(reference);
    const V::Path V::*paths[] = {&V::hotspotRangeLPPath, &V::hotspotRangeBPPath, &V::hotspotRangeHPPath,
                                 &V::hotspotSplit1Path, &V::hotspotSplit2Path};

    V large;
    picture({1360, 1200}, 1, [&](CGContext&) { large.draw({0, 0, 1360, 1200}); });
    V strip;
    picture({400, 300}, 1, [&](CGContext&) { strip.drawSymbolRanges({30, 50, 340, 200}); });
    for (const auto path : paths) {
        const auto expected = testkit::rectangleOf(*(reference.*path));
        ASSERT_TRUE(expected);
        EXPECT_TRUE(isRect(large.*path, *expected));
        EXPECT_TRUE(isRect(strip.*path, *expected));
    }
}

TEST(StripHotspots, ANonFiniteSplitTakesOnlyItsOwnPaths) {
    V model;
    model.valueSplit1 = kNaN;
    const auto surface = drawCanvas(model);
    EXPECT_TRUE(model.hotspotRangeLPPath->isEmpty());
    EXPECT_TRUE(model.hotspotRangeBPPath->isEmpty());
    EXPECT_TRUE(model.hotspotSplit1Path->isEmpty());
    EXPECT_TRUE(isRect(model.hotspotRangeHPPath, {493.5, 9, 166.5, 48}));
    EXPECT_TRUE(isRect(model.hotspotSplit2Path, {474.56, 0, 37, 70}));
    // The rest of the strip is drawn: the high range and a lamp.
    EXPECT_TRUE(testkit::pixelNear(*surface, {620, 120}, testkit::overWhite({model.colorContrastFaint()})));
    EXPECT_TRUE(testkit::pixelNear(*surface, {102, 140}, testkit::overWhite({model.colorEmphasize})));
}

// Fills of the ranges and lamps at 1x and 2x: middle band selected, middle
// band switched off.
class StripColours : public ::testing::TestWithParam<CGFloat> {};

TEST_P(StripColours, FollowSelectionAndSwitches) {
    V model;
    model.isRangeActive[2] = false;
    const auto surface = drawCanvas(model, GetParam());
    const UIColor faint = model.colorContrastFaint();
    EXPECT_TRUE(testkit::pixelNear(*surface, {30, 120}, testkit::overWhite({faint})));
    EXPECT_TRUE(testkit::pixelNear(*surface, {250, 120}, testkit::overWhite({model.colorEmphasizeHalf()})));
    EXPECT_TRUE(testkit::pixelNear(*surface, {620, 120}, testkit::overWhite({faint})));
    EXPECT_TRUE(testkit::pixelNear(*surface, {102, 140}, testkit::overWhite({model.colorEmphasize})));
    EXPECT_TRUE(testkit::pixelNear(*surface, {340, 140}, testkit::overWhite({faint})));
    EXPECT_TRUE(testkit::pixelNear(*surface, {588, 141}, testkit::overWhite({model.colorEmphasize})));
}

INSTANTIATE_TEST_SUITE_P(Scales, StripColours, ::testing::Values(1.0, 2.0));

} // namespace
