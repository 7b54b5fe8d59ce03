#include <gtest/gtest.h>

#include <cmath>

#include "platform/graphics/CGAffineTransform.h"

namespace {

void expectPoint(CGPoint actual, CGPoint expected) {
    EXPECT_NEAR(actual.x, expected.x, 1e-12);
    EXPECT_NEAR(actual.y, expected.y, 1e-12);
}

}  // namespace

TEST(CGAffineTransform, ConcatenationAppliesTheLeftMapFirst) {
    const auto scale = CGAffineTransform::makeScale(2, 3);
    const auto move = CGAffineTransform::makeTranslation(10, -5);
    expectPoint(scale.concatenating(move).apply(CGPoint{1, 1}), {12, -2});
    expectPoint(move.concatenating(scale).apply(CGPoint{1, 1}), {22, -12});
    // The "...By" forms act before the map, as the drawing context's do.
    expectPoint(move.scaledBy(2, 3).apply(CGPoint{1, 1}), {12, -2});
    expectPoint(scale.translatedBy(10, -5).apply(CGPoint{1, 1}), {22, -12});
}

TEST(CGAffineTransform, InverseUndoesTheMapAndASingularMapStaysAsItIs) {
    const CGAffineTransform t = CGAffineTransform{0.5, 0.25, -1, 2, 7, -3};
    const CGPoint p{3.5, -8};
    expectPoint(t.inverted().apply(t.apply(p)), p);
    expectPoint(t.concatenating(t.inverted()).apply(CGPoint{4, 9}), {4, 9});
    const auto flat = CGAffineTransform::makeScale(0, 1);
    EXPECT_EQ(flat.inverted(), flat);
}

TEST(CGAffineTransform, MappedRectangleIsTheBoundingBoxOfItsCorners) {
    // A quarter turn about the origin: (x, y) -> (-y, x).
    const CGAffineTransform turn{0, 1, -1, 0, 0, 0};
    EXPECT_EQ(turn.apply(CGRect(10, 20, 30, 40)), CGRect(-60, 10, 40, 30));
    EXPECT_EQ(CGAffineTransform::makeScale(-2, 2).apply(CGRect(1, 1, 2, 2)), CGRect(-6, 2, 4, 4));
    // 45 degrees: a unit square's box grows to the diagonal.
    const CGFloat h = std::sqrt(0.5);
    const CGRect box = CGAffineTransform{h, h, -h, h, 0, 0}.apply(CGRect(0, 0, 1, 1));
    EXPECT_NEAR(box.size.width, std::sqrt(2.0), 1e-12);
    EXPECT_NEAR(box.origin.x, -h, 1e-12);
    EXPECT_TRUE(CGAffineTransform::identity().apply(CGRect::null()).isNull());
}

TEST(CGRect, IntersectionAndContainment) {
    const CGRect r(0, 0, 10, 10);
    struct Case {
        CGRect other;
        CGRect common;  // null when apart
        bool intersects;
        bool contains;
    };
    const Case cases[] = {
        {{5, 5, 10, 10}, {5, 5, 5, 5}, true, false},
        {{2, 3, 4, 5}, {2, 3, 4, 5}, true, true},
        {{10, 0, 5, 5}, {10, 0, 0, 5}, false, false},  // touching edges share no area
        {{11, 0, 5, 5}, CGRect::null(), false, false},
        {{12, 12, -4, -4}, {8, 8, 2, 2}, true, false},  // negative sizes are standardised
        {{0, 0, 10, 10}, {0, 0, 10, 10}, true, true},
        {CGRect::null(), CGRect::null(), false, false},
    };
    for (const Case& c : cases) {
        const CGRect common = r.intersection(c.other);
        if (c.common.isNull())
            EXPECT_TRUE(common.isNull()) << c.other.origin.x;
        else
            EXPECT_EQ(common, c.common) << c.other.origin.x;
        EXPECT_EQ(r.intersects(c.other), c.intersects) << c.other.origin.x;
        EXPECT_EQ(r.contains(c.other), c.contains) << c.other.origin.x;
    }
    for (auto [p, inside] : {std::pair{CGPoint{0, 0}, true}, {CGPoint{9.999, 5}, true}, {CGPoint{10, 5}, false},
                             {CGPoint{5, -0.001}, false}, {CGPoint{NAN, 5}, false}, {CGPoint{5, INFINITY}, false}})
        EXPECT_EQ(r.contains(p), inside) << p.x << "," << p.y;
    EXPECT_FALSE(CGRect::null().contains(CGPoint{0, 0}));
}
