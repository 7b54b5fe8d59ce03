#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "Orvo Halden/HelpViewController.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/ui/UIWindow.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/MainQueue.h"
#include "tests/support/OpenedURLs.h"
#include "tests/support/PixelProbe.h"
#include "tests/support/StdoutCapture.h"
#include "tests/support/TempFolder.h"

namespace {

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::string kResources = ORVO_TEST_RESOURCES;
const URL kManual = URL::fileURLWithPath(kResources + "/manual.pdf");
const URL kHelp = URL::fileURLWithPath(kResources + "/help.html");

// The help screen, with the requests it is asked about written down.
class WatchedHelp : public HelpViewController {
public:
    void webView(WKWebView& view, const WKNavigationAction& action, ActionDecision decide) override {
        requests.push_back(action.request);
        HelpViewController::webView(view, action, std::move(decide));
    }
    void webView(WKWebView& view, const WKNavigationResponse& response, ResponseDecision decide) override {
        responses.push_back(response.response.url ? response.response.url->absoluteString() : "");
        HelpViewController::webView(view, response, std::move(decide));
    }
    using HelpViewController::webView;
    std::vector<URLRequest> requests;
    std::vector<std::string> responses;
};

struct HelpScreen : ::testing::Test {
    testkit::ScopedEnvironment environment{"ORVO_RESOURCES_DIR"};
    std::shared_ptr<UIWindow> window = std::make_shared<UIWindow>(CGRect(0, 0, 480, 360));
    std::shared_ptr<UIViewController> main = std::make_shared<UIViewController>();
    std::shared_ptr<WatchedHelp> help = std::make_shared<WatchedHelp>();
    testkit::OpenedURLs opened;

    HelpScreen() {
        testkit::ScopedEnvironment::set("ORVO_RESOURCES_DIR", kResources);
        window->setRootViewController(main);
    }
    ~HelpScreen() override { DispatchQueue::main().drain(); }
    std::shared_ptr<WKWebView> web() { return help->webView(); }
};

template <class Policy>
struct Answers {
    std::vector<Policy> given;
    std::function<void(Policy)> handler() {
        return [this](Policy p) { given.push_back(p); };
    }
};

}  // namespace

TEST_F(HelpScreen, ShowsPagesWithoutExtensionPDFAndHTMLInAnyCaseAndRefusesEveryOtherResponse) {
    const struct {
        const char* url;
        bool shown;
    } cases[] = {
        {"file:///app/manual.pdf", true},          {"https://example.com/Manual.PDF", true},
        {"https://example.com/index.html", true},  {"https://example.com/orvo", true},
        {"https://example.com/", true},            {"https://example.com/page.HtMl?x=1", true},
        {"https://example.com/index.htm", false},  {"https://example.com/loops.zip", false},
        {"https://example.com/knob.jpg", false},   {"https://example.com/run.php", false},
        {"file:///app/manual.pdf.gz", false},
    };
    help->loadViewIfNeeded();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        Answers<WKNavigationResponsePolicy> answers;
        testkit::StdoutCapture capture;
        help->webView(*web(), WKNavigationResponse{URLResponse{URL::string(c.url), std::nullopt, ""}},
                      answers.handler());
        const std::vector<std::string> lines = capture.lines();
        capture.finish();
        EXPECT_EQ(lines, (std::vector<std::string>{"navigationResponse: ", URL::string(c.url)->absoluteString()}));
        EXPECT_EQ(answers.given, std::vector<WKNavigationResponsePolicy>{
                                     c.shown ? WKNavigationResponsePolicy::allow : WKNavigationResponsePolicy::cancel});
    }
}

TEST_F(HelpScreen, EveryRequestStartsAndOneWithoutAURLIsAnsweredOnceWithCancel) {
    help->loadViewIfNeeded();
    Answers<WKNavigationActionPolicy> actions;
    Answers<WKNavigationResponsePolicy> responses;
    testkit::StdoutCapture capture;
    help->webView(*web(), WKNavigationAction{URLRequest{URL::string("https://example.com/x.zip")}}, actions.handler());
    help->webView(*web(), WKNavigationAction{URLRequest{std::nullopt}}, actions.handler());
    help->webView(*web(), WKNavigationResponse{URLResponse{std::nullopt, std::nullopt, ""}}, responses.handler());
    const std::vector<std::string> lines = capture.lines();
    capture.finish();
    EXPECT_EQ(actions.given, (std::vector{WKNavigationActionPolicy::allow, WKNavigationActionPolicy::cancel}));
    EXPECT_EQ(responses.given, std::vector{WKNavigationResponsePolicy::cancel});
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "navigationAction: ", "https://example.com/x.zip", "navigationAction: ",
                         "HelpViewController: WARNING: a navigation without a URL is cancelled.",
                         "navigationResponse: ", "HelpViewController: WARNING: a response without a URL is cancelled."}));
}

