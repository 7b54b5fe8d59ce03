#include "platform/web/WKWebView.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <utility>

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/FileManager.h"
#include "platform/graphics/CGContext.h"
#include "platform/graphics/NSString.h"
#include "platform/graphics/UIBezierPath.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UITouch.h"
#include "platform/web/HTMLDocument.h"
#include "platform/web/PDFPageStack.h"
#include "platform/web/RenderedPage.h"

namespace {

constexpr CGFloat kWheelStep = 48;   // points per wheel notch
constexpr CGFloat kTapSlop = 4;      // a touch that moves less is a tap
constexpr int kLoadFailed = -1100;   // the platform's code for a resource that cannot be loaded
// A local HTML file larger than this is not read.
constexpr std::size_t kMaximumPageBytes = std::size_t(16) << 20;

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

// A page reaches local files only when it is one itself.
bool reachable(const std::optional<URL>& page, const URL& target) {
    return !target.isFileURL() || (page && page->isFileURL());
}

// The view's own downloads: slow pages and pictures wait on these threads,
// never on the global queue that the rest of the app shares. Pages have
// threads apart, so that the next page never waits behind the pictures of the
// page shown, which keep coming until it is replaced.
DispatchQueue& pageDownloads() {
    static DispatchQueue* const queue = new DispatchQueue("WKWebView.pages", 2);
    return *queue;
}

DispatchQueue& pictureDownloads() {
    static DispatchQueue* const queue = new DispatchQueue("WKWebView.pictures", 4);
    return *queue;
}

// Pages complete on the main queue; pictures right where they arrived, to be
// decoded there.
URLSession& pageSession() {
    static URLSession* const session = new URLSession(pageDownloads(), DispatchQueue::main());
    return *session;
}

URLSession& pictureSession() {
    static URLSession* const session = new URLSession(pictureDownloads(), pictureDownloads());
    return *session;
}

}  // namespace

// The pictures of one page, downloaded here and handed to its renderer,
// which decodes them within the page's budget. The download threads read
// only what is atomic or constant here; the rest belongs to the main thread.
struct WKWebView::Pictures {
    explicit Pictures(URL origin) : page(std::move(origin)) {}

    const URL page;
    std::atomic<bool> cancelled{false};
    std::vector<std::shared_ptr<URLSessionDataTask>> tasks;
    int pending = 0;

    void cancel() {
        cancelled = true;
        for (const auto& task : tasks)
            task->cancel();
        tasks.clear();
        pending = 0;
    }
};

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

WKWebView::~WKWebView() {
    *self_ = nullptr;
    if (pageTask_)
        pageTask_->cancel();
    dropPictures();
}

bool WKWebView::isLoading() const {
    return pageTask_ || (page_ && page_->isBusy()) || (pictures_ && pictures_->pending > 0);
}

void WKWebView::dropPictures() {
    if (pictures_)
        pictures_->cancel();
    pictures_.reset();
}

int WKWebView::pageCount() const { return pdf_ ? pdf_->pageCount() : 0; }

std::string WKWebView::title() const { return page_ ? page_->title() : html_ ? html_->title() : std::string(); }

void WKWebView::load(const URLRequest& request) { navigate(request, WKNavigationType::other, std::nullopt); }

void WKWebView::loadHTMLString(const std::string& html, const std::optional<URL>& baseURL) {
    navigate(URLRequest{baseURL}, WKNavigationType::other, html);
}

