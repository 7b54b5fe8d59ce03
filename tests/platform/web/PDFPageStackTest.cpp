#include <gtest/gtest.h>

#include <cairo-pdf.h>
#include <cairo.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/DispatchQueue.h"
#include "platform/graphics/CGContext.h"
#include "platform/graphics/ImageSurface.h"
#include "platform/web/PDFPageStack.h"
#include "platform/web/PDFRenderer.h"
#include "platform/web/RendererEnding.h"
#include "tests/support/HandMadePDF.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/MainQueue.h"
#include "tests/support/Patience.h"
#include "tests/support/TempFolder.h"

namespace {

const std::string kLink = "https://example.com/top";

// Pages black over their top half, which links to kLink, with `strokes` more
// lines over each to make them slow to draw.
std::string writePDF(const testkit::TempFolder& folder, CGSize size, int pages, int strokes = 0) {
    const std::string path =
        (folder / (std::to_string(pages) + "-" + std::to_string(strokes) + ".pdf")).string();
    cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), size.width, size.height);
    cairo_t* cr = cairo_create(surface);
    const std::string link = "rect=[0 0 " + std::to_string(size.width) + " " +
                             std::to_string(size.height / 2) + "] uri='" + kLink + "'";
    for (int i = 0; i < pages; ++i) {
        cairo_tag_begin(cr, CAIRO_TAG_LINK, link.c_str());
        cairo_rectangle(cr, 0, 0, size.width, size.height / 2);
        cairo_fill(cr);
        cairo_tag_end(cr, CAIRO_TAG_LINK);
        for (int s = 0; s < strokes; ++s) {
            cairo_move_to(cr, s % 97 * size.width / 97, 0);
            cairo_line_to(cr, s % 89 * size.width / 89, size.height);
            cairo_stroke(cr);
        }
        cairo_show_page(cr);
    }
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    return path;
}

// A PDF of one empty page whose MediaBox is `box`, as written: malformed
// documents give sizes no writer would.
std::string writeBoxPDF(const testkit::TempFolder& folder, const std::string& name, const std::string& box) {
    const std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [" + box + "] /Contents 4 0 R >>",
        "<< /Length 0 >>\nstream\n\nendstream",
    };
    const std::string pdf = testkit::handMadePDF(objects);
    const std::string path = (folder / name).string();
    std::ofstream(path, std::ios::binary) << pdf;
    return path;
}

// A stack of the file's pages 200 points wide within its margins, and what it told.
struct Stack {
    int opened = 0;
    std::vector<int> drawn;
    std::vector<std::string> failures;
    std::unique_ptr<PDFPageStack> pages;

    explicit Stack(const std::string& path) {
        pages = std::make_unique<PDFPageStack>(
            path,
            PDFPageStack::Events{[this] { ++opened; }, [this](const std::string& why) { failures.push_back(why); },
                                 [this](int page) { drawn.push_back(page); }});
        pages->setWidth(224);
    }
    bool open() {
        return testkit::drainMainQueueUntil([&] { return opened == 1; });
    }
    std::unique_ptr<ImageSurface> draw(CGFloat top, CGFloat scale = 1) {
        auto picture = std::make_unique<ImageSurface>(CGSize{224, 300}, scale);
        picture->draw([&](CGContext& context) { pages->draw(context, top, 300); });
        return picture;
    }
};

// The renderers of this process's documents, once there are `count` of
// them running the renderer (or the cap passed).
std::vector<pid_t> renderers(std::size_t count) {
    std::vector<pid_t> found;
    testkit::waitUntil([&] {
        found.clear();
        for (const pid_t child : testkit::childProcesses()) {
            std::error_code error;
            const auto program = std::filesystem::read_symlink("/proc/" + std::to_string(child) + "/exe", error);
            if (program.filename() == "orvo-pdf-renderer") found.push_back(child);
        }
        return found.size() >= count;
    });
    return found;
}

