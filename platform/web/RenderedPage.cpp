#include "platform/web/RenderedPage.h"

#include <cairo.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <utility>

#include "platform/foundation/ChildSession.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/FileDescriptor.h"
#include "platform/foundation/Sanitizers.h"
#include "platform/foundation/Wire.h"
#include "platform/graphics/CGContext.h"
#include "platform/graphics/ImageSurface.h"
#include "platform/web/RendererEnding.h"

namespace {

// The strips kept for scrolling hold at most this many bytes beyond those
// in view: a view's worth either way at any ordinary size.
constexpr CGFloat kScrollingBytes = 48 << 20;
// The most a page may be tall, as its layout counts.
constexpr CGFloat kTallestPage = 2147483647;

// Calls an event through a copy of it: the page, and the event with it, may
// go inside the call.
template <class Event, class... Arguments>
void say(const Event& event, const Arguments&... arguments) {
    if (const Event copy = event)
        copy(arguments...);
}

std::size_t bytesOf(const ImageSurface& image) {
    return std::size_t(image.pixelWidth()) * std::size_t(image.pixelHeight()) * 4;
}

}  // namespace

// An answer as read on the renderer's thread, its picture made there too:
// none when it is no answer to what was asked.
struct RenderedPage::Reply {
    std::optional<PageRenderer::Answer> answer;
    std::shared_ptr<ImageSurface> image;
};

std::chrono::milliseconds RenderedPage::processorTime() {
    // A sanitizer's build takes several times as long, its start most of all.
    return std::chrono::milliseconds(kSanitizedBuild ? 16000 : 3000);
}

std::size_t RenderedPage::memoryBytes() {
    // Pictures take up to 128 MiB of it; a sanitizer's shadow and quarantine
    // take resident memory of their own.
    return (std::size_t(kSanitizedBuild ? 1024 : 400)) << 20;
}

std::chrono::milliseconds RenderedPage::answerTime() {
    // Only bounds a renderer that waits on nothing; the processor time is the page's measure.
    return std::max(std::chrono::milliseconds(30000), 4 * processorTime());
}

CGFloat RenderedPage::Strip::height() const {
    const CGFloat pixelWidth = std::ceil(CGFloat(width) * scale);
    // A row short of the picture's bytes: its side in pixels is rounded up.
    const CGFloat rows =
        std::clamp<CGFloat>(std::floor(CGFloat(PageRenderer::kLargestPicture) / (4 * pixelWidth)) - 1, 1, kStripRows);
    return rows / scale;
}

RenderedPage::RenderedPage(const std::string& html, std::optional<URL> baseURL, CGFloat width, CGFloat viewHeight,
                           Events events, std::optional<std::string> program)
    : events_(std::move(events)), width_(HTMLDocument::layoutWidth(width)), self_(std::make_shared<RenderedPage*>(this)) {
    const auto failed = [&](const std::string& why) {
        // Said once the caller has the page: the event may destroy it.
        DispatchQueue::main().async([self = std::weak_ptr<RenderedPage*>(self_), why] {
            if (const auto page = self.lock(); page && *page)
                (*page)->ended(std::nullopt, why);
        });
    };
    if (!program)
        program = ChildTrial::programBeside("orvo-page-renderer");
    if (!program) {
        failed("the page's renderer cannot be found");
        return;
    }
    // The page and its address as a file in memory, never on a command line.
    const FileDescriptor page(::memfd_create("page", MFD_CLOEXEC));
    if (page.get() < 0) {
        failed("no memory file for the page's renderer: " + ChildTrial::systemMessage(errno));
        return;
    }
    const std::string bytes = WireWriter().put(baseURL ? baseURL->absoluteString() : std::string()).rest(html).take();
    if (const int error = writeAll(page.get(), {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()})) {
        failed("the page cannot be handed to its renderer: " + ChildTrial::systemMessage(error));
        return;
    }
    ChildSession::Setup setup;
    setup.program = *program;
    setup.descriptors = {{page.get(), PageRenderer::kPageDescriptor}};
    ChildSession::Limits limits;
    limits.memoryBytes = memoryBytes();
    limits.processorTime = processorTime();
    limits.time = answerTime();
    renderer_ = ChildSession::start(std::move(setup), limits,
                                    [self = std::weak_ptr<RenderedPage*>(self_)](const ChildTrial::Ending& ending) {
                                        const std::optional<RendererEnding> said = RendererEnding::of(ending, answerTime());
                                        if (!said)
                                            return;
                                        DispatchQueue::main().async([self, said = *said] {
                                            if (const auto alive = self.lock(); alive && *alive)
                                                (*alive)->ended(said.budget, said.why);
                                        });
                                    });
    // The first strip is one request: the page built, laid out and drawn
    // within one limit, so that a page shows, or is refused, at once. The
    // rest of the view follows.
    const Strip top{width_, 1, 0};
    const CGFloat shown = std::isfinite(viewHeight) ? std::clamp<CGFloat>(viewHeight, 1, kTallestPage) : 1;
    wish_ = {top, 0, 0, std::int64_t(std::ceil(shown / top.height())) - 1};
    wish_.last = wish_.lastShown;
    askNext();
}

