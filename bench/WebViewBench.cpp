#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <string>

#include "platform/graphics/CGContext.h"
#include "platform/graphics/ImageSurface.h"
#include "platform/web/HTMLDocument.h"

namespace {

std::string helpPage() {
    std::ifstream in(ORVO_HELP_PAGE);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Info shows the help page: filter, parse, lay out and draw it at the
// screen's width, as each appearance of the screen does.
void BM_HelpPageShown(benchmark::State& state) {
    const std::string page = helpPage();
    ImageSurface surface({760, 676}, 1);
    for (auto _ : state) {
        HTMLDocument document(page, std::nullopt, true);
        document.layout(760);
        surface.draw([&](CGContext& context) { document.draw(context, 0, {760, 676}); });
        benchmark::DoNotOptimize(surface.pixel(100, 100));
    }
}
BENCHMARK(BM_HelpPageShown)->Unit(benchmark::kMillisecond);

// A resize: lay the page out at a new width and draw it again.
void BM_HelpPageRelaidOut(benchmark::State& state) {
    HTMLDocument document(helpPage(), std::nullopt, true);
    ImageSurface surface({760, 676}, 1);
    CGFloat width = 760;
    for (auto _ : state) {
        width = width == 760 ? 700 : 760;
        document.layout(width);
        surface.draw([&](CGContext& context) { document.draw(context, 0, {width, 676}); });
        benchmark::DoNotOptimize(surface.pixel(100, 100));
    }
}
BENCHMARK(BM_HelpPageRelaidOut)->Unit(benchmark::kMillisecond);

}  // namespace
