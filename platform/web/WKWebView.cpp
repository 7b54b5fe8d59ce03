#include "platform/web/WKWebView.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/foundation/FileManager.h"
#include "platform/graphics/CGContext.h"
#include "platform/graphics/NSString.h"
#include "platform/graphics/UIBezierPath.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UITouch.h"
#include "platform/web/PDFDocument.h"
#include "platform/web/PDFPageStack.h"

namespace {

constexpr CGFloat kMargin = PDFPageStack::kMargin;  // around the text, as around the pages
constexpr CGFloat kWheelStep = 48;   // points per wheel notch
constexpr CGFloat kTapSlop = 4;      // a touch that moves less is a tap
constexpr int kLoadFailed = -1100;   // the platform's code for a resource that cannot be loaded

void log(const std::string& line) {
    std::printf("WKWebView: %s\n", line.c_str());
    std::fflush(stdout);
}

std::string describe(const std::optional<URL>& url) { return url ? url->absoluteString() : "(no URL)"; }

// The handler given to the delegate: the first answer is applied, a second
// one ignored, and a handler dropped unanswered counts as "cancel".
template <class Policy>
std::function<void(Policy)> answeredOnce(std::string what, std::function<void(Policy)> apply) {
    struct State {
        std::string what;
        std::function<void(Policy)> apply;
        bool answered = false;
        ~State() {
            if (!answered)
                log("the " + what + " decision was never answered; the navigation is cancelled.");
        }
    };
    auto state = std::make_shared<State>();
    state->what = std::move(what);
    state->apply = std::move(apply);
    return [state](Policy policy) {
        if (state->answered) {
            log("the " + state->what + " decision was answered twice; the second answer is ignored.");
            return;
        }
        state->answered = true;
        auto applyOnce = std::move(state->apply);
        applyOnce(policy);
    };
}

bool startsWithPDFMagic(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char head[5] = {};
    in.read(head, sizeof head);
    return in.gcount() == 5 && std::string(head, 5) == "%PDF-";
}

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

std::string mimeTypeOf(const URL& url) {
    const std::string extension = lowercase(url.pathExtension());
    if (url.isFileURL() && startsWithPDFMagic(url.path()))
        return "application/pdf";
    if (extension == "pdf")
        return "application/pdf";
    if (extension == "html" || extension == "htm" || !url.isFileURL())
        return "text/html";
    return "application/octet-stream";
}

// Whether the file holds exactly this text. Read as the file manager reads,
// so a pipe or a device in the file's place cannot stall the view.
bool holdsText(const URL& file, const std::string& text) {
    try {
        const Data bytes = FileManager::defaultManager().contents(file, text.size());
        return std::equal(bytes.begin(), bytes.end(), text.begin(), text.end(),
                          [](std::uint8_t b, char c) { return b == static_cast<std::uint8_t>(c); });
    } catch (const NSError&) {
        return false;
    }
}

// Where the desktop's browser finds an HTML text: the base file when it holds
// this text, else a copy in the temporary folder (one per process, replaced
// by the next).
std::optional<URL> pageForText(const std::string& html, const std::optional<URL>& baseURL) {
    if (baseURL && baseURL->isFileURL() && holdsText(*baseURL, html))
        return baseURL;
    const char* folder = std::getenv("TMPDIR");
    const std::string path = std::string(folder && *folder ? folder : "/tmp") + "/orvo-page-" +
                             std::to_string(::getpid()) + ".html";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << html;
    if (!out.flush())
        return std::nullopt;
    return URL::fileURLWithPath(path);
}

}  // namespace

void WKNavigationDelegate::webView(WKWebView&, const WKNavigationAction&, ActionDecision decisionHandler) {
    decisionHandler(WKNavigationActionPolicy::allow);
}

void WKNavigationDelegate::webView(WKWebView&, const WKNavigationResponse&, ResponseDecision decisionHandler) {
    decisionHandler(WKNavigationResponsePolicy::allow);
}

std::shared_ptr<WKWebView> WKUIDelegate::webView(WKWebView&, const WKWebViewConfiguration&, const WKNavigationAction&,
                                                 const WKWindowFeatures&) {
    return nullptr;
}

