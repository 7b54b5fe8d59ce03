#include "platform/web/PDFPageStack.h"

#include <cairo.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/FileDescriptor.h"
#include "platform/foundation/Sanitizers.h"
#include "platform/graphics/CGContext.h"
#include "platform/graphics/ImageSurface.h"
#include "platform/web/HTMLFilter.h"
#include "platform/web/RendererEnding.h"

namespace {

// What shows while the document opens: a letter page.
constexpr CGSize kOpeningPage{612, 792};

// Runs `body` with the stack on the main queue, if the stack is still there then.
template <class Body>
void onMain(const std::weak_ptr<PDFPageStack*>& stack, Body body) {
    DispatchQueue::main().async([stack, body = std::move(body)]() mutable {
        if (const auto self = stack.lock(); self && *self)
            body(**self);
    });
}

}  // namespace

ChildSession::Limits PDFPageStack::limits() {
    ChildSession::Limits limits;
    // A sanitizer's shadow and quarantine take resident memory of their own.
    limits.memoryBytes = std::size_t(kSanitizedBuild ? 1024 : 512) << 20;
    limits.processorTime = std::chrono::milliseconds(std::llround(10000 * kSanitizerSlowdown));
    // Elapsed time only bounds a renderer that waits on nothing.
    limits.time = 4 * limits.processorTime;
    return limits;
}

PDFPageStack::PDFPageStack(const std::string& path, Events events)
    : events_(std::move(events)), sizes_{kOpeningPage}, self_(std::make_shared<PDFPageStack*>(this)) {
    setWidth(0);
    // Only a regular file is handed over: a pipe in its place would stall the renderer.
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat status {};
    std::string why;
    if (file.get() < 0 || ::fstat(file.get(), &status) != 0)
        why = ChildTrial::systemMessage(errno);
    else if (!S_ISREG(status.st_mode))
        why = "it is not a regular file";
    else if (std::uintmax_t(status.st_size) > PDFRenderer::kMostBytes)
        why = tooLarge();
    else
        why = start(file.get());
    if (why.empty())
        open(*renderer_, self_);
    else
        failLater(why);
}

PDFPageStack::PDFPageStack(std::vector<std::uint8_t> bytes, Events events)
    : events_(std::move(events)), sizes_{kOpeningPage}, self_(std::make_shared<PDFPageStack*>(this)) {
    setWidth(0);
    // The bytes as a file in memory, written off the main thread: the renderer reads it once asked to open it.
    auto file = std::make_shared<FileDescriptor>(::memfd_create("document", MFD_CLOEXEC));
    std::string why = bytes.size() > PDFRenderer::kMostBytes ? tooLarge()
                      : file->get() < 0 ? "no memory file for its renderer: " + ChildTrial::systemMessage(errno)
                                        : start(file->get());
    if (!why.empty()) {
        failLater(why);
        return;
    }
    DispatchQueue::global().async([self = std::weak_ptr<PDFPageStack*>(self_), file, bytes = std::move(bytes),
                                   renderer = std::weak_ptr<ChildSession>(renderer_)] {
        if (const int error = writeAll(file->get(), bytes))
            return onMain(self, [error](PDFPageStack& stack) {
                stack.fail("it cannot be handed to its renderer: " + ChildTrial::systemMessage(error));
            });
        if (const auto session = renderer.lock())
            open(*session, self);
    });
}

std::string PDFPageStack::tooLarge() { return "it is larger than " + std::to_string(PDFRenderer::kMostBytes >> 20) + " MiB"; }

void PDFPageStack::failLater(const std::string& why) {
    // Said through the main queue: the caller holds no stack yet.
    onMain(self_, [why](PDFPageStack& stack) { stack.fail(why); });
}

std::string PDFPageStack::start(int document) {
    const std::optional<std::string> program = ChildTrial::programBeside("orvo-pdf-renderer");
    if (!program)
        return "its renderer cannot be found";
    ChildSession::Setup setup;
    setup.program = *program;
    setup.descriptors = {{document, PDFRenderer::kDocumentDescriptor}};
    renderer_ = ChildSession::start(std::move(setup), limits(),
                                    [self = std::weak_ptr<PDFPageStack*>(self_)](const ChildTrial::Ending& ending) {
                                        if (std::optional<std::string> why = describe(ending))
                                            onMain(self, [why = std::move(*why)](PDFPageStack& stack) { stack.fail(why); });
                                    });
    return "";
}

