#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "platform/graphics/UIBezierPath.h"

namespace {

struct Probe {
    CGPoint point;
    bool inside;
};

void expectContains(const UIBezierPath& path, std::initializer_list<Probe> probes) {
    for (const Probe& p : probes)
        EXPECT_EQ(path.contains(p.point), p.inside) << "(" << p.point.x << ", " << p.point.y << ")";
}

}  // namespace

TEST(UIBezierPath, RectanglesHoldTheirLeftAndTopEdgesButNotTheRightAndBottom) {
    const Probe probes[] = {{{10, 20}, true},    {{39.99, 59.99}, true}, {{40, 30}, false}, {{20, 60}, false},
                            {{9.99, 30}, false}, {{25, 19.99}, false},   {{25, 40}, true}};
    // The same area given with a negative width, height, or both.
    for (const CGRect& r : {CGRect(10, 20, 30, 40), CGRect(40, 20, -30, 40), CGRect(10, 60, 30, -40),
                            CGRect(40, 60, -30, -40)}) {
        auto path = UIBezierPath::rect(r);
        for (const Probe& p : probes)
            EXPECT_EQ(path->contains(p.point), p.inside)
                << "rect " << r.origin.x << "," << r.origin.y << " " << r.size.width << "x" << r.size.height
                << " at (" << p.point.x << ", " << p.point.y << ")";
    }
}

TEST(UIBezierPath, EmptyAndDegeneratePathsHoldNothing) {
    expectContains(*UIBezierPath::make(), {{{0, 0}, false}, {{1, 1}, false}});
    expectContains(*UIBezierPath::rect(CGRect::zero()), {{{0, 0}, false}});
    expectContains(*UIBezierPath::rect({5, 5, 0, 10}), {{{5, 6}, false}});
    UIBezierPath lineOnly;
    lineOnly.moveTo({0, 0});
    lineOnly.addLineTo({10, 10});
    expectContains(lineOnly, {{{5, 5}, false}, {{2, 8}, false}});
    expectContains(*UIBezierPath::rect({0, 0, 10, 10}), {{{NAN, 5}, false}, {{5, INFINITY}, false}});
}

TEST(UIBezierPath, CurvedShapesFollowTheirOutline) {
    // Circle of radius 10 about (50, 50): the corner of its bounding box is outside.
    expectContains(*UIBezierPath::ovalIn({40, 40, 20, 20}),
                   {{{50, 50}, true}, {{59, 50}, true}, {{41.5, 41.5}, false}, {{50, 40.5}, true}});
    expectContains(*UIBezierPath::roundedRect({0, 0, 100, 50}, 10),
                   {{{1, 1}, false}, {{2, 2}, false}, {{5, 5}, true}, {{50, 1}, true}, {{99, 49}, false}});
    // An open arc fills as closed by its chord: a half disc below the centre.
    UIBezierPath half;
    half.addArc({0, 0}, 10, 0, std::numbers::pi, true);
    expectContains(half, {{{0, 5}, true}, {{0, -5}, false}});
    EXPECT_NEAR(half.currentPoint()->x, -10, 1e-9);
}

TEST(UIBezierPath, NonZeroRuleKeepsOverlapsAndCutsCounterWoundHoles) {
    UIBezierPath path;
    for (const auto& sub : {UIBezierPath::rect({0, 0, 10, 10}), UIBezierPath::rect({5, 0, 10, 10})})
        for (const auto& e : sub->elements())
            e.kind == UIBezierPath::Element::Kind::move    ? path.moveTo(e.points[0])
            : e.kind == UIBezierPath::Element::Kind::close ? path.close()
                                                           : path.addLineTo(e.points[0]);
    // A counter-wound square inside the first one.
    path.moveTo({2, 2});
    path.addLineTo({2, 4});
    path.addLineTo({4, 4});
    path.addLineTo({4, 2});
    path.close();
    expectContains(path, {{{7, 5}, true}, {{12, 5}, true}, {{3, 3}, false}, {{1, 1}, true}});
}