RenderedPage::~RenderedPage() {
    *self_ = nullptr;
    if (renderer_)
        renderer_->end();
}

void RenderedPage::send(std::string request, PageRenderer::Request kind, std::optional<Strip> strip,
                        std::function<void(Reply&)> answered) {
    if (!renderer_)
        return;
    ++unanswered_;
    std::weak_ptr<RenderedPage*> self = self_;
    renderer_->send(std::move(request), [self, kind, strip, answered = std::move(answered)](std::string bytes) mutable {
        // Read here, and a strip's picture made here, off the main thread.
        auto reply = std::make_shared<Reply>();
        reply->answer = PageRenderer::readAnswer(kind, bytes);
        if (reply->answer && reply->answer->picture) {
            const PageRenderer::Picture& picture = *reply->answer->picture;
            auto image = std::make_shared<ImageSurface>(CGSize{CGFloat(strip->width), strip->height()}, strip->scale);
            // Of the size asked, or no answer.
            if (image->pixelWidth() == picture.pixelWidth && image->pixelHeight() == picture.pixelHeight &&
                image->setBytes({reinterpret_cast<const std::uint8_t*>(picture.pixels.data()), picture.pixels.size()}))
                reply->image = std::move(image);
            else
                reply->answer.reset();
            if (reply->answer)
                reply->answer->picture.reset();  // its pixels lie in `bytes`, which go now
        }
        // Handed on whole: nothing of the page is released on the renderer's thread.
        DispatchQueue::main().async([self, answered = std::move(answered), reply = std::move(reply)] {
            const auto page = self.lock();
            if (!page || !*page || (*page)->refused_)
                return;
            --(*page)->unanswered_;
            answered(*reply);
        });
    });
}

bool RenderedPage::take(Reply& reply) {
    if (!reply.answer) {
        ended(std::nullopt, kRendererAnsweredWrongly);
        return false;
    }
    const PageRenderer::State& state = reply.answer->state;
    if (state.refused) {
        ended(state.refused, "");
        return false;
    }
    if (!(state.height >= 0 && state.height <= kTallestPage)) {
        ended(std::nullopt, kRendererAnsweredWrongly);
        return false;
    }
    // Each address is asked for once, and no more of them than a page may have.
    std::vector<URL> wanted;
    for (const URL& url : state.wantedPictures)
        if (picturesAsked_.insert(url.absoluteString()).second)
            wanted.push_back(url);
    if (picturesAsked_.size() > kMostPagePictures) {
        ended(std::nullopt, "its renderer asked for more pictures than a page may have");
        return false;
    }
    const bool changed = state.height != height_ || state.title != title_;
    height_ = state.height;
    title_ = state.title;
    // Each event may end the page: `alive` tells, `this` may be gone.
    const std::shared_ptr<RenderedPage*> alive = self_;
    for (const URL& url : wanted)
        if (*alive)
            say(events_.wantsPicture, url);
    if (changed && *alive)
        say(events_.changed);
    return *alive != nullptr;
}

