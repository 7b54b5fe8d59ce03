#include <benchmark/benchmark.h>

#include "Orvo_Halden_Extension/OrvoHaldenViewBase.h"
#include "platform/graphics/CGContext.h"
#include "platform/graphics/ImageSurface.h"

namespace {

// One redraw of the editor as the view makes it: clear, draw the whole
// canvas into the bounds. The editor redraws on every touch and host change.
void BM_CanvasRedraw(benchmark::State& state) {
    const CGFloat width = CGFloat(state.range(0));
    const CGFloat height = CGFloat(state.range(1));
    ImageSurface surface({width, height}, 1);
    OrvoHaldenViewBase model;
    model.currentView = CGFloat(state.range(2));
    for (auto _ : state) {
        surface.fill(UIColor::white());
        surface.draw([&](CGContext&) { model.draw({0, 0, width, height}); });
        benchmark::DoNotOptimize(surface.pixel(340, 300));
    }
    state.counters["frames_per_s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_CanvasRedraw)
    ->ArgNames({"w", "h", "page"})
    ->Args({680, 600, 0})
    ->Args({1360, 1200, 0})
    ->Args({1360, 1200, 1})
    ->Args({1360, 1200, 2})
    ->Unit(benchmark::kMillisecond);

} // namespace
