#include "platform/web/PDFPageStack.h"

#include <cairo.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <iterator>
#include <thread>

#include "platform/foundation/DispatchQueue.h"
#include "platform/graphics/CGContext.h"
#include "platform/graphics/ImageSurface.h"

namespace {

// What shows while the document opens: a letter page.
constexpr CGSize kOpeningPage{612, 792};

// Set when the program exits: the queue starts nothing more.
std::atomic<bool> exiting{false};

// How long exit waits for the page the queue has in hand.
constexpr auto kExitWait = std::chrono::seconds(2);

// Poppler's globals are torn down at exit, maybe under a page being drawn:
// exit waits for the block the queue has in hand (a page at most), and the
// queue starts nothing after it. A page that outlasts the wait would be drawn
// on what exit tears down: the program then ends at once, with its status.
// Registered with the queue, so that it runs before the libraries' own.
void endDrawingAtExit(int status, void* queue) {
    exiting = true;
    const auto done = std::make_shared<std::atomic<bool>>(false);
    static_cast<DispatchQueue*>(queue)->async([done] { *done = true; });
    const auto until = std::chrono::steady_clock::now() + kExitWait;
    while (!*done && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (*done)
        return;
    std::fflush(nullptr);
    std::_Exit(status);
}

// Device pixels to one unit of the context as it stands.
CGFloat pixelsPerUnit(cairo_t* cr) {
    double x = 1, y = 0, deviceX = 1, deviceY = 1;
    cairo_user_to_device_distance(cr, &x, &y);
    cairo_surface_get_device_scale(cairo_get_target(cr), &deviceX, &deviceY);
    return std::hypot(x, y) * deviceX;
}

}  // namespace

// The queue's side of a stack. Only `stack` and `closed` are read by both
// threads (the one constant, the other atomic); the rest is touched on the
// drawing queue alone, and goes with the last block that holds it there.
struct PDFPageStack::Worker {
    explicit Worker(std::weak_ptr<PDFPageStack*> owner) : stack(std::move(owner)) {}

    const std::weak_ptr<PDFPageStack*> stack;
    // Set when the stack goes: what is queued for it is dropped.
    std::atomic<bool> closed{false};
    bool dropped() const { return closed || exiting; }

    std::unique_ptr<PDFDocument> document;
    // The pages still to draw from the latest request.
    std::deque<Request> wanted;
    // Pictures sent to the main queue that the stack had not taken when it last asked.
    std::vector<std::pair<std::uint64_t, Request>> inTransit;
    std::uint64_t sent = 0;
    bool scheduled = false;

