#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <cairo-pdf.h>
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/ChildSession.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/Sanitizers.h"
#include "platform/ui/UIWindow.h"
#include "platform/web/PDFPageStack.h"
#include "platform/web/HTMLDocument.h"
#include "platform/web/WKWebView.h"
#include "tests/support/HandMadePDF.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FileOpens.h"
#include "tests/support/HostilePages.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/MainQueue.h"
#include "tests/support/OpenedURLs.h"
#include "tests/support/PixelProbe.h"
#include "tests/support/StdoutCapture.h"
#include "tests/support/TempFolder.h"

namespace {

using Action = WKNavigationActionPolicy;
using Response = WKNavigationResponsePolicy;

const std::string kResources = ORVO_TEST_RESOURCES;
const URL kManual = URL::fileURLWithPath(kResources + "/manual.pdf");
const URL kHelp = URL::fileURLWithPath(kResources + "/help.html");

std::string text(const std::optional<URL>& url) { return url ? url->absoluteString() : "(none)"; }

std::string contents(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Answers as told (once, never, twice or when the test says) and writes down
// everything it is asked.
class Navigator : public WKNavigationDelegate, public WKUIDelegate {
public:
    enum class Answer { once, never, twice, later };

    Action action = Action::allow;
    Response response = Response::allow;
    Answer answer = Answer::once;
    std::shared_ptr<WKWebView> offeredWindow;
    std::vector<std::string> asked;
    std::vector<ActionDecision> heldActions;
    std::vector<ResponseDecision> heldResponses;

    void webView(WKWebView&, const WKNavigationAction& a, ActionDecision decide) override {
        asked.push_back("action " + text(a.request.url));
        reply(decide, action, heldActions);
    }
    void webView(WKWebView&, const WKNavigationResponse& r, ResponseDecision decide) override {
        asked.push_back("response " + text(r.response.url) + " " + r.response.mimeType);
        reply(decide, response, heldResponses);
    }
    void didFinishNavigation(WKWebView&) override { asked.push_back("finish"); }
    void didFailNavigation(WKWebView&, const NSError&) override { asked.push_back("fail"); }
    std::shared_ptr<WKWebView> webView(WKWebView&, const WKWebViewConfiguration&, const WKNavigationAction& a,
                                       const WKWindowFeatures&) override {
        asked.push_back("window " + text(a.request.url));
        return offeredWindow;
    }

private:
    template <class Decision, class Policy>
    void reply(Decision& decide, Policy policy, std::vector<Decision>& held) {
        switch (answer) {
        case Answer::once: decide(policy); break;
        case Answer::twice: decide(policy); decide(policy); break;
        case Answer::never: break;
        case Answer::later: held.push_back(decide); break;
        }
    }
};

struct Page {
    CGSize size;
    std::shared_ptr<UIWindow> window;
    std::shared_ptr<WKWebView> view;
    std::shared_ptr<Navigator> navigator = std::make_shared<Navigator>();
    testkit::OpenedURLs opened;

    explicit Page(CGSize viewSize = {400, 300})
        : size(viewSize),
          window(std::make_shared<UIWindow>(CGRect(0, 0, size.width, size.height))),
          view(std::make_shared<WKWebView>(CGRect(0, 0, size.width, size.height))) {
        window->addSubview(view);
        view->setNavigationDelegate(navigator);
        view->setUIDelegate(navigator);
    }
    std::unique_ptr<ImageSurface> picture() {
        return testkit::renderOverWhite(size, 1, [this](CGContext& c) { view->render(c); });
    }
    // Draws the view until what it shows is all there: the page, its
    // pictures and its picture of the area in view.
    std::unique_ptr<ImageSurface> settled() {
        std::unique_ptr<ImageSurface> drawn;
        EXPECT_TRUE(testkit::drainMainQueueUntil([&] {
            drawn = picture();
            return !view->isLoading();
        }));
        return drawn;
    }
    // A tap, and whatever it sets off, answered.
    void tap(CGPoint point) {
        window->touchUp(window->touchDown(point));
        EXPECT_TRUE(testkit::drainMainQueueUntil([&] { return !view->isLoading(); }));
    }
};

// The most this process has held in memory so far, in bytes: its own, not
// that of whatever started it.
std::size_t peakMemory() {
    const std::optional<std::size_t> peak = ProcessInfo::processInfo().peakResidentBytes();
    EXPECT_TRUE(peak) << "this process's peak cannot be read";
    return peak.value_or(0);
}

// This process took at most `most` more since it had held `before` at most.
// A sanitizer keeps what is freed a while, so its builds are not measured.
// A reading a few pages below the one before is no growth.
void expectGrowthBelow(std::size_t before, std::size_t most) {
    if constexpr (!kSanitizedBuild) {
        EXPECT_LT(std::max(peakMemory(), before) - before, most);
    }
}

// A PDF of `pages` blank pages of `size`, the last with a filled box that
// links to `uri`.
void writePDF(const std::string& path, CGSize size, int pages, CGRect box, const std::string& uri) {
    cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), size.width, size.height);
    cairo_t* cr = cairo_create(surface);
    for (int i = 1; i < pages; ++i)
        cairo_show_page(cr);
    const std::string link = "rect=[" + std::to_string(box.minX()) + " " + std::to_string(box.minY()) + " " +
                             std::to_string(box.width()) + " " + std::to_string(box.height()) + "] uri='" + uri + "'";
    cairo_tag_begin(cr, CAIRO_TAG_LINK, link.c_str());
    cairo_rectangle(cr, box.minX(), box.minY(), box.width(), box.height());
    cairo_fill(cr);
    cairo_tag_end(cr, CAIRO_TAG_LINK);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}

