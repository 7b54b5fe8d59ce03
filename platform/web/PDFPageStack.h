#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/foundation/ChildSession.h"
#include "platform/graphics/CGGeometry.h"
#include "platform/web/PDFRenderer.h"

class CGContext;
class ImageSurface;

// The pages of a PDF one under the other at a width, with margins around and
// between them. Page tops are kept in a table (so finding a page is a binary
// search, whatever the length of the document), and pages are drawn as
// pictures kept within a memory budget.
//
// Poppler is slow on heavy pages and greedy on large pictures, so each
// document is opened and its pages drawn by a renderer process of its own
// (PDFRenderer), held to limits of memory and of processor time a request:
// no document waits for another, and none holds the main thread or this
// process's memory. A draw shows the pictures at hand, a white page for the
// others, and asks the renderer for the pages that show and have none; a
// picture reaches the stack through the main queue. Until the document is
// open it shows as one blank page. A renderer past a limit, or ended, fails
// the stack, saying why. Everything here is for the main thread; destroying
// the stack ends the renderer at once and waits for nothing.
class PDFPageStack {
public:
    static constexpr CGFloat kMargin = 12;
    static constexpr std::size_t kCacheBytes = std::size_t{64} << 20;
    // One page's picture at most: a page that would take more at the pixels
    // it shows with is drawn at fewer, so that the pages in view fit the cache.
    static constexpr std::size_t kPictureBytes = kCacheBytes / 4;

    // Called on the main thread; the stack may be destroyed inside any of them.
    struct Events {
        std::function<void()> opened;                        // the pages are laid out
        std::function<void(const std::string& why)> failed;  // it cannot be opened or drawn
        std::function<void(int page)> drawn;                 // a page's picture arrived
    };
    enum class State { opening, open, failed };

    // What a document's renderer may take: resident memory, and processor
    // time for each request (more in a sanitizer's build, which is slower
    // and keeps memory of its own).
    static ChildSession::Limits limits();

    // The document in the file at `path`, or in `bytes` (from the network),
    // PDFRenderer::kMostBytes at most. The renderer reads it, not this thread.
    PDFPageStack(const std::string& path, Events events);
    PDFPageStack(std::vector<std::uint8_t> bytes, Events events);
    ~PDFPageStack();
    PDFPageStack(const PDFPageStack&) = delete;
    PDFPageStack& operator=(const PDFPageStack&) = delete;

    State state() const { return state_; }
    // None until the document is open.
    int pageCount() const { return state_ == State::open ? int(sizes_.size()) : 0; }

    // Lays the pages out at this width (margins included); cheap when unchanged.
    void setWidth(CGFloat width);
    CGFloat contentHeight() const { return tops_.back(); }
    // The page under a point of the content, with the point in page points
    // from the page's top left corner.
    std::optional<std::pair<int, CGPoint>> pageAt(CGPoint point) const;
    // Draws the pages that show in `height` points of content from `top`,
    // content `top` at the context's y = 0, and asks for the missing ones.
    void draw(CGContext& context, CGFloat top, CGFloat height);
    // The address of the link under a point of a page (page points from its
    // top left corner); a page not drawn yet has none.
    std::optional<std::string> linkAt(int page, CGPoint point) const;

    // Pictures that arrived so far, and the bytes the cache holds now.
    std::uint64_t pagesRendered() const { return rendered_; }
    std::size_t cachedBytes() const { return cachedBytes_; }
    // Asked of the renderer by the latest draw and not arrived yet.
    bool isPending(int page) const;

private:
    struct Request {
        int page;
        CGFloat pixelsPerPoint;
        bool operator==(const Request&) const = default;
    };
    struct Picture {
        int page;
        CGFloat pixelsPerPoint;
        std::shared_ptr<const ImageSurface> image;  // none when it could not be made
        std::vector<PDFRenderer::Link> links;
        std::size_t bytes;
    };

    // Starts the renderer with the document's file: empty, or why not.
    std::string start(int document);
    // Asks it to open the document, once that is all in its file.
    static void open(ChildSession& renderer, const std::weak_ptr<PDFPageStack*>& self);
    static std::string tooLarge();
    void failLater(const std::string& why);
    void opened(std::optional<PDFRenderer::Opened> opened);
    void arrived(Request request, std::optional<PDFRenderer::Drawn> answer);
    void fail(const std::string& why);
    void send(const Request& request);
    // Why a renderer that ended cannot go on; none when the program quits.
    static std::optional<std::string> describe(const ChildTrial::Ending& ending);
    CGFloat scale(int index) const;
    // The pixels per point of a page's picture: as wanted, within the limits.
    CGFloat fitted(int index, CGFloat pixelsPerPoint) const;
    void layOut();
    void evict();

    Events events_;
    State state_ = State::opening;
    std::vector<CGSize> sizes_;
    CGFloat width_ = -1;
    // tops_[i]: the top of page i in the content; the last entry is the content's height.
    std::vector<CGFloat> tops_{0};
    // Most recently drawn first.
    std::list<Picture> cache_;
    std::unordered_map<int, std::list<Picture>::iterator> cached_;
    std::size_t cachedBytes_ = 0;
    std::uint64_t rendered_ = 0;
    // The pages of the latest draw (kept in the cache), and those of them
    // asked for and not arrived.
    std::vector<int> shown_;
    std::vector<Request> asked_;
    // Given to the renderer and neither arrived nor dropped, oldest first:
    // it answers in order, and drops the newest.
    std::deque<Request> sent_;
    std::shared_ptr<ChildSession> renderer_;
    // Blocks that reach the main queue after the stack has gone find this empty.
    std::shared_ptr<PDFPageStack*> self_;
};