// Stops the renderers running now (`count` of them, once they are) until
// released: a stack that waited on one meanwhile would never come back to
// the test. released() tells whether it held them.
class RendererHold {
public:
    explicit RendererHold(std::size_t count = 1) : held_(renderers(count)), all_(held_.size() == count) {
        for (const pid_t renderer : held_) ::kill(renderer, SIGSTOP);
    }
    ~RendererHold() { released(); }
    bool released() {
        for (const pid_t renderer : held_) ::kill(renderer, SIGCONT);
        held_.clear();
        return all_;
    }

private:
    std::vector<pid_t> held_;
    const bool all_;
};

// Holds the global queue's workers, and what is queued after, while it lives.
class GlobalQueueHold {
public:
    GlobalQueueHold() {
        const unsigned workers = std::max(4u, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < workers; ++i) DispatchQueue::global().async([held = held_] { held.wait(); });
    }
    ~GlobalQueueHold() { released_.set_value(); }

private:
    std::promise<void> released_;
    const std::shared_future<void> held_ = released_.get_future().share();
};

// A copy of a child's descriptor; -1 when the system gives none.
int stealDescriptor(pid_t child, int fd) {
    const int process = int(::syscall(SYS_pidfd_open, child, 0));
    if (process < 0) return -1;
    const int copy = int(::syscall(SYS_pidfd_getfd, process, fd, 0));
    ::close(process);
    return copy;
}

// Reads or writes all of `bytes` on a channel, giving up after a minute of silence.
bool transfer(int fd, char* bytes, std::size_t size, bool reading) {
    for (std::size_t done = 0; done < size;) {
        pollfd wait{fd, short(reading ? POLLIN : POLLOUT), 0};
        if (::poll(&wait, 1, int(testkit::kPatience.count())) <= 0) return false;
        const ssize_t moved =
            reading ? ::read(fd, bytes + done, size - done) : ::write(fd, bytes + done, size - done);
        if (moved <= 0 && errno != EINTR) return false;
        done += moved > 0 ? std::size_t(moved) : 0;
    }
    return true;
}

// A frame of the renderer's channel: its 8-byte length, then its bytes.
std::optional<std::string> readFrame(int fd) {
    std::uint64_t length = 0;
    if (!transfer(fd, reinterpret_cast<char*>(&length), sizeof length, true) || length > 4096)
        return std::nullopt;
    std::string frame(length, '\0');
    return transfer(fd, frame.data(), frame.size(), true) ? std::optional(frame) : std::nullopt;
}

bool writeFrame(int fd, std::string frame) {
    std::uint64_t length = frame.size();
    return transfer(fd, reinterpret_cast<char*>(&length), sizeof length, false) &&
           transfer(fd, frame.data(), frame.size(), false);
}

// Everything asked of the stack's renderer has arrived (unless the stack
// has gone), and what it sent the main thread has run.
void settle(const Stack& stack) {
    EXPECT_TRUE(testkit::drainMainQueueUntil([&] {
        for (int i = 0; stack.pages && i < stack.pages->pageCount(); ++i)
            if (stack.pages->isPending(i)) return false;
        return true;
    }));
}

bool white(const ImageSurface& picture, CGPoint point) {
    return picture.pixelAt(point) == ImageSurface::Pixel{255, 255, 255, 255};
}

bool black(const ImageSurface& picture, CGPoint point) {
    return picture.pixelAt(point) == ImageSurface::Pixel{0, 0, 0, 255};
}

} // namespace

