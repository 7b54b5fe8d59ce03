#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/graphics/CGGeometry.h"

class ImageSurface;

// Which strips of a page a view wants, in which order they are asked for,
// and which pictures are kept or stand in for those on their way: the
// bookkeeping of a page drawn in strips, with nothing behind it.
//
// A grid is a width and a scale: its strips lie one under the other from the
// page's top, each the page's width across and as many rows as a picture may
// hold (PageRenderer::kLargestPicture, kStripRows at most), the last one cut
// at the page's end. Strips are wanted of the view's grid only, and only
// while the page is laid out at the view's width; nothing below the page's
// end. Pictures of other grids (another width or scale) stand in, scaled,
// until the view's own grid covers the view.
class PageStrips {
public:
    // The most rows of pixels of one strip: a small view's first picture is quick.
    static constexpr int kStripRows = 1024;
    // The view's grid keeps at most this many bytes of strips, those in view
    // among them, unless the view alone takes more: a view's worth either way
    // at any ordinary size. Stand-ins hold at most as much again.
    static constexpr std::size_t kKeptBytes = std::size_t(48) << 20;
    // The most a page may be tall, as its layout counts.
    static constexpr CGFloat kTallestPage = 2147483647;

    struct Strip {
        int width = 0;
        CGFloat scale = 1;
        std::int64_t index = 0;
        int rows = 0;  // of pixels; the page's end may cut the last strip short

        bool sameGrid(const Strip& other) const { return width == other.width && scale == other.scale; }
        bool sameStrip(const Strip& other) const { return sameGrid(other) && index == other.index; }
        // Its top and height in points.
        CGFloat top() const;
        CGFloat height() const { return CGFloat(rows) / scale; }
        std::size_t bytes() const;
    };
    // The rows of every strip of a grid but the page's last.
    static int gridRows(int width, CGFloat scale);

    struct Tile {
        Strip strip;
        std::uint64_t pictures = 0;  // of the page's pictures handed over, those it shows
        std::shared_ptr<const ImageSurface> image;
    };

    // The page as its renderer laid it out last: `height` points tall at `width`.
    void setPage(int width, CGFloat height);
    // What a view shows: `height` points of the page from `top`, `width`
    // wide at `scale` pixels to the point. Drops what it no longer needs.
    void setView(int width, CGFloat top, CGFloat height, CGFloat scale);

    // The next strip to ask for when `pictures` of the page's pictures have
    // been handed over: those in view first, top down, then those kept for
    // scrolling; none while the page is laid out at another width.
    std::optional<Strip> next(std::uint64_t pictures) const;
    // A strip's picture: kept while its grid is the view's and it is wanted,
    // or while it stands in for one on its way.
    void keep(Tile tile);
    void clear() { tiles_.clear(); }

    // What to draw, in order: the stand-ins, then the view's own strips.
    const std::vector<Tile>& tiles() const { return tiles_; }
    // Whether a tile covers part of the view.
    bool inView(const Tile& tile) const;
    // Whether a tile is one of the view's grid that is wanted.
    bool current(const Tile& tile) const;
    // The view's grid, and the strips it wants: [first, last] kept, [firstShown, lastShown] in view.
    struct Wish {
        Strip grid;
        std::int64_t first = 0, last = -1, firstShown = 0, lastShown = -1;
    };
    const Wish& wish() const { return wish_; }

private:
    // The strip `index` of the view's grid, cut at the page's end.
    Strip strip(std::int64_t index) const;
    void update();
    void prune();

    int pageWidth_ = 0;
    CGFloat pageHeight_ = 0;
    int viewWidth_ = 0;
    CGFloat top_ = 0, height_ = 0, scale_ = 1;
    Wish wish_;
    std::vector<Tile> tiles_;
};
