#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/graphics/CGGeometry.h"

class CGContext;
class ImageSurface;
class PDFDocument;

// The pages of a PDF one under the other at a width, with margins around and
// between them. Page tops are kept in a table (so finding a page is a binary
// search, whatever the length of the document), a draw renders only the pages
// that show, and rendered pages are kept as pictures within a memory budget.
class PDFPageStack {
public:
    static constexpr CGFloat kMargin = 12;
    static constexpr std::size_t kCacheBytes = std::size_t{64} << 20;

    explicit PDFPageStack(std::unique_ptr<PDFDocument> document);
    ~PDFPageStack();
    PDFPageStack(const PDFPageStack&) = delete;
    PDFPageStack& operator=(const PDFPageStack&) = delete;

    const PDFDocument& document() const { return *document_; }
    int pageCount() const { return int(sizes_.size()); }

    // Lays the pages out at this width (margins included); cheap when unchanged.
    void setWidth(CGFloat width);
    CGFloat contentHeight() const { return tops_.back(); }
    // The page under a point of the content, with the point in page points
    // from the page's top left corner.
    std::optional<std::pair<int, CGPoint>> pageAt(CGPoint point) const;
    // Draws the pages that show in `height` points of content from `top`,
    // content `top` at the context's y = 0.
    void draw(CGContext& context, CGFloat top, CGFloat height);

    // Pages rendered so far (a page taken from the cache is not rendered
    // again), and the bytes the cache holds now.
    std::uint64_t pagesRendered() const { return rendered_; }
    std::size_t cachedBytes() const { return cachedBytes_; }

private:
    struct Picture {
        int page;
        CGFloat pixelsPerPoint;
        std::unique_ptr<ImageSurface> image;
    };

    CGFloat scale(int index) const;
    const ImageSurface* picture(int index, CGFloat pixelsPerPoint);
    void clearCache();

    std::unique_ptr<PDFDocument> document_;
    std::vector<CGSize> sizes_;
    CGFloat width_ = -1;
    // tops_[i]: the top of page i in the content; the last entry is the content's height.
    std::vector<CGFloat> tops_{0};
    // Most recently drawn first.
    std::list<Picture> cache_;
    std::unordered_map<int, std::list<Picture>::iterator> cached_;
    std::size_t cachedBytes_ = 0;
    std::uint64_t rendered_ = 0;
};