// A draw returns with the renderer held, showing blank pages (one letter page
// while the document opens); a page's picture and links arrive through the
// main queue, one too large for the cache at fewer pixels, and a picture at
// another scale shows scaled until the new one comes.
TEST(PDFPageStack, PagesShowBlankUntilTheirPicturesArriveThroughTheMainQueue) {
    testkit::TempFolder folder;
    const struct {
        CGSize page;
        int pages, shown; // in a view 300 points tall
        bool sharper;     // drawn again at twice the pixels
    } cases[] = {{{200, 100}, 5, 3, true},
                 {{100, 14000}, 1, 1, false}}; // the second at most its share of the cache
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page.height);
        Stack stack(writePDF(folder, c.page, c.pages));
        RendererHold opening;
        EXPECT_NEAR(stack.pages->contentHeight(), 12 + 200 * 792 / 612.0 + 12, 1e-9);
        EXPECT_TRUE(white(*stack.draw(0), {112, 100}));
        ASSERT_TRUE(opening.released());
        ASSERT_TRUE(stack.open());
        ASSERT_EQ(stack.pages->pageCount(), c.pages);
        const CGFloat scale = 200 / c.page.width,
                      inTopHalf = std::min<CGFloat>(c.page.height * scale / 4, 50);
        const CGPoint inPage{100 / scale, inTopHalf / scale};

        RendererHold drawing;
        EXPECT_TRUE(white(*stack.draw(0), {112, 12 + inTopHalf}));
        for (int i = 0; i < c.pages; ++i) EXPECT_EQ(stack.pages->isPending(i), i < c.shown) << i;
        EXPECT_EQ(stack.pages->linkAt(0, inPage), std::nullopt);
        ASSERT_TRUE(drawing.released());
        ASSERT_TRUE(testkit::drainMainQueueUntil([&] { return int(stack.drawn.size()) == c.shown; }));
        EXPECT_LE(stack.pages->cachedBytes(), c.shown * PDFPageStack::kPictureBytes + 4096); // links apart
        EXPECT_TRUE(black(*stack.draw(0), {112, 12 + inTopHalf}));
        EXPECT_EQ(stack.pages->linkAt(0, inPage), kLink);
        EXPECT_EQ(stack.pages->linkAt(0, {inPage.x, c.page.height * 3 / 4}), std::nullopt);

        RendererHold sharper;
        EXPECT_TRUE(black(*stack.draw(0, 2), {112, 12 + inTopHalf}));
        EXPECT_EQ(stack.pages->isPending(0), c.sharper);
        ASSERT_TRUE(sharper.released());
        ASSERT_TRUE(testkit::drainMainQueueUntil(
            [&] { return int(stack.drawn.size()) == (c.sharper ? 2 : 1) * c.shown; }));
        settle(stack);
        EXPECT_EQ(stack.pages->pagesRendered(), std::uint64_t(c.sharper ? 2 * c.shown : c.shown));
    }
}

// Pages are drawn one at a time from the latest wish: those that scrolled
// out of view before their turn never are.
TEST(PDFPageStack, OnlyThePagesInViewAtTheLatestDrawAreDrawn) {
    testkit::TempFolder folder;
    const std::string path = writePDF(folder, {200, 100}, 100);
    const struct {
        std::vector<CGFloat> tops; // drawn one after the other, the renderer held
        std::vector<int> drawn;
    } cases[] = {{{0, 5612}, {50, 51, 52}}, {{0, 5612, 0}, {0, 1, 2}}, {{0, 124}, {1, 2, 3}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tops.back());
        Stack stack(path);
        ASSERT_TRUE(stack.open());
        RendererHold hold;
        for (const CGFloat top : c.tops) stack.draw(top);
        ASSERT_TRUE(hold.released());
        ASSERT_TRUE(testkit::drainMainQueueUntil([&] { return stack.drawn.size() >= c.drawn.size(); }));
        settle(stack);
        EXPECT_EQ(stack.drawn, c.drawn);
    }
}

