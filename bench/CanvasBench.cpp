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

// A redraw while a knob turns: the knob shows a new value every frame (held,
// so drawn at twice its size), the rest of the canvas is as it was.
void BM_CanvasKnobTurn(benchmark::State& state) {
    ImageSurface surface({1360, 1200}, 1);
    OrvoHaldenViewBase model;
    model.isSizeActive = true;
    int frame = 0;
    for (auto _ : state) {
        model.valueSize[std::size_t(model.currentBand())] = (frame++ % 1000) / 1000.0;
        surface.fill(UIColor::white());
        surface.draw([&](CGContext&) { model.draw({0, 0, 1360, 1200}); });
        benchmark::DoNotOptimize(surface.pixel(340, 300));
    }
}
BENCHMARK(BM_CanvasKnobTurn)->Unit(benchmark::kMillisecond);

// A redraw where every knob looks new (the contrast moved): nothing kept helps.
void BM_CanvasRedrawCold(benchmark::State& state) {
    ImageSurface surface({1360, 1200}, 1);
    OrvoHaldenViewBase model;
    int frame = 0;
    for (auto _ : state) {
        const CGFloat c = 0.9 + (frame++ % 1000) / 10000.0;
        model.colorContrast = UIColor{c, c, c, 1};
        surface.fill(UIColor::white());
        surface.draw([&](CGContext&) { model.draw({0, 0, 1360, 1200}); });
        benchmark::DoNotOptimize(surface.pixel(340, 300));
    }
}
BENCHMARK(BM_CanvasRedrawCold)->Unit(benchmark::kMillisecond);

} // namespace