WKWebView::WKWebView(const CGRect& frame) : UIView(frame), self_(std::make_shared<WKWebView*>(this)) {}

WKWebView::~WKWebView() { *self_ = nullptr; }

int WKWebView::pageCount() const { return pdf_ ? pdf_->pageCount() : 0; }

void WKWebView::load(const URLRequest& request) { navigate(request, WKNavigationType::other, std::nullopt); }

void WKWebView::loadHTMLString(const std::string& html, const std::optional<URL>& baseURL) {
    navigate(URLRequest{baseURL}, WKNavigationType::other, html);
}

void WKWebView::followLink(const URLRequest& request, bool newWindow) {
    if (!newWindow) {
        navigate(request, WKNavigationType::linkActivated, std::nullopt);
        return;
    }
    const WKNavigationAction action{request, WKNavigationType::linkActivated, std::nullopt};
    std::shared_ptr<WKWebView> window;
    if (auto delegate = uiDelegate())
        window = delegate->webView(*this, WKWebViewConfiguration{}, action, WKWindowFeatures{});
    log("no new window is opened for " + describe(request.url) + (window ? " (the offered one is not used)." : "."));
}

void WKWebView::navigate(const URLRequest& request, WKNavigationType type, std::optional<std::string> html) {
    const std::uint64_t navigation = ++navigation_;
    std::weak_ptr<WKWebView*> self = self_;
    auto decide = answeredOnce<WKNavigationActionPolicy>(
        "action", [self, navigation, request, html = std::move(html)](WKNavigationActionPolicy policy) {
            const auto view = self.lock();
            if (!view || !*view)
                return;
            if (policy == WKNavigationActionPolicy::allow)
                (*view)->respond(navigation, request, html);
        });
    const WKNavigationAction action{request, type, WKFrameInfo{}};
    if (auto delegate = navigationDelegate())
        delegate->webView(*this, action, std::move(decide));
    else
        decide(WKNavigationActionPolicy::allow);
}

void WKWebView::respond(std::uint64_t navigation, const URLRequest& request, std::optional<std::string> html) {
    if (navigation != navigation_)
        return;  // a newer load took its place
    if (!html && !request.url) {
        fail("the request has no URL; nothing is loaded.");
        return;
    }
    const URL url = request.url ? *request.url : *URL::string("about:blank");
    if (!html) {
        const std::string scheme = lowercase(url.scheme());
        if (url.isFileURL()) {
            // Only a regular file is read: a pipe in its place would stall the view.
            std::error_code error;
            const std::filesystem::file_status status = std::filesystem::status(url.path(), error);
            if (!std::filesystem::is_regular_file(status)) {
                fail("could not load " + url.path() +
                     (std::filesystem::exists(status) ? ": it is not a regular file." : ": there is no such file."));
                return;
            }
        } else if (scheme != "http" && scheme != "https") {
            fail("could not load " + url.absoluteString() + ": the scheme is not supported.");
            return;
        }
    }
    const std::string mimeType = html ? "text/html" : mimeTypeOf(url);
    std::weak_ptr<WKWebView*> self = self_;
    auto decide = answeredOnce<WKNavigationResponsePolicy>(
        "response", [self, navigation, url, mimeType, html = std::move(html)](WKNavigationResponsePolicy policy) {
            const auto view = self.lock();
            if (!view || !*view)
                return;
            if (policy == WKNavigationResponsePolicy::allow)
                (*view)->show(navigation, url, mimeType, html);
        });
    const WKNavigationResponse response{URLResponse{request.url, std::nullopt, mimeType}, true};
    if (auto delegate = navigationDelegate())
        delegate->webView(*this, response, std::move(decide));
    else
        decide(WKNavigationResponsePolicy::allow);
}