// A PDF of one page 200 points square covered by one black picture of `side`
// x `side` pixels, a bit each and run-length coded: a few hundred KB on disk
// for a picture that takes 4 bytes a pixel once decoded to be drawn.
void writeHugePicturePDF(const std::string& path, int side) {
    const std::size_t bytes = std::size_t((side + 7) / 8) * std::size_t(side);
    std::string picture;
    for (std::size_t left = bytes; left > 0;) {
        const std::size_t run = std::min<std::size_t>(left, 128);
        picture += char(run == 1 ? 0 : 257 - run);  // `run` copies of the next byte (one: a literal byte)
        picture += char(0);
        left -= run;
    }
    picture += char(128);  // the end
    const std::string content = "q 200 0 0 200 0 0 cm /Picture Do Q";
    const std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R"
        " /Resources << /XObject << /Picture 5 0 R >> >> >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
        "<< /Type /XObject /Subtype /Image /Width " + std::to_string(side) + " /Height " + std::to_string(side) +
            " /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /RunLengthDecode /Length " +
            std::to_string(picture.size()) + " >>\nstream\n" + picture + "\nendstream",
    };
    const std::string pdf = testkit::handMadePDF(objects);
    std::ofstream(path, std::ios::binary) << pdf;
}

// Draws the view until the PDF it shows is open and the pages in view have
// arrived from its renderer; answers the last picture.
std::unique_ptr<ImageSurface> drawnPDF(Page& page) {
    std::unique_ptr<ImageSurface> picture;
    const bool drawn = testkit::drainMainQueueUntil([&] {
        picture = page.picture();
        const PDFPageStack* pages = page.view->pdfPages();
        if (!pages || pages->state() != PDFPageStack::State::open)
            return false;
        for (int i = 0; i < pages->pageCount(); ++i)
            if (pages->isPending(i))
                return false;
        return true;
    });
    EXPECT_TRUE(drawn);
    return picture;
}

// The pages of the PDF file as its own renderer counts them; -1 when it cannot open it.
int PDFPages(const URL& file) {
    PDFPageStack pages(file.path(), {});
    testkit::drainMainQueueUntil([&] { return pages.state() != PDFPageStack::State::opening; });
    return pages.state() == PDFPageStack::State::open ? pages.pageCount() : -1;
}

int darkPixels(const ImageSurface& picture) {
    int dark = 0;
    for (int y = 0; y < picture.pixelHeight(); ++y)
        for (int x = 0; x < picture.pixelWidth(); ++x)
            dark += picture.pixel(x, y).red < 100;
    return dark;
}

int redPixels(const ImageSurface& picture) {
    int red = 0;
    for (int y = 0; y < picture.pixelHeight(); ++y)
        for (int x = 0; x < picture.pixelWidth(); ++x) {
            const auto p = picture.pixel(x, y);
            red += p.red > 200 && p.green < 60 && p.blue < 60;
        }
    return red;
}

// A PNG of one red rectangle, written beside the test and returned as bytes.
std::string redPNG(const testkit::TempFolder& folder, const std::string& name, CGSize size) {
    ImageSurface red(size);
    red.fill({1, 0, 0, 1});
    const std::string path = (folder / name).string();
    return red.writePNG(path) ? contents(path) : "";
}

}  // namespace

TEST(WebView, ALoadGoesOnOnlyWhenTheRequestAndThenTheResponseAreAllowed) {
    const std::string manual = kManual.absoluteString(), help = kHelp.absoluteString();
    testkit::TempFolder folder;
    const URL pipe = URL::fileURLWithPath((folder / "pipe.pdf").string());
    ASSERT_EQ(::mkfifo(pipe.path().c_str(), 0600), 0);
    enum class Shown { nothing, pdf, html, message };
    struct Case {
        const char* name;
        std::optional<URL> url;
        Action action;
        Response response;
        std::vector<std::string> asked;
        Shown shown;
    };
    const std::vector<Case> cases = {
        {"manual", kManual, Action::allow, Response::allow,
         {"action " + manual, "response " + manual + " application/pdf", "finish"}, Shown::pdf},
        {"request refused", kManual, Action::cancel, Response::allow, {"action " + manual}, Shown::nothing},
        {"response refused", kManual, Action::allow, Response::cancel,
         {"action " + manual, "response " + manual + " application/pdf"}, Shown::nothing},
        {"html page", kHelp, Action::allow, Response::allow,
         {"action " + help, "response " + help + " text/html", "finish"}, Shown::html},
        {"missing file", URL::fileURLWithPath(kResources + "/missing.pdf"), Action::allow, Response::allow,
         {"action " + URL::fileURLWithPath(kResources + "/missing.pdf").absoluteString(), "fail"}, Shown::message},
        {"pipe, never opened", pipe, Action::allow, Response::allow, {"action " + pipe.absoluteString(), "fail"},
         Shown::message},
        {"no URL", std::nullopt, Action::allow, Response::allow, {"action (none)", "fail"}, Shown::message},
        {"other scheme", URL::string("ftp://example.com/a.pdf"), Action::allow, Response::allow,
         {"action ftp://example.com/a.pdf", "fail"}, Shown::message},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Page page;
        page.navigator->action = c.action;
        page.navigator->response = c.response;
        page.view->load(URLRequest{c.url});
        // A PDF finishes once it is open.
        testkit::drainMainQueueUntil([&] { return page.navigator->asked.size() >= c.asked.size(); });
        EXPECT_EQ(page.navigator->asked, c.asked);
        EXPECT_EQ(page.view->isShowingPDF(), c.shown == Shown::pdf);
        EXPECT_EQ(page.view->isShowingHTML(), c.shown == Shown::html || c.shown == Shown::message);
        EXPECT_EQ(page.view->title(), c.shown == Shown::message ? "Cannot show the page"
                                      : c.shown == Shown::html  ? "Orvo Halden - Help"
                                                                : "");
        EXPECT_EQ(page.view->url().has_value(), c.shown == Shown::pdf || c.shown == Shown::html);
        EXPECT_TRUE(page.opened.urls.empty());
    }
}

