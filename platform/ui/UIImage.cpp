#include "platform/ui/UIImage.h"

#include <cairo.h>

#include <cstring>

#include "platform/graphics/CGContext.h"

namespace {

struct Reader {
    std::span<const std::uint8_t> data;
    std::size_t at = 0;
};

cairo_status_t readChunk(void* closure, unsigned char* out, unsigned int length) {
    auto& r = *static_cast<Reader*>(closure);
    if (r.data.size() - r.at < length)
        return CAIRO_STATUS_READ_ERROR;
    std::memcpy(out, r.data.data() + r.at, length);
    r.at += length;
    return CAIRO_STATUS_SUCCESS;
}

constexpr std::uint8_t kPNGSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// Pictures come from the network too: one whose header claims more pixels
// than this is refused before anything is allocated for it.
constexpr std::uint64_t kMaximumPixels = std::uint64_t(1) << 24;

}  // namespace

std::uint64_t UIImage::pixelCount(std::span<const std::uint8_t> data) {
    // The size is in the header chunk, which must come first.
    if (data.size() < 24 || std::memcmp(data.data(), kPNGSignature, sizeof kPNGSignature) != 0 ||
        std::memcmp(data.data() + 12, "IHDR", 4) != 0)
        return 0;
    const auto word = [&](std::size_t at) {
        return std::uint64_t(data[at]) << 24 | std::uint64_t(data[at + 1]) << 16 | std::uint64_t(data[at + 2]) << 8 |
               std::uint64_t(data[at + 3]);
    };
    return word(16) * word(20);
}

std::shared_ptr<UIImage> UIImage::withData(std::span<const std::uint8_t> data) {
    if (data.size() < sizeof kPNGSignature || std::memcmp(data.data(), kPNGSignature, sizeof kPNGSignature) != 0)
        return nullptr;
    if (pixelCount(data) > kMaximumPixels)
        return nullptr;
    Reader reader{data};
    cairo_surface_t* surface = cairo_image_surface_create_from_png_stream(&readChunk, &reader);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS || cairo_image_surface_get_width(surface) <= 0 ||
        cairo_image_surface_get_height(surface) <= 0) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    return std::shared_ptr<UIImage>(new UIImage(surface));
}

UIImage::~UIImage() { cairo_surface_destroy(surface_); }

CGSize UIImage::size() const {
    return {CGFloat(cairo_image_surface_get_width(surface_)), CGFloat(cairo_image_surface_get_height(surface_))};
}

void UIImage::draw(const CGRect& rect) const {
    CGContext* context = UIGraphicsGetCurrentContext();
    const CGSize s = size();
    const CGRect r = rect.standardized();
    if (!context || !context->canDraw() || r.isEmpty() || !std::isfinite(r.width()) || !std::isfinite(r.height()))
        return;
    cairo_t* cr = context->cairo();
    cairo_save(cr);
    cairo_rectangle(cr, r.minX(), r.minY(), r.width(), r.height());
    cairo_clip(cr);
    cairo_translate(cr, r.minX(), r.minY());
    cairo_scale(cr, r.width() / s.width, r.height() / s.height);
    cairo_set_source_surface(cr, surface_, 0, 0);
    cairo_paint_with_alpha(cr, context->globalAlpha());
    cairo_restore(cr);
}
