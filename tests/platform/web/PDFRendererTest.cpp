#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/ImageSurface.h"
#include "platform/web/PDFRenderer.h"

namespace {

// A draw reply as the renderer sends it: its head, then the picture's bytes.
std::string drawnReply(const PDFRenderer::Drawn& drawn) {
    std::string reply = PDFRenderer::drawnReply(drawn);
    if (drawn.picture) {
        const auto bytes = drawn.picture->bytes();
        reply.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    return reply;
}

}  // namespace

// What the renderer says reaches the app as it was said: page sizes, an
// error, a picture with its pixels and links, or none.
TEST(PDFRenderer, RequestsAndRepliesArriveAsTheyWereSent) {
    const auto draw = PDFRenderer::request(PDFRenderer::drawRequest(7, 1.5));
    ASSERT_TRUE(draw);
    EXPECT_EQ(draw->kind, PDFRenderer::Request::Kind::draw);
    EXPECT_EQ(draw->page, 7);
    EXPECT_EQ(draw->pixelsPerPoint, 1.5);
    EXPECT_EQ(PDFRenderer::request(PDFRenderer::openRequest())->kind, PDFRenderer::Request::Kind::open);

    const auto opened = PDFRenderer::opened(PDFRenderer::openedReply({{{612, 792}, {100, 14000}}, ""}));
    ASSERT_TRUE(opened);
    ASSERT_EQ(opened->sizes.size(), 2u);
    EXPECT_EQ(opened->sizes[1].height, 14000);
    EXPECT_EQ(PDFRenderer::opened(PDFRenderer::openedReply({{}, "PDF document is damaged"}))->error,
              "PDF document is damaged");

    auto picture = std::make_shared<ImageSurface>(CGSize{10, 20}, 2);
    picture->fill({1, 0, 0, 1});
    const auto drawn = PDFRenderer::drawn(drawnReply({picture, {{CGRect(1, 2, 3, 4), "https://example.com/"}}}),
                                          {10, 20}, 2);
    ASSERT_TRUE(drawn && drawn->picture);
    EXPECT_EQ(drawn->picture->pixel(19, 39), (ImageSurface::Pixel{255, 0, 0, 255}));
    ASSERT_EQ(drawn->links.size(), 1u);
    EXPECT_EQ(drawn->links[0].uri, "https://example.com/");
    EXPECT_EQ(drawn->links[0].area.maxY(), 6);
    const auto blank = PDFRenderer::drawn(drawnReply({}), {10, 20}, 2);
    ASSERT_TRUE(blank);
    EXPECT_FALSE(blank->picture);
}

// A renderer is untrusted (poppler runs there on any input): a reply that
// is not one, cut short, with more than it says, a picture of another size
// or sizes no page has, is refused rather than believed.
TEST(PDFRenderer, AReplyThatIsNoneIsRefused) {
    auto picture = std::make_shared<ImageSurface>(CGSize{10, 20}, 1);
    const std::string good = drawnReply({picture, {}});
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* name;
        std::string reply;
        bool drawn;  // else opened
    } cases[] = {
        {"empty", "", true},
        {"picture cut short", good.substr(0, good.size() - 1), true},
        {"picture too long", good + "x", true},
        {"picture of another size", drawnReply({std::make_shared<ImageSurface>(CGSize{11, 20}, 1), {}}),
         true},
        {"link area not finite", drawnReply({nullptr, {{CGRect(nan, 0, 1, 1), "x"}}}), true},
        {"link area of no number", drawnReply({nullptr, {{CGRect(0, 0, nan, 1), "x"}}}), true},
        {"link area turned over", drawnReply({nullptr, {{CGRect(0, 0, 10, -1), "x"}}}), true},
        {"link area beyond any page", drawnReply({nullptr, {{CGRect(0, 0, 1e300, 10), "x"}}}), true},
        {"no sizes", "", false},
        {"count beyond the sizes", PDFRenderer::openedReply({{{1, 1}, {2, 2}}, ""}).substr(0, 21), false},
    };
    for (const auto& c : cases) {
        if (c.drawn)
            EXPECT_FALSE(PDFRenderer::drawn(c.reply, {10, 20}, 1)) << c.name;
        else
            EXPECT_FALSE(PDFRenderer::opened(c.reply)) << c.name;
    }
    EXPECT_FALSE(PDFRenderer::request("x"));
    EXPECT_FALSE(PDFRenderer::request(PDFRenderer::drawRequest(1, 1) + "x"));
}

