#include "platform/web/PageStrips.h"

#include <algorithm>
#include <cmath>

#include "platform/graphics/ImageSurface.h"
#include "platform/web/PageRenderer.h"

CGFloat PageStrips::Strip::top() const { return CGFloat(index) * CGFloat(gridRows(width, scale)) / scale; }

std::size_t PageStrips::Strip::bytes() const {
    return std::size_t(std::ceil(CGFloat(width) * scale)) * std::size_t(std::max(rows, 0)) * 4;
}

int PageStrips::gridRows(int width, CGFloat scale) {
    const CGFloat pixelWidth = std::max<CGFloat>(std::ceil(CGFloat(width) * scale), 1);
    // A row short of the picture's bytes: the renderer rounds its side in pixels up.
    return int(std::clamp<CGFloat>(std::floor(CGFloat(PageRenderer::kLargestPicture) / (4 * pixelWidth)) - 1, 1,
                                   kStripRows));
}

void PageStrips::setPage(int width, CGFloat height) {
    pageWidth_ = width;
    pageHeight_ = std::isfinite(height) ? std::clamp<CGFloat>(height, 0, kTallestPage) : 0;
    update();
}

void PageStrips::setView(int width, CGFloat top, CGFloat height, CGFloat scale) {
    viewWidth_ = width;
    top_ = std::isfinite(top) ? top : 0;
    height_ = std::isfinite(height) ? std::max<CGFloat>(height, 0) : 0;
    scale_ = scale;
    update();
}

PageStrips::Strip PageStrips::strip(std::int64_t index) const {
    const int rows = gridRows(viewWidth_, scale_);
    // The page's rows at this scale, and how many of them this strip holds.
    const CGFloat pageRows = std::ceil(pageHeight_ * scale_);
    const CGFloat left = pageRows - CGFloat(index) * CGFloat(rows);
    return {viewWidth_, scale_, index, int(std::clamp<CGFloat>(left, 0, rows))};
}

void PageStrips::update() {
    Wish wish;
    wish.grid = {viewWidth_, scale_, 0, gridRows(viewWidth_, scale_)};
    const CGFloat rows = CGFloat(wish.grid.rows), stripHeight = rows / scale_;
    // Clamped to the page first: an offset far below it names no strip.
    const std::int64_t strips = std::int64_t(std::ceil(std::ceil(pageHeight_ * scale_) / rows));
    const CGFloat top = std::clamp<CGFloat>(top_, 0, pageHeight_);
    const CGFloat bottom = std::clamp<CGFloat>(top_ + height_, top, pageHeight_);
    if (strips > 0 && bottom > top) {
        wish.firstShown = std::min(std::int64_t(std::floor(top / stripHeight)), strips - 1);
        wish.lastShown = std::clamp(std::int64_t(std::ceil(bottom / stripHeight)) - 1, wish.firstShown, strips - 1);
        // As much again above and below for scrolling as the bytes allow,
        // counted in whole strips of the grid.
        const std::int64_t shown = wish.lastShown - wish.firstShown + 1;
        const std::int64_t affordable = std::int64_t(kKeptBytes / std::max<std::size_t>(wish.grid.bytes(), 1));
        const std::int64_t kept = std::min(3 * shown, std::max(shown, affordable));
        wish.first = std::max<std::int64_t>(0, wish.firstShown - (kept - shown) / 2);
        wish.last = std::min(strips - 1, wish.first + kept - 1);
        wish.first = std::max<std::int64_t>(0, std::min(wish.first, wish.last - kept + 1));
    }
    wish_ = wish;
    prune();
}

bool PageStrips::current(const Tile& tile) const {
    return tile.strip.sameGrid(wish_.grid) && tile.strip.index >= wish_.first && tile.strip.index <= wish_.last;
}

bool PageStrips::inView(const Tile& tile) const {
    const CGFloat s = CGFloat(viewWidth_) / CGFloat(std::max(tile.strip.width, 1));
    const CGFloat y = tile.strip.top() * s;
    return y < top_ + height_ && y + tile.strip.height() * s > top_;
}

void PageStrips::prune() {
    // Other grids' strips stand in only for the view's own on their way, and
    // only where they show.
    bool covered = true;
    for (std::int64_t i = wish_.firstShown; i <= wish_.lastShown && covered; ++i)
        covered = std::any_of(tiles_.begin(), tiles_.end(),
                              [&](const Tile& tile) { return current(tile) && tile.strip.index == i; });
    std::erase_if(tiles_, [&](const Tile& tile) {
        if (!tile.image)
            return true;
        if (tile.strip.sameGrid(wish_.grid))
            return !current(tile);
        return covered || !inView(tile);
    });
    // The newest stand-ins, within their bytes.
    std::size_t standIns = 0;
    for (auto tile = tiles_.rbegin(); tile != tiles_.rend(); ++tile)
        if (!current(*tile) && (standIns += tile->strip.bytes()) > kKeptBytes)
            tile->image.reset();
    std::erase_if(tiles_, [](const Tile& tile) { return !tile.image; });
    std::stable_partition(tiles_.begin(), tiles_.end(), [&](const Tile& tile) { return !current(tile); });
}

std::optional<PageStrips::Strip> PageStrips::next(std::uint64_t pictures) const {
    if (pageWidth_ != viewWidth_)
        return std::nullopt;
    const auto wanted = [&](std::int64_t index) {
        const Strip want = strip(index);
        const auto found = std::find_if(tiles_.begin(), tiles_.end(),
                                        [&](const Tile& tile) { return tile.strip.sameStrip(want); });
        return found == tiles_.end() || found->pictures != pictures || found->strip.rows != want.rows;
    };
    for (std::int64_t i = wish_.firstShown; i <= wish_.lastShown; ++i)
        if (wanted(i))
            return strip(i);
    for (std::int64_t i = wish_.first; i <= wish_.last; ++i)
        if (wanted(i))
            return strip(i);
    return std::nullopt;
}

void PageStrips::keep(Tile tile) {
    if (!tile.image || tile.strip.rows <= 0)
        return;
    std::erase_if(tiles_, [&](const Tile& kept) { return kept.strip.sameStrip(tile.strip); });
    tiles_.push_back(std::move(tile));
    prune();
}
