#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/graphics/CGGeometry.h"
#include "platform/web/PDFDocument.h"

class CGContext;
class DispatchQueue;
class ImageSurface;

// The pages of a PDF one under the other at a width, with margins around and
// between them. Page tops are kept in a table (so finding a page is a binary
// search, whatever the length of the document), and pages are drawn as
// pictures kept within a memory budget.
//
// Poppler is slow on heavy pages and long documents, so the document is
// opened and its pages drawn on one serial queue shared by all stacks, never
// on the main thread. A draw shows the pictures at hand, a white page for the
// others, and asks for the pages that show and have none, one at a time; a
// picture reaches the stack through the main queue. Until the document is
// open it shows as one blank page. Everything here but drawingQueue() is for
// the main thread; destroying the stack waits for nothing.
class PDFPageStack {
public:
    static constexpr CGFloat kMargin = 12;
    static constexpr std::size_t kCacheBytes = std::size_t{64} << 20;
    // One page's picture at most: a page that would take more at the pixels
    // it shows with is drawn at fewer, so that the pages in view fit the cache.
    static constexpr std::size_t kPictureBytes = kCacheBytes / 4;

    // Opens the document; runs on the drawing queue.
    using Opener = std::function<std::unique_ptr<PDFDocument>(std::string& error)>;
    // Called on the main thread; the stack may be destroyed inside any of them.
    struct Events {
        std::function<void()> opened;                        // the pages are laid out
        std::function<void(const std::string& why)> failed;  // it cannot be opened
        std::function<void(int page)> drawn;                 // a page's picture arrived
    };
    enum class State { opening, open, failed };

    // The queue that opens and draws every document, one block at a time.
    static DispatchQueue& drawingQueue();

    PDFPageStack(Opener open, Events events);
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
    // Asked of the queue by the latest draw and not arrived yet.
    bool isPending(int page) const;

private:
    struct Worker;
    struct Request {
        int page;
        CGFloat pixelsPerPoint;
        bool operator==(const Request&) const = default;
    };
    struct Picture {
        int page;
        CGFloat pixelsPerPoint;
        std::shared_ptr<const ImageSurface> image;  // none when it could not be made
        std::vector<PDFDocument::Link> links;
        std::size_t bytes;
    };

    void opened(std::vector<CGSize> sizes, const std::optional<std::string>& error);
    void arrived(std::uint64_t sequence, Request request, std::shared_ptr<const ImageSurface> image,
                 std::vector<PDFDocument::Link> links);
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
    // The last picture to arrive, in the order the queue sent them.
    std::uint64_t received_ = 0;
    std::shared_ptr<Worker> worker_;
    // Blocks that reach the main queue after the stack has gone find this empty.
    std::shared_ptr<PDFPageStack*> self_;
};
