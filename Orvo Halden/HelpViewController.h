#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/URL.h"
#include "platform/ui/UIControl.h"
#include "platform/ui/UIViewController.h"
#include "platform/web/WKWebView.h"

// The help screen: the manual ("ShowHelp") or the maker's page ("ShowInfo")
// in a web view, with an exit button. Only pages without an extension, PDF
// and HTML are shown; new windows are refused; every navigation is logged.
class HelpViewController : public UIViewController, public WKUIDelegate, public WKNavigationDelegate {
public:
    HelpViewController() = default;

    // The maker's page: the help page among the app's resources, so that it
    // is there without a network. None when it is missing.
    static std::optional<URL> makerPageURL();

    void prepareInfo(const std::string& which) { identifier_ = which; }
    const std::string& identifier() const { return identifier_; }

    // Outlets. The web view is held weakly: the view tree owns it.
    std::shared_ptr<WKWebView> webView() const { return webView_.lock(); }
    void setWebView(const std::shared_ptr<WKWebView>& view) { webView_ = view; }
    std::shared_ptr<UIControl> buttonExit;

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidLayoutSubviews() override;
    void didReceiveMemoryWarning() override;

    void onButtonExit(const std::any& sender);

    void webView(WKWebView& view, const WKNavigationAction& action, ActionDecision decisionHandler) override;
    void webView(WKWebView& view, const WKNavigationResponse& response, ResponseDecision decisionHandler) override;
    std::shared_ptr<WKWebView> webView(WKWebView& view, const WKWebViewConfiguration& configuration,
                                       const WKNavigationAction& action, const WKWindowFeatures& features) override;

    // The HTML help as a text; nothing calls it (the manual is the help).
    void loadHelpHtml();

private:
    void loadHelpPdf();
    void navigateWeb();
    void load(const std::optional<URL>& url, const char* what);

    std::string identifier_ = "ShowHelp";
    std::weak_ptr<WKWebView> webView_;
};