    static void open(const std::shared_ptr<Worker>& worker, const Opener& opener);
    static void take(const std::shared_ptr<Worker>& worker, const std::vector<Request>& requests,
                     std::uint64_t received);
    static void drawNext(const std::shared_ptr<Worker>& worker);
    static void schedule(const std::shared_ptr<Worker>& worker);
};

void PDFPageStack::Worker::open(const std::shared_ptr<Worker>& worker, const Opener& opener) {
    if (worker->dropped())
        return;
    std::string error;
    try {
        worker->document = opener(error);
    } catch (const std::exception& failure) {
        error = failure.what();
    }
    std::vector<CGSize> sizes;
    std::optional<std::string> failure;
    if (worker->document) {
        sizes.reserve(std::size_t(worker->document->pageCount()));
        for (int i = 0; i < worker->document->pageCount(); ++i)
            sizes.push_back(worker->document->pageSize(i));
    } else {
        failure = error.empty() ? "the file cannot be read" : error;
    }
    DispatchQueue::main().async([stack = worker->stack, sizes = std::move(sizes), failure]() mutable {
        if (const auto self = stack.lock(); self && *self)
            (*self)->opened(std::move(sizes), failure);
    });
}

void PDFPageStack::Worker::take(const std::shared_ptr<Worker>& worker, const std::vector<Request>& requests,
                                std::uint64_t received) {
    if (worker->dropped())
        return;
    auto& transit = worker->inTransit;
    transit.erase(std::remove_if(transit.begin(), transit.end(), [&](const auto& t) { return t.first <= received; }),
                  transit.end());
    // A picture on its way is not drawn again.
    worker->wanted.clear();
    for (const Request& request : requests)
        if (std::none_of(transit.begin(), transit.end(), [&](const auto& t) { return t.second == request; }))
            worker->wanted.push_back(request);
    schedule(worker);
}

void PDFPageStack::Worker::schedule(const std::shared_ptr<Worker>& worker) {
    if (worker->scheduled || worker->wanted.empty())
        return;
    worker->scheduled = true;
    // A page a block: requests that come meanwhile take their turn before the next page.
    drawingQueue().async([worker] { drawNext(worker); });
}

void PDFPageStack::Worker::drawNext(const std::shared_ptr<Worker>& worker) {
    worker->scheduled = false;
    if (worker->dropped() || worker->wanted.empty() || !worker->document)
        return;
    const Request request = worker->wanted.front();
    worker->wanted.pop_front();
    std::shared_ptr<ImageSurface> image;
    std::vector<PDFDocument::Link> links;
    try {
        image = std::make_shared<ImageSurface>(worker->document->pageSize(request.page), request.pixelsPerPoint);
        if (image->pixelWidth() > 0)
            image->draw([&](CGContext& context) { worker->document->drawPage(request.page, context); });
        else
            image.reset();
        links = worker->document->links(request.page);
    } catch (const std::exception& failure) {
        // Shown blank rather than asked for again and again.
        std::printf("PDFPageStack: ERROR: page %d could not be drawn: %s\n", request.page + 1, failure.what());
        std::fflush(stdout);
    }
    const std::uint64_t sequence = ++worker->sent;
    worker->inTransit.emplace_back(sequence, request);
    DispatchQueue::main().async([stack = worker->stack, sequence, request, image = std::move(image),
                                 links = std::move(links)]() mutable {
        if (const auto self = stack.lock(); self && *self)
            (*self)->arrived(sequence, request, std::move(image), std::move(links));
    });
    schedule(worker);
}

DispatchQueue& PDFPageStack::drawingQueue() {
    // Never destroyed: the last blocks of a stack may still be on their way at exit.
    static DispatchQueue* const queue = [] {
        auto* made = new DispatchQueue("PDFPageStack.drawing");
        ::on_exit(endDrawingAtExit, made);
        return made;
    }();
    return *queue;
}

PDFPageStack::PDFPageStack(Opener open, Events events)
    : events_(std::move(events)), sizes_{kOpeningPage}, self_(std::make_shared<PDFPageStack*>(this)) {
    worker_ = std::make_shared<Worker>(self_);
    drawingQueue().async([worker = worker_, open = std::move(open)] { Worker::open(worker, open); });
    setWidth(0);
}

PDFPageStack::~PDFPageStack() {
    worker_->closed = true;
    // The document goes with the queue's last hold on it, never here: poppler
    // takes its time over a long one, and may be drawing a page of it now.
    drawingQueue().async([worker = std::move(worker_)] {});
}

void PDFPageStack::opened(std::vector<CGSize> sizes, const std::optional<std::string>& error) {
    state_ = error ? State::failed : State::open;
    sizes_ = error ? std::vector<CGSize>{} : std::move(sizes);
    layOut();
    if (error) {
        const auto failed = events_.failed;
        if (failed)
            failed(*error);
    } else if (const auto done = events_.opened) {
        done();
    }
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
            const CGFloat pixelsPerPoint = fitted(i, pixelsPerUnit(cr));
            if (pixelsPerPoint > 0 && (!picture || picture->pixelsPerPoint != pixelsPerPoint))
                wanted.push_back({i, pixelsPerPoint});
        }
        context.restoreGState();
    }
    // Only the latest wish counts: pages that scrolled away before their turn are never drawn.
    if (wanted != asked_) {
        asked_ = wanted;
        drawingQueue().async([worker = worker_, wanted = std::move(wanted), received = received_] {
            Worker::take(worker, wanted, received);
        });
    }
}

void PDFPageStack::arrived(std::uint64_t sequence, Request request, std::shared_ptr<const ImageSurface> image,
                           std::vector<PDFDocument::Link> links) {
    received_ = sequence;
    asked_.erase(std::remove(asked_.begin(), asked_.end(), request), asked_.end());
    if (const auto found = cached_.find(request.page); found != cached_.end()) {
        cachedBytes_ -= found->second->bytes;
        cache_.erase(found->second);
        cached_.erase(found);
    }
    std::size_t bytes = image ? std::size_t(image->pixelWidth()) * std::size_t(image->pixelHeight()) * 4 : 0;
    for (const PDFDocument::Link& link : links)
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
    for (const PDFDocument::Link& link : found->second->links) {
        const CGRect& a = link.area;
        if (point.x >= a.minX() && point.x <= a.maxX() && point.y >= a.minY() && point.y <= a.maxY())
            return link.uri;
    }
    return std::nullopt;
}