TEST(WebView, EveryDecisionCountsOnceADroppedOneCancelsAndALateOneStillApplies) {
    {
        Page page;
        page.navigator->answer = Navigator::Answer::never;
        testkit::StdoutCapture capture;
        page.view->load(URLRequest{kManual});
        const std::string log = capture.finish();
        EXPECT_NE(log.find("WKWebView: the action decision was never answered; the navigation is cancelled."),
                  std::string::npos);
        EXPECT_FALSE(page.view->isShowingPDF());
    }
    {
        Page page;
        page.navigator->answer = Navigator::Answer::twice;
        testkit::StdoutCapture capture;
        page.view->load(URLRequest{kManual});
        const std::vector<std::string> lines = capture.lines();
        capture.finish();
        const auto& asked = page.navigator->asked;
        const auto finished = [&] { return std::count(asked.begin(), asked.end(), "finish"); };
        EXPECT_TRUE(testkit::drainMainQueueUntil([&] { return finished() > 0; }));
        EXPECT_EQ(finished(), 1);
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [](const std::string& l) { return l.find("answered twice") != std::string::npos; }),
                  2);
    }
    {
        Page page;
        page.navigator->answer = Navigator::Answer::later;
        page.view->load(URLRequest{kManual});
        ASSERT_EQ(page.navigator->heldActions.size(), 1u);
        page.navigator->heldActions[0](Action::allow);
        ASSERT_EQ(page.navigator->heldResponses.size(), 1u);
        EXPECT_FALSE(page.view->isShowingPDF());
        page.navigator->heldResponses[0](Response::allow);
        EXPECT_TRUE(page.view->isShowingPDF());
        // A later load takes the place of one still waiting for its answer.
        page.view->load(URLRequest{kHelp});
        page.view->load(URLRequest{kManual});
        page.navigator->heldActions[1](Action::allow);
        EXPECT_EQ(page.navigator->heldResponses.size(), 1u);
        // An answer after the view has gone is dropped quietly.
        WKNavigationDelegate::ActionDecision late = page.navigator->heldActions[2];
        page.window.reset();
        page.view.reset();
        late(Action::allow);
        EXPECT_TRUE(page.opened.urls.empty());
    }
}

TEST(WebView, ANewWindowIsNeverOpenedAndThePageStays) {
    Page page;
    page.view->load(URLRequest{kManual});
    page.navigator->asked.clear();
    page.navigator->offeredWindow = std::make_shared<WKWebView>();
    page.view->followLink(URLRequest{URL::string("https://example.com/new")}, true);
    EXPECT_EQ(page.navigator->asked, std::vector<std::string>{"window https://example.com/new"});
    EXPECT_TRUE(page.view->isShowingPDF());
    EXPECT_EQ(page.view->url(), kManual);
    EXPECT_TRUE(page.opened.urls.empty());
}

TEST(WebView, ThePDFIsDrawnAtTheViewsWidthAndScrollsByDragAndWheelWithinItsPages) {
    Page page;
    page.view->load(URLRequest{kManual});
    ASSERT_TRUE(page.view->isShowingPDF());
    const auto top = drawnPDF(page);
    EXPECT_GE(page.view->pageCount(), 2);
    EXPECT_GT(page.view->contentHeight(), 2 * 300);
    EXPECT_GT(darkPixels(*top), 500);  // the title and the first lines
    // The grey around the page, white on it.
    EXPECT_TRUE(testkit::pixelNear(*top, {4, 150}, testkit::overWhite({{0.82, 0.82, 0.84, 1}})));
    EXPECT_TRUE(testkit::pixelNear(*top, {380, 20}, testkit::overWhite({UIColor::white()})));

    auto finger = page.window->touchDown({200, 250});
    page.window->touchMove(finger, {200, 200});
    page.window->touchUp(finger, {200, 150});
    EXPECT_DOUBLE_EQ(page.view->contentOffset(), 100);
    EXPECT_GT(testkit::differingPixels(*top, *page.picture()), 1000);

    EXPECT_TRUE(page.view->scrollWheel({200, 150}, -2));  // towards the user: further down
    EXPECT_DOUBLE_EQ(page.view->contentOffset(), 196);
    page.view->scrollWheel({200, 150}, 100);
    EXPECT_DOUBLE_EQ(page.view->contentOffset(), 0);
    page.view->setContentOffset(1e9);
    EXPECT_DOUBLE_EQ(page.view->contentOffset(), page.view->contentHeight() - 300);
    page.view->setContentOffset(std::nan(""));
    EXPECT_DOUBLE_EQ(page.view->contentOffset(), page.view->contentHeight() - 300);

    Page empty;
    EXPECT_FALSE(empty.view->scrollWheel({200, 150}, -2));  // nothing to scroll: the wheel pinches
}

TEST(WebView, ATapOnALinkOfThePDFFollowsItOverTheNetwork) {
    testkit::LoopbackServer server({{"/page.pdf", {200, "application/pdf", contents(kManual.path())}}});
    testkit::TempFolder folder;
    const std::string path = (folder / "links.pdf").string();
    writePDF(path, {400, 300}, 1, {100, 100, 200, 50}, server.url("/page.pdf"));

    Page page;
    page.view->load(URLRequest{URL::fileURLWithPath(path)});
    ASSERT_TRUE(page.view->isShowingPDF());
    drawnPDF(page);  // a page's links come with its picture
    page.navigator->asked.clear();
    const CGFloat scale = (400 - 24) / 400.0;  // the page at the view's width, inside its margins
    page.window->touchUp(page.window->touchDown({12 + 50 * scale, 12 + 50 * scale}));  // beside the link
    EXPECT_TRUE(page.navigator->asked.empty());
    page.window->touchUp(page.window->touchDown({12 + 200 * scale, 12 + 125 * scale}));
    ASSERT_TRUE(testkit::drainMainQueueUntil([&] { return page.navigator->asked.size() >= 3; }));
    EXPECT_EQ(page.navigator->asked, (std::vector<std::string>{"action " + server.url("/page.pdf"),
                                                               "response " + server.url("/page.pdf") + " application/pdf",
                                                               "finish"}));
    EXPECT_TRUE(page.view->isShowingPDF());
    EXPECT_EQ(page.view->pageCount(), PDFPages(kManual));
    EXPECT_TRUE(page.opened.urls.empty());
}

