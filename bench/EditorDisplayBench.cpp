#include <benchmark/benchmark.h>

#include "Orvo_Halden_Extension/AudioUnitViewController.h"
#include "Orvo_Halden_Extension/ChromaticLinesView.h"
#include "Orvo_Halden_Extension/Orvo_Halden_Extension_AudioUnit.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/graphics/CGContext.h"
#include "platform/graphics/ImageSurface.h"
#include "platform/ui/UIWindow.h"

namespace {

// The editor in a window of its own size, its unit connected, drawn once.
struct ShownEditor {
    explicit ShownEditor(CGFloat scale) : picture({680, 600}, scale) {
        controller->createAudioUnit(Orvo_Halden_Extension_AudioUnit::kComponentDescription);
        window->addSubview(controller->view());
        DispatchQueue::main().drain();
        window->layoutIfNeeded();
        window->display(picture, true);
    }
    ~ShownEditor() {
        controller.reset();
        DispatchQueue::main().drain();
    }

    // What the desktop window does when something asked to be drawn.
    void displayPass() { window->display(picture, false); }

    std::shared_ptr<AudioUnitViewController> controller = AudioUnitViewController::make();
    std::shared_ptr<UIWindow> window = std::make_shared<UIWindow>(CGRect(0, 0, 680, 600));
    ImageSurface picture;
};

// One 0.04 s spectrum tick with nothing else changed: the spectrum asks to be
// drawn, the window shows the result.
void BM_SpectrumTick(benchmark::State& state) {
    ShownEditor editor(CGFloat(state.range(0)));
    for (auto _ : state) {
        editor.controller->spectroView->setNeedsDisplay();
        editor.displayPass();
        benchmark::DoNotOptimize(editor.picture.pixel(300, 300));
    }
}
BENCHMARK(BM_SpectrumTick)->ArgName("scale")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace
