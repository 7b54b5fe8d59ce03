#include <cairo-pdf.h>
#include <cairo.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "bench/BenchSupport.h"
#include "platform/graphics/CGContext.h"
#include "platform/graphics/ImageSurface.h"
#include "platform/web/HTMLDocument.h"
#include "platform/web/WKWebView.h"

namespace {

// A PDF of `pages` letter pages, a box and a line on each, in the temporary folder.
std::string makePDF(int pages) {
    const std::string path = "/tmp/orvo-bench-" + std::to_string(::getpid()) + "-" + std::to_string(pages) + ".pdf";
    cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), 612, 792);
    cairo_t* cr = cairo_create(surface);
    for (int i = 0; i < pages; ++i) {
        cairo_rectangle(cr, 72, 72, 468, 100);
        cairo_move_to(cr, 72, 300);
        cairo_line_to(cr, 540, 300);
        cairo_stroke(cr);
        cairo_show_page(cr);
    }
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    return path;
}

}  // namespace

// One redraw of a 400 x 300 PDF view scrolled to the middle of a document of
// range(0) pages: what each frame of a scroll costs.
static void BM_PDFViewRedraw(benchmark::State& state) {
    const std::string path = makePDF(int(state.range(0)));
    auto view = std::make_shared<WKWebView>(CGRect(0, 0, 400, 300));
    view->load(URLRequest{URL::fileURLWithPath(path)});
    std::remove(path.c_str());
    view->setContentOffset(view->contentHeight() / 2);
    ImageSurface picture({400, 300});
    picture.draw([&](CGContext& context) {
        for (auto _ : state)
            view->render(context);
    });
}
BENCHMARK(BM_PDFViewRedraw)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

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
