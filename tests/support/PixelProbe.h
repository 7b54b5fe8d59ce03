#pragma once

// Pixel checks for pictures drawn into an image surface over opaque white.
// Header-only, so only programs that draw link the drawing layer.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "platform/graphics/CGContext.h"
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

// A picture `size` points large at `scale` pixels per point, opaque white,
// with `body` drawn into it. With ORVO_SAVE_PICTURES naming a folder, each
// picture is also written there as <test>-<n>.png, to be looked at.
inline std::unique_ptr<ImageSurface> renderOverWhite(CGSize size, CGFloat scale,
                                                     const std::function<void(CGContext&)>& body) {
    auto surface = std::make_unique<ImageSurface>(size, scale);
    surface->fill(UIColor::white());
    surface->draw(body);
    if (const char* folder = std::getenv("ORVO_SAVE_PICTURES")) {
        static std::map<std::string, int> counts;
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = test ? std::string(test->test_suite_name()) + "." + test->name() : "picture";
        std::replace(name.begin(), name.end(), '/', '_');
        surface->writePNG(std::string(folder) + "/" + name + "-" + std::to_string(counts[name]++) + ".png");
    }
    return surface;
}

// How many pixels of two pictures of one size differ by more than
// `tolerance` in a channel; every pixel when the sizes differ.
inline int differingPixels(const ImageSurface& a, const ImageSurface& b, int tolerance = 2) {
    if (a.pixelWidth() != b.pixelWidth() || a.pixelHeight() != b.pixelHeight())
        return std::max(a.pixelWidth() * a.pixelHeight(), b.pixelWidth() * b.pixelHeight());
    int count = 0;
    for (int y = 0; y < a.pixelHeight(); ++y)
        for (int x = 0; x < a.pixelWidth(); ++x) {
            const auto p = a.pixel(x, y), q = b.pixel(x, y);
            count += std::abs(p.red - q.red) > tolerance || std::abs(p.green - q.green) > tolerance ||
                     std::abs(p.blue - q.blue) > tolerance || std::abs(p.alpha - q.alpha) > tolerance;
        }
    return count;
}

}  // namespace testkit
