#include <functional>

#include "Orvo_Halden_Extension/OrvoHaldenViewBase.h"
#include "bench/BenchSupport.h"
#include "platform/graphics/CGContext.h"
#include "platform/graphics/ImageSurface.h"

namespace {

using V = OrvoHaldenViewBase;

struct Widget {
    const char* name;
    CGSize size;
    std::function<void(V&)> draw;
};

const Widget kWidgets[] = {
    {"knob unipolar", V::kKnobSize, [](V& m) { m.drawSymbolKnobUni({}, V::ResizingBehavior::fit, "size", 0.3, false); }},
    {"knob bipolar", V::kKnobSize, [](V& m) { m.drawSymbolKnobBiDi({}, V::ResizingBehavior::fit, "pan", 0.7, true); }},
    {"mode button", V::kModeButtonSize, [](V& m) { m.drawSymbolModeButton({}, V::ResizingBehavior::fit, true, "delays"); }},
    {"slide", V::kSlideSize, [](V& m) { m.drawSymbolSlide({}, V::ResizingBehavior::fit, false, "1/8 T"); }},
    {"wide slide", V::kSlide2Size, [](V& m) { m.drawSymbolSlide2({}, V::ResizingBehavior::fit, false, "Hall"); }},
    {"split handle", V::kSplitSize, [](V& m) { m.drawSymbolSplit(); }},
};

}  // namespace

// One widget drawn at its design size into a picture of 1 or 2 pixels per point.
static void BM_DrawWidget(benchmark::State& state) {
    const Widget& widget = kWidgets[state.range(0)];
    const CGFloat scale = CGFloat(state.range(1));
    V model;
    ImageSurface surface(widget.size, scale);
    surface.draw([&](CGContext&) {
        for (auto _ : state)
            widget.draw(model);
    });
    state.SetLabel(std::string(widget.name) + (scale == 1 ? " 1x" : " 2x"));
}
BENCHMARK(BM_DrawWidget)
    ->ArgsProduct({benchmark::CreateDenseRange(0, std::size(kWidgets) - 1, 1), {1, 2}})
    ->Unit(benchmark::kMicrosecond);
