#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/graphics/CGGeometry.h"

class ImageSurface;

// What a PDF document's renderer (orvo-pdf-renderer, a process of its own
// for each document, held to limits through a ChildSession) and the web view
// say to each other. The renderer gets the document's bytes on
// kDocumentDescriptor, opens it with poppler when asked, and draws a page at
// so many pixels per point as Cairo ARGB32 pixels, with the page's links.
// Each side checks what the other says: a reply that is not one is refused.
class PDFRenderer {
public:
    static constexpr int kDocumentDescriptor = 3;
    // The most bytes of a document, as the network brings at most.
    static constexpr std::size_t kMostBytes = std::size_t(64) << 20;

    struct Request {
        enum class Kind { open, draw } kind = Kind::open;
        int page = 0;
        CGFloat pixelsPerPoint = 0;
    };
    static std::string openRequest();
    static std::string drawRequest(int page, CGFloat pixelsPerPoint);
    static std::optional<Request> request(std::string_view bytes);

    // The sides of a page in points: PDF's own range (3 to 14,400 units),
    // with a little room below. A renderer answers each page's size within
    // it, or 0 by 0 for a page it could not read (shown as nothing); any
    // other size is refused: a page next to nothing wide and as tall as it
    // gets would make the document endless.
    static constexpr CGFloat kSmallestSide = 1;
    static constexpr CGFloat kLargestSide = 14400;
    static bool isPageSize(CGSize size);
    // What the renderer answers for a page poppler says is `size`: the
    // nearest size in range, 0 by 0 for one with no area.
    static CGSize pageSize(CGSize size);
    // What it answers for a link's area on a page of `page` points: the part
    // on the page; none when there is no such part or it is no number.
    static std::optional<CGRect> linkArea(CGRect area, CGSize page);

    // The answer to "open": the page sizes in points, or why not.
    struct Opened {
        std::vector<CGSize> sizes;
        std::string error;  // empty when it opened
    };
    static std::string openedReply(const Opened& opened);
    static std::optional<Opened> opened(std::string_view reply);

    // A link to an address, over an area in page points from the page's top left corner.
    struct Link {
        CGRect area;
        std::string uri;
    };
    // The answer to "draw": the page's picture (none when it could not be
    // drawn) and its links.
    struct Drawn {
        std::shared_ptr<ImageSurface> picture;
        std::vector<Link> links;
    };
    // What comes before the picture's bytes (ImageSurface::bytes()), which
    // are sent from where they lie.
    static std::string drawnReply(const Drawn& drawn);
    // Read for a page of `size` points drawn at `pixelsPerPoint`: the picture must be that size.
    static std::optional<Drawn> drawn(std::string_view reply, CGSize size, CGFloat pixelsPerPoint);
};