void PDFPageStack::open(ChildSession& renderer, const std::weak_ptr<PDFPageStack*>& self) {
    renderer.send(PDFRenderer::openRequest(), [self](std::string reply) {
        onMain(self, [opened = PDFRenderer::opened(reply)](PDFPageStack& stack) mutable { stack.opened(std::move(opened)); });
    });
}


// The renderer is ended at once, whatever it does: it may be drawing a heavy page.
PDFPageStack::~PDFPageStack() = default;

std::optional<std::string> PDFPageStack::describe(const ChildTrial::Ending& ending) {
    const std::optional<RendererEnding> said = RendererEnding::of(ending, limits().time);
    if (!said)
        return std::nullopt;
    return said->budget ? overBudgetReason(*said->budget, "a PDF") : said->why;
}

void PDFPageStack::fail(const std::string& why) {
    if (state_ == State::failed)
        return;
    renderer_.reset();
    state_ = State::failed;
    sizes_.clear();
    cache_.clear();
    cached_.clear();
    cachedBytes_ = 0;
    asked_.clear();
    sent_.clear();
    layOut();
    if (const auto failed = events_.failed)
        failed(why);
}

void PDFPageStack::opened(std::optional<PDFRenderer::Opened> opened) {
    if (state_ != State::opening)
        return;
    if (!opened)
        return fail(kRendererAnsweredWrongly);
    if (!opened->error.empty())
        return fail(opened->error);
    state_ = State::open;
    sizes_ = std::move(opened->sizes);
    layOut();
    if (const auto done = events_.opened)
        done();
}

CGFloat PDFPageStack::scale(int index) const {
    const CGFloat inner = width_ - 2 * kMargin, pageWidth = sizes_[std::size_t(index)].width;
    return pageWidth > 0 && inner > 0 ? inner / pageWidth : 0;
}

CGFloat PDFPageStack::fitted(int index, CGFloat pixelsPerPoint) const {
    const CGSize size = sizes_[std::size_t(index)];
    if (!(pixelsPerPoint > 0 && std::isfinite(pixelsPerPoint) && size.width > 0 && size.height > 0))
        return 0;
    // The most p with (width p + 1) (height p + 1) pixels, sides rounded up, within the bytes.
    const CGFloat area = size.width * size.height, sides = size.width + size.height;
    const CGFloat withinBytes =
        (std::sqrt(sides * sides + 4 * area * (CGFloat(kPictureBytes) / 4 - 1)) - sides) / (2 * area);
    // A side is rounded up to whole pixels: one short of the longest keeps within it.
    const CGFloat withinSide = (ImageSurface::kLargestSide - 1) / std::max(size.width, size.height);
    return std::min({pixelsPerPoint, withinBytes, withinSide});
}

void PDFPageStack::setWidth(CGFloat width) {
    if (width == width_)
        return;
    width_ = width;
    // The pictures stay: they are in page points, and show scaled until redrawn.
    layOut();
}

void PDFPageStack::layOut() {
    tops_.assign(1, kMargin);
    tops_.reserve(sizes_.size() + 1);
    for (int i = 0; i < int(sizes_.size()); ++i)
        tops_.push_back(tops_.back() + sizes_[std::size_t(i)].height * scale(i) + kMargin);
}