// Documents that a naive view makes slow or greedy: a draw asks only for the
// pages that show, a page drawn before comes from the cache, the cache keeps
// to its budget (a page too large for it is drawn at fewer pixels), and a tap
// finds its page however far down it lies.
TEST(WebView, LongTallOrOddlyShapedPDFsDrawOnlyWhatShowsWithinTheCacheBudget) {
    struct Case {
        const char* name;
        int pages;
        CGSize size;
        std::uint64_t firstDraw;  // pages rendered
    } cases[] = {
        {"ten thousand pages", 10000, {400, 200}, 2},
        {"tall pages beyond the budget", 24, {400, 4000}, 1},
        {"a sliver too tall to keep at its width", 2, {1, 14000}, 1},
    };
    testkit::TempFolder folder;
    for (const auto& c : cases) {
        const std::string path = (folder / (std::string(c.name) + ".pdf")).string();
        // The link over the lower half of the last page.
        const CGFloat half = c.size.height / 2;
        writePDF(path, c.size, c.pages, {0, half, c.size.width, half}, "https://example.com/last");

        Page page;
        page.view->load(URLRequest{URL::fileURLWithPath(path)});
        page.navigator->action = Action::cancel;  // asked, never fetched
        ASSERT_TRUE(page.view->isShowingPDF()) << c.name;
        drawnPDF(page);
        ASSERT_EQ(page.view->pageCount(), c.pages);
        const PDFPageStack& pages = *page.view->pdfPages();
        EXPECT_EQ(pages.pagesRendered(), c.firstDraw) << c.name;
        drawnPDF(page);
        EXPECT_EQ(pages.pagesRendered(), c.firstDraw) << c.name;
        // Down through the whole of a short document, a page at a time.
        for (int i = 0; c.pages < 100 && i < 2 * c.pages; ++i) {
            page.view->setContentOffset(page.view->contentHeight() * i / (2 * c.pages));
            drawnPDF(page);
            EXPECT_LE(pages.cachedBytes(), PDFPageStack::kCacheBytes) << c.name;
        }
        page.view->setContentOffset(1e12);
        drawnPDF(page);
        page.window->touchUp(page.window->touchDown({200, 280}));
        EXPECT_EQ(page.navigator->asked.back(), "action https://example.com/last") << c.name;
    }
}

TEST(WebView, AnHTMLTextIsDrawnInTheViewWithItsPicturesAndLinksResolvedAgainstItsBase) {
    testkit::TempFolder folder;
    ImageSurface red({8, 8});
    red.fill({1, 0, 0, 1});
    ASSERT_TRUE(red.writePNG((folder / "red.png").string()));
    std::filesystem::copy_file(kManual.path(), folder / "manual.pdf");
    const URL base = URL::fileURLWithPath((folder / "page.html").string());  // need not exist
    Page page;
    page.view->loadHTMLString("<html><head><title>Links</title></head><body style='margin:0'>"
                              "<a href='manual.pdf' style='display:block;height:60px'>The manual</a>"
                              "<img src='red.png' width='40' height='40'></body></html>",
                              base);
    ASSERT_TRUE(testkit::drainMainQueueUntil([&] { return page.view->title() == "Links"; }));
    EXPECT_EQ(page.view->url(), base);
    // The picture comes through the session: drawn once it is there.
    ASSERT_TRUE(testkit::drainMainQueueUntil(
        [&] { return testkit::pixelNear(*page.picture(), {20, 80}, testkit::overWhite({UIColor{1, 0, 0, 1}})); }));
    EXPECT_GT(darkPixels(*page.picture()), 20);  // the link's text
    EXPECT_FALSE(std::filesystem::exists(folder / "page.html"));  // no copy of the text anywhere

    page.navigator->asked.clear();
    page.tap({200, 150});  // below everything
    EXPECT_TRUE(page.navigator->asked.empty());
    page.tap({30, 30});
    const std::string manual = URL::fileURLWithPath((folder / "manual.pdf").string()).absoluteString();
    EXPECT_TRUE(testkit::drainMainQueueUntil([&] { return page.navigator->asked.size() >= 3; }));
    EXPECT_EQ(page.navigator->asked,
              (std::vector<std::string>{"action " + manual, "response " + manual + " application/pdf", "finish"}));
    EXPECT_TRUE(page.view->isShowingPDF());
}

TEST(WebView, ALongHTMLPageScrollsLikeThePDF) {
    std::string html = "<body>";
    for (int i = 0; i < 100; ++i)
        html += "<p>Paragraph " + std::to_string(i) + "</p>";
    Page page;
    page.view->loadHTMLString(html + "</body>", std::nullopt);
    ASSERT_TRUE(testkit::drainMainQueueUntil([&] { return !page.view->isLoading(); }));
    ASSERT_TRUE(page.view->isShowingHTML());
    EXPECT_GT(page.view->contentHeight(), 10 * 300);
    const auto top = page.picture();
    EXPECT_TRUE(page.view->scrollWheel({200, 150}, -2));
    EXPECT_DOUBLE_EQ(page.view->contentOffset(), 96);
    EXPECT_GT(testkit::differingPixels(*top, *page.picture()), 100);
    page.view->setContentOffset(1e9);
    EXPECT_DOUBLE_EQ(page.view->contentOffset(), page.view->contentHeight() - 300);
}

