#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/URL.h"
#include "platform/graphics/CGGeometry.h"
#include "platform/web/HTMLDocument.h"
#include "platform/web/HTMLFilter.h"
#include "platform/web/PageRenderer.h"

class CGContext;
class ChildSession;
class ImageSurface;

// An HTML page drawn by a renderer process of its own (orvo-page-renderer),
// as browsers draw pages: the page's filter, parse, style, layout at each
// width, drawing and hit-testing happen there, under a limit of resident
// memory watched from outside and a limit of processor time for each
// request. This side never waits on it: it sends the width, the area to draw
// and taps, and draws the newest picture it has (the old width's picture,
// scaled, until the new one comes). Everything here is for the main thread;
// the events come on it, and the page may be destroyed inside any of them.
// Destroying it ends its renderer at once.
class RenderedPage {
public:
    // What a page's renderer may take: enough for a page with a style sheet of
    // a common framework's size several times over, and its pictures.
    static std::chrono::milliseconds processorTime();
    static std::size_t memoryBytes();

    struct Events {
        std::function<void()> laidOut;                // the first layout: the title and height are known
        std::function<void()> changed;                // a new picture, height or title
        std::function<void(const URL&)> wantsPicture;  // once per address
        // The page is not shown: over a budget (its parse's, or the renderer's
        // processor time or memory), or its renderer failed, with why.
        std::function<void(std::optional<PageBudget> budget, const std::string& why)> refused;
    };

    // `width` and `viewHeight` in points: the first picture, of the page's
    // top, is asked for at once.
    RenderedPage(const std::string& html, std::optional<URL> baseURL, CGFloat width, CGFloat viewHeight,
                 Events events);
    ~RenderedPage();
    RenderedPage(const RenderedPage&) = delete;
    RenderedPage& operator=(const RenderedPage&) = delete;

    // Lays the page out at a new width; cheap when unchanged.
    void setWidth(CGFloat width);
    // The height at the latest width answered; 0 before the first.
    CGFloat height() const { return height_; }
    const std::string& title() const { return title_; }
    bool laidOut() const { return laidOut_; }
    // True while an answer is awaited: the first layout, or a picture asked for.
    bool isBusy() const { return !refused_ && (!laidOut_ || unanswered_ > 0); }

    // Draws what it has of `height` points of the page from `top`, the
    // content's `top` at the context's y = 0, and asks for what it lacks.
    void draw(CGContext& context, CGFloat top, CGSize size);
    // The link under a point of the content, answered later (none: no link).
    void tap(CGPoint point, std::function<void(std::optional<HTMLDocument::Link>)> answered);
    // A picture the page asked for arrived (empty: it could not be had).
    void setPicture(const URL& url, std::string bytes);

private:
    struct Area {
        int width = 0;
        CGFloat top = 0, height = 0, scale = 1;
        bool operator==(const Area&) const = default;
        bool covers(const Area& other) const {
            return width == other.width && scale == other.scale && top <= other.top &&
                   top + height >= other.top + other.height;
        }
    };
    struct Picture {
        Area area;
        std::shared_ptr<const ImageSurface> image;
    };

    void send(std::string request, std::function<void(const std::string&)> answered);
    // Takes what an answer says of the page: none when the page is refused
    // or went with an event.
    std::optional<PageRenderer::Answer> take(const std::string& answer, PageRenderer::Request request);
    void ask(const Area& area);
    void ended(std::optional<PageBudget> budget, const std::string& why);

    Events events_;
    std::shared_ptr<ChildSession> renderer_;
    int width_ = 0;
    CGFloat viewHeight_;
    CGFloat height_ = 0;
    std::string title_;
    bool laidOut_ = false;
    bool refused_ = false;
    std::optional<Picture> picture_;
    // The area to draw next, and whether a draw is under way.
    std::optional<Area> wanted_;
    bool drawing_ = false;
    int unanswered_ = 0;
    // Pictures of the page handed over so far.
    std::uint64_t picturesSent_ = 0;
    // The picture shows what the page was before a picture of its own arrived.
    bool stale_ = false;
    // Answers that come after the page has gone find this empty.
    std::shared_ptr<RenderedPage*> self_;
};
