#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "platform/graphics/ImageSurface.h"
#include "platform/web/PageRenderer.h"
#include "platform/web/PageStrips.h"

namespace {

using Strip = PageStrips::Strip;

// Any picture will do: the bookkeeping counts a strip's bytes by its sides.
std::shared_ptr<const ImageSurface> picture() {
    static const auto shared = std::make_shared<const ImageSurface>(CGSize{1, 1});
    return shared;
}

// Answers every strip asked for, as a renderer would, until none is wanted:
// the strips in the order they were asked.
std::vector<Strip> answerAll(PageStrips& strips, std::uint64_t pictures = 0) {
    std::vector<Strip> asked;
    while (const std::optional<Strip> next = strips.next(pictures)) {
        asked.push_back(*next);
        strips.keep({*next, pictures, picture()});
        if (asked.size() > 10000) {
            ADD_FAILURE() << "strips without end";
            break;
        }
    }
    return asked;
}

std::size_t keptBytes(const PageStrips& strips, bool current) {
    std::size_t bytes = 0;
    for (const PageStrips::Tile& tile : strips.tiles())
        if (strips.current(tile) == current)
            bytes += tile.strip.bytes();
    return bytes;
}

// Whether the view's own strips cover every row of it down to the page's end.
bool viewCovered(const PageStrips& strips, CGFloat top, CGFloat height, CGFloat pageHeight) {
    std::vector<std::pair<CGFloat, CGFloat>> spans;
    for (const PageStrips::Tile& tile : strips.tiles())
        if (strips.current(tile))
            spans.emplace_back(tile.strip.top(), tile.strip.top() + tile.strip.height());
    std::sort(spans.begin(), spans.end());
    CGFloat reached = std::max<CGFloat>(top, 0);
    for (const auto& [from, to] : spans)
        if (from <= reached + 1e-9)
            reached = std::max(reached, to);
    return reached >= std::min(top + height, pageHeight) - 1e-9;
}

}  // namespace

// The strips a view asks for: of its own grid, those in view first and top
// down, each within a picture's bytes, none below the page's end, the last
// cut there, none twice; what is kept covers the view and holds at most the
// bytes kept for scrolling, or the view's own where it alone takes more.
TEST(PageStrips, AViewAsksForItsOwnStripsInViewFirstAndKeepsWithinItsBytes) {
    struct Case {
        const char* name;
        int width;
        CGFloat top, height, scale, pageHeight;
    };
    for (const Case& c : std::vector<Case>{
             {"small view, long page", 320, 0, 240, 1, 20000},
             {"scrolled to the middle", 1200, 9000, 800, 2, 20000},
             {"scrolled to the end", 1200, 19200, 800, 2, 20000},
             {"short page in a tall view", 1200, 0, 1600, 2, 300},
             {"a page of one row", 800, 0, 600, 1, 0.5},
             {"large view at scale 2", 3840, 4000, 2160, 2, 50000},
             {"a view larger than the bytes kept", 7680, 0, 4320, 2, 100000},
             {"odd scale", 1001, 333.3, 777.7, 1.25, 5000.5},
             {"empty page", 800, 0, 600, 1, 0},
         }) {
        SCOPED_TRACE(c.name);
        PageStrips strips;
        strips.setPage(c.width, c.pageHeight);
        strips.setView(c.width, c.top, c.height, c.scale);
        const std::vector<Strip> asked = answerAll(strips);
        const PageStrips::Wish& wish = strips.wish();
        const std::int64_t shown = wish.lastShown - wish.firstShown + 1;
        std::set<std::int64_t> seen;
        for (std::size_t i = 0; i < asked.size(); ++i) {
            const Strip& s = asked[i];
            EXPECT_EQ(s.width, c.width);
            EXPECT_EQ(s.scale, c.scale);
            EXPECT_TRUE(seen.insert(s.index).second) << "strip " << s.index << " asked twice";
            EXPECT_GT(s.rows, 0);
            EXPECT_LE(s.rows, PageStrips::kStripRows);
            EXPECT_LE(std::ceil(s.width * s.scale) * std::ceil(s.height() * s.scale) * 4,
                      double(PageRenderer::kLargestPicture));
            EXPECT_LT(s.top(), c.pageHeight) << "strip " << s.index << " below the page";
            EXPECT_LE(s.top() + s.height(), std::ceil(c.pageHeight * c.scale) / c.scale + 1e-9);
            if (i < std::size_t(shown)) {
                EXPECT_EQ(s.index, wish.firstShown + std::int64_t(i)) << "not in view first, top down";
            }
        }
        if (c.pageHeight == 0) {
            EXPECT_TRUE(asked.empty());
            continue;
        }
        EXPECT_GE(asked.size(), std::size_t(shown));
        EXPECT_TRUE(viewCovered(strips, c.top, c.height, c.pageHeight));
        const std::size_t viewBytes = std::size_t(shown) * wish.grid.bytes();
        EXPECT_LE(keptBytes(strips, true), std::max(PageStrips::kKeptBytes, viewBytes));
        EXPECT_LE(asked.size(), std::size_t(3 * shown));
    }
}