TEST(WebView, AServerThatIsDownOrSendsNoPageGivesAMessageInThePage) {
    testkit::LoopbackServer server({{"/files.zip", {200, "application/zip", "PK\x03\x04"}},
                                    {"/broken.pdf", {200, "application/pdf", "%PDF-1.4 not really"}}});
    struct Case {
        std::string address;
        bool stopFirst;
        std::string says;  // in the log line
    };
    const Case cases[] = {
        {server.url("/files.zip"), false, "content of the type application/zip cannot be shown"},
        {server.url("/broken.pdf"), false, "could not show " + server.url("/broken.pdf")},
        {server.url("/"), true, "Could not load " + server.url("/")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        if (c.stopFirst)
            server.stop();
        Page page;
        testkit::StdoutCapture capture;
        page.view->load(URLRequest{URL::string(c.address), 5});
        EXPECT_TRUE(testkit::drainMainQueueUntil([&] {
            return !page.navigator->asked.empty() && page.navigator->asked.back() == "fail";
        }));
        EXPECT_NE(capture.finish().find(c.says), std::string::npos);
        EXPECT_EQ(page.view->title(), "Cannot show the page");
        EXPECT_GT(darkPixels(*page.picture()), 200);  // the message
    }
}

// A page whose work needs more memory or processor time than a page may
// take, wherever the engine spends it, shows the message that says so, as a
// page that cannot be loaded does, and wants none of its pictures; a page
// with a style sheet of a common framework's size is shown. A page past two
// limits meets either first, as busy the machine is: any refusal will do.
TEST(WebView, APageOverItsBudgetShowsAMessageInItsPlace) {
    std::string reopened = "<!--><p>";
    for (int i = 0; i < 3000; ++i)
        reopened += "<b id=b" + std::to_string(i) + ">";
    reopened += "</p>";
    for (int i = 0; i < 3000; ++i)
        reopened += "<p>x</p>";
    const struct Case {
        std::string name, html, budget;  // empty: any
        bool shown = false;
    } cases[] = {
        {"reopened", reopened, "parser"},
        {"content before", testkit::contentBefore(5000, 10000), ""},  // memory and processor time
        {"floats", testkit::floats(9000), "processor time"},
        {"structural siblings", testkit::structuralSiblings(), "processor time"},
        {"framework", testkit::framework("framework"), "", true},
        {"combinators 2500", testkit::combinators("combinators 2500", 2500, 800), "", true},
        {"combinators 4000", testkit::combinators("combinators 4000", 4000, 1200), "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Page page;
        const std::size_t memory = peakMemory();
        testkit::StdoutCapture capture;
        page.view->loadHTMLString(c.html, URL::string("http://127.0.0.1/big.html"));
        const auto picture = page.settled();
        const std::string log = capture.finish();
        EXPECT_EQ(page.navigator->asked.back(), "finish");
        // The page's work, whatever it costs, is its renderer's.
        expectGrowthBelow(memory, std::size_t(100) << 20);
        if (c.shown) {
            EXPECT_EQ(page.view->title(), c.name);
            EXPECT_EQ(log.find("is not shown"), std::string::npos) << log;
            EXPECT_GT(darkPixels(*picture), 200);
            continue;
        }
        EXPECT_NE(log.find("the page http://127.0.0.1/big.html is not shown: it needs more " + c.budget),
                  std::string::npos) << log;
        EXPECT_EQ(page.view->title(), "Cannot show the page");
        EXPECT_GT(darkPixels(*picture), 200);  // the message
    }
}

// A page fills a view of any size up to a large display's, at any scale:
// its renderer draws it in strips within its limits and the channel's.
TEST(WebView, APageFillsALargeViewAtAnyScale) {
    const struct Case {
        CGSize size;
        CGFloat scale;
    } cases[] = {{{5120, 2880}, 1}, {{3840, 2160}, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size.width);
        Page page(c.size);
        // A blue band across the page just above the view's bottom.
        const CGFloat band = c.size.height - 120;
        page.view->loadHTMLString("<title>Large</title><body style='margin:0'><div style='height:" +
                                      std::to_string(int(band)) +
                                      "px'></div><div style='height:80px;background:#0000ff'></div>",
                                  URL::string("http://127.0.0.1/large.html"));
        // A draw asks for the strips it lacks, which come one after the other
        // unasked: the view is drawn again once they are all there.
        std::unique_ptr<ImageSurface> picture;
        const auto drawnWhole = [&] {
            picture = testkit::renderOverWhite(c.size, c.scale, [&](CGContext& context) { page.view->render(context); });
            return !page.view->isLoading();
        };
        for (int draws = 0; draws < 4 && !drawnWhole(); ++draws)
            ASSERT_TRUE(testkit::drainMainQueueUntil([&] { return !page.view->isLoading(); }));
        EXPECT_FALSE(page.view->isLoading());
        EXPECT_EQ(page.view->title(), "Large");
        EXPECT_EQ(page.navigator->asked.back(), "finish");
        const auto blue = testkit::overWhite({UIColor{0, 0, 1, 1}}), white = testkit::overWhite({UIColor::white()});
        for (const CGFloat x : {CGFloat(2), c.size.width / 2, c.size.width - 2}) {
            EXPECT_TRUE(testkit::pixelNear(*picture, {x, band + 40}, blue)) << x;
            EXPECT_TRUE(testkit::pixelNear(*picture, {x, band - 40}, white)) << x;
        }
    }
}

// A page drawn in strips is the page drawn whole, pixel for pixel, at any
// scale and at offsets of whole pixels: strips whose tops are no whole point
// (at 1.5 pixels to the point) meet the ones above them with nothing moved.
TEST(WebView, APageInStripsIsThePageDrawnWhole) {
    std::string html = "<title>Whole</title><body style='margin:0'>";
    for (int i = 0; i < 60; ++i)
        html += "<p style='margin:0;padding:3px;background:#" + std::string(i % 2 ? "ffe0c0" : "c0e0ff") +
                "'>Paragraph " + std::to_string(i) + ": the quick brown fox jumps over the lazy dog, and again.</p>";
    HTMLDocument whole(html, std::nullopt, true);
    const CGSize size{500, 800};
    whole.layout(size.width);
    for (const CGFloat scale : {CGFloat(1), CGFloat(1.5), CGFloat(2)}) {
        for (const CGFloat offset : {CGFloat(0), CGFloat(302)}) {
            SCOPED_TRACE(std::to_string(scale) + " from " + std::to_string(offset));
            Page page(size);
            page.view->loadHTMLString(html, URL::string("http://127.0.0.1/whole.html"));
            std::unique_ptr<ImageSurface> drawn;
            ASSERT_TRUE(testkit::drainMainQueueUntil([&] {
                page.view->setContentOffset(offset);
                drawn = testkit::renderOverWhite(size, scale, [&](CGContext& c) { page.view->render(c); });
                return !page.view->isLoading() && page.view->contentOffset() == offset;
            }));
            const auto expected =
                testkit::renderOverWhite(size, scale, [&](CGContext& c) { whole.draw(c, offset, size); });
            int differing = 0, firstRow = -1;
            for (int y = 0; y < expected->pixelHeight(); ++y)
                for (int x = 0; x < expected->pixelWidth(); ++x)
                    if (!(expected->pixel(x, y) == drawn->pixel(x, y)) && differing++ == 0)
                        firstRow = y;
            EXPECT_EQ(differing, 0) << "from row " << firstRow;
        }
    }
}

// A page whose renderer ends after its navigation finished (killed here, or
// out of memory as it scrolls) is replaced by the message, and fails no
// navigation: the delegate heard that one finish.
TEST(WebView, APageWhoseRendererEndsAfterItsNavigationFinishedFailsNoNavigation) {
    Page page;
    page.view->loadHTMLString("<title>Short-lived</title><p>Here</p>", URL::string("http://127.0.0.1/short.html"));
    page.settled();
    ASSERT_EQ(page.navigator->asked.back(), "finish");
    int killed = 0;
    for (const pid_t child : testkit::childProcesses())
        if (contents("/proc/" + std::to_string(child) + "/comm") == "orvo-page-rende\n")
            killed += ::kill(child, SIGKILL) == 0;
    ASSERT_EQ(killed, 1);
    ASSERT_TRUE(testkit::drainMainQueueUntil([&] { return page.view->title() == "Cannot show the page"; }));
    EXPECT_EQ(std::count(page.navigator->asked.begin(), page.navigator->asked.end(), "fail"), 0);
    EXPECT_EQ(page.navigator->asked.back(), "finish");
}

// A picture too large to hand to the page's renderer in one request is left
// out, as one that cannot be decoded is: the page stays as it is.
TEST(WebView, APictureTooLargeForARequestIsLeftOutOfThePage) {
    testkit::TempFolder folder;
    std::ofstream(folder / "big.png").close();
    std::filesystem::resize_file(folder / "big.png", ChildSession::kLargestFrame + 1);
    std::ofstream(folder / "page.html") << "<title>Big picture</title><img src='big.png' width=10 height=10><p>Text</p>";
    Page page;
    page.view->load(URLRequest{URL::fileURLWithPath((folder / "page.html").string())});
    page.settled();
    EXPECT_EQ(page.view->title(), "Big picture");
    EXPECT_EQ(page.navigator->asked.back(), "finish");
    EXPECT_FALSE(page.view->isLoading());
}

// A PDF whose page needs more memory to draw than a PDF may take (a picture
// of a quarter more pixels than its renderer's limit has bytes a pixel) ends
// its renderer, and the message says so in its place.
TEST(WebView, APDFThatNeedsMoreMemoryThanItMayTakeShowsTheMessage) {
    testkit::TempFolder folder;
    const std::string path = (folder / "huge picture.pdf").string();
    writeHugePicturePDF(path, int(std::ceil(std::sqrt(PDFPageStack::limits().memoryBytes * 1.25 / 4))));
    ASSERT_LT(std::filesystem::file_size(path), std::uintmax_t(1) << 20);
    Page page;
    testkit::StdoutCapture capture;
    page.view->load(URLRequest{URL::fileURLWithPath(path)});
    ASSERT_TRUE(page.view->isShowingPDF());
    ASSERT_TRUE(testkit::drainMainQueueUntil([&] {
        page.picture();  // asks for the page
        return !page.view->isShowingPDF();
    }));
    const std::string log = capture.finish();
    EXPECT_NE(log.find("could not show " + URL::fileURLWithPath(path).absoluteString() + ": it needs more memory"),
              std::string::npos) << log;
    EXPECT_EQ(page.view->title(), "Cannot show the page");
    EXPECT_GT(darkPixels(*page.picture()), 200);  // the message
    EXPECT_EQ(page.navigator->asked.back(), "finish");  // it opened: no navigation failed
}

// A page that the message replaces, here for a rule of the narrow width
// that needs more memory than a page may take, hangs up on the pictures it
// asked for and that are still on their way.
TEST(WebView, APageReplacedByTheMessageStopsItsPictures) {
    testkit::LoopbackServer server({{"/slow.png", {200, "image/png", "", "", true}}});
    testkit::TempFolder folder;
    std::string html;
    for (int i = 0; i < 4; ++i)
        html += "<img src='" + server.url("/slow.png?" + std::to_string(i)) + "' width='10' height='10'>";
    std::ofstream(folder / "narrow.html") << html << testkit::narrowRules("Narrow");
    Page page({800, 600});
    page.view->load(URLRequest{URL::fileURLWithPath((folder / "narrow.html").string())});
    ASSERT_TRUE(testkit::drainMainQueueUntil([&] { return page.view->title() == "Narrow" && server.holding() == 4; }));
    page.size = {420, 600};
    page.view->setFrame(CGRect(0, 0, 420, 600));
    page.picture();  // asks for the narrow picture
    ASSERT_TRUE(testkit::drainMainQueueUntil([&] { return page.view->title() == "Cannot show the page"; }));
    EXPECT_FALSE(page.view->isLoading());
    EXPECT_TRUE(testkit::drainMainQueueUntil([&] { return server.holding() == 0; }));
}

// Pictures, background pictures and links of every kind of page: local files
// are reached from local pages only, the network from any.
TEST(WebView, APageReachesLocalFilesOnlyWhenItIsALocalPageItself) {
    testkit::TempFolder folder;
    const std::string png = redPNG(folder, "red.png", {8, 8});
    std::ofstream(folder / "target.html") << "<title>Target</title>";
    testkit::LoopbackServer resources({{"/red.png", {200, "image/png", png}},
                                       {"/target.html", {200, "text/html", "<title>Target</title>"}}});
    const std::string localPicture = URL::fileURLWithPath((folder / "red.png").string()).absoluteString();
    const std::string localTarget = URL::fileURLWithPath((folder / "target.html").string()).absoluteString();

    enum class Kind { picture, background, link };
    enum class Origin { file, network, textWithFileBase, textWithNetworkBase, textWithoutBase };
    struct Case {
        Origin origin;
        Kind kind;
        bool local;  // the resource is a file
        bool reached;
        std::string html;
    };
    std::vector<Case> cases;
    for (const auto& [origin, reachesFiles] :
         {std::pair{Origin::file, true}, std::pair{Origin::network, false},
          std::pair{Origin::textWithFileBase, true}, std::pair{Origin::textWithNetworkBase, false},
          std::pair{Origin::textWithoutBase, false}})
        for (const Kind kind : {Kind::picture, Kind::background, Kind::link})
            for (const bool local : {true, false}) {
                const std::string address = kind == Kind::link
                                                ? (local ? localTarget : resources.url("/target.html"))
                                                : (local ? localPicture : resources.url("/red.png"));
                const std::string element =
                    kind == Kind::picture ? "<img src='" + address + "' width='40' height='40'>"
                    : kind == Kind::background
                        ? "<div style=\"width:40px;height:40px;background-image:url('" + address +
                              "')\"></div>"
                        : "<a href='" + address + "' style='display:block;height:40px'>link</a>";
                cases.push_back({origin, kind, local, !local || reachesFiles,
                                 "<html><head><title>Case</title></head><body style='margin:0'>" + element +
                                     "</body></html>"});
            }
    std::map<std::string, testkit::LoopbackServer::Reply> routes;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        routes["/" + std::to_string(i) + ".html"] = {200, "text/html", cases[i].html};
        std::ofstream(folder / (std::to_string(i) + ".html")) << cases[i].html;
    }
    testkit::LoopbackServer pages(routes);

    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.html + " from page kind " + std::to_string(int(c.origin)));
        testkit::FileOpens opens(folder / "red.png");
        ASSERT_TRUE(opens.watching());
        Page page;
        const std::string name = std::to_string(i) + ".html";
        switch (c.origin) {
        case Origin::file:
            page.view->load(URLRequest{URL::fileURLWithPath((folder / name).string())});
            break;
        case Origin::network:
            page.view->load(URLRequest{URL::string(pages.url("/" + name))});
            break;
        case Origin::textWithFileBase:
            page.view->loadHTMLString(c.html, URL::fileURLWithPath((folder / "text.html").string()));
            break;
        case Origin::textWithNetworkBase:
            page.view->loadHTMLString(c.html, URL::string(pages.url("/text.html")));
            break;
        case Origin::textWithoutBase:
            page.view->loadHTMLString(c.html, std::nullopt);
            break;
        }
        // Background pictures are asked for when the page is first laid out.
        ASSERT_TRUE(testkit::drainMainQueueUntil([&] {
            return page.view->title() == "Case" && page.view->contentHeight() > 0 && !page.view->isLoading();
        }));
        if (c.kind == Kind::link) {
            page.navigator->asked.clear();
            testkit::StdoutCapture capture;
            page.tap({20, 20});
            const std::string log = capture.finish();
            const std::string target = c.local ? localTarget : resources.url("/target.html");
            EXPECT_EQ(!page.navigator->asked.empty() && page.navigator->asked[0] == "action " + target,
                      c.reached);
            EXPECT_EQ(page.view->title() == "Target", c.reached);
            if (!c.reached) {
                EXPECT_TRUE(page.navigator->asked.empty());
                EXPECT_NE(log.find(target), std::string::npos);  // said why
            }
        } else {
            EXPECT_EQ(redPixels(*page.picture()) > 1000, c.reached);
            if (c.local) {
                EXPECT_EQ(opens.count() > 0, c.reached);
            }
        }
    }
}

