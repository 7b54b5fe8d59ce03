#include "platform/web/RenderedPage.h"

#include <cairo.h>
#include <sys/mman.h>
#include <sys/wait.h>

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
#include "platform/web/PageRenderer.h"

namespace {

// A picture asked for holds at most this many bytes: a view's worth of
// scrolling either way at any ordinary size.
constexpr CGFloat kPictureBytes = 48 << 20;

// Device pixels to one unit of the context as it stands.
CGFloat pixelsPerUnit(cairo_t* cr) {
    double x = 1, y = 0, deviceX = 1, deviceY = 1;
    cairo_user_to_device_distance(cr, &x, &y);
    cairo_surface_get_device_scale(cairo_get_target(cr), &deviceX, &deviceY);
    return std::hypot(x, y) * deviceX;
}

// Calls an event through a copy of it: the page, and the event with it, may
// go inside the call.
template <class Event, class... Arguments>
void say(const Event& event, const Arguments&... arguments) {
    if (const Event copy = event)
        copy(arguments...);
}

}  // namespace

std::chrono::milliseconds RenderedPage::processorTime() {
    // A sanitizer's build takes several times as long, its start most of all.
    return std::chrono::milliseconds(kSanitizedBuild ? 16000 : 3000);
}

std::size_t RenderedPage::memoryBytes() {
    // Pictures take up to 128 MiB of it; a sanitizer's shadow and quarantine
    // take resident memory of their own.
    return (std::size_t(kSanitizedBuild ? 1024 : 400)) << 20;
}

RenderedPage::RenderedPage(const std::string& html, std::optional<URL> baseURL, CGFloat width, CGFloat viewHeight,
                           Events events)
    : events_(std::move(events)),
      width_(HTMLDocument::layoutWidth(width)),
      viewHeight_(std::isfinite(viewHeight) ? std::max<CGFloat>(viewHeight, 1) : 1),
      self_(std::make_shared<RenderedPage*>(this)) {
    const auto failed = [&](const std::string& why) {
        // Said once the caller has the page: the event may destroy it.
        DispatchQueue::main().async([self = std::weak_ptr<RenderedPage*>(self_), why] {
            if (const auto page = self.lock(); page && *page)
                (*page)->ended(std::nullopt, why);
        });
    };
    const std::optional<std::string> program = ChildTrial::programBeside("orvo-page-renderer");
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
    // Elapsed time only bounds a renderer that waits on nothing; the processor time is the page's measure.
    limits.time = std::max(std::chrono::milliseconds(30000), 4 * processorTime());
    std::weak_ptr<RenderedPage*> self = self_;
    renderer_ = ChildSession::start(std::move(setup), limits, [self](const ChildTrial::Ending& ending) {
        using Kind = ChildTrial::Ending::Kind;
        std::optional<PageBudget> budget;
        std::string why;
        switch (ending.kind) {
        case Kind::quit:
            return;
        case Kind::overMemory:
            budget = PageBudget::memory;
            break;
        case Kind::overProcessorTime:
        case Kind::timedOut:
            budget = PageBudget::processorTime;
            break;
        case Kind::notStarted:
            why = ending.why;
            break;
        case Kind::ended: {
            const std::string line = ChildTrial::lastLine(ending.output);
            why = (WIFSIGNALED(ending.status) ? "its renderer was ended by " + ChildTrial::signalName(WTERMSIG(ending.status))
                                              : "its renderer ended with status " + std::to_string(WEXITSTATUS(ending.status))) +
                  (line.empty() ? "" : ": " + line);
            if (WIFEXITED(ending.status) && WEXITSTATUS(ending.status) == PageRenderer::kOutOfMemory)
                budget = PageBudget::memory;
            break;
        }
        }
        DispatchQueue::main().async([self, budget, why = std::move(why)] {
            if (const auto alive = self.lock(); alive && *alive)
                (*alive)->ended(budget, why);
        });
    });
    // The first picture is one request: the page built, laid out and drawn
    // within one limit, so that a page shows, or is refused, at once.
    ask({width_, 0, viewHeight_ * 2, 1});
}

RenderedPage::~RenderedPage() {
    *self_ = nullptr;
    if (renderer_)
        renderer_->end();
}

void RenderedPage::send(std::string request, std::function<void(const std::string&)> answered) {
    if (!renderer_)
        return;
    ++unanswered_;
    std::weak_ptr<RenderedPage*> self = self_;
    renderer_->send(std::move(request), [self, answered = std::move(answered)](std::string answer) mutable {
        // Handed on whole: nothing of the page is released on the renderer's thread.
        DispatchQueue::main().async([self, answered = std::move(answered), answer = std::move(answer)] {
            const auto page = self.lock();
            if (!page || !*page || (*page)->refused_)
                return;
            --(*page)->unanswered_;
            answered(answer);
        });
    });
}

