#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "EditorFixture.h"
#include "Orvo_Halden_Extension/Orvo_Halden_Extension_AudioUnit.h"
#include "tests/support/StdoutCapture.h"

namespace {

// Seconds to run: ORVO_EDITOR_FUZZ_SECONDS, 3 unless set.
double fuzzSeconds() {
    const char* text = std::getenv("ORVO_EDITOR_FUZZ_SECONDS");
    const double seconds = text ? std::atof(text) : 3.0;
    return seconds > 0 ? seconds : 3.0;
}

// ORVO_EDITOR_FUZZ_SEED replays a run; otherwise each run takes a new seed
// from the clock, so the runs together cover more sequences.
std::uint32_t fuzzSeed() {
    if (const char* text = std::getenv("ORVO_EDITOR_FUZZ_SEED"))
        return std::uint32_t(std::strtoul(text, nullptr, 10));
    return std::uint32_t(std::chrono::system_clock::now().time_since_epoch().count());
}

class CheckingDelegate : public OrvoHaldenViewDelegate {
public:
    void onOrvoHaldenViewParameter(NSInteger address, float value) override {
        ++reports;
        if (address < 0 || address > 126 || !std::isfinite(value))
            ADD_FAILURE() << "report (" << address << ", " << value << ")";
    }
    void onOrvoHaldenViewOption(NSInteger, float) override { ADD_FAILURE() << "option sent"; }
    long reports = 0;
};

}  // namespace

// Random touch sequences (down, moves, up or cancel, several fingers at
// once) on editors of random sizes, between random redraws, resizes and
// parameter values from the host, bad ones included: nothing may crash and
// every value reported must be a finite value for a real address.
TEST(EditorFuzz, RandomTouchSequencesAtRandomSizes) {
    const std::uint32_t seed = fuzzSeed();
    std::printf("EditorFuzz: seed %u (ORVO_EDITOR_FUZZ_SEED=%u replays this run)\n", seed, seed);
    std::fflush(stdout);
    SCOPED_TRACE("ORVO_EDITOR_FUZZ_SEED=" + std::to_string(seed));
    std::mt19937 rng(seed);
    auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
    auto chance = [&](double p) { return uniform(0, 1) < p; };
    const float odd[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity(), 1e30f, -1e30f, -1, 0, 0.5f, 1, 2, 3, 19, 240};
    const auto unit = Orvo_Halden_Extension_AudioUnit::make(Orvo_Halden_Extension_AudioUnit::kComponentDescription);

    editor::Editor e(1, false);
    auto delegate = std::make_shared<CheckingDelegate>();
    e.view->setDelegate(delegate);
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(fuzzSeconds());
    long sequences = 0;
    while (std::chrono::steady_clock::now() < end) {
        testkit::StdoutCapture quiet;  // the hotspot names
        for (int batch = 0; batch < 200; ++batch, ++sequences) {
            if (chance(0.1)) {
                const double w = chance(0.1) ? 0 : uniform(1, 2000), h = chance(0.1) ? 0 : uniform(1, 2000);
                e.view->setFrame({0, 0, w, h});
                e.view->setTransform(chance(0.1) ? CGAffineTransform::makeScale(0, 0)
                                                 : CGAffineTransform::makeScale(uniform(0.25, 2), uniform(0.25, 2)));
                e.view->setCenter({w / 2, h / 2});
            }
            if (chance(0.5)) {
                e.model().currentView = std::floor(uniform(0, 3.5));
                e.model().isAllpass = chance(0.3);
                e.view->setNeedsDisplay();
                e.view->displayIfNeeded();
            }
            e.controller->unit = chance(0.5) ? unit : nullptr;
            for (int i = 0; i < 3; ++i)
                e.view->setParameter(static_cast<NSInteger>(uniform(-2, 130)),
                                     chance(0.5) ? odd[rng() % std::size(odd)] : float(uniform(-2, 3)));
            // Mostly on the editor, sometimes far beside it.
            const CGRect frame = e.view->frame();
            auto point = [&] {
                if (chance(0.1))
                    return CGPoint{uniform(-100, 2100), uniform(-100, 2100)};
                return CGPoint{uniform(frame.minX() - 20, frame.maxX() + 20),
                               uniform(frame.minY() - 20, frame.maxY() + 20)};
            };
            auto touches = e.window->touchesDown(chance(0.2) ? std::vector<CGPoint>{point(), point(), point()}
                                                            : std::vector<CGPoint>{point()});
            for (int m = static_cast<int>(uniform(0, 8)); m > 0; --m)
                e.window->touchMove(touches[rng() % touches.size()], point());
            if (chance(0.2))
                e.window->touchesCancel();
            else
                for (const auto& t : touches)
                    e.window->touchUp(t, point());
        }
    }
    EXPECT_GT(delegate->reports, 0);
    RecordProperty("sequences", std::to_string(sequences));
    std::printf("%ld touch sequences, %ld reports\n", sequences, delegate->reports);
}