TEST(WebView, APagesPicturesAreDecodedOnceEachWithinItsPixelBudget) {
    testkit::TempFolder folder;
    const std::string png = redPNG(folder, "big.png", {2048, 2048});
    testkit::LoopbackServer server({{"/big.png", {200, "image/png", png}}});
    const int fit = int(WKWebView::kPagePixels / (2048 * 2048));
    struct Case {
        const char* name;
        int copies;
        bool oneAddress;
        int drawn;
        int fetched;
    };
    const Case cases[] = {
        {"distinct pictures past the budget", fit + 4, false, fit, fit + 4},
        {"one picture many times", 3 * fit, true, 3 * fit, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_LE(c.copies * 16, 400);  // one line of the page
        std::string html = "<body style='margin:0'>";
        for (int i = 0; i < c.copies; ++i)
            html += "<img src='" + server.url("/big.png?" + std::to_string(c.oneAddress ? 0 : i)) +
                    "' width='16' height='16'>";
        const int fetched = server.requests("/big.png");
        const std::size_t memory = peakMemory();
        Page page;
        page.view->loadHTMLString(html + "</body>", URL::string(server.url("/")));
        EXPECT_EQ(std::lround(redPixels(*page.settled()) / 256.0), c.drawn);
        EXPECT_EQ(server.requests("/big.png") - fetched, c.fetched);
        // Decoded by the page's renderer: 128 MiB of pixels, none of them here.
        expectGrowthBelow(memory, std::size_t(64) << 20);
    }
}

// Pictures that never come: the next page is not kept waiting behind them,
// and a navigation or the view's end hangs up on every one.
TEST(WebView, ANavigationOrTheViewsEndCancelsThePicturesStillOnTheirWay) {
    std::string slow = "<title>Slow</title>";
    for (int i = 0; i < 8; ++i)
        slow += "<img src='/slow.png?" + std::to_string(i) + "' width='10' height='10'>";
    testkit::LoopbackServer server({{"/slow.html", {200, "text/html", slow}},
                                    {"/slow.png", {200, "image/png", "", "", true}},
                                    {"/next.html", {200, "text/html", "<title>Next</title>"}}});
    for (const bool navigate : {true, false}) {
        SCOPED_TRACE(navigate ? "navigate" : "destroy");
        const int requested = server.requests("/slow.png"), abandoned = server.abandoned(), served = server.served();
        Page page;
        page.view->load(URLRequest{URL::string(server.url("/slow.html"))});
        ASSERT_TRUE(
            testkit::drainMainQueueUntil([&] { return page.view->title() == "Slow" && server.holding() > 0; }));
        if (navigate) {
            page.view->load(URLRequest{URL::string(server.url("/next.html"))});
            ASSERT_TRUE(testkit::drainMainQueueUntil([&] { return page.view->title() == "Next"; }));
            EXPECT_LE(server.served(), served + 2);  // the two pages: no picture was answered meanwhile
        } else {
            page.window.reset();
            page.view.reset();
        }
        EXPECT_TRUE(testkit::drainMainQueueUntil([&] {
            return server.holding() == 0 &&
                   server.abandoned() - abandoned == server.requests("/slow.png") - requested;
        }));
        EXPECT_GT(server.requests("/slow.png"), requested);
    }
}

// A navigation refused on its way leaves the page where it was, and so its
// pictures still coming: they are drawn once they arrive, each asked for once.
TEST(WebView, ANavigationRefusedOnTheWayLeavesTheShownPagesPicturesComing) {
    testkit::TempFolder folder;
    const std::string png = redPNG(folder, "red.png", {40, 40});
    std::string slow = "<title>Slow</title><body style='margin:0'>";
    for (int i = 0; i < 4; ++i)
        slow += "<img src='/red.png?" + std::to_string(i) + "' width='40' height='40'>";
    enum class Via { link, text };
    const struct {
        const char* name;
        Via via;
        Action action;
        Response response;
        const char* refusedAt; // the question the navigation ends with
    } cases[] = {
        {"a link refused at the response", Via::link, Action::allow, Response::cancel, "response "},
        {"a text refused at the response", Via::text, Action::allow, Response::cancel, "response "},
        {"a link refused at the request", Via::link, Action::cancel, Response::allow, "action "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testkit::LoopbackServer server({{"/slow.html", {200, "text/html", slow}},
                                        {"/red.png", {200, "image/png", png, "", true}},
                                        {"/next.html", {200, "text/html", "<title>Next</title>"}}});
        Page page;
        page.view->load(URLRequest{URL::string(server.url("/slow.html"))});
        ASSERT_TRUE(testkit::drainMainQueueUntil(
            [&] { return page.view->title() == "Slow" && server.holding() == 4; }));

        page.navigator->action = c.action;
        page.navigator->response = c.response;
        const std::size_t asked = page.navigator->asked.size();
        if (c.via == Via::link)
            page.view->followLink(URLRequest{URL::string(server.url("/next.html"))});
        else
            page.view->loadHTMLString("<title>Next</title>", URL::string(server.url("/")));
        ASSERT_TRUE(testkit::drainMainQueueUntil([&] {
            const auto& said = page.navigator->asked;
            return said.size() > asked && said.back().rfind(c.refusedAt, 0) == 0;
        }));
        EXPECT_TRUE(page.view->isLoading()); // the pictures are still on their way

        server.release();
        ASSERT_TRUE(testkit::drainMainQueueUntil([&] { return !page.view->isLoading(); }));
        EXPECT_EQ(page.view->title(), "Slow");
        EXPECT_EQ(page.view->url(), URL::string(server.url("/slow.html")));
        EXPECT_EQ(std::lround(redPixels(*page.picture()) / 1600.0), 4);
        EXPECT_EQ(server.requests("/red.png"), 4);
        EXPECT_EQ(server.abandoned(), 0);
        EXPECT_EQ(page.navigator->asked.back().rfind(c.refusedAt, 0), 0u)
            << "nothing asked after the refusal";
    }
}

// A page is laid out again at every width in its renderer: a rule that
// applies only at the narrow width and needs more than a page may take
// replaces the page by the message there (drawn at once, without being
// asked), and costs this process nothing; an ordinary page, or one with a
// framework's style sheet, is drawn at both widths.
TEST(WebView, APageIsLaidOutInItsRendererAtEveryWidthItIsShownAt) {
    const struct Case {
        std::string name, html;
        bool shownNarrow;
    } cases[] = {
        {"narrow rules", testkit::narrowRules("narrow rules"), false},
        {"combinators", testkit::combinators("combinators", 2500, 800), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Page page({800, 600});
        const std::size_t memory = peakMemory();
        page.view->loadHTMLString(c.html, URL::string("http://127.0.0.1/wide.html"));
        const auto wide = page.settled();
        ASSERT_EQ(page.view->title(), c.name);
        EXPECT_GT(darkPixels(*wide), 50);

        testkit::StdoutCapture capture;
        page.size = {420, 600};
        page.view->setFrame(CGRect(0, 0, 420, 600));
        page.picture();  // asks for the narrow picture
        ASSERT_TRUE(testkit::drainMainQueueUntil([&] { return !page.view->isLoading(); }));
        const std::string log = capture.finish();
        expectGrowthBelow(memory, std::size_t(100) << 20);
        if (c.shownNarrow) {
            EXPECT_EQ(page.view->title(), c.name);
            EXPECT_GT(darkPixels(*page.picture()), 50);
            continue;
        }
        EXPECT_EQ(page.view->title(), "Cannot show the page");
        EXPECT_NE(log.find("the page http://127.0.0.1/wide.html is not shown: it needs more "), std::string::npos)
            << log;
        EXPECT_TRUE(page.view->needsDisplay());
        EXPECT_GT(darkPixels(*page.picture()), 200);  // the message
    }
}

// A document that fails after a newer navigation began fails unseen by the
// delegate, which hears of the newer one's end, and never ends that one: a
// text shown at once, and a page still on its way.
TEST(WebView, AFailureOfADocumentLeftBehindNeverEndsTheNavigationAfterIt) {
    testkit::TempFolder folder;
    std::ofstream(folder / "broken.pdf") << "%PDF-1.4 not really";
    const URL broken = URL::fileURLWithPath((folder / "broken.pdf").string());
    testkit::LoopbackServer server({{"/after.html", {200, "text/html", "<title>After</title>", "", true}}});
    for (const bool text : {true, false}) {
        SCOPED_TRACE(text ? "a text" : "a page on its way");
        Page page;
        testkit::StdoutCapture capture;
        page.view->load(URLRequest{broken});
        ASSERT_TRUE(page.view->isShowingPDF());
        const std::size_t asked = page.navigator->asked.size();
        if (text) {
            page.view->loadHTMLString("<title>After</title>", URL::string(server.url("/")));
        } else {
            page.view->load(URLRequest{URL::string(server.url("/after.html"))});
            // The document fails while the page is held on its way.
            ASSERT_TRUE(testkit::drainMainQueueUntil([&] {
                return capture.text().find("could not show " + broken.absoluteString()) != std::string::npos;
            }));
            server.release();
        }
        ASSERT_TRUE(
            testkit::drainMainQueueUntil([&] { return page.view->title() == "After" && !page.view->isLoading(); }));
        const std::vector<std::string> after(page.navigator->asked.begin() + std::ptrdiff_t(asked),
                                             page.navigator->asked.end());
        EXPECT_EQ(std::count(after.begin(), after.end(), "fail"), 0);
        EXPECT_EQ(after.back(), "finish");
        capture.finish();
    }
}
