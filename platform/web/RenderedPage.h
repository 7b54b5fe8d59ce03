#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>

#include "platform/foundation/URL.h"
#include "platform/graphics/CGGeometry.h"
#include "platform/web/HTMLDocument.h"
#include "platform/web/HTMLFilter.h"
#include "platform/web/PageRenderer.h"
#include "platform/web/PageStrips.h"

class CGContext;
class ChildSession;
class ImageSurface;

// An HTML page drawn by a renderer process of its own (orvo-page-renderer),
// as browsers draw pages: the page's filter, parse, style, layout at each
// width, drawing and hit-testing happen there, under a limit of resident
// memory watched from outside and a limit of processor time for each
// request. This side never waits on it: it sends the width, the strips of
// the page to draw and taps, and draws the newest pictures it has (the old
// width's or scale's, scaled, until the new ones come). A page is drawn in
// strips (PageStrips), so that a view of any size and scale is drawn a
// request at a time within the renderer's limits and the channel's frame.
// Every answer is checked: a renderer that answers what it was not asked,
// or asks for more pictures than a page may have, is ended and the page
// refused. Everything here is for the main thread; the events come on it,
// and the page may be destroyed inside any of them. Destroying it ends its
// renderer at once.
class RenderedPage {
public:
    // What a page's renderer may take: enough for a page with a style sheet of
    // a common framework's size several times over, and its pictures.
    static std::chrono::milliseconds processorTime();
    static std::size_t memoryBytes();
    // How long a request may go unanswered, whatever the renderer does.
    static std::chrono::milliseconds answerTime();

    struct Events {
        std::function<void()> laidOut;                // the first layout: the title and height are known
        std::function<void()> changed;                // a new picture, height or title
        std::function<void(const URL&)> wantsPicture;  // once per address
        // The page is not shown: over a budget (its parse's, or the renderer's
        // processor time or memory), or its renderer failed, with why.
        std::function<void(std::optional<PageBudget> budget, const std::string& why)> refused;
    };

    // `width` and `viewHeight` in points: the page is laid out at once, and
    // its top drawn at `scale` pixels to the point unless a draw asks for
    // another first. `program` stands in for the renderer (tests).
    RenderedPage(const std::string& html, std::optional<URL> baseURL, CGFloat width, CGFloat viewHeight, CGFloat scale,
                 Events events, std::optional<std::string> program = std::nullopt);
    ~RenderedPage();
    RenderedPage(const RenderedPage&) = delete;
    RenderedPage& operator=(const RenderedPage&) = delete;

    // Lays the page out at a new width; cheap when unchanged. Only the
    // latest width is laid out once the layout on its way is done.
    void setWidth(CGFloat width);
    // The height at the latest width answered; 0 before the first.
    CGFloat height() const { return height_; }
    const std::string& title() const { return title_; }
    bool laidOut() const { return laidOut_; }
    // True while an answer is awaited: the first layout, or a picture asked for.
    bool isBusy() const { return !refused_ && (!laidOut_ || unanswered_ > 0); }

    // Draws what it has of `size` from `top` of the page, the content's
    // `top` at the context's y = 0, and asks for what it lacks.
    void draw(CGContext& context, CGFloat top, CGSize size);
    // The link under a point of the content, answered later (none: no link).
    void tap(CGPoint point, std::function<void(std::optional<HTMLDocument::Link>)> answered);
    // A picture the page asked for arrived (empty: it could not be had).
    void setPicture(const URL& url, std::string bytes);

private:
    struct Reply;

    // `width`: the width the renderer is laid out at once it has answered.
    void send(std::string request, PageRenderer::Request kind, int width, std::optional<PageStrips::Strip> strip,
              std::function<void(Reply&)> answered);
    // Takes what an answer says of the page: false when the page is refused
    // or went with an event.
    bool take(Reply& reply);
    // Lays the page out at the latest width, unless a layout is on its way.
    void layOut();
    // Asks for the next strip the view lacks, unless one is on its way.
    void askNext();
    void ended(std::optional<PageBudget> budget, const std::string& why);

    Events events_;
    std::shared_ptr<ChildSession> renderer_;
    int width_ = 0;       // the view's
    int sentWidth_ = 0;   // the renderer's once it has done what it was sent
    CGFloat height_ = 0;  // at the width of the latest answer
    std::string title_;
    bool laidOut_ = false;
    bool refused_ = false;
    bool layingOut_ = false;
    bool drawing_ = false;
    int unanswered_ = 0;
    PageStrips strips_;
    // Pictures of the page handed over so far, and the addresses it asked for.
    std::uint64_t picturesSent_ = 0;
    std::unordered_set<std::string> picturesAsked_;
    // Answers that come after the page has gone find this empty.
    std::shared_ptr<RenderedPage*> self_;
};
