#include <gtest/gtest.h>

#include <cairo.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>
#include <functional>
#include <numbers>

#include "platform/graphics/CGContext.h"
#include "platform/graphics/UIBezierPath.h"
#include "tests/support/PixelProbe.h"
#include "tests/support/StdoutCapture.h"
#include "tests/support/TempFolder.h"

namespace {

constexpr CGFloat kPi = std::numbers::pi;
const UIColor kRed{1, 0, 0, 1};
const ImageSurface::Pixel kWhite{255, 255, 255, 255};

struct Snapshot {
    cairo_matrix_t matrix;
    double clip[4];
    int dashes;
    UIColor fill, stroke;
    int depth;
};

Snapshot snapshot(CGContext& context) {
    Snapshot s{};
    cairo_get_matrix(context.cairo(), &s.matrix);
    cairo_clip_extents(context.cairo(), &s.clip[0], &s.clip[1], &s.clip[2], &s.clip[3]);
    s.dashes = cairo_get_dash_count(context.cairo());
    s.fill = context.effectiveFillColor();
    s.stroke = context.effectiveStrokeColor();
    s.depth = context.stateDepth();
    return s;
}

void expectSame(const Snapshot& a, const Snapshot& b) {
    EXPECT_EQ(0, std::memcmp(&a.matrix, &b.matrix, sizeof a.matrix));
    for (int i = 0; i < 4; ++i)
        EXPECT_DOUBLE_EQ(a.clip[i], b.clip[i]);
    EXPECT_EQ(a.dashes, b.dashes);
    EXPECT_EQ(a.fill, b.fill);
    EXPECT_EQ(a.stroke, b.stroke);
    EXPECT_EQ(a.depth, b.depth);
}

void fillRect(const CGRect& r, const UIColor& color) {
    color.setFill();
    UIBezierPath::rect(r)->fill();
}

}  // namespace

TEST(CGContext, CurrentContextIsTheInnermostDrawingPass) {
    EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr);
    ImageSurface outer({10, 10}), inner({10, 10});
    outer.draw([&](CGContext& outerContext) {
        EXPECT_EQ(UIGraphicsGetCurrentContext(), &outerContext);
        inner.draw([&](CGContext& innerContext) { EXPECT_EQ(UIGraphicsGetCurrentContext(), &innerContext); });
        EXPECT_EQ(UIGraphicsGetCurrentContext(), &outerContext);
    });
    EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr);
    // Outside a pass, drawing calls are harmless no-ops.
    kRed.setFill();
    UIBezierPath::rect({0, 0, 10, 10})->fill();
    UIBezierPath::rect({0, 0, 10, 10})->stroke();
}

TEST(CGContext, RestoreBringsBackTheWholeSavedState) {
    ImageSurface surface({100, 100});
    surface.draw([](CGContext& context) {
        context.setFillColor({0, 0, 1, 1});
        const Snapshot before = snapshot(context);
        context.saveGState();
        context.translateBy(10, 20);
        context.scaleBy(2, 3);
        context.rotate(0.3);
        context.clip({0, 0, 5, 5});
        context.setAlpha(0.5);
        context.setLineDash(0, {1, 2});
        kRed.setFill();
        kRed.setStroke();
        context.saveGState();
        context.scaleBy(0, 1);
        context.restoreGState();
        context.restoreGState();
        expectSame(before, snapshot(context));
        // A restore too many changes nothing.
        context.restoreGState();
        expectSame(before, snapshot(context));
        EXPECT_EQ(cairo_status(context.cairo()), CAIRO_STATUS_SUCCESS);
    });
}

// Each of these would put a Cairo context into its sticky error state: the
// drawing under it is skipped, and the drawing after its restore still shows.
TEST(CGContext, DegenerateTransformsSkipTheirScopeOnly) {
    const std::pair<const char*, std::function<void(CGContext&)>> cases[] = {
        {"zero scale", [](CGContext& c) { c.scaleBy(0, 1); }},
        {"NaN scale", [](CGContext& c) { c.scaleBy(NAN, 1); }},
        {"infinite scale", [](CGContext& c) { c.scaleBy(1, INFINITY); }},
        {"underflowing scale", [](CGContext& c) { c.scaleBy(1e-200, 1e-200); }},
        {"overflowing scale", [](CGContext& c) { c.scaleBy(1e200, 1e200); }},
        {"NaN translation", [](CGContext& c) { c.translateBy(NAN, 0); }},
        {"NaN angle", [](CGContext& c) { c.rotate(NAN); }},
        {"NaN clip", [](CGContext& c) { c.clip({0, 0, NAN, 10}); }},
    };
    for (const auto& entry : cases) {
        const auto& name = entry.first;
        const auto& degenerate = entry.second;
        SCOPED_TRACE(name);
        ImageSurface surface({40, 20});
        surface.fill(UIColor::white());
        surface.draw([&](CGContext& context) {
            context.saveGState();
            degenerate(context);
            EXPECT_FALSE(context.canDraw());
            // Further changes stay inert too.
            context.scaleBy(2, 2);
            fillRect({0, 0, 20, 20}, kRed);
            context.restoreGState();
            EXPECT_TRUE(context.canDraw());
            fillRect({20, 0, 20, 20}, kRed);
            EXPECT_EQ(cairo_status(context.cairo()), CAIRO_STATUS_SUCCESS);
        });
        EXPECT_TRUE(testkit::pixelNear(surface, {5, 5}, kWhite));
        EXPECT_TRUE(testkit::pixelNear(surface, {30, 5}, testkit::overWhite({kRed})));
    }
}