// Leaving a document waits for nothing of its renderer, whatever it does,
// and nothing of the stack is called after it has gone.
TEST(PDFPageStack, DestroyingTheStackNeverWaitsForTheRendererAndHearsNothingAfter) {
    testkit::TempFolder folder;
    const std::string heavy = writePDF(folder, {612, 792}, 2, 20000);
    enum class When { opening, asked, drawing };
    for (const When when : {When::opening, When::asked, When::drawing}) {
        SCOPED_TRACE(int(when));
        Stack stack(heavy);
        if (when != When::opening) {
            ASSERT_TRUE(stack.open());
        }
        RendererHold hold;
        stack.draw(0);
        if (when == When::drawing) {
            ASSERT_TRUE(hold.released()); // the renderer takes the first page up now
        }
        stack.pages.reset();
        ASSERT_TRUE(hold.released());
        settle(stack);
        EXPECT_EQ(stack.opened, when == When::opening ? 0 : 1);
        EXPECT_TRUE(stack.drawn.empty());
    }
}

// No document waits for another: a light one opened while a heavy one's page
// is drawn (its renderer held at it, so that it still is) opens and shows its
// page, the heavy page still on its way.
TEST(PDFPageStack, ALightDocumentIsDrawnWhileAHeavyOneStillDraws) {
    testkit::TempFolder folder;
    Stack heavy(writePDF(folder, {612, 792}, 1, 100000));
    ASSERT_TRUE(heavy.open());
    heavy.draw(0);
    RendererHold drawing;
    Stack light(writePDF(folder, {200, 100}, 1));
    ASSERT_TRUE(light.open());
    light.draw(0);
    ASSERT_TRUE(testkit::drainMainQueueUntil([&] { return !light.drawn.empty(); }));
    EXPECT_TRUE(black(*light.draw(0), {112, 12 + 25}));
    EXPECT_TRUE(heavy.pages->isPending(0));
    EXPECT_TRUE(heavy.drawn.empty());
    EXPECT_TRUE(drawing.released());
}

// Leaving a document while its renderer draws a heavy page ends the renderer
// at once: no process of it is left behind.
TEST(PDFPageStack, LeavingADocumentWhileAPageDrawsEndsItsRenderer) {
    testkit::TempFolder folder;
    Stack heavy(writePDF(folder, {612, 792}, 1, 100000));
    ASSERT_TRUE(heavy.open());
    heavy.draw(0);
    ASSERT_EQ(renderers(1).size(), 1u);
    EXPECT_TRUE(heavy.pages->isPending(0));
    heavy.pages.reset();
    EXPECT_TRUE(testkit::waitUntil([] { return testkit::childProcesses().empty(); }));
}

// A renderer that dies (here killed from outside, as the system's
// out-of-memory killer would) fails its stack, which says how and shows no
// page any more.
TEST(PDFPageStack, ARendererThatDiesFailsItsStackSayingHow) {
    testkit::TempFolder folder;
    Stack stack(writePDF(folder, {200, 100}, 3));
    ASSERT_TRUE(stack.open());
    const std::vector<pid_t> renderer = renderers(1);
    ASSERT_EQ(renderer.size(), 1u);
    ASSERT_EQ(::kill(renderer[0], SIGKILL), 0);
    ASSERT_TRUE(testkit::drainMainQueueUntil([&] { return !stack.failures.empty(); }));
    EXPECT_NE(stack.failures[0].find("signal 9"), std::string::npos) << stack.failures[0];
    EXPECT_EQ(stack.failures.size(), 1u);
    EXPECT_EQ(stack.pages->state(), PDFPageStack::State::failed);
    EXPECT_EQ(stack.pages->pageCount(), 0);
}

