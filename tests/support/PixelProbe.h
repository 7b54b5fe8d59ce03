#pragma once

// Pixel checks for pictures drawn into an image surface over opaque white.
// Header-only, so only programs that draw link the drawing layer.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <sstream>

#include "platform/graphics/ImageSurface.h"

namespace testkit {

// What the layers give, bottom first, painted by source-over compositing on
// opaque white, in 0..255 per channel.
inline ImageSurface::Pixel overWhite(std::initializer_list<UIColor> layers) {
    double r = 1, g = 1, b = 1;
    for (const UIColor& c : layers) {
        r = c.red * c.alpha + r * (1 - c.alpha);
        g = c.green * c.alpha + g * (1 - c.alpha);
        b = c.blue * c.alpha + b * (1 - c.alpha);
    }
    auto byte = [](double v) { return uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
    return {byte(r), byte(g), byte(b), 255};
}

inline std::string describe(const ImageSurface::Pixel& p) {
    std::ostringstream out;
    out << "rgba(" << int(p.red) << ", " << int(p.green) << ", " << int(p.blue) << ", " << int(p.alpha) << ")";
    return out.str();
}

// The pixel under a point (in points) matches the expected colour within
// `tolerance` units per channel, alpha included.
inline ::testing::AssertionResult pixelNear(const ImageSurface& surface, CGPoint point,
                                            const ImageSurface::Pixel& expected, int tolerance = 2) {
    const ImageSurface::Pixel got = surface.pixelAt(point);
    const bool near = std::abs(got.red - expected.red) <= tolerance &&
                      std::abs(got.green - expected.green) <= tolerance &&
                      std::abs(got.blue - expected.blue) <= tolerance && std::abs(got.alpha - expected.alpha) <= tolerance;
    if (near)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "at (" << point.x << ", " << point.y << "): " << describe(got)
                                         << ", expected " << describe(expected) << " within " << tolerance;
}

}  // namespace testkit
