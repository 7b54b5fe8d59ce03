#include "platform/web/PDFPageStack.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>

#include "platform/graphics/CGContext.h"
#include "platform/graphics/ImageSurface.h"
#include "platform/web/PDFDocument.h"

namespace {

std::size_t bytesOf(const ImageSurface& image) {
    return std::size_t(image.pixelWidth()) * std::size_t(image.pixelHeight()) * 4;
}

// Device pixels to one unit of the context as it stands.
CGFloat pixelsPerUnit(cairo_t* cr) {
    double x = 1, y = 0, deviceX = 1, deviceY = 1;
    cairo_user_to_device_distance(cr, &x, &y);
    cairo_surface_get_device_scale(cairo_get_target(cr), &deviceX, &deviceY);
    return std::hypot(x, y) * deviceX;
}

}  // namespace

PDFPageStack::PDFPageStack(std::unique_ptr<PDFDocument> document) : document_(std::move(document)) {
    sizes_.reserve(std::size_t(document_->pageCount()));
    for (int i = 0; i < document_->pageCount(); ++i)
        sizes_.push_back(document_->pageSize(i));
    setWidth(0);
}

PDFPageStack::~PDFPageStack() = default;

CGFloat PDFPageStack::scale(int index) const {
    const CGFloat inner = width_ - 2 * kMargin, pageWidth = sizes_[std::size_t(index)].width;
    return pageWidth > 0 && inner > 0 ? inner / pageWidth : 0;
}

void PDFPageStack::setWidth(CGFloat width) {
    if (width == width_)
        return;
    width_ = width;
    clearCache();
    tops_.assign(1, kMargin);
    tops_.reserve(sizes_.size() + 1);
    for (int i = 0; i < pageCount(); ++i)
        tops_.push_back(tops_.back() + sizes_[std::size_t(i)].height * scale(i) + kMargin);
}

std::optional<std::pair<int, CGPoint>> PDFPageStack::pageAt(CGPoint point) const {
    // The last page that starts at or above the point.
    const auto after = std::upper_bound(tops_.begin(), tops_.end() - 1, point.y);
    if (after == tops_.begin())
        return std::nullopt;
    const int i = int(after - tops_.begin()) - 1;
    const CGFloat s = scale(i);
    if (s <= 0)
        return std::nullopt;
    const CGPoint inPage{(point.x - kMargin) / s, (point.y - tops_[std::size_t(i)]) / s};
    const CGSize size = sizes_[std::size_t(i)];
    if (inPage.x >= 0 && inPage.y >= 0 && inPage.x <= size.width && inPage.y <= size.height)
        return std::make_pair(i, inPage);
    return std::nullopt;
}

void PDFPageStack::draw(CGContext& context, CGFloat top, CGFloat height) {
    if (!context.canDraw())
        return;
    const auto first = std::upper_bound(tops_.begin(), tops_.end() - 1, top);
    for (int i = std::max(0, int(first - tops_.begin()) - 1); i < pageCount(); ++i) {
        const CGFloat y = tops_[std::size_t(i)] - top, s = scale(i);
        if (y > height)
            break;
        if (s <= 0 || y + sizes_[std::size_t(i)].height * s < 0)
            continue;
        context.saveGState();
        context.translateBy(kMargin, y);
        context.scaleBy(s, s);
        if (const ImageSurface* image = picture(i, pixelsPerUnit(context.cairo()))) {
            cairo_t* cr = context.cairo();
            cairo_set_source_surface(cr, image->surface(), 0, 0);
            cairo_rectangle(cr, 0, 0, sizes_[std::size_t(i)].width, sizes_[std::size_t(i)].height);
            cairo_fill(cr);
        } else {
            // Too large a picture to keep: straight onto the context.
            ++rendered_;
            document_->drawPage(i, context);
        }
        context.restoreGState();
    }
}

const ImageSurface* PDFPageStack::picture(int index, CGFloat pixelsPerPoint) {
    if (const auto found = cached_.find(index); found != cached_.end()) {
        if (found->second->pixelsPerPoint == pixelsPerPoint) {
            cache_.splice(cache_.begin(), cache_, found->second);
            return cache_.front().image.get();
        }
        cachedBytes_ -= bytesOf(*found->second->image);
        cache_.erase(found->second);
        cached_.erase(found);
    }
    const CGSize size = sizes_[std::size_t(index)];
    const double bytes = std::ceil(size.width * pixelsPerPoint) * std::ceil(size.height * pixelsPerPoint) * 4;
    if (!(bytes > 0 && bytes <= double(kCacheBytes)))
        return nullptr;
    auto image = std::make_unique<ImageSurface>(size, pixelsPerPoint);
    if (image->pixelWidth() == 0)
        return nullptr;
    ++rendered_;
    image->draw([&](CGContext& context) { document_->drawPage(index, context); });
    cachedBytes_ += bytesOf(*image);
    cache_.push_front({index, pixelsPerPoint, std::move(image)});
    cached_[index] = cache_.begin();
    // The page just made stays, even when it alone is over the budget.
    while (cachedBytes_ > kCacheBytes && cache_.size() > 1) {
        cachedBytes_ -= bytesOf(*cache_.back().image);
        cached_.erase(cache_.back().page);
        cache_.pop_back();
    }
    return cache_.front().image.get();
}

void PDFPageStack::clearCache() {
    cache_.clear();
    cached_.clear();
    cachedBytes_ = 0;
}
