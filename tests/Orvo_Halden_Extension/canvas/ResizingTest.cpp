#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <unordered_set>

#include "Orvo_Halden_Extension/ChromaticLinesView.h"
#include "Orvo_Halden_Extension/OrvoHaldenViewBase.h"
#include "tests/support/Geometry.h"

namespace {

using V = OrvoHaldenViewBase;

// A value no mapping ever publishes, to see whether one did.
constexpr CGSize kUntouched{-7, -7};

const CGRect kCanvas(0, 0, 680, 600);

} // namespace

TEST(Resizing, PlacesAlikeAndOnlyTheCanvasRulePublishesItsFactors) {
    struct Row {
        int rawCase;
        CGRect rect, target, placed;
        CGSize published; // kUntouched where the early exit publishes nothing
    };
    const Row rows[] = {
        {0, kCanvas, {10, 20, 1360, 600}, {350, 20, 680, 600}, {1, 1}},
        {1, kCanvas, {10, 20, 1360, 600}, {10, -280, 1360, 1200}, {2, 2}},
        {2, kCanvas, {10, 20, 1360, 600}, {10, 20, 1360, 600}, {2, 1}},
        {3, kCanvas, {10, 20, 1360, 600}, {350, 20, 680, 600}, {1, 1}},
        {0, kCanvas, {0, 0, 340, 300}, {0, 0, 340, 300}, {0.5, 0.5}},
        // Zero size away from the origin is not the zero rectangle.
        {0, kCanvas, {10, 10, 0, 0}, {10, 10, 0, 0}, {0, 0}},
        {1, kCanvas, {10, 10, 0, 0}, {10, 10, 0, 0}, {0, 0}},
        // Reversed rectangles are placed by their extents.
        {0, {680, 600, -680, -600}, {0, 0, 1360, 1200}, {0, 0, 1360, 1200}, {2, 2}},
        {2, kCanvas, {1360, 0, -1360, 600}, {0, 0, 1360, 600}, {2, 1}},
        // Early exits: the design rectangle comes back unchanged.
        {0, kCanvas, kCanvas, kCanvas, kUntouched},
        {2, kCanvas, kCanvas, kCanvas, kUntouched},
        {1, kCanvas, CGRect::zero(), kCanvas, kUntouched},
        {3, {0, 0, 100, 100}, CGRect::zero(), {0, 0, 100, 100}, kUntouched},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "case " << row.rawCase << " into " << row.target);
        OrvoHaldenViewScale = kUntouched;
        EXPECT_EQ(V::ResizingBehavior::fromRawValue(row.rawCase)->apply(row.rect, row.target), row.placed);
        EXPECT_EQ(OrvoHaldenViewScale, kUntouched);
        EXPECT_EQ(V::ResizingBehavior1::fromRawValue(row.rawCase)->apply(row.rect, row.target), row.placed);
        EXPECT_EQ(OrvoHaldenViewScale, row.published);
    }
}

TEST(Resizing, OnlyRawValuesZeroToThreeAreCases) {
    for (std::int64_t raw : {0, 1, 2, 3}) {
        EXPECT_EQ(V::ResizingBehavior::fromRawValue(raw)->rawValue(), raw);
        EXPECT_EQ(V::ResizingBehavior1::fromRawValue(raw)->rawValue(), raw);
    }
    for (std::int64_t raw : {std::int64_t{-1}, std::int64_t{4}, std::numeric_limits<std::int64_t>::max(),
                             std::numeric_limits<std::int64_t>::min()}) {
        EXPECT_FALSE(V::ResizingBehavior::fromRawValue(raw)) << raw;
        EXPECT_FALSE(V::ResizingBehavior1::fromRawValue(raw)) << raw;
    }
    EXPECT_EQ(V::ResizingBehavior1(), V::ResizingBehavior1::fit);
    EXPECT_NE(V::ResizingBehavior(V::ResizingBehavior::fill), V::ResizingBehavior::stretch);
}

TEST(Resizing, RulesServeAsHashKeysOnePerRawValue) {
    const auto distinct = [](auto rule) {
        using Rule = decltype(rule);
        std::unordered_set<Rule> seen;
        for (int pass = 0; pass < 2; ++pass)
            for (std::int64_t raw : {0, 1, 2, 3})
                seen.insert(*Rule::fromRawValue(raw));
        return seen.size();
    };
    EXPECT_EQ(distinct(V::ResizingBehavior()), 4u);
    EXPECT_EQ(distinct(V::ResizingBehavior1()), 4u);
    EXPECT_EQ(distinct(SpectroViewBase::ResizingBehavior()), 4u);
}

TEST(Resizing, EachModelKeepsTheScaleOfItsOwnLastCanvasDraw) {
    V first, second;
    EXPECT_EQ(first.canvasScale(), (CGSize{0, 0}));

    // The canvas scale is min(W / 680, H / 600), the picture centred.
    EXPECT_EQ(first.mapCanvas({0, 0, 1360, 600}, V::ResizingBehavior1::fit), CGRect(340, 0, 680, 600));
    EXPECT_EQ(first.canvasScale(), (CGSize{1, 1}));
    first.mapCanvas({0, 0, 1360, 1200}, V::ResizingBehavior1::fit);
    EXPECT_EQ(first.canvasScale(), (CGSize{2, 2}));
    second.mapCanvas({0, 0, 340, 900}, V::ResizingBehavior1::fit);
    EXPECT_EQ(second.canvasScale(), (CGSize{0.5, 0.5}));
    EXPECT_EQ(first.canvasScale(), (CGSize{2, 2}));
    EXPECT_EQ(OrvoHaldenViewScale, (CGSize{0.5, 0.5}));

    // Drawn into exactly the canvas rectangle: the module-wide value keeps
    // whatever it held, the model knows it drew at (1, 1).
    OrvoHaldenViewScale = kUntouched;
    EXPECT_EQ(first.mapCanvas(kCanvas, V::ResizingBehavior1::fit), kCanvas);
    EXPECT_EQ(first.canvasScale(), (CGSize{1, 1}));
    EXPECT_EQ(OrvoHaldenViewScale, kUntouched);
    // The zero frame draws at design size too.
    second.mapCanvas(CGRect::zero(), V::ResizingBehavior1::fill);
    EXPECT_EQ(second.canvasScale(), (CGSize{1, 1}));
}
