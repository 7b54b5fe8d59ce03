#include "platform/graphics/ImageSurface.h"

#include <cairo.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <system_error>

#include "platform/graphics/CGContext.h"

namespace {

CGFloat pixels(CGFloat points, CGFloat scale) {
    const CGFloat n = std::ceil(points * scale);
    return std::isfinite(n) && n > 0 ? n : 0;
}

}  // namespace

ImageSurface::ImageSurface(CGSize pointSize, CGFloat scale) : scale_(std::isfinite(scale) && scale > 0 ? scale : 1) {
    create(pixels(pointSize.width, scale), pixels(pointSize.height, scale), nullptr);
}

ImageSurface::ImageSurface(std::string pixels, std::size_t offset, int pixelWidth, int pixelHeight, CGFloat scale)
    : pixels_(std::move(pixels)), scale_(std::isfinite(scale) && scale > 0 ? scale : 1) {
    const bool agree = pixelWidth > 0 && pixelHeight > 0 && offset <= pixels_.size() &&
                       pixels_.size() - offset == std::size_t(pixelWidth) * std::size_t(pixelHeight) * 4;
    if (!agree) {
        pixels_ = std::string();
        create(0, 0, nullptr);
        return;
    }
    // Cairo reads whole words: pixels that do not lie on one are moved to the start.
    if (reinterpret_cast<std::uintptr_t>(pixels_.data() + offset) % alignof(std::uint32_t) != 0)
        pixels_.erase(0, offset), offset = 0;
    create(pixelWidth, pixelHeight, reinterpret_cast<unsigned char*>(pixels_.data() + offset));
}

void ImageSurface::create(CGFloat width, CGFloat height, unsigned char* data) {
    if (width > kLargestSide || height > kLargestSide || width * height > kLargestPixels) {
        std::printf("ImageSurface ERROR: a picture of %.0f x %.0f pixels is refused (at most %d on a side and "
                    "%.0f in all); it stays empty.\n",
                    width, height, kLargestSide, kLargestPixels);
        std::fflush(stdout);
        data = nullptr;
    } else if (width > 0 && height > 0) {
        width_ = int(width);
        height_ = int(height);
    }
    surface_ = data ? cairo_image_surface_create_for_data(data, CAIRO_FORMAT_ARGB32, width_, height_, 4 * width_)
                    : cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width_, height_);
    if (cairo_surface_status(surface_) != CAIRO_STATUS_SUCCESS) {
        std::printf("ImageSurface ERROR: a picture of %d x %d pixels cannot be had (%s); it stays empty.\n", width_,
                    height_, cairo_status_to_string(cairo_surface_status(surface_)));
        std::fflush(stdout);
        width_ = height_ = 0;
    }
    cairo_surface_set_device_scale(surface_, scale_, scale_);
}

ImageSurface::~ImageSurface() { cairo_surface_destroy(surface_); }

void ImageSurface::fill(const UIColor& color) {
    cairo_t* cr = cairo_create(surface_);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_rgba(cr, color.red, color.green, color.blue, color.alpha);
    cairo_paint(cr);
    cairo_destroy(cr);
}

void ImageSurface::draw(const std::function<void(CGContext&)>& body) {
    cairo_t* cr = cairo_create(surface_);
    {
        CGContext context(cr);
        UIGraphicsContextScope scope(context);
        body(context);
    }
    cairo_destroy(cr);
    cairo_surface_flush(surface_);
}

ImageSurface::Pixel ImageSurface::pixelAt(CGPoint point) const {
    const CGFloat x = std::floor(point.x * scale_), y = std::floor(point.y * scale_);
    if (!(x >= 0 && y >= 0 && x < width_ && y < height_))
        return {};
    return pixel(int(x), int(y));
}

ImageSurface::Pixel ImageSurface::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_)
        return {};
    const unsigned char* row = cairo_image_surface_get_data(surface_) + y * cairo_image_surface_get_stride(surface_);
    uint32_t argb = 0;
    std::memcpy(&argb, row + 4 * x, 4);
    const uint8_t a = argb >> 24;
    auto channel = [a](uint32_t premultiplied) {
        return a == 0 ? uint8_t(0) : uint8_t(std::min<uint32_t>(255, (premultiplied * 255 + a / 2) / a));
    };
    return {channel((argb >> 16) & 0xff), channel((argb >> 8) & 0xff), channel(argb & 0xff), a};
}

std::span<const std::uint8_t> ImageSurface::bytes() const {
    const unsigned char* data = cairo_image_surface_get_data(surface_);
    // ARGB32 rows are whole words: no gap between them.
    if (!data || cairo_image_surface_get_stride(surface_) != 4 * width_)
        return {};
    return {data, std::size_t(width_) * std::size_t(height_) * 4};
}

bool ImageSurface::setBytes(std::span<const std::uint8_t> bytes) {
    const std::span<const std::uint8_t> own = this->bytes();
    if (own.size() != bytes.size())
        return false;
    if (bytes.empty())
        return true;
    cairo_surface_flush(surface_);
    std::memcpy(cairo_image_surface_get_data(surface_), bytes.data(), bytes.size());
    cairo_surface_mark_dirty(surface_);
    return true;
}

bool ImageSurface::writePNG(const std::string& path) const {
    // Written through a file of our own, so that a failure says what the system said.
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::printf("ImageSurface::writePNG ERROR: %s: %s\n", path.c_str(),
                    std::generic_category().message(errno).c_str());
        return false;
    }
    const cairo_status_t status = cairo_surface_write_to_png_stream(
        surface_,
        [](void* into, const unsigned char* data, unsigned int length) {
            return std::fwrite(data, 1, length, static_cast<std::FILE*>(into)) == length
                       ? CAIRO_STATUS_SUCCESS
                       : CAIRO_STATUS_WRITE_ERROR;
        },
        file);
    const int writeError = std::ferror(file) ? errno : 0;
    const bool closed = std::fclose(file) == 0;
    const int error = writeError ? writeError : closed ? 0 : errno;
    if (status != CAIRO_STATUS_SUCCESS || error != 0) {
        std::printf("ImageSurface::writePNG ERROR: %s: %s\n", path.c_str(),
                    error ? std::generic_category().message(error).c_str() : cairo_status_to_string(status));
        return false;
    }
    return true;
}
