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
        {"picture of another size", drawnReply({std::make_shared<ImageSurface>(CGSize{11, 20}, 1), {}}), true},
        {"link area not finite", drawnReply({nullptr, {{CGRect(nan, 0, 1, 1), "x"}}}), true},
        {"no sizes", "", false},
        {"size not finite", PDFRenderer::openedReply({{{nan, 100}}, ""}), false},
        {"negative size", PDFRenderer::openedReply({{{-1, 100}}, ""}), false},
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
