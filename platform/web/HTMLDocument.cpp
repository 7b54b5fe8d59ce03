#include "platform/web/HTMLDocument.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include "platform/graphics/CGContext.h"
#include "platform/web/HTMLContainer.h"
#include "platform/web/HTMLFilter.h"

namespace {

// The engine brings no style of its own: what every page starts from.
constexpr const char* kDefaultStyle = R"css(
html { display: block; }
head, style, script, title, meta, link, base, template { display: none; }
body { display: block; margin: 8px; font-family: sans-serif; font-size: 16px; color: #000; line-height: 1.2; }
p, div, address, blockquote, figure, figcaption, section, article, header, footer, nav, main, aside, center,
dl, dt, dd, form, fieldset, legend, details, summary, pre, hr, ul, ol, menu, h1, h2, h3, h4, h5, h6 { display: block; }
p, dl, blockquote, figure, pre, ul, ol, menu { margin-top: 1em; margin-bottom: 1em; }
blockquote, figure { margin-left: 40px; margin-right: 40px; }
dd { margin-left: 40px; }
center { text-align: center; }
h1 { font-size: 2em; margin: 0.67em 0; font-weight: bold; }
h2 { font-size: 1.5em; margin: 0.83em 0; font-weight: bold; }
h3 { font-size: 1.17em; margin: 1em 0; font-weight: bold; }
h4 { margin: 1.33em 0; font-weight: bold; }
h5 { font-size: 0.83em; margin: 1.67em 0; font-weight: bold; }
h6 { font-size: 0.67em; margin: 2.33em 0; font-weight: bold; }
ul, ol, menu { padding-left: 40px; }
ul, menu { list-style-type: disc; }
ol { list-style-type: decimal; }
ul ul, ol ul { list-style-type: circle; margin-top: 0; margin-bottom: 0; }
li { display: list-item; }
b, strong, th { font-weight: bold; }
i, em, cite, var, dfn, address { font-style: italic; }
u, ins { text-decoration: underline; }
s, strike, del { text-decoration: line-through; }
pre, code, kbd, samp, tt { font-family: monospace; }
pre { white-space: pre; }
small { font-size: 0.83em; }
big { font-size: 1.17em; }
sub { vertical-align: sub; font-size: 0.83em; }
sup { vertical-align: super; font-size: 0.83em; }
a:link, a[href] { color: #0645ad; text-decoration: underline; }
img { display: inline-block; }
hr { border: 1px inset #888; margin: 0.5em 0; height: 0; }
br { display: block; }
table { display: table; border-collapse: separate; border-spacing: 2px; }
thead { display: table-header-group; }
tbody { display: table-row-group; }
tfoot { display: table-footer-group; }
tr { display: table-row; }
td, th { display: table-cell; padding: 1px; vertical-align: middle; }
th { text-align: center; }
caption { display: table-caption; text-align: center; }
col { display: table-column; }
colgroup { display: table-column-group; }
)css";

// The layout engine works in whole pixels; a view wider than this is laid
// out at this width.
constexpr CGFloat kMaximumWidth = 20000;

}  // namespace

struct HTMLDocument::Impl {
    litehtml::context context;
    HTMLContainer container;
    litehtml::document::ptr document;
    int width = -1;

    Impl(std::optional<URL> baseURL, ImageRequest requestImage)
        : container(std::move(baseURL), std::move(requestImage)) {
        context.load_master_stylesheet(kDefaultStyle);
    }
};

HTMLDocument::HTMLDocument(std::string_view html, std::optional<URL> baseURL, bool untrusted, ImageRequest requestImage,
                           CGFloat width)
    : HTMLDocument(untrusted ? filterHTML(html) : FilteredHTML{std::string(html), std::nullopt}, std::move(baseURL),
                   std::move(requestImage), width) {}

HTMLDocument::HTMLDocument(FilteredHTML page, std::optional<URL> baseURL, ImageRequest requestImage, CGFloat width)
    : impl_(std::make_unique<Impl>(std::move(baseURL), std::move(requestImage))) {
    if (page.spent) {
        refuse(*page.spent);
        return;
    }
    if (width > 0)
        impl_->container.setViewport(layoutWidth(width), layoutWidth(width));
    impl_->document = litehtml::document::createFromUTF8(page.html.c_str(), &impl_->container, &impl_->context);
}

void HTMLDocument::refuse(PageBudget budget) {
    const std::string address = impl_->container.baseURL() ? impl_->container.baseURL()->absoluteString() : "";
    overBudget_ = budget;
    impl_ = std::make_unique<Impl>(std::nullopt, ImageRequest{});
    const std::string message = errorPageHTML(address, kOverBudgetMessage);
    impl_->document = litehtml::document::createFromUTF8(message.c_str(), &impl_->container, &impl_->context);
}

HTMLDocument::~HTMLDocument() = default;

int HTMLDocument::layoutWidth(CGFloat width) {
    return int(std::clamp<CGFloat>(std::isfinite(width) ? std::floor(width) : 0, 1, kMaximumWidth));
}

void HTMLDocument::layout(CGFloat width) {
    const int pixels = layoutWidth(width);
    if (!impl_->document || (pixels == impl_->width && !impl_->container.takeImagesChanged()))
        return;
    impl_->width = pixels;
    impl_->container.setViewport(pixels, pixels);
    impl_->document->media_changed();
    if (const litehtml::element::ptr root = impl_->document->root())
        boundTables(*root);
    impl_->document->render(pixels);
}

CGFloat HTMLDocument::height() const { return impl_->document && impl_->width > 0 ? impl_->document->height() : 0; }

const std::string& HTMLDocument::title() const { return impl_->container.title(); }

const std::optional<URL>& HTMLDocument::baseURL() const { return impl_->container.baseURL(); }

const std::optional<PageBudget>& HTMLDocument::overBudget() const { return overBudget_; }

int HTMLDocument::nestedTables() const {
    const litehtml::element::ptr root = impl_->document ? impl_->document->root() : nullptr;
    int most = 0;
    std::vector<std::pair<const litehtml::element*, int>> pending;
    if (root)
        pending.emplace_back(root.get(), 0);
    while (!pending.empty()) {
        const auto [element, outside] = pending.back();
        pending.pop_back();
        const litehtml::style_display display = element->get_display();
        const int tables = outside + (display == litehtml::display_table || display == litehtml::display_inline_table);
        most = std::max(most, tables);
        for (int i = 0, n = int(element->get_children_count()); i < n; ++i)
            pending.emplace_back(element->get_child(i).get(), tables);
    }
    return most;
}

void HTMLDocument::draw(CGContext& context, CGFloat top, CGSize size) {
    if (!impl_->document || impl_->width <= 0 || !std::isfinite(top))
        return;
    const int y = int(std::floor(std::clamp<CGFloat>(top, -1e9, 1e9)));
    litehtml::position clip(0, y, impl_->width, int(std::ceil(std::clamp<CGFloat>(size.height, 0, 1e6))) + 1);
    context.saveGState();
    // The page's `top` at y = 0 exactly: a strip whose top is no whole point
    // meets the one above it without a seam.
    context.translateBy(0, -top);
    impl_->document->draw(reinterpret_cast<litehtml::uint_ptr>(&context), 0, 0, &clip);
    context.restoreGState();
}

std::optional<HTMLDocument::Link> HTMLDocument::linkAt(CGPoint point) {
    if (!impl_->document || impl_->width <= 0 || !std::isfinite(point.x) || !std::isfinite(point.y))
        return std::nullopt;
    const int x = int(std::clamp<CGFloat>(point.x, -1e6, 1e6)), y = int(std::clamp<CGFloat>(point.y, -1e6, 1e6));
    litehtml::position::vector redraw;
    impl_->container.takeClick();
    impl_->document->on_mouse_over(x, y, x, y, redraw);
    impl_->document->on_lbutton_down(x, y, x, y, redraw);
    impl_->document->on_lbutton_up(x, y, x, y, redraw);
    impl_->document->on_mouse_leave(redraw);
    const std::optional<HTMLContainer::Click> click = impl_->container.takeClick();
    if (!click)
        return std::nullopt;
    return Link{click->address, click->newWindow};
}

void HTMLDocument::setImage(const URL& url, std::shared_ptr<UIImage> image) {
    impl_->container.setImage(url, std::move(image));
}

std::string pageRefusal(const std::optional<URL>& page, PageBudget budget) {
    return "the page " + (page ? page->absoluteString() : std::string("(no URL)")) + " is not shown: " +
           overBudgetReason(budget, "a page") + ".";
}

std::string errorPageHTML(const std::string& address, const std::string& reason) {
    return "<html><head><title>Cannot show the page</title><style>"
           "body { font-family: sans-serif; color: #333; background: #f4f4f2; margin: 32px; }"
           "h1 { font-size: 22px; font-weight: bold; color: #8a1f11; }"
           "p.address { font-family: monospace; color: #555; }"
           "</style></head><body><h1>This page cannot be shown</h1>" +
           (address.empty() ? "" : "<p class=\"address\">" + escapedHTML(address) + "</p>") + "<p>" +
           escapedHTML(reason) + "</p></body></html>";
}

std::string escapedHTML(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}
