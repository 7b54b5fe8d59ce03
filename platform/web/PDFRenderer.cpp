#include "platform/web/PDFRenderer.h"

#include <cmath>
#include <cstring>
#include <type_traits>

#include "platform/graphics/ImageSurface.h"

namespace {

constexpr char kOpen = 'o', kDraw = 'd';
// The largest side of a page in points that a reply may give: far beyond
// any real page, small enough that a document's length stays finite.
constexpr CGFloat kLargestSide = 1e7;

// Numbers and texts one after the other, in this machine's order.
class Writer {
public:
    template <class T>
        requires std::is_arithmetic_v<T>
    Writer& put(T value) {
        bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
        return *this;
    }
    Writer& put(std::string_view text) {
        put(std::uint32_t(text.size()));
        bytes.append(text);
        return *this;
    }
    std::string bytes;
};

// Reads what a Writer wrote; every take is false once one came short.
class Reader {
public:
    explicit Reader(std::string_view bytes) : rest_(bytes) {}

    template <class T>
        requires std::is_arithmetic_v<T>
    bool take(T& value) {
        if (!ok_ || rest_.size() < sizeof value)
            return ok_ = false;
        std::memcpy(&value, rest_.data(), sizeof value);
        rest_.remove_prefix(sizeof value);
        return true;
    }
    bool take(std::string& text) {
        std::uint32_t size = 0;
        if (!take(size) || rest_.size() < size)
            return ok_ = false;
        text.assign(rest_.substr(0, size));
        rest_.remove_prefix(size);
        return true;
    }
    bool take(CGSize& size) { return take(size.width) && take(size.height) && sane(size.width) && sane(size.height); }
    std::string_view rest() const { return rest_; }

private:
    static bool sane(CGFloat side) { return std::isfinite(side) && side >= 0 && side <= kLargestSide; }

    std::string_view rest_;
    bool ok_ = true;
};

}  // namespace

std::string PDFRenderer::openRequest() { return std::move(Writer().put(kOpen).bytes); }

std::string PDFRenderer::drawRequest(int page, CGFloat pixelsPerPoint) {
    return std::move(Writer().put(kDraw).put(std::int32_t(page)).put(pixelsPerPoint).bytes);
}

std::optional<PDFRenderer::Request> PDFRenderer::request(std::string_view bytes) {
    Reader reader(bytes);
    char kind = 0;
    Request request;
    if (!reader.take(kind))
        return std::nullopt;
    if (kind == kOpen && reader.rest().empty())
        return request;
    std::int32_t page = 0;
    if (kind != kDraw || !reader.take(page) || !reader.take(request.pixelsPerPoint) || !reader.rest().empty())
        return std::nullopt;
    request.kind = Request::Kind::draw;
    request.page = page;
    return request;
}

std::string PDFRenderer::openedReply(const Opened& opened) {
    Writer writer;
    writer.put(std::uint8_t(opened.error.empty()));
    if (!opened.error.empty())
        return std::move(writer.put(opened.error).bytes);
    writer.put(std::uint32_t(opened.sizes.size()));
    for (const CGSize size : opened.sizes)
        writer.put(size.width).put(size.height);
    return std::move(writer.bytes);
}

std::optional<PDFRenderer::Opened> PDFRenderer::opened(std::string_view reply) {
    Reader reader(reply);
    std::uint8_t open = 0;
    Opened opened;
    if (!reader.take(open))
        return std::nullopt;
    if (!open) {
        if (!reader.take(opened.error) || opened.error.empty() || !reader.rest().empty())
            return std::nullopt;
        return opened;
    }
    std::uint32_t count = 0;
    if (!reader.take(count) || reader.rest().size() != std::size_t(count) * 2 * sizeof(CGFloat))
        return std::nullopt;
    opened.sizes.resize(count);
    for (CGSize& size : opened.sizes)
        if (!reader.take(size))
            return std::nullopt;
    return opened;
}

std::string PDFRenderer::drawnReply(const Drawn& drawn) {
    Writer writer;
    const ImageSurface* picture = drawn.picture.get();
    writer.put(std::int32_t(picture ? picture->pixelWidth() : 0)).put(std::int32_t(picture ? picture->pixelHeight() : 0));
    writer.put(std::uint32_t(drawn.links.size()));
    for (const PDFDocument::Link& link : drawn.links)
        writer.put(link.area.origin.x).put(link.area.origin.y).put(link.area.size.width).put(link.area.size.height)
            .put(link.uri);
    return std::move(writer.bytes);
}

std::optional<PDFRenderer::Drawn> PDFRenderer::drawn(std::string_view reply, CGSize size, CGFloat pixelsPerPoint) {
    Reader reader(reply);
    std::int32_t width = 0, height = 0;
    std::uint32_t links = 0;
    if (!reader.take(width) || !reader.take(height) || !reader.take(links))
        return std::nullopt;
    Drawn drawn;
    for (std::uint32_t i = 0; i < links; ++i) {
        PDFDocument::Link link;
        CGPoint origin;
        if (!reader.take(origin.x) || !reader.take(origin.y) || !reader.take(link.area.size) || !reader.take(link.uri) ||
            !std::isfinite(origin.x) || !std::isfinite(origin.y))
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