void RenderedPage::setWidth(CGFloat width) {
    const int pixels = HTMLDocument::layoutWidth(width);
    if (pixels == width_ || refused_)
        return;
    width_ = pixels;
    // Nothing of the old width is asked for again: the next draw says what is wanted.
    wish_ = {{width_, wish_.first.scale, 0}, -1, 0, -1};
    send(PageRenderer::layoutRequest(width_), PageRenderer::Request::layout, std::nullopt,
         [this](Reply& reply) { take(reply); });
}

void RenderedPage::askNext() {
    if (drawing_ || refused_)
        return;
    const auto wanted = [this](std::int64_t index) {
        const auto found = std::find_if(tiles_.begin(), tiles_.end(), [&](const Tile& tile) {
            return tile.strip.sameGrid(wish_.first) && tile.strip.index == index;
        });
        return found == tiles_.end() || found->pictures != picturesSent_;
    };
    // Those in view first, top down; then those kept for scrolling.
    std::optional<std::int64_t> next;
    for (std::int64_t i = wish_.firstShown; i <= wish_.lastShown && !next; ++i)
        if (wanted(i))
            next = i;
    for (std::int64_t i = wish_.first.index; i <= wish_.last && !next; ++i)
        if (wanted(i))
            next = i;
    if (!next)
        return;
    Strip strip = wish_.first;
    strip.index = *next;
    drawing_ = true;
    const std::uint64_t pictures = picturesSent_;
    send(PageRenderer::drawRequest(strip.width, CGRect(0, strip.top(), strip.width, strip.height()), strip.scale),
         PageRenderer::Request::draw, strip, [this, strip, pictures](Reply& reply) {
             drawing_ = false;
             if (!take(reply))
                 return;
             if (!laidOut_) {
                 laidOut_ = true;
                 const std::shared_ptr<RenderedPage*> alive = self_;
                 say(events_.laidOut);
                 if (!*alive)
                     return;
             }
             keep({strip, pictures, std::move(reply.image)});
             askNext();
             say(events_.changed);
         });
}

void RenderedPage::keep(Tile tile) {
    if (!tile.image)
        return;
    // A strip of a grid no longer wished for only stands in until the new grid's strips come.
    if (!tile.strip.sameGrid(wish_.first) || tile.strip.index < wish_.first.index || tile.strip.index > wish_.last)
        return;
    std::erase_if(tiles_, [&](const Tile& kept) { return kept.strip == tile.strip; });
    tiles_.push_back(std::move(tile));
}

