#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/URL.h"
#include "platform/graphics/CGGeometry.h"
#include "platform/web/HTMLFilter.h"

class CGContext;
class UIImage;

// An HTML page laid out and drawn by litehtml through our own fonts, text
// and drawing. Content coordinates are points from the page's top left
// corner; the page is laid out at the width it is given.
class HTMLDocument {
public:
    // Called for each picture the page names (resolved against the base
    // URL), once; hand the picture back with setImage().
    using ImageRequest = std::function<void(const URL&)>;

    struct Link {
        std::string address;  // resolved against the base URL
        bool newWindow = false;
    };

    // Untrusted pages (from the network, or any bytes at all) go through
    // filterHTML() first; our own pages are taken as they are. A page that
    // runs out of a parse budget is replaced by a page saying so. Nothing
    // here bounds the engine's work: untrusted pages are laid out and drawn
    // in a renderer process of their own (see RenderedPage).
    // `width`, when known, is the width the page is first laid out at: the
    // page's media rules are chosen for it as the page is built.
    HTMLDocument(std::string_view html, std::optional<URL> baseURL, bool untrusted, ImageRequest requestImage = {},
                 CGFloat width = 0);
    // An untrusted page its caller has filtered already, or one refused
    // before it was built (`spent` set).
    HTMLDocument(FilteredHTML page, std::optional<URL> baseURL, ImageRequest requestImage = {}, CGFloat width = 0);
    ~HTMLDocument();
    HTMLDocument(const HTMLDocument&) = delete;
    HTMLDocument& operator=(const HTMLDocument&) = delete;

    // Lays the page out again when the width or its pictures changed.
    void layout(CGFloat width);
    // The width in pixels a page is laid out at for a view `width` points wide.
    static int layoutWidth(CGFloat width);
    CGFloat height() const;
    const std::string& title() const;
    const std::optional<URL>& baseURL() const;
    // The budget the page ran out of: what is shown is the message instead.
    const std::optional<PageBudget>& overBudget() const;
    // The most tables nested in one another as the page was last laid out,
    // the engine's own boxes around table parts included.
    int nestedTables() const;

    // Draws the part of the page from `top` down that fits `size`, with the
    // page's top left corner at the context's origin moved up by `top`.
    void draw(CGContext& context, CGFloat top, CGSize size);

    // The link under a point; the press and the release are given at once
    // (the engine reports links on release, from the element last pressed).
    std::optional<Link> linkAt(CGPoint point);

    // A picture arrived (null: it could not be had). Lays out again on the
    // next layout().
    void setImage(const URL& url, std::shared_ptr<UIImage> image);

private:
    struct Impl;
    // Shows the message in place of the page, once the page spent `budget`.
    void refuse(PageBudget budget);

    std::unique_ptr<Impl> impl_;
    std::optional<PageBudget> overBudget_;
};

// What the message page says of a page over one of its budgets.
inline constexpr char kOverBudgetMessage[] = "The page needs more memory or time than a page may take here.";
// The log line for it.
std::string pageRefusal(const std::optional<URL>& page, PageBudget budget);

// The page shown when a page cannot be loaded: a heading, the address and
// the reason.
std::string errorPageHTML(const std::string& address, const std::string& reason);

// Text with the characters that mean something in HTML escaped.
std::string escapedHTML(const std::string& text);