// A renderer (taken over, say, by the document it draws) that answers page
// sizes no PDF has fails its stack, which ends it and says so: a page next to
// nothing wide and very tall would make the document endless and the view
// blank. The test answers the stack's "open" in its renderer's place: the
// stack asks from the global queue once the document is handed over, so with
// that held the renderer is stopped before it is asked, and the request comes
// to a copy of its end of the channel.
TEST(PDFPageStack, ARendererAnsweringPageSizesNoPDFHasFailsItsStack) {
    testkit::TempFolder folder;
    std::ifstream file(writePDF(folder, {200, 100}, 1), std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file),
                                          std::istreambuf_iterator<char>()};
    ASSERT_FALSE(bytes.empty());
    const struct {
        const char* name;
        CGSize size;
    } cases[] = {
        {"next to nothing wide, very tall", {1e-300, 1e7}},
        {"no width", {0, 792}},
        {"beyond the largest side", {PDFRenderer::kLargestSide + 1, 792}},
    };
    // The renderer found is this stack's: none of an earlier one is left.
    ASSERT_TRUE(testkit::waitUntil([] { return testkit::childProcesses().empty(); }));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> failures;
        std::unique_ptr<PDFPageStack> pages;
        int channel = -1;
        {
            GlobalQueueHold hold;
            pages = std::make_unique<PDFPageStack>(
                bytes,
                PDFPageStack::Events{{}, [&](const std::string& why) { failures.push_back(why); }, {}});
            pages->setWidth(224);
            const std::vector<pid_t> renderer = renderers(1);
            ASSERT_EQ(renderer.size(), 1u);
            ASSERT_EQ(::kill(renderer[0], SIGSTOP), 0);
            channel = stealDescriptor(renderer[0], ChildSession::kChannelDescriptor);
            if (channel < 0) GTEST_SKIP() << "no copy of the renderer's channel: " << std::strerror(errno);
        }
        const std::optional<std::string> request = readFrame(channel);
        EXPECT_EQ(request, PDFRenderer::openRequest());
        EXPECT_TRUE(writeFrame(channel, PDFRenderer::openedReply({{{612, 792}, c.size}, ""})));
        ::close(channel);
        ASSERT_TRUE(
            testkit::drainMainQueueUntil([&] { return pages->state() != PDFPageStack::State::opening; }));
        EXPECT_EQ(pages->state(), PDFPageStack::State::failed);
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_NE(failures[0].find(kRendererAnsweredWrongly), std::string::npos) << failures[0];
        EXPECT_EQ(pages->pageCount(), 0);
        EXPECT_TRUE(std::isfinite(pages->contentHeight()));
        EXPECT_TRUE(testkit::waitUntil([] { return testkit::childProcesses().empty(); }))
            << "its renderer is left running";
    }
}

// A malformed document whose page poppler takes at a size no PDF page has
// opens with that page at the nearest size one has (none for a page without
// area), and draws: its renderer holds what poppler says to what its stack
// accepts, and the document's length stays that of a page.
TEST(PDFPageStack, APageOfASizeNoPDFHasOpensAtTheNearestSize) {
    testkit::TempFolder folder;
    const struct {
        const char* name;
        std::string box;
        CGSize shown;
    } cases[] = {
        {"next to nothing wide, very tall", "0 0 0.00001 1000000", {1, PDFRenderer::kLargestSide}},
        {"beyond the largest side",
         "0 0 99999999999999999999999999999999999999999 100",
         {PDFRenderer::kLargestSide, 100}},
        {"below the smallest side", "0 0 0.5 0.5", {1, 1}},
        {"no width", "0 0 0 500", {0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Stack stack(writeBoxPDF(folder, std::string(c.name) + ".pdf", c.box));
        ASSERT_TRUE(
            testkit::drainMainQueueUntil([&] { return stack.opened == 1 || !stack.failures.empty(); }));
        ASSERT_EQ(stack.failures, std::vector<std::string>{});
        ASSERT_EQ(stack.pages->pageCount(), 1);
        const CGFloat height = c.shown.width > 0 ? c.shown.height * 200 / c.shown.width : 0;
        EXPECT_DOUBLE_EQ(stack.pages->contentHeight(), 12 + height + 12);
        stack.draw(0);
        if (c.shown.width > 0) {
            ASSERT_TRUE(testkit::drainMainQueueUntil(
                [&] { return !stack.drawn.empty() || !stack.failures.empty(); }));
        }
        settle(stack);
        EXPECT_EQ(stack.drawn, (c.shown.width > 0 ? std::vector<int>{0} : std::vector<int>{}));
        EXPECT_EQ(stack.failures, std::vector<std::string>{});
    }
}