void RenderedPage::draw(CGContext& context, CGFloat top, CGSize size) {
    if (refused_ || !std::isfinite(top) || !(size.height > 0) || !context.canDraw())
        return;
    cairo_t* cr = context.cairo();
    const CGFloat scale = std::min<CGFloat>(std::clamp<CGFloat>(context.pixelsPerUnit(), 0.25, 4),
                                            CGFloat(ImageSurface::kLargestSide) / CGFloat(width_ + 1));
    const CGFloat bottom = top + std::min<CGFloat>(size.height, kTallestPage);
    // The strips in view, and as much again above and below for scrolling
    // as the bytes allow.
    Wish wish;
    wish.first = {width_, scale, 0};
    const CGFloat stripHeight = wish.first.height();
    const CGFloat shown = bottom - top;
    const CGFloat most = kScrollingBytes / (4 * CGFloat(width_) * scale * scale);
    const CGFloat kept = std::clamp<CGFloat>(3 * shown, shown, std::max(most, shown));
    const CGFloat from = std::max<CGFloat>(0, top - (kept - shown) / 2);
    const auto index = [&](CGFloat y) { return std::int64_t(std::floor(std::max<CGFloat>(y, 0) / stripHeight)); };
    wish.firstShown = index(top);
    wish.lastShown = std::max(wish.firstShown, index(std::nextafter(bottom, top)));
    wish.first.index = std::min(index(from), wish.firstShown);
    wish.last = std::max(index(std::nextafter(std::max(from + kept, bottom), from)), wish.lastShown);
    wish_ = wish;

    // The new grid's strips, over any other grid's that stand in for them.
    const auto inView = [&](const Tile& tile) {
        const CGFloat s = CGFloat(width_) / CGFloat(tile.strip.width);
        const CGFloat y = tile.strip.top() * s;
        return y < bottom && y + tile.strip.height() * s > top;
    };
    const auto current = [&](const Tile& tile) {
        return tile.strip.sameGrid(wish.first) && tile.strip.index >= wish.first.index && tile.strip.index <= wish.last;
    };
    bool covered = true;
    for (std::int64_t i = wish.firstShown; i <= wish.lastShown && covered; ++i)
        covered = std::any_of(tiles_.begin(), tiles_.end(),
                              [&](const Tile& tile) { return current(tile) && tile.strip.index == i; });
    std::erase_if(tiles_, [&](const Tile& tile) { return current(tile) ? false : covered || !inView(tile); });
    // Stand-ins of other grids hold at most the bytes kept for scrolling, the newest kept.
    std::size_t standIns = 0;
    for (auto tile = tiles_.rbegin(); tile != tiles_.rend(); ++tile)
        if (!current(*tile) && (standIns += bytesOf(*tile->image)) > std::size_t(kScrollingBytes))
            tile->image.reset();
    std::erase_if(tiles_, [](const Tile& tile) { return !tile.image; });
    std::stable_partition(tiles_.begin(), tiles_.end(), [&](const Tile& tile) { return !current(tile); });

    context.saveGState();
    // Strips meet edge to edge: pixel-aligned edges leave no seam between them.
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    for (const Tile& tile : tiles_) {
        if (!inView(tile))
            continue;
        const CGFloat s = CGFloat(width_) / CGFloat(tile.strip.width);
        context.saveGState();
        context.translateBy(0, tile.strip.top() * s - top);
        context.scaleBy(s, s);
        cairo_set_source_surface(cr, tile.image->surface(), 0, 0);
        cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
        cairo_rectangle(cr, 0, 0, tile.strip.width, tile.strip.height());
        cairo_fill(cr);
        context.restoreGState();
    }
    context.restoreGState();
    askNext();
}

void RenderedPage::tap(CGPoint point, std::function<void(std::optional<HTMLDocument::Link>)> answered) {
    send(PageRenderer::tapRequest(width_, point), PageRenderer::Request::tap, std::nullopt,
         [this, answered = std::move(answered)](Reply& reply) {
             if (!take(reply))
                 return;
             std::optional<HTMLDocument::Link> link;
             if (reply.answer->link)
                 link = HTMLDocument::Link{reply.answer->link->address, reply.answer->link->newWindow};
             answered(link);
         });
}

void RenderedPage::setPicture(const URL& url, std::string bytes) {
    // A picture that cannot go in one request is left out, as one that cannot be decoded is.
    if (!PageRenderer::pictureFits(url, bytes.size(), ChildSession::kLargestFrame))
        bytes = std::string();
    std::string request = PageRenderer::pictureRequest(url, bytes);
    bytes = std::string();
    ++picturesSent_;
    send(std::move(request), PageRenderer::Request::picture, std::nullopt, [this](Reply& reply) {
        // What is drawn predates the picture: each strip is drawn again.
        if (!take(reply))
            return;
        askNext();
        say(events_.changed);
    });
}

void RenderedPage::ended(std::optional<PageBudget> budget, const std::string& why) {
    if (refused_)
        return;
    refused_ = true;
    if (renderer_)
        renderer_->end();
    renderer_.reset();
    tiles_.clear();
    say(events_.refused, budget, why);
}