std::optional<std::pair<int, CGPoint>> PDFPageStack::pageAt(CGPoint point) const {
    if (state_ != State::open)
        return std::nullopt;
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
    cairo_t* cr = context.cairo();
    std::vector<Request> wanted;
    shown_.clear();
    const auto first = std::upper_bound(tops_.begin(), tops_.end() - 1, top);
    for (int i = std::max(0, int(first - tops_.begin()) - 1); i < int(sizes_.size()); ++i) {
        const CGFloat y = tops_[std::size_t(i)] - top, s = scale(i);
        const CGSize size = sizes_[std::size_t(i)];
        if (y > height)
            break;
        if (s <= 0 || y + size.height * s < 0)
            continue;
        context.saveGState();
        context.translateBy(kMargin, y);
        context.scaleBy(s, s);
        const auto found = cached_.find(i);
        const Picture* picture = found != cached_.end() ? &*found->second : nullptr;
        // A picture at another scale shows scaled until the new one comes.
        if (picture && picture->image)
            cairo_set_source_surface(cr, picture->image->surface(), 0, 0);
        else
            cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_rectangle(cr, 0, 0, size.width, size.height);
        cairo_fill(cr);
        if (picture)
            cache_.splice(cache_.begin(), cache_, found->second);
        if (state_ == State::open) {
            shown_.push_back(i);
            const CGFloat pixelsPerPoint = fitted(i, context.pixelsPerUnit());
            if (pixelsPerPoint > 0 && (!picture || picture->pixelsPerPoint != pixelsPerPoint))
                wanted.push_back({i, pixelsPerPoint});
        }
        context.restoreGState();
    }
    // Only the latest wish counts: pages that scrolled away before their turn are never drawn.
    if (wanted != asked_ && renderer_) {
        asked_ = wanted;
        for (std::size_t dropped = renderer_->dropQueued(); dropped > 0 && !sent_.empty(); --dropped)
            sent_.pop_back();
        // A page on its way is not asked for again.
        for (const Request& request : wanted)
            if (std::find(sent_.begin(), sent_.end(), request) == sent_.end())
                send(request);
    }
}

void PDFPageStack::send(const Request& request) {
    sent_.push_back(request);
    const CGSize size = sizes_[std::size_t(request.page)];
    renderer_->send(PDFRenderer::drawRequest(request.page, request.pixelsPerPoint),
                    [self = std::weak_ptr<PDFPageStack*>(self_), request, size](std::string reply) {
                        // The picture is made here, off the main thread.
                        onMain(self, [request, drawn = PDFRenderer::drawn(reply, size, request.pixelsPerPoint)](
                                         PDFPageStack& stack) mutable { stack.arrived(request, std::move(drawn)); });
                    });
}

void PDFPageStack::arrived(Request request, std::optional<PDFRenderer::Drawn> answer) {
    if (state_ != State::open)
        return;
    if (!sent_.empty())
        sent_.pop_front();
    asked_.erase(std::remove(asked_.begin(), asked_.end(), request), asked_.end());
    if (!answer)
        return fail(kRendererAnsweredWrongly);
    // A page that left the view while it was drawn is not kept.
    if (!std::binary_search(shown_.begin(), shown_.end(), request.page))
        return;
    std::shared_ptr<const ImageSurface> image = std::move(answer->picture);
    std::vector<PDFRenderer::Link> links = std::move(answer->links);
    if (const auto found = cached_.find(request.page); found != cached_.end()) {
        cachedBytes_ -= found->second->bytes;
        cache_.erase(found->second);
        cached_.erase(found);
    }
    std::size_t bytes = image ? std::size_t(image->pixelWidth()) * std::size_t(image->pixelHeight()) * 4 : 0;
    for (const PDFRenderer::Link& link : links)
        bytes += sizeof link + link.uri.size();
    cache_.push_front({request.page, request.pixelsPerPoint, std::move(image), std::move(links), bytes});
    cached_[request.page] = cache_.begin();
    cachedBytes_ += bytes;
    ++rendered_;
    evict();
    if (const auto drawn = events_.drawn)
        drawn(request.page);
}

void PDFPageStack::evict() {
    // The least recently drawn first; never the newest, nor a page in view.
    for (auto it = std::prev(cache_.end()); cachedBytes_ > kCacheBytes && it != cache_.begin();) {
        const auto victim = it--;
        if (std::binary_search(shown_.begin(), shown_.end(), victim->page))
            continue;
        cachedBytes_ -= victim->bytes;
        cached_.erase(victim->page);
        cache_.erase(victim);
    }
}

bool PDFPageStack::isPending(int page) const {
    return std::any_of(asked_.begin(), asked_.end(), [page](const Request& r) { return r.page == page; });
}

std::optional<std::string> PDFPageStack::linkAt(int page, CGPoint point) const {
    const auto found = cached_.find(page);
    if (found == cached_.end())
        return std::nullopt;
    for (const PDFRenderer::Link& link : found->second->links) {
        const CGRect& a = link.area;
        if (point.x >= a.minX() && point.x <= a.maxX() && point.y >= a.minY() && point.y <= a.maxY())
            return link.uri;
    }
    return std::nullopt;
}