TEST_F(HelpScreen, WithoutPreparationTheManualIsShownWithTheDefaultPolicyAndAMinuteTimeout) {
    testkit::StdoutCapture capture;
    main->present(help, true);
    const std::string log = capture.finish();
    ASSERT_EQ(help->requests.size(), 1u);
    EXPECT_EQ(help->requests[0].url, kManual);
    EXPECT_EQ(help->requests[0].timeoutInterval, 60);
    EXPECT_EQ(help->requests[0].cachePolicy, URLRequest::CachePolicy::useProtocolCachePolicy);
    EXPECT_TRUE(web()->isShowingPDF());
    // On screen: the exit button over the manual's first page.
    window->layoutIfNeeded();
    const auto picture = testkit::renderOverWhite({480, 360}, 1, [this](CGContext& c) { window->render(c); });
    EXPECT_TRUE(testkit::pixelNear(*picture, {4, 4}, testkit::overWhite({{0.16, 0.16, 0.17, 1}})));
    EXPECT_TRUE(testkit::pixelNear(*picture, {460, 70}, testkit::overWhite({UIColor::white()})));
    EXPECT_EQ(log, "navigationAction: \n" + kManual.absoluteString() + "\nnavigationResponse: \n" +
                       kManual.absoluteString() + "\n");
    EXPECT_TRUE(opened.urls.empty());
}

TEST_F(HelpScreen, InfoShowsTheMakersPageAnOtherIdentifierNothingAndEachAppearanceLoadsAgain) {
    help->prepareInfo("ShowInfo");
    main->present(help, true);
    EXPECT_EQ(HelpViewController::makerPageURL(), kHelp);
    EXPECT_TRUE(opened.urls.empty());  // shown in the app itself
    EXPECT_EQ(web()->url(), kHelp);
    EXPECT_TRUE(testkit::drainMainQueueUntil([&] { return web()->title() == "Orvo Halden - Help"; }));

    help->onButtonExit(help);
    EXPECT_EQ(main->presentedViewController(), nullptr);
    help->prepareInfo("ShowHelp");
    main->present(help, true);
    EXPECT_TRUE(web()->isShowingPDF());
    help->buttonExit->sendActions(UIControlEvent::touchUpInside);
    EXPECT_EQ(main->presentedViewController(), nullptr);

    help->prepareInfo("ShowSomethingElse");
    main->present(help, true);
    EXPECT_EQ(help->requests.size(), 2u);
    EXPECT_EQ(web()->url(), kManual);  // what it showed before
}

TEST_F(HelpScreen, ALinkAskingForANewWindowOpensNothing) {
    main->present(help, true);
    testkit::StdoutCapture capture;
    web()->followLink(URLRequest{URL::string("https://example.com/popup.html")}, true);
    const std::vector<std::string> lines = capture.lines();
    capture.finish();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "createWebViewWith:");
    EXPECT_EQ(lines[1], "https://example.com/popup.html");
    EXPECT_EQ(help->requests.size(), 1u);
    EXPECT_EQ(web()->url(), kManual);
    EXPECT_TRUE(opened.urls.empty());
}

TEST_F(HelpScreen, AMissingManualOrPageIsLoggedAndNothingIsLoaded) {
    testkit::TempFolder empty;
    testkit::ScopedEnvironment::set("ORVO_RESOURCES_DIR", empty.path().string());
    testkit::StdoutCapture capture;
    main->present(help, true);
    help->dismiss(false);
    help->prepareInfo("ShowInfo");
    main->present(help, true);
    help->loadHelpHtml();
    const std::string log = capture.finish();
    EXPECT_EQ(log,
              "HelpViewController: ERROR: The manual is missing from the app's resources.\n"
              "HelpViewController: ERROR: The maker's page is missing from the app's resources.\n"
              "HelpViewController: ERROR: The help page is missing from the app's resources.\n");
    EXPECT_TRUE(help->requests.empty());
    EXPECT_FALSE(web()->url());
    EXPECT_EQ(web()->title(), "Cannot show the page");  // a message, not a blank page
}