void WKWebView::followLink(const URLRequest& request, bool newWindow) {
    if (request.url && !reachable(url_, *request.url)) {
        log("ERROR: the link to " + request.url->absoluteString() + " is not followed: a page from " + describe(url_) +
            " may not open local files.");
        return;
    }
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
    // A page still on its way would be dropped when it came.
    if (pageTask_)
        pageTask_->cancel();
    pageTask_.reset();
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
    // The page shown keeps its pictures coming until another takes its place:
    // the response may yet be refused.
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
                         (std::filesystem::exists(status) ? ": it is not a regular file." : ": there is no such file."),
                     url);
                return;
            }
        } else if (scheme != "http" && scheme != "https") {
            fail("could not load " + url.absoluteString() + ": the scheme is not supported.", url);
            return;
        }
    }
    if (html) {
        decideResponse(navigation, URLResponse{request.url, std::nullopt, "text/html"}, Data(html->begin(), html->end()));
        return;
    }
    if (url.isFileURL()) {
        decideResponse(navigation, URLResponse{url, std::nullopt, mimeTypeOf(url)}, std::nullopt);
        return;
    }
    std::weak_ptr<WKWebView*> self = self_;
    pageTask_ = pageSession().dataTask(request, [self, navigation, request](const std::optional<Data>& data,
                                                                           const std::optional<URLResponse>& response,
                                                                           const std::optional<NSError>& error) {
        const auto view = self.lock();
        if (!view || !*view || navigation != (*view)->navigation_)
            return;
        (*view)->pageTask_.reset();
        if (error || !data || !response)
            (*view)->fail(error ? error->localizedDescription() : "nothing arrived.", request.url);
        else
            (*view)->arrived(navigation, request, *response, *data);
    });
}

void WKWebView::arrived(std::uint64_t navigation, const URLRequest& request, const URLResponse& response, Data body) {
    URLResponse typed = response;
    if (typed.mimeType.empty() || typed.mimeType == "application/octet-stream")
        typed.mimeType = response.url ? mimeTypeOf(*response.url) : "text/html";
    if (!response.url || response.url == request.url) {
        decideResponse(navigation, typed, std::move(body));
        return;
    }
    // The server sent us elsewhere: the new address is asked about too.
    log("redirected from " + describe(request.url) + " to " + describe(response.url) + ".");
    std::weak_ptr<WKWebView*> self = self_;
    auto decide = answeredOnce<WKNavigationActionPolicy>(
        "action", [self, navigation, typed, body = std::move(body)](WKNavigationActionPolicy policy) {
            const auto view = self.lock();
            if (view && *view && policy == WKNavigationActionPolicy::allow && navigation == (*view)->navigation_)
                (*view)->decideResponse(navigation, typed, body);
        });
    const WKNavigationAction action{URLRequest{response.url, request.timeoutInterval, request.cachePolicy},
                                    WKNavigationType::other, WKFrameInfo{}};
    if (auto delegate = navigationDelegate())
        delegate->webView(*this, action, std::move(decide));
    else
        decide(WKNavigationActionPolicy::allow);
}

void WKWebView::decideResponse(std::uint64_t navigation, const URLResponse& response, std::optional<Data> body) {
    if (navigation != navigation_)
        return;
    const URL url = response.url ? *response.url : *URL::string("about:blank");
    std::weak_ptr<WKWebView*> self = self_;
    auto decide = answeredOnce<WKNavigationResponsePolicy>(
        "response", [self, navigation, url, mimeType = response.mimeType,
                     body = std::move(body)](WKNavigationResponsePolicy policy) {
            const auto view = self.lock();
            if (!view || !*view)
                return;
            if (policy == WKNavigationResponsePolicy::allow)
                (*view)->show(navigation, url, mimeType, body);
        });
    if (auto delegate = navigationDelegate())
        delegate->webView(*this, WKNavigationResponse{response, true}, std::move(decide));
    else
        decide(WKNavigationResponsePolicy::allow);
}