std::optional<PageRenderer::Answer> RenderedPage::take(const std::string& answer, PageRenderer::Request request) {
    std::optional<PageRenderer::Answer> read = PageRenderer::readAnswer(request, answer);
    if (!read) {
        ended(std::nullopt, "its renderer answered with what is no answer");
        return std::nullopt;
    }
    if (read->state.refused) {
        ended(read->state.refused, "");
        return std::nullopt;
    }
    const bool changed = read->state.height != height_ || read->state.title != title_;
    height_ = read->state.height;
    title_ = read->state.title;
    // Each event may end the page: `alive` tells, `this` may be gone.
    const std::shared_ptr<RenderedPage*> alive = self_;
    for (const URL& url : read->state.wantedPictures)
        if (*alive)
            say(events_.wantsPicture, url);
    if (changed && *alive)
        say(events_.changed);
    if (!*alive)
        return std::nullopt;
    return read;
}

void RenderedPage::setWidth(CGFloat width) {
    const int pixels = HTMLDocument::layoutWidth(width);
    if (pixels == width_ || refused_)
        return;
    width_ = pixels;
    send(PageRenderer::layoutRequest(width_), [this](const std::string& answer) { take(answer, PageRenderer::Request::layout); });
}

void RenderedPage::ask(const Area& area) {
    wanted_ = area;
    if (drawing_)
        return;
    drawing_ = true;
    const std::uint64_t pictures = picturesSent_;
    send(PageRenderer::drawRequest(area.width, CGRect(0, area.top, area.width, area.height), area.scale),
         [this, area, pictures](const std::string& answer) {
             drawing_ = false;
             const std::optional<PageRenderer::Answer> read = take(answer, PageRenderer::Request::draw);
             if (!read)
                 return;
             if (!laidOut_) {
                 laidOut_ = true;
                 const std::shared_ptr<RenderedPage*> alive = self_;
                 say(events_.laidOut);
                 if (!*alive)
                     return;
             }
             auto image = std::make_shared<ImageSurface>(CGSize{CGFloat(area.width), area.height}, area.scale);
             const PageRenderer::Picture& picture = *read->picture;
             const bool took =
                 image->pixelWidth() == picture.pixelWidth && image->pixelHeight() == picture.pixelHeight &&
                 image->setBytes({reinterpret_cast<const std::uint8_t*>(picture.pixels.data()), picture.pixels.size()});
             if (took) {
                 picture_ = Picture{area, std::move(image)};
                 stale_ = pictures != picturesSent_;
             }
             // A wish that came meanwhile, or a picture of the page that arrived meanwhile, asks again;
             // an area whose picture could not be made is not asked for again at once.
             if (wanted_ && (took ? stale_ || !picture_->area.covers(*wanted_) : !(*wanted_ == area)))
                 ask(*wanted_);
             else
                 wanted_.reset();
             say(events_.changed);
         });
}

void RenderedPage::draw(CGContext& context, CGFloat top, CGSize size) {
    if (refused_ || !std::isfinite(top) || !(size.height > 0))
        return;
    cairo_t* cr = context.cairo();
    if (picture_) {
        // Another width's picture shows scaled until the new one comes.
        const CGFloat s = CGFloat(width_) / CGFloat(picture_->area.width);
        context.saveGState();
        context.translateBy(0, picture_->area.top * s - top);
        context.scaleBy(s, s);
        cairo_set_source_surface(cr, picture_->image->surface(), 0, 0);
        cairo_rectangle(cr, 0, 0, picture_->area.width, picture_->area.height);
        cairo_fill(cr);
        context.restoreGState();
    }
    // The area in view, and as much again above and below it for scrolling,
    // in a picture of a size a surface takes.
    const CGFloat scale = std::min<CGFloat>(std::clamp<CGFloat>(pixelsPerUnit(cr), 0.25, 4),
                                            CGFloat(ImageSurface::kLargestSide) / CGFloat(width_ + 1));
    const Area shown{width_, top, size.height, scale};
    if (picture_ && !stale_ && picture_->area.covers(shown))
        return;
    const CGFloat most = std::min<CGFloat>(kPictureBytes / (4 * width_ * scale * scale),
                                           CGFloat(ImageSurface::kLargestSide - 1) / scale);
    const CGFloat height = std::clamp<CGFloat>(3 * size.height, size.height, std::max(most, size.height));
    const CGFloat from = std::max<CGFloat>(0, top - (height - size.height) / 2);
    const Area wanted{width_, from, std::max(height, top + size.height - from), scale};
    if (!(wanted_ && wanted_->covers(shown)))
        ask(wanted);
}

void RenderedPage::tap(CGPoint point, std::function<void(std::optional<HTMLDocument::Link>)> answered) {
    send(PageRenderer::tapRequest(width_, point), [this, answered = std::move(answered)](const std::string& answer) {
        const std::optional<PageRenderer::Answer> read = take(answer, PageRenderer::Request::tap);
        if (!read)
            return;
        std::optional<HTMLDocument::Link> link;
        if (read->link)
            link = HTMLDocument::Link{read->link->address, read->link->newWindow};
        answered(link);
    });
}

void RenderedPage::setPicture(const URL& url, std::string bytes) {
    ++picturesSent_;
    send(PageRenderer::pictureRequest(url, bytes), [this](const std::string& answer) {
        if (!take(answer, PageRenderer::Request::picture))
            return;
        // What is drawn predates the picture: drawn again where it was.
        stale_ = true;
        if (picture_)
            ask(picture_->area);
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
    picture_.reset();
    say(events_.refused, budget, why);
}
