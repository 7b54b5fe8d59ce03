#include "platform/web/PDFRenderer.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/Wire.h"
#include "platform/graphics/ImageSurface.h"

namespace {

constexpr char kOpen = 'o', kDraw = 'd';

// A link's area as a reply gives it: a finite place, a size no page exceeds
// (the renderer answers only the part on its page), or the reader fails.
CGRect takeLinkArea(WireReader& reader) {
    // Braces: read in order.
    const CGRect area{reader.get<CGFloat>(), reader.get<CGFloat>(), reader.get<CGFloat>(),
                      reader.get<CGFloat>()};
    const auto side = [](CGFloat length) { return length >= 0 && length <= PDFRenderer::kLargestSide; };
    if (!std::isfinite(area.origin.x) || !std::isfinite(area.origin.y) || !side(area.size.width) ||
        !side(area.size.height))
        reader.fail();
    return area;
}

}  // namespace

bool PDFRenderer::isPageSize(CGSize size) {
    const auto side = [](CGFloat length) { return length >= kSmallestSide && length <= kLargestSide; };
    return (size.width == 0 && size.height == 0) || (side(size.width) && side(size.height));
}

CGSize PDFRenderer::pageSize(CGSize size) {
    if (!(size.width > 0 && size.height > 0))
        return {};
    return {std::clamp(size.width, kSmallestSide, kLargestSide),
            std::clamp(size.height, kSmallestSide, kLargestSide)};
}

std::optional<CGRect> PDFRenderer::linkArea(CGRect area, CGSize page) {
    if (!std::isfinite(area.origin.x) || !std::isfinite(area.origin.y) || !std::isfinite(area.size.width) ||
        !std::isfinite(area.size.height))
        return std::nullopt;
    const CGRect common = area.intersection(CGRect(0, 0, page.width, page.height));
    if (common.isNull() || common.isEmpty())
        return std::nullopt;
    return common;
}

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
    for (CGSize& size : opened.sizes) {
        size = {reader.get<CGFloat>(), reader.get<CGFloat>()};
        if (!isPageSize(size))
            return std::nullopt;
    }
    if (!reader.ok())
        return std::nullopt;
    return opened;
}

std::string PDFRenderer::drawnReply(const Drawn& drawn) {
    WireWriter writer;
    const ImageSurface* picture = drawn.picture.get();
    writer.put(std::int32_t(picture ? picture->pixelWidth() : 0)).put(std::int32_t(picture ? picture->pixelHeight() : 0));
    writer.put(std::uint32_t(drawn.links.size()));
    for (const PDFRenderer::Link& link : drawn.links)
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
        PDFRenderer::Link link;
        link.area = takeLinkArea(reader);
        link.uri = reader.text();
        if (!reader.ok())
            return std::nullopt;
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