void WKWebView::show(std::uint64_t navigation, const URL& url, const std::string& mimeType, std::optional<Data> body) {
    if (navigation != navigation_)
        return;
    if (mimeType == "application/pdf") {
        // Opened by its renderer: the navigation finishes, or fails, once it is.
        std::weak_ptr<WKWebView*> self = self_;
        const auto view = [self]() -> WKWebView* {
            const auto alive = self.lock();
            return alive ? *alive : nullptr;
        };
        PDFPageStack::Events events;
        const auto finished = std::make_shared<bool>(false);
        events.opened = [view, navigation, finished] {
            *finished = true;
            WKWebView* v = view();
            if (!v)
                return;
            v->setNeedsDisplay();
            // A newer navigation on its way is the one the delegate waits to hear of.
            if (auto delegate = v->navigationDelegate(); delegate && navigation == v->navigation_)
                delegate->didFinishNavigation(*v);
        };
        events.failed = [view, url, navigation, finished](const std::string& error) {
            WKWebView* v = view();
            if (!v || !v->pdf_)
                return;
            const std::string message = "could not show " + url.absoluteString() + ": " + error + ".";
            // A document that stops after its navigation finished fails no
            // navigation, nor does one that a navigation on its way supersedes
            // (that one goes on): the message takes its place.
            if (!*finished) {
                v->fail(message, url, navigation);
                return;
            }
            log("ERROR: " + message);
            v->replaceWithMessage(url, message);
        };
        events.drawn = [view](int) {
            if (WKWebView* v = view())
                v->setNeedsDisplay();
        };
        html_.reset();
        page_.reset();
        dropPictures();
        pdf_ = body ? std::make_unique<PDFPageStack>(std::move(*body), std::move(events))
                    : std::make_unique<PDFPageStack>(url.path(), std::move(events));
        url_ = url;
        offset_ = 0;
        setNeedsDisplay();
        return;
    } else if (mimeType == "text/html" || mimeType == "application/xhtml+xml" || mimeType == "text/plain") {
        std::string text;
        if (body) {
            text.assign(body->begin(), body->end());
        } else {
            try {
                const Data bytes = FileManager::defaultManager().contents(url, kMaximumPageBytes);
                text.assign(bytes.begin(), bytes.end());
            } catch (const NSError& error) {
                fail("could not read " + url.path() + ": " + error.localizedDescription(), url);
                return;
            }
        }
        if (mimeType == "text/plain")
            text = "<pre>" + escapedHTML(text) + "</pre>";
        showPage(navigation, text, url);
        return;
    } else {
        fail("could not show " + url.absoluteString() + ": content of the type " + mimeType + " cannot be shown.", url);
    }
}

void WKWebView::showPage(std::uint64_t navigation, const std::string& text, const URL& url) {
    pdf_.reset();
    html_.reset();
    dropPictures();
    auto pictures = std::make_shared<Pictures>(url);
    std::weak_ptr<WKWebView*> self = self_;
    const auto view = [self]() -> WKWebView* {
        const auto alive = self.lock();
        return alive ? *alive : nullptr;
    };
    RenderedPage::Events events;
    events.laidOut = [view, navigation, url] {
        WKWebView* v = view();
        // A newer navigation on its way is the one the delegate waits to hear of.
        if (v && navigation == v->navigation_)
            if (auto delegate = v->navigationDelegate())
                delegate->didFinishNavigation(*v);
    };
    events.changed = [view] {
        if (WKWebView* v = view())
            v->setNeedsDisplay();
    };
    events.refused = [view, navigation, url](std::optional<PageBudget> budget, const std::string& why) {
        WKWebView* v = view();
        if (!v)
            return;
        const bool loading = !v->page_->laidOut();
        if (!budget) {
            const std::string message = "could not show " + url.absoluteString() + ": " + why + ".";
            // A page whose navigation finished fails no navigation: the message takes its place.
            if (loading) {
                v->fail(message, url, navigation);
                return;
            }
            log("ERROR: " + message);
            v->replaceWithMessage(url, message);
            return;
        }
        // A page over its budget is shown as the message that says so.
        log("ERROR: " + pageRefusal(url, *budget));
        v->replaceWithMessage(url, kOverBudgetMessage);
        if (loading && navigation == v->navigation_)
            if (auto delegate = v->navigationDelegate())
                delegate->didFinishNavigation(*v);
    };
    // Asked once per address: a picture used many times is fetched and handed over once.
    events.wantsPicture = [self, pictures](const URL& image) {
        if (pictures->cancelled)
            return;  // the view is on its way elsewhere
        if (!reachable(pictures->page, image)) {
            log("ERROR: the picture " + image.absoluteString() + " is not loaded: a page from " +
                pictures->page.absoluteString() + " may not read local files.");
            return;
        }
        ++pictures->pending;
        const auto arrived = [self, pictures, image](const std::optional<Data>& data, const std::optional<URLResponse>&,
                                                     const std::optional<NSError>&) {
            if (pictures->cancelled)
                return;
            std::string bytes = data ? std::string(data->begin(), data->end()) : std::string();
            DispatchQueue::main().async([self, pictures, image, bytes = std::move(bytes)]() mutable {
                const auto alive = self.lock();
                if (pictures->cancelled || !alive || !*alive)
                    return;
                --pictures->pending;
                if ((*alive)->page_)
                    (*alive)->page_->setPicture(image, std::move(bytes));
            });
        };
        pictures->tasks.push_back(pictureSession().dataTask(URLRequest{image, kPictureTimeout}, arrived));
    };
    pictures_ = std::move(pictures);
    page_ = std::make_unique<RenderedPage>(text, url, bounds().width(), bounds().height(), drawnScale_, std::move(events));
    url_ = url;
    offset_ = 0;
    setNeedsDisplay();
}

