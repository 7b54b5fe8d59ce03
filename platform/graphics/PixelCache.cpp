#include "platform/graphics/PixelCache.h"

#include <cairo.h>

#include <cmath>
#include <cstring>
#include <utility>

#include "platform/graphics/CGContext.h"

PixelCache::~PixelCache() { clear(); }

PixelCache::PixelCache(PixelCache&& other) noexcept
    : key_(other.key_), surface_(std::exchange(other.surface_, nullptr)) {}

PixelCache& PixelCache::operator=(PixelCache&& other) noexcept {
    if (this != &other) {
        clear();
        key_ = other.key_;
        surface_ = std::exchange(other.surface_, nullptr);
    }
    return *this;
}

void PixelCache::clear() {
    if (surface_)
        cairo_surface_destroy(surface_);
    surface_ = nullptr;
    key_ = {};
}

bool PixelCache::draw(CGContext& context, const CGRect& area, std::uint64_t revision,
                      const std::function<void()>& body) {
    if (!context.canDraw())
        return false;
    // Where the area lands in pixels: the current transform, then the
    // picture's own scale and offset.
    cairo_t* cr = context.cairo();
    cairo_surface_t* target = cairo_get_target(cr);
    double dsx = 1, dsy = 1, dox = 0, doy = 0;
    cairo_surface_get_device_scale(target, &dsx, &dsy);
    cairo_surface_get_device_offset(target, &dox, &doy);
    const CGAffineTransform m = context.userSpaceToDeviceSpaceTransform();
    const CGFloat a = m.a * dsx, d = m.d * dsy;
    const CGFloat x0 = a * area.minX() + m.tx * dsx + dox, y0 = d * area.minY() + m.ty * dsy + doy;
    const CGFloat left = std::floor(x0), top = std::floor(y0);
    const CGFloat w = std::ceil(x0 + a * area.width()) - left, h = std::ceil(y0 + d * area.height()) - top;
    constexpr CGFloat kLargest = 8192;
    if (m.b != 0 || m.c != 0 || !(a > 0) || !(d > 0) || !(w > 0 && w <= kLargest) || !(h > 0 && h <= kLargest) ||
        !std::isfinite(left) || !std::isfinite(top)) {
        body();
        return false;
    }
    // The alpha goes into the kept pixels, colour by colour, as drawing
    // directly would apply it; they are then put back whole.
    const Key key{int(w), int(h), a, d, x0 - left, y0 - top, context.globalAlpha(), revision};
    if (!surface_ || !(key_ == key)) {
        if (!surface_ || key_.width != key.width || key_.height != key.height) {
            clear();
            surface_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, key.width, key.height);
        }
        key_ = key;
        cairo_t* inner = cairo_create(surface_);
        cairo_set_operator(inner, CAIRO_OPERATOR_CLEAR);
        cairo_paint(inner);
        cairo_set_operator(inner, CAIRO_OPERATOR_OVER);
        {
            CGContext kept(inner);
            kept.translateBy(key.offsetX, key.offsetY);
            kept.scaleBy(a, d);
            kept.translateBy(-area.minX(), -area.minY());
            kept.setAlpha(key.alpha);
            UIGraphicsContextScope scope(kept);
            body();
        }
        cairo_destroy(inner);
        cairo_surface_flush(surface_);
    }
    cairo_save(cr);
    cairo_identity_matrix(cr);
    cairo_scale(cr, 1 / dsx, 1 / dsy);
    cairo_translate(cr, -dox, -doy);
    cairo_set_source_surface(cr, surface_, left, top);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
    cairo_restore(cr);
    return true;
}

PixelCache& PixelCaches::at(std::uint64_t name) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it)
        if (it->first == name) {
            entries_.splice(entries_.begin(), entries_, it);
            return entries_.front().second;
        }
    if (capacity_ > 0 && entries_.size() >= capacity_)
        entries_.pop_back();
    entries_.emplace_front(name, PixelCache());
    return entries_.front().second;
}

std::uint64_t hashCombine(std::uint64_t seed, std::uint64_t value) {
    // 64-bit mix of the boost kind.
    return seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 12) + (seed >> 4));
}

std::uint64_t hashCombine(std::uint64_t seed, double value) {
    if (value == 0)
        value = 0;  // one zero
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return hashCombine(seed, bits);
}
