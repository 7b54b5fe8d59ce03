#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "platform/graphics/CGGeometry.h"
#include "platform/graphics/UIColor.h"

typedef struct _cairo_surface cairo_surface_t;
class CGContext;

// An off-screen picture in premultiplied 32-bit pixels: drawing passes go
// into it in points, `scale` pixels to the point, and it can be read back
// pixel by pixel or written as PNG.
class ImageSurface {
public:
    struct Pixel {
        uint8_t red = 0, green = 0, blue = 0, alpha = 0;
        bool operator==(const Pixel&) const = default;
    };

    // The largest picture: Cairo's longest side, and 512 MB of pixels (a
    // doubled 8K screen fits).
    static constexpr int kLargestSide = 32767;
    static constexpr double kLargestPixels = 16384.0 * 8192.0;

    // Sizes that are not finite or not positive make an empty picture, and
    // so (with a log line) do sizes beyond the largest picture and a
    // picture there is no memory for.
    ImageSurface(CGSize pointSize, CGFloat scale = 1);
    // A picture of pixels already made, taken over where they lie: the
    // bytes of `pixels` from `offset` on, in the form bytes() gives.
    // Sizes that do not agree with the bytes make an empty picture.
    ImageSurface(std::string pixels, std::size_t offset, int pixelWidth, int pixelHeight, CGFloat scale);
    ~ImageSurface();
    ImageSurface(const ImageSurface&) = delete;
    ImageSurface& operator=(const ImageSurface&) = delete;

    int pixelWidth() const { return width_; }
    int pixelHeight() const { return height_; }
    CGFloat scale() const { return scale_; }

    // Covers the whole picture with the colour (replacing, not blending).
    void fill(const UIColor& color);
    // One drawing pass: `body` runs with a fresh context over this picture
    // as the current graphics context.
    void draw(const std::function<void(CGContext&)>& body);

    // The pixel holding the point, un-premultiplied; outside: transparent.
    Pixel pixelAt(CGPoint point) const;
    Pixel pixel(int x, int y) const;

    // The pixels as Cairo keeps them: pixelHeight() rows of pixelWidth()
    // premultiplied ARGB32 words in this machine's order, with no gaps.
    std::span<const std::uint8_t> bytes() const;
    // Replaces them with as many bytes in that form; false, and nothing
    // changed, when the count is not the picture's.
    bool setBytes(std::span<const std::uint8_t> bytes);

    // False (and a log line) when the file cannot be written.
    bool writePNG(const std::string& path) const;

    cairo_surface_t* surface() const { return surface_; }

private:
    void create(CGFloat width, CGFloat height, unsigned char* data);

    std::string pixels_;  // those taken over, if any
    cairo_surface_t* surface_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    CGFloat scale_ = 1;
};
