#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <thread>
#include <vector>

#include "Orvo_Halden_Extension/ChromaticLinesView.h"
#include "tests/Orvo_Halden_Extension/editor/EditorFixture.h"
#include "tests/Orvo_Halden_Extension/TestHost.h"
#include "tests/support/PixelProbe.h"
#include "tests/support/Subnormals.h"

namespace {

using testkit::pixelNear;

constexpr CGSize kDesign{512, 128};

// A spectrum view wired to a unit through a stand-in controller.
struct Spectrum {
    explicit Spectrum(std::shared_ptr<Orvo_Halden_Extension_AudioUnit> unit,
                      CGRect frame = {0, 0, kDesign.width, kDesign.height})
        : view(std::make_shared<SpectroView>(frame)) {
        controller->unit = std::move(unit);
        view->setViewController(controller);
    }
    std::unique_ptr<ImageSurface> draw() {
        return testkit::renderOverWhite(view->bounds().size, 2, [&](CGContext&) { view->draw(view->bounds()); });
    }

    std::shared_ptr<editor::FakeController> controller = std::make_shared<editor::FakeController>();
    std::shared_ptr<SpectroView> view;
};

TEST(SpectroView, DrawsTheLatestFrameAgainUntilTheNextIsAnalysed) {
    // Two units fed alike hold the same sums: what the view shows of one is
    // what the other's own read gives, on every draw until new audio comes.
    testkit::TestHost a, b;
    const float* shownByB = b.unit->getMagnitudes();  // nothing summed yet: changes nothing
    for (auto* host : {&a, &b}) {
        host->allocate();
        for (int i = 0; i < 8; ++i)
            ASSERT_EQ(host->renderNext(), noErr);
    }
    const float* once = a.unit->getMagnitudes();
    const std::vector<float> expected(once, once + bandcount);
    ASSERT_TRUE(std::any_of(expected.begin(), expected.end(), [](float v) { return v > 0; }));

    Spectrum spectrum(b.unit);
    for (int draw = 0; draw < 3; ++draw) {
        SCOPED_TRACE(draw);
        spectrum.draw();
        EXPECT_EQ(std::vector<float>(shownByB, shownByB + bandcount), expected);
    }
    const float* again = a.unit->getMagnitudes();
    EXPECT_EQ(std::vector<float>(again, again + bandcount), expected);
}

TEST(SpectroView, DrawsWhileTheUnitRendersOnAnotherThread) {
    // The editor's getters run on the main thread against a live render thread.
    testkit::TestHost host;
    host.inputL = host.inputR = testkit::sine(440.0, 48000.0, 96 * testkit::kBlock, 0.5f);
    host.allocate();
    Spectrum spectrum(host.unit);
    std::atomic<bool> rendered{false};
    std::thread renderThread([&] {
        for (int i = 0; i < 96; ++i)
            EXPECT_EQ(host.renderNext(), noErr);
        rendered = true;
    });
    do {
        spectrum.draw();
        EXPECT_TRUE(testkit::allFinite(host.unit->getMagnitudesScaled(128, 0.5f), 128));
        EXPECT_GE(host.unit->getPeakInput(), 0.0f);
        EXPECT_EQ(host.unit->getChromaticFrequency(69), 440.0f);
    } while (!rendered);
    renderThread.join();
    spectrum.draw();
    const auto& levels = spectrum.view->baseClass().values();
    EXPECT_EQ(std::max_element(levels.begin(), levels.end()) - levels.begin(), 69);
    EXPECT_EQ(levels[69], 1.0);
}

TEST(SpectroView, EachLineHangsFromTheTopAsLongAsItsBandIsQuiet) {
    Spectrum spectrum(Orvo_Halden_Extension_AudioUnit::make(Orvo_Halden_Extension_AudioUnit::kComponentDescription));
    float* magnitudes = spectrum.controller->unit->getMagnitudes();  // never summed: stays as written
    struct Band {
        int index;
        float value;
    };
    const Band bands[] = {{0, 0.0f}, {5, 0.25f}, {64, 0.5f}, {100, 1.0f}, {127, 2.0f}, {30, -1.0f}};
    for (const Band& band : bands)
        magnitudes[band.index] = band.value;
    const auto picture = spectrum.draw();
    const auto line = testkit::overWhite({SpectroViewBase().colorEmphasize});
    const auto white = testkit::overWhite({});
    for (const Band& band : bands) {
        const CGFloat x = 4.0 * band.index + 0.25;
        const CGFloat end = 128 - std::clamp(band.value, 0.0f, 1.0f) * 128;
        if (end > 1) {
            EXPECT_TRUE(pixelNear(*picture, {x, end - 0.75}, line)) << band.index;
        }
        if (end < 127) {
            EXPECT_TRUE(pixelNear(*picture, {x, end + 0.75}, white)) << band.index;
        }
        EXPECT_TRUE(pixelNear(*picture, {x + 2, 0.25}, white)) << "between bands " << band.index;
    }
}

TEST(SpectroView, ALevelRisesAtOnceAndFallsOneHundredthPerDraw) {
    Spectrum spectrum(Orvo_Halden_Extension_AudioUnit::make(Orvo_Halden_Extension_AudioUnit::kComponentDescription));
    float* magnitudes = spectrum.controller->unit->getMagnitudes();
    magnitudes[10] = 1.0f;
    spectrum.draw();
    magnitudes[10] = 0.0f;
    const auto line = testkit::overWhite({SpectroViewBase().colorEmphasize});
    for (int k = 1; k <= 3; ++k) {
        const auto picture = spectrum.draw();
        const CGFloat end = 1.28 * k;  // 128 × (1 − (1 − 0.01 k))
        EXPECT_NEAR(spectrum.view->baseClass().values()[10], 1 - 0.01 * k, 1e-9);
        EXPECT_TRUE(pixelNear(*picture, {40.25, end - 0.5}, line)) << k;
        EXPECT_TRUE(pixelNear(*picture, {40.25, end + 0.5}, testkit::overWhite({}))) << k;
    }
    magnitudes[10] = 0.98f;
    spectrum.draw();
    EXPECT_EQ(spectrum.view->baseClass().values()[10], 0.98f);
}

TEST(SpectroView, WithoutAUnitNothingIsDrawnAndTheLevelsStay) {
    Spectrum spectrum(Orvo_Halden_Extension_AudioUnit::make(Orvo_Halden_Extension_AudioUnit::kComponentDescription));
    spectrum.controller->unit->getMagnitudes()[3] = 0.75f;
    spectrum.draw();
    spectrum.controller->unit.reset();
    const auto picture = spectrum.draw();
    EXPECT_EQ(spectrum.view->baseClass().values()[3], 0.75);
    EXPECT_TRUE(pixelNear(*picture, {12.25, 0.25}, testkit::overWhite({})));
}

TEST(SpectroView, ThePictureFitsTheViewAndCentres) {
    using Rule = SpectroViewBase::ResizingBehavior;
    const CGRect design{0, 0, 512, 128};
    struct Case {
        CGRect target;
        CGRect placed;
        CGSize scale;
    };
    const Case cases[] = {
        {{0, 0, 1024, 256}, {0, 0, 1024, 256}, {2, 2}},
        {{0, 0, 1024, 128}, {256, 0, 512, 128}, {1, 1}},
        {{0, 0, 512, 512}, {0, 192, 512, 128}, {1, 1}},
        {design, design, {7, 7}},          // leaves the scale alone
        {CGRect::zero(), design, {7, 7}},  // so does the zero rectangle
    };
    for (const Case& c : cases) {
        SpectroViewScale = {7, 7};
        EXPECT_EQ(Rule(Rule::fit).apply(design, c.target), c.placed);
        EXPECT_EQ(SpectroViewScale, c.scale);
    }
    EXPECT_FALSE(Rule::fromRawValue(4));
    EXPECT_EQ(Rule::fromRawValue(3)->rawValue(), Rule::center);
}

}  // namespace
