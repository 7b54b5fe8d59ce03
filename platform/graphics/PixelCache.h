#pragma once

#include <cstdint>
#include <functional>
#include <list>

#include "platform/graphics/CGGeometry.h"

typedef struct _cairo_surface cairo_surface_t;
class CGContext;

// A drawing kept as the pixels it last covered. Drawn through the cache, a
// body runs again only when its revision, its place in pixels (scale and the
// fraction of a pixel it starts at) or the context's alpha changed; otherwise
// the kept pixels are put back one for one. The body draws into the current
// graphics context, in the user space of the context it is drawn through,
// inside `area`, as it would directly. A turned or mirrored transform draws
// directly, as does an area too large to keep.
class PixelCache {
public:
    PixelCache() = default;
    ~PixelCache();
    PixelCache(const PixelCache&) = delete;
    PixelCache& operator=(const PixelCache&) = delete;
    PixelCache(PixelCache&& other) noexcept;
    PixelCache& operator=(PixelCache&& other) noexcept;

    // False when the body ran directly, uncached.
    bool draw(CGContext& context, const CGRect& area, std::uint64_t revision, const std::function<void()>& body);
    // Forgets the pixels: the next draw runs the body.
    void clear();

private:
    struct Key {
        int width = 0, height = 0;
        CGFloat scaleX = 0, scaleY = 0, offsetX = 0, offsetY = 0, alpha = 0;
        std::uint64_t revision = 0;
        bool operator==(const Key&) const = default;
    };
    Key key_;
    cairo_surface_t* surface_ = nullptr;
};

// Kept drawings by name, at most `capacity` of them: the least recently used
// one goes first. For many small drawings whose looks come and go (a control
// per value it shows).
class PixelCaches {
public:
    explicit PixelCaches(std::size_t capacity) : capacity_(capacity) {}
    PixelCache& at(std::uint64_t name);
    std::size_t size() const { return entries_.size(); }

private:
    std::size_t capacity_;
    std::list<std::pair<std::uint64_t, PixelCache>> entries_;  // most recent first
};

// Folds a value into a running hash, for the names and revisions above.
std::uint64_t hashCombine(std::uint64_t seed, std::uint64_t value);
std::uint64_t hashCombine(std::uint64_t seed, double value);
