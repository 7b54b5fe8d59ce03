#include "Orvo Halden/HelpViewController.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "Orvo Halden/Console.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/URLSession.h"

namespace {

constexpr double kTimeout = 60;
constexpr CGFloat kBarHeight = 44;

}  // namespace

std::optional<URL> HelpViewController::makerPageURL() { return Bundle::main().urlForResource("help", "html"); }

void HelpViewController::loadView() {
    auto root = std::make_shared<UIView>();
    root->setBackgroundColor(UIColor{0.16, 0.16, 0.17, 1});
    auto web = std::make_shared<WKWebView>();
    // A scrolled page stays below the bar and its Back button.
    web->setClipsToBounds(true);
    buttonExit = std::make_shared<UIButton>();
    buttonExit->setTitle("Back");
    const std::weak_ptr<UIViewController> weak = weak_from_this();
    buttonExit->addTarget(
        buttonExit.get(),
        [weak](UIControl& sender, UIControlEvents) {
            if (const auto self = std::static_pointer_cast<HelpViewController>(weak.lock()))
                self->onButtonExit(&sender);
        },
        UIControlEvent::touchUpInside);
    root->addSubview(web);
    root->addSubview(buttonExit);
    webView_ = web;
    setView(root);
}

void HelpViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    const std::shared_ptr<WKWebView> web = webView_.lock();
    if (!web) {
        print("HelpViewController: WARNING: the web view is not connected; nothing can be shown.");
        return;
    }
    // Held weakly by the web view: a screen that is gone is no delegate.
    const std::shared_ptr<HelpViewController> self(shared_from_this(), this);
    web->setUIDelegate(std::static_pointer_cast<WKUIDelegate>(self));
    web->setNavigationDelegate(std::static_pointer_cast<WKNavigationDelegate>(self));
}

void HelpViewController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    if (identifier_ == "ShowHelp")
        loadHelpPdf();
    if (identifier_ == "ShowInfo")
        navigateWeb();
}

void HelpViewController::viewDidLayoutSubviews() {
    const CGRect area = view()->bounds();
    if (buttonExit)
        buttonExit->setFrame({8, 6, 72, kBarHeight - 12});
    if (const auto web = webView_.lock())
        web->setFrame({0, kBarHeight, area.width(), std::max<CGFloat>(0, area.height() - kBarHeight)});
}

void HelpViewController::didReceiveMemoryWarning() { UIViewController::didReceiveMemoryWarning(); }

void HelpViewController::onButtonExit(const std::any&) { dismiss(true, [] {}); }

void HelpViewController::webView(WKWebView&, const WKNavigationAction& action, ActionDecision decisionHandler) {
    print("navigationAction: ");
    if (!action.request.url) {
        // Every decision is answered, one without an address too.
        print("HelpViewController: WARNING: a navigation without a URL is cancelled.");
        decisionHandler(WKNavigationActionPolicy::cancel);
        return;
    }
    print(action.request.url->absoluteString());
    decisionHandler(WKNavigationActionPolicy::allow);
}

void HelpViewController::webView(WKWebView&, const WKNavigationResponse& navigationResponse,
                                 ResponseDecision decisionHandler) {
    print("navigationResponse: ");
    const std::optional<URL>& url = navigationResponse.response.url;
    if (!url) {
        print("HelpViewController: WARNING: a response without a URL is cancelled.");
        decisionHandler(WKNavigationResponsePolicy::cancel);
        return;
    }
    print(url->absoluteString());
    std::string extension = url->pathExtension();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    const bool shown = extension.empty() || extension == "PDF" || extension == "HTML";
    decisionHandler(shown ? WKNavigationResponsePolicy::allow : WKNavigationResponsePolicy::cancel);
}

std::shared_ptr<WKWebView> HelpViewController::webView(WKWebView&, const WKWebViewConfiguration&,
                                                       const WKNavigationAction& action, const WKWindowFeatures&) {
    print("createWebViewWith:");
    if (action.request.url)
        print(action.request.url->absoluteString());
    return nullptr;
}

void HelpViewController::load(const std::optional<URL>& url, const char* what) {
    const std::shared_ptr<WKWebView> web = webView_.lock();
    if (!url) {
        const std::string message = std::string(what) + " is missing from the app's resources.";
        print("HelpViewController: ERROR: " + message);
        // Said on the screen too, rather than a blank page.
        if (web)
            web->showMessage(std::nullopt, message);
        return;
    }
    if (web)
        web->load(URLRequest{url, kTimeout, URLRequest::CachePolicy::useProtocolCachePolicy});
}

void HelpViewController::loadHelpPdf() { load(Bundle::main().urlForResource("manual", "pdf"), "The manual"); }

void HelpViewController::navigateWeb() { load(makerPageURL(), "The maker's page"); }

void HelpViewController::loadHelpHtml() {
    const std::optional<URL> file = Bundle::main().urlForResource("help", "html");
    if (!file) {
        print("HelpViewController: ERROR: The help page is missing from the app's resources.");
        return;
    }
    Data bytes;
    try {
        bytes = dataWithContentsOfURL(*file);
    } catch (const NSError&) {
        print("The file \"help.html\" couldn't be opened.");
        return;
    }
    if (const auto web = webView_.lock())
        web->loadHTMLString(std::string(bytes.begin(), bytes.end()), *file);
}
