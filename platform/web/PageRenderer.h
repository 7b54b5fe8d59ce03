#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/URL.h"
#include "platform/graphics/CGGeometry.h"
#include "platform/web/HTMLFilter.h"

class HTMLDocument;
class ImageSurface;
class WireWriter;

// One page's work in its renderer process, and the messages the web view
// and the renderer exchange about it. The web view sends a request at a
// time; every answer carries what the page is now (its height at the width
// asked, its title, the pictures it wants), and, for a draw, the picture of
// the area asked, for a tap, the link under it.
class PageRenderer {
public:
    // Each request is a piece of work held to the renderer's limit apart;
    // the first builds the page too (filter, parse, style) for its width.
    enum class Request : std::uint8_t { layout = 'L', draw = 'D', tap = 'T', picture = 'I' };
    // The renderer gets the page on this descriptor: its address, then its bytes.
    static constexpr int kPageDescriptor = 3;
    // Its exit status when an allocation failed.
    static constexpr int kOutOfMemory = 5;
    // Pixels of one page's pictures decoded at most (128 MiB of them):
    // pictures past it are drawn as missing.
    static constexpr std::uint64_t kPagePixels = std::uint64_t(1) << 25;
    // The most bytes of a draw's picture: an area that takes more is no request of ours.
    static constexpr std::size_t kLargestPicture = std::size_t(16) << 20;

    // What every answer says of the page.
    struct State {
        std::optional<PageBudget> refused;  // the parse ran out of a budget: nothing else is shown
        CGFloat height = 0;
        std::string title;
        std::vector<URL> wantedPictures;  // asked for once each, since the last answer
    };
    struct Picture {
        int pixelWidth = 0, pixelHeight = 0;
        std::string_view pixels;  // Cairo's premultiplied 32-bit rows, pixelWidth * 4 bytes each, in the answer
    };
    // A draw's answer puts its picture's sides, then its pixels where they
    // lie on a multiple of this from the answer's start: the web view takes
    // them over as they arrived.
    static constexpr std::size_t kPixelAlignment = 16;
    static void putPictureSides(WireWriter& out, std::int32_t pixelWidth, std::int32_t pixelHeight);
    struct Link {
        std::string address;
        bool newWindow = false;
    };

    // The web view's side: requests, and what their answers hold.
    static std::string layoutRequest(int width);
    // `area` in content points (its width the page's); `scale` pixels to the point.
    static std::string drawRequest(int width, CGRect area, CGFloat scale);
    static std::string tapRequest(int width, CGPoint point);
    // A picture the page asked for, as it arrived (empty: it could not be had).
    static std::string pictureRequest(const URL& url, std::string_view bytes);
    // Whether a picture of so many bytes makes a request of at most `most` bytes.
    static bool pictureFits(const URL& url, std::size_t bytes, std::uint64_t most);
    struct Answer {
        State state;
        std::optional<Picture> picture;  // a draw's
        std::optional<Link> link;        // a tap's, when it hit one
    };
    // None for an answer that is no answer of ours: malformed, truncated,
    // or naming more pictures than a page may have. A picture's pixels are
    // read in place: the answer must outlive them.
    static std::optional<Answer> readAnswer(Request request, std::string_view bytes);

    // The renderer's side: the page as its bytes came, untrusted.
    PageRenderer(std::string html, std::optional<URL> baseURL);
    ~PageRenderer();
    // The answer to a request (an empty one to a request it does not
    // understand): its bytes, then a draw's pixels, which stay this
    // renderer's until the next request.
    struct Reply {
        std::string bytes;
        std::span<const std::uint8_t> pixels;
    };
    Reply answer(std::string_view request);

private:
    std::string stateAnswer(int width);

    // Until it is opened.
    std::string html_;
    std::optional<URL> baseURL_;
    std::unique_ptr<HTMLDocument> document_;
    std::vector<URL> wanted_;
    int width_ = 0;  // laid out last
    // Pixels of pictures decoded so far, against the page's budget.
    std::uint64_t pixels_ = 0;
    // The last draw's picture, drawn into again while the size holds: the
    // strips of a view are of one size.
    std::unique_ptr<ImageSurface> picture_;
};
