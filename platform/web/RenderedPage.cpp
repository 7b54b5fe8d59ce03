#include "platform/web/RenderedPage.h"

#include <cairo.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <utility>
#include <vector>

#include "platform/foundation/ChildSession.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/FileDescriptor.h"
#include "platform/foundation/Sanitizers.h"
#include "platform/foundation/Wire.h"
#include "platform/graphics/CGContext.h"
#include "platform/graphics/ImageSurface.h"
#include "platform/web/RendererEnding.h"

namespace {

// Calls an event through a copy of it: the page, and the event with it, may
// go inside the call.
template <class Event, class... Arguments>
void say(const Event& event, const Arguments&... arguments) {
    if (const Event copy = event)
        copy(arguments...);
}

}  // namespace

// An answer as read on the renderer's thread, its picture made there too:
// none when it is no answer to what was asked.
struct RenderedPage::Reply {
    int width = 0;  // the renderer's once it answered
    std::optional<PageRenderer::Answer> answer;
    std::shared_ptr<const ImageSurface> image;
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

RenderedPage::RenderedPage(const std::string& html, std::optional<URL> baseURL, CGFloat width, CGFloat viewHeight,
                           CGFloat scale, Events events, std::optional<std::string> program)
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
    // The first request builds the page and lays it out, so that a page
    // shows, or is refused, at once; its top is drawn next, at the scale of
    // the first draw if one comes before.
    strips_.setView(width_, 0, std::isfinite(viewHeight) ? viewHeight : 0, std::isfinite(scale) ? scale : 1);
    layOut();
}

RenderedPage::~RenderedPage() {
    *self_ = nullptr;
    if (renderer_)
        renderer_->end();
}

void RenderedPage::send(std::string request, PageRenderer::Request kind, int width,
                        std::optional<PageStrips::Strip> strip, std::function<void(Reply&)> answered) {
    if (!renderer_)
        return;
    ++unanswered_;
    sentWidth_ = width;
    std::weak_ptr<RenderedPage*> self = self_;
    renderer_->send(std::move(request), [self, kind, width, strip, answered = std::move(answered)](std::string bytes) mutable {
        // Read here, and a strip's picture made here, off the main thread.
        auto reply = std::make_shared<Reply>();
        reply->width = width;
        reply->answer = PageRenderer::readAnswer(kind, bytes);
        if (reply->answer && reply->answer->picture) {
            const PageRenderer::Picture picture = *reply->answer->picture;
            reply->answer->picture.reset();
            // Of the size asked, or no answer: the same sides as the renderer's own picture of it.
            const auto side = [&](CGFloat points) { return int(std::ceil(points * strip->scale)); };
            if (picture.pixelWidth == side(CGFloat(strip->width)) && picture.pixelHeight == side(strip->height())) {
                // The answer's bytes become the picture: its pixels stay where they arrived.
                const std::size_t offset = std::size_t(picture.pixels.data() - bytes.data());
                auto image = std::make_shared<const ImageSurface>(std::move(bytes), offset, picture.pixelWidth,
                                                                  picture.pixelHeight, strip->scale);
                if (image->pixelWidth() > 0)
                    reply->image = std::move(image);
                else
                    reply->answer.reset();
            } else {
                reply->answer.reset();
            }
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
    if (!(state.height >= 0 && state.height <= PageStrips::kTallestPage)) {
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
    strips_.setPage(reply.width, height_);
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
    layOut();
}

void RenderedPage::layOut() {
    // A live resize asks for a width each frame: the renderer lays out only
    // the latest once it is done with the one before, and the last strips it
    // drew stand in meanwhile.
    if (layingOut_ || refused_)
        return;
    layingOut_ = true;
    const int width = width_;
    send(PageRenderer::layoutRequest(width), PageRenderer::Request::layout, width, std::nullopt,
         [this, width](Reply& reply) {
             layingOut_ = false;
             if (!take(reply))
                 return;
             if (!laidOut_) {
                 laidOut_ = true;
                 const std::shared_ptr<RenderedPage*> alive = self_;
                 say(events_.laidOut);
                 if (!*alive)
                     return;
             }
             if (width_ != width)
                 layOut();
             else
                 askNext();
         });
}

void RenderedPage::askNext() {
    if (drawing_ || layingOut_ || refused_ || !laidOut_)
        return;
    const std::optional<PageStrips::Strip> strip = strips_.next(picturesSent_);
    if (!strip)
        return;
    drawing_ = true;
    const std::uint64_t pictures = picturesSent_;
    send(PageRenderer::drawRequest(strip->width, CGRect(0, strip->top(), strip->width, strip->height()), strip->scale),
         PageRenderer::Request::draw, strip->width, strip, [this, strip = *strip, pictures](Reply& reply) {
             drawing_ = false;
             if (!take(reply))
                 return;
             strips_.keep({strip, pictures, std::move(reply.image)});
             askNext();
             say(events_.changed);
         });
}

void RenderedPage::draw(CGContext& context, CGFloat top, CGSize size) {
    if (refused_ || !std::isfinite(top) || !(size.height > 0) || !context.canDraw())
        return;
    cairo_t* cr = context.cairo();
    const CGFloat scale = std::min<CGFloat>(std::clamp<CGFloat>(context.pixelsPerUnit(), 0.25, 4),
                                            CGFloat(ImageSurface::kLargestSide) / CGFloat(width_ + 1));
    strips_.setView(width_, top, size.height, scale);

    context.saveGState();
    // Strips meet edge to edge: pixel-aligned edges leave no seam between them.
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    for (const PageStrips::Tile& tile : strips_.tiles()) {
        if (!strips_.inView(tile))
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
    send(PageRenderer::tapRequest(width_, point), PageRenderer::Request::tap, width_, std::nullopt,
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
    send(std::move(request), PageRenderer::Request::picture, sentWidth_, std::nullopt, [this](Reply& reply) {
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
    strips_.clear();
    say(events_.refused, budget, why);
}
