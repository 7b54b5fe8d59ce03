#pragma once

// Canvas pictures for the drawing tests: drawn over opaque white, read back
// pixel by pixel.

#include <cstdlib>
#include <functional>
#include <memory>

#include "Orvo_Halden_Extension/OrvoHaldenViewBase.h"
#include "platform/graphics/CGContext.h"
#include "platform/graphics/ImageSurface.h"
#include "tests/support/PixelProbe.h"

namespace canvastest {

using V = OrvoHaldenViewBase;

// A picture `size` points large, `scale` pixels to the point, white, with
// `body` drawn into it.
inline std::unique_ptr<ImageSurface> picture(CGSize size, CGFloat scale,
                                             const std::function<void(CGContext&)>& body) {
    auto surface = std::make_unique<ImageSurface>(size, scale);
    surface->fill(UIColor::white());
    surface->draw(body);
    return surface;
}

// The whole canvas at its design size (the frame equals the canvas, so the
// published scale is left alone).
inline std::unique_ptr<ImageSurface> drawCanvas(V& model, CGFloat scale = 1) {
    return picture(V::kCanvasSize, scale, [&](CGContext&) { model.draw(); });
}

// Pixels inside the rectangle (in points) further than `tolerance` from
// `colour` in some channel.
inline int pixelsOtherThan(const ImageSurface& surface, const CGRect& rect, const ImageSurface::Pixel& colour,
                           int tolerance = 0) {
    const CGFloat s = surface.scale();
    const auto far = [tolerance](int a, int b) { return std::abs(a - b) > tolerance; };
    int count = 0;
    for (int y = int(rect.minY() * s); y < int(rect.maxY() * s); ++y)
        for (int x = int(rect.minX() * s); x < int(rect.maxX() * s); ++x) {
            const ImageSurface::Pixel p = surface.pixel(x, y);
            if (far(p.red, colour.red) || far(p.green, colour.green) || far(p.blue, colour.blue)) ++count;
        }
    return count;
}

// Pixels inside the rectangle that are not the white beneath.
inline int drawnPixels(const ImageSurface& surface, const CGRect& rect) {
    return pixelsOtherThan(surface, rect, testkit::overWhite({}));
}

} // namespace canvastest