// An offset no view can have names no strip outside the page, whatever it is.
TEST(PageStrips, AnyOffsetIsTakenWithinThePage) {
    const CGFloat nan = std::numeric_limits<CGFloat>::quiet_NaN(), inf = std::numeric_limits<CGFloat>::infinity();
    for (const CGFloat top : {CGFloat(1e300), CGFloat(-1e300), CGFloat(9.3e18), nan, inf, -inf}) {
        for (const CGFloat height : {CGFloat(600), CGFloat(1e300), nan, inf}) {
            SCOPED_TRACE(std::to_string(top) + " " + std::to_string(height));
            PageStrips strips;
            strips.setPage(800, 5000);
            strips.setView(800, top, height, 1);
            for (const Strip& s : answerAll(strips)) {
                EXPECT_GE(s.index, 0);
                EXPECT_LT(s.top(), 5000);
            }
        }
    }
}

// A new width or scale asks for the new grid's strips, and only once the
// page is laid out at that width; meanwhile and until the new strips cover
// the view, the last ones drawn stand in, and then go. Stand-ins hold at
// most the bytes kept for scrolling, the newest kept; a strip of another
// grid that comes late stands in only while the view is not covered.
TEST(PageStrips, OtherGridsStandInUntilTheViewsOwnCoverIt) {
    PageStrips strips;
    strips.setPage(800, 20000);
    strips.setView(800, 0, 600, 1);
    ASSERT_FALSE(answerAll(strips).empty());
    const std::size_t before = strips.tiles().size();

    // A resize: nothing is asked until the page is laid out at the new width.
    strips.setView(820, 0, 600, 1);
    EXPECT_FALSE(strips.next(0));
    std::size_t standing = 0;
    for (const PageStrips::Tile& tile : strips.tiles())
        standing += tile.strip.width == 800 && strips.inView(tile);
    EXPECT_GT(standing, 0u);
    EXPECT_LE(strips.tiles().size(), before);

    strips.setPage(820, 20500);
    const std::optional<Strip> first = strips.next(0);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->width, 820);
    // The first new strip covers the view: the old ones go.
    strips.keep({*first, 0, picture()});
    answerAll(strips);
    for (const PageStrips::Tile& tile : strips.tiles())
        EXPECT_EQ(tile.strip.width, 820);

    // A strip of the grid before that comes late, while the view is covered, is not kept.
    strips.keep({{800, 1, 0, PageStrips::gridRows(800, 1)}, 0, picture()});
    for (const PageStrips::Tile& tile : strips.tiles())
        EXPECT_EQ(tile.strip.width, 820);

    // Scale after scale, each grid's first strip arriving and standing in for
    // the next: the stand-ins stay within their bytes, the newest kept.
    strips.setView(820, 0, 1600, 2);
    Strip newest{};
    for (int step = 0; step < 12; ++step) {
        const CGFloat scale = 2 + CGFloat(step) / 8;
        strips.setView(820, 0, 1600, scale);
        const std::optional<Strip> next = strips.next(0);
        ASSERT_TRUE(next);
        newest = *next;
        strips.keep({newest, 0, picture()});
        strips.setView(820, 0, 1600, scale + CGFloat(1) / 16);
        EXPECT_LE(keptBytes(strips, false), PageStrips::kKeptBytes) << step;
        EXPECT_TRUE(std::any_of(strips.tiles().begin(), strips.tiles().end(),
                                [&](const PageStrips::Tile& tile) { return tile.strip.sameStrip(newest); }))
            << step;
    }
    // Stand-ins are drawn first, under the view's own.
    bool ownSeen = false;
    for (const PageStrips::Tile& tile : strips.tiles()) {
        EXPECT_FALSE(ownSeen && !strips.current(tile));
        ownSeen = ownSeen || strips.current(tile);
    }
}

// What is kept is the view's: a strip of its grid that is not wanted, or one
// drawn before the pictures the page has now, is asked for again; one below
// the page, or out of the kept range, is not kept.
TEST(PageStrips, OnlyWantedStripsOfTheViewsGridAreKept) {
    PageStrips strips;
    strips.setPage(800, 20000);
    strips.setView(800, 0, 600, 1);
    const std::vector<Strip> asked = answerAll(strips);
    ASSERT_FALSE(asked.empty());
    const std::size_t kept = strips.tiles().size();
    const std::int64_t last = strips.wish().last;

    Strip far = asked.front();
    far.index = last + 5;
    strips.keep({far, 0, picture()});
    EXPECT_EQ(strips.tiles().size(), kept);
    Strip below = asked.front();
    below.index = 1000;
    strips.keep({below, 0, picture()});
    EXPECT_EQ(strips.tiles().size(), kept);

    // A picture handed over since: each strip is asked for again, the one in view first.
    const std::optional<Strip> again = strips.next(1);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->index, strips.wish().firstShown);
    EXPECT_EQ(answerAll(strips, 1).size(), asked.size());
    EXPECT_FALSE(strips.next(1));

    // A page grown taller at the same width asks again for the strip it cut.
    strips.setPage(800, 200);
    answerAll(strips, 1);
    strips.setPage(800, 300);
    const std::optional<Strip> taller = strips.next(1);
    ASSERT_TRUE(taller);
    EXPECT_EQ(taller->index, 0);
    EXPECT_EQ(taller->rows, 300);
}
