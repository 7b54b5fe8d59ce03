#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "platform/graphics/CGGeometry.h"

typedef struct _cairo_surface cairo_surface_t;

// A decoded picture, one pixel to the point. Only PNG data are understood.
class UIImage {
public:
    // None when the data are not a PNG picture.
    static std::shared_ptr<UIImage> withData(std::span<const std::uint8_t> data);
    // The pixels PNG data say they hold, before anything is decoded; 0 when
    // the data do not start as a PNG picture.
    static std::uint64_t pixelCount(std::span<const std::uint8_t> data);
    ~UIImage();
    UIImage(const UIImage&) = delete;
    UIImage& operator=(const UIImage&) = delete;

    CGSize size() const;
    // Paints the picture stretched over the rectangle in the current
    // graphics context (nothing outside a drawing pass).
    void draw(const CGRect& rect) const;

private:
    explicit UIImage(cairo_surface_t* surface) : surface_(surface) {}
    cairo_surface_t* surface_;
};