// A renderer answers each page's size within the sides a PDF page may have,
// or 0 by 0 for a page it could not read: any other size is refused, however
// small its part (a page next to nothing wide and as tall as allowed makes the
// document endless). One bad size among good ones refuses the reply.
TEST(PDFRenderer, APageSizeNoPDFHasIsRefused) {
    const double nan = std::numeric_limits<double>::quiet_NaN(),
                 inf = std::numeric_limits<double>::infinity();
    const struct {
        const char* name;
        CGSize size;
    } refused[] = {
        {"next to nothing wide, very tall", {1e-300, 1e7}},
        {"next to nothing wide", {1e-300, 792}},
        {"below the smallest side", {612, 0.5}},
        {"negative", {-612, 792}},
        {"not a number", {nan, 792}},
        {"infinite", {612, inf}},
        {"no width", {0, 792}},
        {"no height", {612, 0}},
        {"beyond the largest side", {14401, 792}},
        {"both beyond", {1e7, 1e7}},
    };
    for (const auto& c : refused) {
        EXPECT_FALSE(PDFRenderer::opened(PDFRenderer::openedReply({{c.size}, ""}))) << c.name;
        EXPECT_FALSE(PDFRenderer::opened(PDFRenderer::openedReply({{{612, 792}, c.size, {612, 792}}, ""})))
            << c.name << ", among good ones";
    }
    const CGSize accepted[] = {{612, 792}, {2384, 3370}, {14400, 14400}, {1, 14400}, {3, 3}, {0, 0}};
    for (const CGSize size : accepted) {
        const auto opened = PDFRenderer::opened(PDFRenderer::openedReply({{size}, ""}));
        ASSERT_TRUE(opened) << size.width << " x " << size.height;
        EXPECT_EQ(opened->sizes, std::vector<CGSize>{size});
    }
}

// What poppler says of a malformed page is answered at the nearest size a
// page may have (0 by 0 when it has no area), so that an honest renderer is
// never refused; and its links only where they lie on the page, so that a
// link area as large as a malformed document makes it refuses no picture.
TEST(PDFRenderer, TheRendererAnswersWhatPopplerSaysWithinThePageSizes) {
    const double nan = std::numeric_limits<double>::quiet_NaN(),
                 inf = std::numeric_limits<double>::infinity();
    const struct {
        CGSize poppler, answered;
    } pages[] = {
        {{612, 792}, {612, 792}}, {{1e-300, 1e7}, {1, 14400}}, {{20000, 100}, {14400, 100}},
        {{0.5, 0.5}, {1, 1}},     {{inf, 792}, {14400, 792}},  {{0, 792}, {0, 0}},
        {{-612, 792}, {0, 0}},    {{nan, 792}, {0, 0}},        {{612, nan}, {0, 0}},
    };
    for (const auto& c : pages) {
        EXPECT_EQ(PDFRenderer::pageSize(c.poppler), c.answered)
            << c.poppler.width << " x " << c.poppler.height;
        EXPECT_TRUE(PDFRenderer::opened(PDFRenderer::openedReply({{PDFRenderer::pageSize(c.poppler)}, ""})))
            << c.poppler.width << " x " << c.poppler.height;
    }

    const CGSize page{14400, 100};
    const auto area = [&](CGRect link) {
        const std::optional<CGRect> held = PDFRenderer::linkArea(link, page);
        return held ? std::optional(
                          std::vector<CGFloat>{held->minX(), held->minY(), held->width(), held->height()})
                    : std::nullopt;
    };
    EXPECT_EQ(area(CGRect(10, 20, 30, 40)), (std::vector<CGFloat>{10, 20, 30, 40}));
    EXPECT_EQ(area(CGRect(-1e300, 50, 2e300, 1e300)), (std::vector<CGFloat>{0, 50, 14400, 50}));
    EXPECT_EQ(area(CGRect(40, 60, -30, -40)), (std::vector<CGFloat>{10, 20, 30, 40}));
    EXPECT_FALSE(area(CGRect(0, 200, 10, 10))) << "below the page";
    EXPECT_FALSE(area(CGRect(0, 0, nan, 10)));
    EXPECT_FALSE(area(CGRect(inf, 0, 10, 10)));
    // Held to its page, the largest link a malformed document has is taken.
    const std::optional<CGRect> huge = PDFRenderer::linkArea(CGRect(-1e300, -1e300, 2e300, 2e300), {10, 20});
    ASSERT_TRUE(huge);
    auto picture = std::make_shared<ImageSurface>(CGSize{10, 20}, 1);
    const auto drawn = PDFRenderer::drawn(drawnReply({picture, {{*huge, "x"}}}), {10, 20}, 1);
    ASSERT_TRUE(drawn);
    EXPECT_EQ(drawn->links.size(), 1u);
}
