#include <gtest/gtest.h>

#include <cairo.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "tests/Orvo_Halden_Extension/canvas/CanvasPicture.h"

namespace {

using namespace canvastest;

struct Golden {
    const char* name;
    std::function<void(V&)> set;
};

const Golden kGoldens[] = {
    {"main", [](V&) {}},
    {"delays",
     [](V& m) {
         m.currentView = 1;
         m.valuePreDelayOn[2] = 1;
         m.valuePreDelayDivision[2] = 9;
         m.valuePostDelayFeedback[2] = 0.7;
     }},
    {"shifters",
     [](V& m) {
         m.currentView = 2;
         m.valueShifterOn[2] = 1;
         m.valueShifterMix[2] = 0.33;
         m.valueShifterMode[2] = 3;
     }},
    {"full_band",
     [](V& m) {
         m.isAllpass = true;
         m.currentMode = 0;
         m.valueHorizontal = 0.3;
         m.valueVertical = 0.7;
     }},
};

struct SurfaceFree {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};

// Opaque pixels of an ARGB32 picture (as the canvas is drawn over white).
int channel(const unsigned char* data, int stride, int x, int y, int shift) {
    const auto pixel = *reinterpret_cast<const uint32_t*>(data + y * stride + x * 4);
    return int((pixel >> shift) & 0xff);
}

class GoldenImages : public ::testing::TestWithParam<Golden> {};

// Regenerate with ORVO_REGENERATE_GOLDEN=1 after a deliberate change of the
// picture, and look at the new images before committing them.
TEST_P(GoldenImages, MatchTheReferencePicture) {
    V model;
    GetParam().set(model);
    const CGSize size{340, 300};
    const auto surface = picture(size, 1, [&](CGContext&) { model.draw({0, 0, size.width, size.height}); });
    const std::string path =
        (std::filesystem::path(ORVO_CANVAS_GOLDEN_DIR) / (std::string(GetParam().name) + ".png")).string();

    if (const char* regenerate = std::getenv("ORVO_REGENERATE_GOLDEN"); regenerate && *regenerate == '1') {
        std::filesystem::create_directories(ORVO_CANVAS_GOLDEN_DIR);
        ASSERT_TRUE(surface->writePNG(path));
        GTEST_SKIP() << "wrote " << path;
    }

    std::unique_ptr<cairo_surface_t, SurfaceFree> reference(
        cairo_image_surface_create_from_png(path.c_str()));
    ASSERT_EQ(cairo_surface_status(reference.get()), CAIRO_STATUS_SUCCESS) << path;
    ASSERT_EQ(cairo_image_surface_get_width(reference.get()), surface->pixelWidth());
    ASSERT_EQ(cairo_image_surface_get_height(reference.get()), surface->pixelHeight());
    cairo_surface_flush(reference.get());
    const unsigned char* data = cairo_image_surface_get_data(reference.get());
    const int stride = cairo_image_surface_get_stride(reference.get());

    // Small differences of antialiasing are expected between library
    // versions; a moved or missing element is not.
    double total = 0;
    int far = 0;
    for (int y = 0; y < surface->pixelHeight(); ++y)
        for (int x = 0; x < surface->pixelWidth(); ++x) {
            const ImageSurface::Pixel p = surface->pixel(x, y);
            const int d[3] = {std::abs(p.red - channel(data, stride, x, y, 16)),
                              std::abs(p.green - channel(data, stride, x, y, 8)),
                              std::abs(p.blue - channel(data, stride, x, y, 0))};
            total += d[0] + d[1] + d[2];
            if (std::max({d[0], d[1], d[2]}) > 64) ++far;
        }
    const double pixels = double(surface->pixelWidth()) * surface->pixelHeight();
    EXPECT_LT(total / (3 * pixels), 1.0) << "mean absolute difference per channel";
    EXPECT_LT(far / pixels, 0.002) << far << " pixels differ by more than 64";
}

INSTANTIATE_TEST_SUITE_P(States, GoldenImages, ::testing::ValuesIn(kGoldens),
                         [](const auto& test) { return std::string(test.param.name); });

} // namespace
