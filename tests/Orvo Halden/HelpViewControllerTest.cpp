#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Orvo Halden/HelpViewController.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/ui/UIWindow.h"
#include "tests/support/OpenedURLs.h"
#include "tests/support/PixelProbe.h"
#include "tests/support/StdoutCapture.h"
#include "tests/support/TempFolder.h"

namespace {

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
    using HelpViewController::webView;
    std::vector<URLRequest> requests;
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
    EXPECT_EQ(opened.urls, std::vector<std::string>{kHelp.absoluteString()});
    EXPECT_EQ(web()->url(), kHelp);

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
}

TEST_F(HelpScreen, TheHTMLHelpGoesToTheBrowserFromItsFile) {
    help->loadViewIfNeeded();
    help->loadHelpHtml();
    EXPECT_EQ(opened.urls, std::vector<std::string>{kHelp.absoluteString()});
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