void WKWebView::show(std::uint64_t navigation, const URL& url, const std::string& mimeType,
                     std::optional<std::string> html) {
    if (navigation != navigation_)
        return;
    if (mimeType == "application/pdf" && url.isFileURL()) {
        std::string error;
        std::unique_ptr<PDFDocument> document = PDFDocument::open(url.path(), error);
        if (!document) {
            fail("could not show " + url.path() + ": " + error + ".");
            return;
        }
        pdf_ = std::make_unique<PDFPageStack>(std::move(document));
    } else {
        const std::optional<URL> page = html ? pageForText(*html, url.isFileURL() ? std::optional<URL>(url) : std::nullopt)
                                             : std::optional<URL>(url);
        if (!page) {
            fail("could not keep the page's text for the browser.");
            return;
        }
        pdf_.reset();
        UIApplication::shared().open(*page);
    }
    url_ = url;
    offset_ = 0;
    setNeedsDisplay();
    if (auto delegate = navigationDelegate())
        delegate->didFinishNavigation(*this);
}

void WKWebView::fail(const std::string& message) {
    log("ERROR: " + message);
    if (auto delegate = navigationDelegate())
        delegate->didFailNavigation(*this, NSError(kLoadFailed, message));
}

CGFloat WKWebView::contentHeight() const {
    if (!pdf_)
        return 0;
    pdf_->setWidth(bounds().width());
    return pdf_->contentHeight();
}

void WKWebView::setContentOffset(CGFloat offset) {
    const CGFloat most = std::max<CGFloat>(0, contentHeight() - bounds().height());
    const CGFloat clamped = std::isfinite(offset) ? std::clamp<CGFloat>(offset, 0, most) : offset_;
    if (clamped != offset_) {
        offset_ = clamped;
        setNeedsDisplay();
    }
}

void WKWebView::draw(const CGRect&) {
    CGContext* context = UIGraphicsGetCurrentContext();
    if (!context)
        return;
    const CGRect area = bounds();
    context->saveGState();
    context->setFillColor({0.82, 0.82, 0.84, 1});
    UIBezierPath::rect(area)->fill();
    if (pdf_) {
        pdf_->setWidth(area.width());
        pdf_->draw(*context, offset_, area.height());
    } else if (url_) {
        NSStringAttributes attributes;
        attributes.font = UIFont("HelveticaNeue", 15);
        attributes.paragraphStyle.alignment = NSTextAlignment::center;
        const std::string text = "Shown in your web browser:\n" + url_->absoluteString();
        const CGFloat width = std::max<CGFloat>(1, area.width() - 2 * kMargin);
        const CGRect box = NSString(text).boundingRect({width, 0}, attributes);
        NSString(text).draw({kMargin, (area.height() - box.height()) / 2, width, box.height()}, attributes);
    }
    context->restoreGState();
}

bool WKWebView::scrollWheel(CGPoint, CGFloat notches) {
    if (!pdf_ || !std::isfinite(notches))
        return false;
    setContentOffset(offset_ - notches * kWheelStep);
    return true;
}

void WKWebView::touchesBegan(const UITouchSet& touches, const UIEvent*) {
    if (touches.empty())
        return;
    dragStart_ = (*touches.begin())->location(this);
    dragOffset_ = offset_;
    dragged_ = false;
}

void WKWebView::touchesMoved(const UITouchSet& touches, const UIEvent*) {
    if (!dragStart_ || touches.empty())
        return;
    const CGFloat dy = (*touches.begin())->location(this).y - dragStart_->y;
    dragged_ = dragged_ || std::abs(dy) > kTapSlop;
    if (dragged_)
        setContentOffset(dragOffset_ - dy);
}

void WKWebView::touchesEnded(const UITouchSet& touches, const UIEvent* event) {
    touchesMoved(touches, event);
    const bool tap = dragStart_ && !dragged_;
    dragStart_.reset();
    if (!tap || touches.empty())
        return;
    if (!pdf_)
        return;
    const CGPoint point = (*touches.begin())->location(this);
    pdf_->setWidth(bounds().width());
    const auto hit = pdf_->pageAt({point.x, point.y + offset_});
    if (!hit)
        return;
    if (const auto link = pdf_->document().linkAt(hit->first, hit->second))
        followLink(URLRequest{URL::string(*link)});
}

void WKWebView::touchesCancelled(const UITouchSet&, const UIEvent*) { dragStart_.reset(); }