TEST_F(HelpScreen, TheHTMLHelpIsShownInTheApp) {
    help->loadViewIfNeeded();
    help->loadHelpHtml();
    EXPECT_TRUE(opened.urls.empty());
    EXPECT_EQ(web()->url(), kHelp);
    EXPECT_TRUE(testkit::drainMainQueueUntil([&] { return web()->title() == "Orvo Halden - Help"; }));
}

TEST_F(HelpScreen, OverTheNetworkPagesAndPDFsAreShownAZipAndANewWindowAreRefused) {
    // Links one under the other, 40 points each.
    const std::string page = "<html><head><title>Maker</title></head><body style='margin:0'>"
                             "<a style='display:block;height:40px' href='doc.pdf'>PDF</a>"
                             "<a style='display:block;height:40px' href='files.zip'>Zip</a>"
                             "<a style='display:block;height:40px' href='/moved'>Moved</a>"
                             "<a style='display:block;height:40px' href='more' target='_blank'>New window</a>"
                             "<a style='display:block;height:40px' href='index.html'>Page</a></body></html>";
    testkit::LoopbackServer server({{"/index.html", {200, "text/html", page}},
                                    {"/doc.pdf", {200, "application/pdf", contents(kManual.path())}},
                                    {"/files.zip", {200, "application/zip", "PK\x03\x04"}},
                                    {"/moved", {302, "text/html", "", "/doc.pdf"}}});
    enum class Shown { html, pdf };
    struct Case {
        const char* name;
        int link;
        std::vector<std::string> asked;  // the addresses the policies are asked about
        Shown shown;
        std::string url;
    };
    const std::string index = server.url("/index.html"), pdf = server.url("/doc.pdf");
    const std::vector<Case> cases = {
        {"pdf shown", 0, {pdf, pdf}, Shown::pdf, pdf},
        {"zip refused", 1, {server.url("/files.zip"), server.url("/files.zip")}, Shown::html, index},
        {"redirect asked about", 2, {server.url("/moved"), pdf, pdf}, Shown::pdf, pdf},
        {"new window refused", 3, {}, Shown::html, index},
        {"html shown", 4, {index, index}, Shown::html, index},
    };
    help->prepareInfo("ShowSomethingElse");
    main->present(help, true);
    window->layoutIfNeeded();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t loaded = help->responses.size();
        web()->load(URLRequest{URL::string(index)});
        ASSERT_TRUE(testkit::drainMainQueueUntil(
            [&] { return help->responses.size() > loaded && web()->title() == "Maker"; }));
        help->requests.clear();
        const std::size_t responses = help->responses.size();
        const CGPoint tap = web()->convert(CGPoint{100, 20 + 40.0 * c.link}, nullptr);
        testkit::StdoutCapture capture;
        window->touchUp(window->touchDown(tap));
        // The page's renderer finds the link; a new window is refused once it has.
        ASSERT_TRUE(testkit::drainMainQueueUntil([&] {
            return c.link == 3 ? !web()->isLoading() : help->responses.size() > responses;
        }));
        const std::string log = capture.finish();
        std::vector<std::string> asked;
        for (const URLRequest& r : help->requests)
            asked.push_back(r.url->absoluteString());
        for (std::size_t i = responses; i < help->responses.size(); ++i)
            asked.push_back(help->responses[i]);
        EXPECT_EQ(asked, c.asked);
        EXPECT_EQ(web()->isShowingPDF(), c.shown == Shown::pdf);
        EXPECT_EQ(web()->url()->absoluteString(), c.url);
        if (c.link == 3) {
            EXPECT_EQ(log.substr(0, log.find("WKWebView")), "createWebViewWith:\n" + server.url("/more") + "\n");
        }
    }
}

TEST_F(HelpScreen, AScrolledManualStaysBelowTheBar) {
    main->present(help, true);
    window->layoutIfNeeded();
    ASSERT_TRUE(web()->isShowingPDF());
    const auto bar = testkit::overWhite({{0.16, 0.16, 0.17, 1}});
    for (const CGFloat offset : {0.0, 200.0, 1000.0}) {
        SCOPED_TRACE(offset);
        web()->setContentOffset(offset);
        const auto picture = testkit::renderOverWhite({480, 360}, 1, [this](CGContext& c) { window->render(c); });
        EXPECT_TRUE(testkit::pixelNear(*picture, {240, 4}, bar));
        EXPECT_TRUE(testkit::pixelNear(*picture, {470, 30}, bar));
    }
}
