#include "platform/web/PDFRenderer.h"

#include <cmath>

#include "platform/foundation/Wire.h"
#include "platform/graphics/ImageSurface.h"

namespace {

constexpr char kOpen = 'o', kDraw = 'd';
// The largest side of a page in points that a reply may give: far beyond
// any real page, small enough that a document's length stays finite.
constexpr CGFloat kLargestSide = 1e7;

// A page's size as a reply gives it: sane, or the reader fails.
CGSize takeSize(WireReader& reader) {
    const CGSize size{reader.get<CGFloat>(), reader.get<CGFloat>()};
    const auto sane = [](CGFloat side) { return std::isfinite(side) && side >= 0 && side <= kLargestSide; };
    if (!sane(size.width) || !sane(size.height))
        reader.fail();
    return size;
}

}  // namespace

std::string PDFRenderer::openRequest() { return WireWriter().put(kOpen).take(); }

std::string PDFRenderer::drawRequest(int page, CGFloat pixelsPerPoint) {
    return WireWriter().put(kDraw).put(std::int32_t(page)).put(pixelsPerPoint).take();
}

std::optional<PDFRenderer::Request> PDFRenderer::request(std::string_view bytes) {
    WireReader reader(bytes);
    const char kind = reader.get<char>();
    Request request;
    if (reader.ok() && kind == kOpen && reader.left() == 0)
        return request;
    const std::int32_t page = reader.get<std::int32_t>();
    request.pixelsPerPoint = reader.get<CGFloat>();
    if (!reader.ok() || kind != kDraw || reader.left() != 0)
        return std::nullopt;
    request.kind = Request::Kind::draw;
    request.page = page;
    return request;
}

std::string PDFRenderer::openedReply(const Opened& opened) {
    WireWriter writer;
    writer.put(std::uint8_t(opened.error.empty()));
    if (!opened.error.empty())
        return writer.put(opened.error).take();
    writer.put(std::uint32_t(opened.sizes.size()));
    for (const CGSize size : opened.sizes)
        writer.put(size.width).put(size.height);
    return writer.take();
}

std::optional<PDFRenderer::Opened> PDFRenderer::opened(std::string_view reply) {
    WireReader reader(reply);
    const std::uint8_t open = reader.get<std::uint8_t>();
    Opened opened;
    if (!reader.ok())
        return std::nullopt;
    if (!open) {
        opened.error = reader.text();
        if (!reader.ok() || opened.error.empty() || reader.left() != 0)
            return std::nullopt;
        return opened;
    }
    const std::uint32_t count = reader.get<std::uint32_t>();
    if (!reader.ok() || reader.left() != std::size_t(count) * 2 * sizeof(CGFloat))
        return std::nullopt;
    opened.sizes.resize(count);
    for (CGSize& size : opened.sizes)
        size = takeSize(reader);
    if (!reader.ok())
        return std::nullopt;
    return opened;
}

std::string PDFRenderer::drawnReply(const Drawn& drawn) {
    WireWriter writer;
    const ImageSurface* picture = drawn.picture.get();
    writer.put(std::int32_t(picture ? picture->pixelWidth() : 0)).put(std::int32_t(picture ? picture->pixelHeight() : 0));
    writer.put(std::uint32_t(drawn.links.size()));
    for (const PDFDocument::Link& link : drawn.links)
        writer.put(link.area.origin.x).put(link.area.origin.y).put(link.area.size.width).put(link.area.size.height)
            .put(link.uri);
    return writer.take();
}

std::optional<PDFRenderer::Drawn> PDFRenderer::drawn(std::string_view reply, CGSize size, CGFloat pixelsPerPoint) {
    WireReader reader(reply);
    const std::int32_t width = reader.get<std::int32_t>(), height = reader.get<std::int32_t>();
    const std::uint32_t links = reader.get<std::uint32_t>();
    if (!reader.ok())
        return std::nullopt;
    Drawn drawn;
    for (std::uint32_t i = 0; i < links; ++i) {
        PDFDocument::Link link;
        const CGPoint origin{reader.get<CGFloat>(), reader.get<CGFloat>()};
        link.area.size = takeSize(reader);
        link.uri = reader.text();
        if (!reader.ok() || !std::isfinite(origin.x) || !std::isfinite(origin.y))
            return std::nullopt;
        link.area.origin = origin;
        drawn.links.push_back(std::move(link));
    }
    const std::string_view pixels = reader.rest();
    if (width == 0 && height == 0)
        return pixels.empty() ? std::optional(std::move(drawn)) : std::nullopt;
    drawn.picture = std::make_shared<ImageSurface>(size, pixelsPerPoint);
    if (drawn.picture->pixelWidth() != width || drawn.picture->pixelHeight() != height ||
        !drawn.picture->setBytes({reinterpret_cast<const std::uint8_t*>(pixels.data()), pixels.size()}))
        return std::nullopt;
    return drawn;
}
