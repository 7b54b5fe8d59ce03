#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/NSError.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/URLSession.h"
#include "platform/ui/UIView.h"
#include "platform/web/PageRenderer.h"

class HTMLDocument;
class PDFPageStack;
class RenderedPage;
class WKWebView;

enum class WKNavigationActionPolicy { cancel, allow };
enum class WKNavigationResponsePolicy { cancel, allow };
enum class WKNavigationType { linkActivated, formSubmitted, backForward, reload, formResubmitted, other };

struct WKFrameInfo {
    bool isMainFrame = true;
};

struct WKNavigationAction {
    URLRequest request;
    WKNavigationType navigationType = WKNavigationType::other;
    // None when the navigation asks for a new window.
    std::optional<WKFrameInfo> targetFrame = WKFrameInfo{};
};

struct WKNavigationResponse {
    URLResponse response;
    bool isForMainFrame = true;
};

struct WKWebViewConfiguration {};
struct WKWindowFeatures {};

// Asked about every navigation before it goes on. Each decision handler must
// be called exactly once; the web view treats one that is dropped unanswered
// as "cancel" and ignores a second answer, logging both. Without a delegate,
// or where it does not override, everything is allowed.
class WKNavigationDelegate {
public:
    virtual ~WKNavigationDelegate() = default;

    using ActionDecision = std::function<void(WKNavigationActionPolicy)>;
    using ResponseDecision = std::function<void(WKNavigationResponsePolicy)>;

    virtual void webView(WKWebView& webView, const WKNavigationAction& action, ActionDecision decisionHandler);
    virtual void webView(WKWebView& webView, const WKNavigationResponse& response, ResponseDecision decisionHandler);
    // The content is shown.
    virtual void didFinishNavigation(WKWebView&) {}
    // Allowed, but it could not be loaded or shown; the view shows why.
    virtual void didFailNavigation(WKWebView&, const NSError&) {}
};

class WKUIDelegate {
public:
    virtual ~WKUIDelegate() = default;

    // A navigation that asks for a new window. The answer is ignored: this
    // view never opens windows, and the page it shows stays.
    virtual std::shared_ptr<WKWebView> webView(WKWebView& webView, const WKWebViewConfiguration& configuration,
                                               const WKNavigationAction& action, const WKWindowFeatures& features);
};

// A web view for PDF documents and HTML pages from files, http(s) addresses
// or text. A PDF is drawn page under page at the view's width, an HTML page
// laid out at that width; both scroll by a drag or the wheel, and a tap on a
// link follows it. Every load asks the navigation delegate first about the
// request (again about the last address when the server redirected it),
// then about the response, and goes on only when both allow. A page that
// cannot be loaded or shown is replaced by a message saying why.
//
// An HTML page is drawn by a renderer process of its own (RenderedPage):
// this view sends it the width, the area in view and taps, and shows the
// newest picture it has, so that no page holds the main thread or this
// process's memory.
//
// A page reaches local files only when it is one itself: a page from the
// network (or a text without a file base URL) loads pictures over http(s)
// only, and its links to file: addresses are not followed. Pictures are
// fetched on the view's own download queue, each within a few seconds, and
// decoded by the page's renderer, all of a page's together within a budget
// of pixels; the content that replaces the page (another page, a PDF, a
// message) or the view's end cancels whatever is still on its way, and a
// navigation refused on the way leaves them coming.
class WKWebView : public UIView {
public:
    // Pixels of one page's pictures decoded at most (128 MiB); pictures past
    // it are drawn as missing.
    static constexpr std::uint64_t kPagePixels = PageRenderer::kPagePixels;
    static constexpr TimeInterval kPictureTimeout = 5;

    explicit WKWebView(const CGRect& frame = {});
    ~WKWebView() override;

    // Both delegates are held weakly.
    void setNavigationDelegate(std::weak_ptr<WKNavigationDelegate> delegate) { navigationDelegate_ = std::move(delegate); }
    void setUIDelegate(std::weak_ptr<WKUIDelegate> delegate) { uiDelegate_ = std::move(delegate); }
    std::shared_ptr<WKNavigationDelegate> navigationDelegate() const { return navigationDelegate_.lock(); }
    std::shared_ptr<WKUIDelegate> uiDelegate() const { return uiDelegate_.lock(); }