void WKWebView::replaceWithMessage(const std::optional<URL>& url, const std::string& message) {
    pdf_.reset();
    page_.reset();
    dropPictures();
    html_ = std::make_unique<HTMLDocument>(errorPageHTML(url ? url->absoluteString() : "", message), std::nullopt, false);
    offset_ = 0;
    setNeedsDisplay();
}

void WKWebView::showMessage(const std::optional<URL>& url, const std::string& message) {
    if (pageTask_)
        pageTask_->cancel();
    pageTask_.reset();
    replaceWithMessage(url, message);
}

void WKWebView::fail(const std::string& message, const std::optional<URL>& url) { fail(message, url, navigation_); }

void WKWebView::fail(const std::string& message, const std::optional<URL>& url, std::uint64_t navigation) {
    log("ERROR: " + message);
    replaceWithMessage(url, message);
    if (navigation != navigation_)
        return;  // a newer navigation on its way is the one the delegate waits to hear of
    if (pageTask_)
        pageTask_->cancel();
    pageTask_.reset();
    if (auto delegate = navigationDelegate())
        delegate->didFailNavigation(*this, NSError(kLoadFailed, message));
}

CGFloat WKWebView::contentHeight() const {
    if (page_) {
        page_->setWidth(bounds().width());
        return page_->height();
    }
    if (html_) {
        html_->layout(bounds().width());
        return html_->height();
    }
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
    drawnScale_ = context->pixelsPerUnit();
    context->saveGState();
    context->setFillColor({0.82, 0.82, 0.84, 1});
    UIBezierPath::rect(area)->fill();
    if (pdf_) {
        pdf_->setWidth(area.width());
        pdf_->draw(*context, offset_, area.height());
    } else if (page_) {
        page_->setWidth(area.width());
        context->setFillColor(UIColor::white());
        UIBezierPath::rect(area)->fill();
        page_->draw(*context, offset_, area.size);
    } else if (html_) {
        html_->layout(area.width());
        context->setFillColor(UIColor::white());
        UIBezierPath::rect(area)->fill();
        html_->draw(*context, offset_, area.size);
    }
    context->restoreGState();
}

bool WKWebView::scrollWheel(CGPoint, CGFloat notches) {
    if ((!pdf_ && !html_ && !page_) || !std::isfinite(notches))
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
    const CGPoint point = (*touches.begin())->location(this);
    if (page_) {
        // The press and the release are handed over together, where the tap was.
        page_->setWidth(bounds().width());
        std::weak_ptr<WKWebView*> self = self_;
        page_->tap({point.x, point.y + offset_}, [self](std::optional<HTMLDocument::Link> link) {
            const auto view = self.lock();
            if (!view || !*view || !link)
                return;
            const std::optional<URL> url = URL::string(link->address);
            if (!url) {
                log("ERROR: the link " + link->address + " forms no URL.");
                return;
            }
            (*view)->followLink(URLRequest{url}, link->newWindow);
        });
        return;
    }
    if (html_) {
        html_->layout(bounds().width());
        const std::optional<HTMLDocument::Link> link = html_->linkAt({point.x, point.y + offset_});
        const std::optional<URL> url = link ? URL::string(link->address) : std::nullopt;
        if (url)
            followLink(URLRequest{url}, link->newWindow);
        return;
    }
    if (!pdf_)
        return;
    pdf_->setWidth(bounds().width());
    const auto hit = pdf_->pageAt({point.x, point.y + offset_});
    if (!hit)
        return;
    if (const auto link = pdf_->linkAt(hit->first, hit->second))
        followLink(URLRequest{URL::string(*link)});
}

void WKWebView::touchesCancelled(const UITouchSet&, const UIEvent*) { dragStart_.reset(); }