TEST(CGContext, PathsWithNonFiniteValuesAreSkippedAlone) {
    ImageSurface surface({40, 20});
    surface.fill(UIColor::white());
    surface.draw([](CGContext&) {
        kRed.setFill();
        kRed.setStroke();
        auto nanArc = UIBezierPath::make();
        nanArc->moveTo({10, 10});
        nanArc->addArc({10, 10}, 8, 0, NAN, true);
        nanArc->fill();
        nanArc->lineWidth = 4;
        nanArc->stroke();
        auto nanWidth = UIBezierPath::rect({0, 0, 20, 20});
        nanWidth->lineWidth = NAN;
        nanWidth->stroke();
        fillRect({20, 0, 20, 20}, {NAN, 0, 0, 1});
        fillRect({20, 0, 20, 20}, kRed);
    });
    EXPECT_TRUE(testkit::pixelNear(surface, {10, 10}, kWhite));
    EXPECT_TRUE(testkit::pixelNear(surface, {1, 10}, kWhite));
    EXPECT_TRUE(testkit::pixelNear(surface, {30, 10}, testkit::overWhite({kRed})));
}

TEST(CGContext, ColoursCompositeWithTheirAlphaAndTheGlobalAlpha) {
    struct Case {
        UIColor color;
        CGFloat globalAlpha;
        UIColor drawn;
    };
    const Case cases[] = {
        {{0.2, 0.4, 0.6, 1}, 1, {0.2, 0.4, 0.6, 1}},
        {{0.2, 0.4, 0.6, 0.5}, 1, {0.2, 0.4, 0.6, 0.5}},
        {{0.2, 0.4, 0.6, 0.5}, 0.5, {0.2, 0.4, 0.6, 0.25}},
        {{0, 0, 0, 0.1}, 0.8, {0, 0, 0, 0.08}},
        {{1, 0, 0, 1}, 0, {1, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        ImageSurface surface({60, 20}, 2);
        surface.fill(UIColor::white());
        surface.draw([&](CGContext& context) {
            context.setAlpha(c.globalAlpha);
            fillRect({0, 0, 20, 20}, c.color);
            c.color.setStroke();
            auto line = UIBezierPath::make();
            line->moveTo({40, 0});
            line->addLineTo({40, 20});
            line->lineWidth = 10;
            line->stroke();
        });
        const auto expected = testkit::overWhite({c.drawn});
        EXPECT_TRUE(testkit::pixelNear(surface, {10, 10}, expected)) << c.globalAlpha;
        EXPECT_TRUE(testkit::pixelNear(surface, {38, 10}, expected)) << c.globalAlpha;
        EXPECT_TRUE(testkit::pixelNear(surface, {50, 10}, kWhite));
    }
}

TEST(CGContext, ArcsTurnByTheirDirectionAndCurvesTakeTheirEndPointFirst) {
    ImageSurface surface({200, 100});
    surface.fill(UIColor::white());
    surface.draw([](CGContext&) {
        kRed.setStroke();
        // Clockwise from the right to the bottom: a quarter in the lower right.
        auto quarter = UIBezierPath::make();
        quarter->addArc({50, 50}, 30, 0, kPi / 2, true);
        quarter->lineWidth = 6;
        quarter->stroke();
        // The same ends the other way round: three quarters through the top.
        auto rest = UIBezierPath::make();
        rest->addArc({150, 50}, 30, 0, kPi / 2, false);
        rest->lineWidth = 6;
        rest->stroke();
    });
    const auto red = testkit::overWhite({kRed});
    const CGFloat d = 30 / std::numbers::sqrt2;
    EXPECT_TRUE(testkit::pixelNear(surface, {50 + d, 50 + d}, red));
    EXPECT_TRUE(testkit::pixelNear(surface, {50, 20}, kWhite));
    EXPECT_TRUE(testkit::pixelNear(surface, {150 + d, 50 + d}, kWhite));
    EXPECT_TRUE(testkit::pixelNear(surface, {150, 20}, red));

    ImageSurface curve({100, 100});
    curve.fill(UIColor::white());
    curve.draw([](CGContext&) {
        kRed.setFill();
        auto bulge = UIBezierPath::make();
        bulge->moveTo({10, 10});
        bulge->addCurveTo({90, 10}, {10, 90}, {90, 90});
        bulge->close();
        bulge->fill();
    });
    // The curve dips to y 70 halfway and comes back up to its end at (90, 10).
    EXPECT_TRUE(testkit::pixelNear(curve, {50, 65}, red));
    EXPECT_TRUE(testkit::pixelNear(curve, {50, 75}, kWhite));
    EXPECT_TRUE(testkit::pixelNear(curve, {85, 14}, red));
}

TEST(ImageSurface, WritesPngAndReportsAPathItCannotWrite) {
    testkit::TempFolder folder;
    ImageSurface surface({4, 4});
    surface.fill(kRed);
    EXPECT_TRUE(surface.writePNG((folder / "red.png").string()));
    EXPECT_GT(std::filesystem::file_size(folder / "red.png"), 0u);
    EXPECT_FALSE(surface.writePNG((folder / "missing" / "red.png").string()));
    // Out-of-range reads and empty pictures are harmless.
    EXPECT_EQ(surface.pixel(4, 0), ImageSurface::Pixel{});
    ImageSurface empty({0, NAN});
    EXPECT_EQ(empty.pixelWidth(), 0);
    empty.draw([](CGContext&) { fillRect({0, 0, 1, 1}, kRed); });
}

TEST(ImageSurface, RefusesPicturesBeyondItsLargestSizeWithALogLine) {
    struct Case {
        CGSize points;
        CGFloat scale;
        int width;  // 0: refused
    } cases[] = {
        {{32767, 32767}, 1, 0},  // 4.3 GB
        {{40000, 1}, 1, 0},      // longer than Cairo's side
        {{20000, 1}, 2, 0},      // ... once scaled
        {{32767, 4}, 1, 32767},
        {{100, 50}, 2, 200},
    };
    for (const auto& c : cases) {
        testkit::StdoutCapture capture;
        ImageSurface surface(c.points, c.scale);
        const std::string said = capture.finish();
        EXPECT_EQ(surface.pixelWidth(), c.width) << c.points.width << " x " << c.points.height;
        EXPECT_EQ(said.find("ImageSurface ERROR") != std::string::npos, c.width == 0) << said;
    }
}

// Pixels made elsewhere (a renderer's answer) are taken over where they lie
// when they agree with the sides given, wherever in the bytes they start;
// otherwise the picture is empty.
TEST(ImageSurface, TakesOverPixelsThatAgreeWithItsSides) {
    struct Case {
        const char* name;
        std::size_t offset, bytes;
        int width, height;
        bool taken;
    };
    for (const Case& c : std::vector<Case>{
             {"aligned", 16, 16 + 3 * 2 * 4, 3, 2, true},
             {"at the start", 0, 3 * 2 * 4, 3, 2, true},
             {"off a word", 3, 3 + 3 * 2 * 4, 3, 2, true},
             {"a byte short", 16, 16 + 3 * 2 * 4 - 1, 3, 2, false},
             {"a byte over", 16, 16 + 3 * 2 * 4 + 1, 3, 2, false},
             {"past the end", 64, 32, 1, 1, false},
             {"no width", 0, 0, 0, 2, false},
             {"negative sides", 0, 24, -3, -2, false},
         }) {
        SCOPED_TRACE(c.name);
        std::string bytes(c.bytes, '\x7f');
        // Opaque pixels, each red by its place.
        for (std::size_t at = c.offset, n = 0; at + 4 <= bytes.size(); at += 4, ++n) {
            const std::uint32_t argb = 0xff000000u | std::uint32_t(n * 40) << 16;
            std::memcpy(bytes.data() + at, &argb, 4);
        }
        ImageSurface surface(std::move(bytes), c.offset, c.width, c.height, 2);
        EXPECT_EQ(surface.pixelWidth(), c.taken ? c.width : 0);
        EXPECT_EQ(surface.pixelHeight(), c.taken ? c.height : 0);
        if (!c.taken)
            continue;
        EXPECT_EQ(surface.scale(), 2);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                EXPECT_EQ(surface.pixel(x, y), (ImageSurface::Pixel{std::uint8_t((y * c.width + x) * 40), 0, 0, 255}));
    }
}