    void load(const URLRequest& request);
    // Links and pictures of the text resolve against the base URL.
    void loadHTMLString(const std::string& html, const std::optional<URL>& baseURL);
    // A link of the shown page; one with `newWindow` asks the UI delegate
    // for a window instead and opens nothing.
    void followLink(const URLRequest& request, bool newWindow = false);

    // Shows a message in place of the content, with the address it is about
    // (none when it is about no address); no navigation is asked about.
    void showMessage(const std::optional<URL>& url, const std::string& message);

    // What is shown now: none before the first load.
    const std::optional<URL>& url() const { return url_; }
    bool isShowingPDF() const { return pdf_ != nullptr; }
    bool isShowingHTML() const { return html_ != nullptr || page_ != nullptr; }
    // The title of the HTML page shown; empty otherwise.
    std::string title() const;
    // The shown PDF's pages as laid out now; none when no PDF is shown.
    const PDFPageStack* pdfPages() const { return pdf_.get(); }
    int pageCount() const;
    // Navigations started, for logs and tests.
    std::uint64_t navigationCount() const { return navigation_; }
    // True while the page or a picture of the page shown is on its way.
    bool isLoading() const;

    // Scrolling, in points from the top of the first page.
    CGFloat contentOffset() const { return offset_; }
    void setContentOffset(CGFloat offset);
    CGFloat contentHeight() const;

    void draw(const CGRect& rect) override;
    bool scrollWheel(CGPoint point, CGFloat notches) override;
    void touchesBegan(const UITouchSet& touches, const UIEvent* event) override;
    void touchesMoved(const UITouchSet& touches, const UIEvent* event) override;
    void touchesEnded(const UITouchSet& touches, const UIEvent* event) override;
    void touchesCancelled(const UITouchSet& touches, const UIEvent* event) override;

private:
    void navigate(const URLRequest& request, WKNavigationType type, std::optional<std::string> html);
    void respond(std::uint64_t navigation, const URLRequest& request, std::optional<std::string> html);
    void arrived(std::uint64_t navigation, const URLRequest& request, const URLResponse& response, Data body);
    void decideResponse(std::uint64_t navigation, const URLResponse& response, std::optional<Data> body);
    void show(std::uint64_t navigation, const URL& url, const std::string& mimeType, std::optional<Data> body);
    // An HTML page, drawn by a renderer of its own; the navigation finishes
    // once it is laid out, or shows the message.
    void showPage(std::uint64_t navigation, const std::string& text, const URL& url);
    // The message in place of whatever is shown; the page on its way goes on.
    void replaceWithMessage(const std::optional<URL>& url, const std::string& message);
    // The message, and the delegate told when it is about `navigation`, the latest.
    void fail(const std::string& message, const std::optional<URL>& url = std::nullopt);
    void fail(const std::string& message, const std::optional<URL>& url, std::uint64_t navigation);
    // Cancels the pictures of the page shown; they will never arrive.
    void dropPictures();

    struct Pictures;

    std::weak_ptr<WKNavigationDelegate> navigationDelegate_;
    std::weak_ptr<WKUIDelegate> uiDelegate_;
    // Answers that come after the view has gone find this empty.
    std::shared_ptr<WKWebView*> self_;
    std::uint64_t navigation_ = 0;
    std::optional<URL> url_;
    std::unique_ptr<PDFPageStack> pdf_;
    std::unique_ptr<RenderedPage> page_;
    std::unique_ptr<HTMLDocument> html_;  // the message shown in place of the content
    std::shared_ptr<Pictures> pictures_;  // those of page_
    std::shared_ptr<URLSessionDataTask> pageTask_;
    CGFloat offset_ = 0;
    // Pixels to the point of the last draw: a page's first picture is drawn so.
    CGFloat drawnScale_ = 1;
    std::optional<CGPoint> dragStart_;
    CGFloat dragOffset_ = 0;
    bool dragged_ = false;
};
