#include <gtest/gtest.h>

#include <dlfcn.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <vector>
#include <memory>
#include <sstream>
#include <string>

#include "platform/graphics/CGContext.h"
#include "platform/foundation/Sanitizers.h"
#include "platform/foundation/Wire.h"
#include "platform/web/RenderedPage.h"
#include "platform/web/RendererEnding.h"
#include "tests/support/MainQueue.h"
#include "tests/support/PixelProbe.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/HostilePages.h"
#include "tests/support/NamedPipe.h"
#include "tests/support/Patience.h"
#include "tests/support/TempFolder.h"

namespace {

std::string contents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A child of `parent` running `program` (as the kernel names it, in 15 characters at most), or -1.
pid_t childRunning(const std::string& program, pid_t parent = ::getpid()) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.empty() || !std::isdigit(static_cast<unsigned char>(name[0]))) continue;
        // "pid (name) state ppid ...": the name may hold anything, so the fields follow its last ')'.
        const std::string stat = contents(entry.path() / "stat");
        const std::size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close < open) continue;
        char state = 0;
        long itsParent = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %ld", &state, &itsParent) == 2 && itsParent == parent &&
            stat.substr(open + 1, close - open - 1) == program.substr(0, 15))
            return static_cast<pid_t>(std::stol(name));
    }
    return -1;
}

// A page and what it said, drawn by its renderer (or a stand-in) as a view
// of `size` would.
struct Watched {
    explicit Watched(const std::string& html, std::optional<std::string> program = std::nullopt,
                     std::optional<URL> address = URL::string("https://pages.example/private/a-page-of-its-own.html"),
                     CGSize viewSize = {320, 240}, CGFloat viewScale = 1)
        : size(viewSize), scale(viewScale) {
        RenderedPage::Events events;
        events.laidOut = [this] { laidOut = true; };
        events.wantsPicture = [this](const URL& url) { wanted.push_back(url.absoluteString()); };
        events.refused = [this](std::optional<PageBudget> spent, const std::string& reason) {
            refused = true;
            budget = spent;
            why = reason;
        };
        page = std::make_unique<RenderedPage>(html, std::move(address), size.width, size.height, scale, std::move(events),
                                              std::move(program));
    }
    void draw() {
        testkit::renderOverWhite(size, scale, [&](CGContext& context) { page->draw(context, 0, size); });
    }
    // Draws the page until it is drawn whole, or refused.
    bool settle() {
        return testkit::drainMainQueueUntil([&] {
            if (!refused)
                draw();
            return refused || (laidOut && !page->isBusy());
        });
    }

    CGSize size;
    CGFloat scale;
    std::unique_ptr<RenderedPage> page;
    bool laidOut = false, refused = false;
    std::optional<PageBudget> budget;
    std::string why;
    std::vector<std::string> wanted;
};

// A page's address is handed to its renderer with the page, never on the
// renderer's command line or in its environment, which other programs may
// read in /proc: the renderer knows it (a relative link resolves against it)
// and neither shows it.
TEST(RenderedPage, APagesAddressReachesItsRendererButNotItsCommandLineOrEnvironment) {
    Watched watched("<a href=\"next.html\" style=\"display:block;height:100px\">Next</a>");
    ASSERT_TRUE(watched.settle());
    ASSERT_FALSE(watched.refused) << watched.why;
    const pid_t renderer = childRunning("orvo-page-renderer");
    ASSERT_GT(renderer, 0);
    const std::string process = "/proc/" + std::to_string(renderer);
    const std::string commandLine = contents(process + "/cmdline"), environment = contents(process + "/environ");
    std::optional<std::optional<HTMLDocument::Link>> tapped;
    watched.page->tap({20, 20}, [&](std::optional<HTMLDocument::Link> link) { tapped = link; });
    ASSERT_TRUE(testkit::drainMainQueueUntil([&] { return tapped.has_value(); }));
    ASSERT_TRUE(tapped->has_value());
    EXPECT_EQ((*tapped)->address, "https://pages.example/private/next.html");
    EXPECT_NE(commandLine.find("orvo-page-renderer"), std::string::npos);
    EXPECT_EQ(commandLine.find("pages.example"), std::string::npos) << commandLine;
    EXPECT_FALSE(environment.empty());
    EXPECT_EQ(environment.find("pages.example"), std::string::npos);
}

// An app killed while a page's renderer works leaves no renderer behind.
TEST(RenderedPage, ARendererEndsWithItsHost) {
    const testkit::ChildOutcome run = testkit::runInChild(
        []() -> std::string {
            // The renderer, orphaned, comes to this process, which sees how it ends.
            if (::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0)
                return "no subreaper";
            const pid_t host = ::fork();
            if (host == 0) {
                RenderedPage page(testkit::floats(9000), URL::string("http://127.0.0.1/floats.html"), 800, 600, 1, {});
                for (;;)
                    ::pause();
            }
            // At work on the page: it has read the page (and let its descriptor go).
            pid_t renderer = -1;
            const bool working = testkit::waitUntil([&] {
                renderer = childRunning("orvo-page-renderer", host);
                const std::string process = "/proc/" + std::to_string(renderer);
                return renderer > 0 && std::filesystem::exists(process + "/fd/0") &&
                       !std::filesystem::exists(process + "/fd/3");
            });
            ::kill(host, SIGKILL);
            ::waitpid(host, nullptr, 0);
            if (!working)
                return "the host started no renderer";
            int status = 0;
            if (!testkit::waitUntil([&] { return ::waitpid(renderer, &status, WNOHANG) == renderer; })) {
                ::kill(renderer, SIGKILL);
                ::waitpid(renderer, nullptr, 0);
                return "the renderer outlived its host";
            }
            if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGKILL)
                return "the renderer ended with status " + std::to_string(status) + ", not by its host's end";
            return "";
        },
        std::chrono::seconds(120));
    EXPECT_TRUE(run.passed()) << run.describe();
}

// A renderer is trusted with nothing: one that answers what it was not asked,
// or asks for more pictures than a page may have, is ended and the page
// refused, whatever it did before, and said why; each address is asked for
// once. Each stand-in answers a layout, a draw of the page's top and a tap.
TEST(RenderedPage, ARendererTakenOverByItsPageIsEndedAtItsFirstWrongAnswer) {
    struct Case {
        std::string how;
        bool refused;
        std::size_t mostWanted;
        std::string says;
    };
    const std::string wrong = kRendererAnsweredWrongly;
    for (const Case& c : std::vector<Case>{{"honest", false, 0, ""},
                                           {"one address", false, 1, ""},
                                           {"wrong size", true, 0, wrong},
                                           {"flood", true, 0, wrong},
                                           {"many in turns", true, kMostPagePictures,
                                            "its renderer asked for more pictures than a page may have"},
                                           {"tall", true, 0, wrong},
                                           {"babble", true, 0,
                                            "its renderer broke the rules of its channel: it said something it was not asked"}}) {
        SCOPED_TRACE(c.how);
        Watched watched(c.how, ORVO_TEST_STAND_IN_RENDERER);
        ASSERT_TRUE(watched.settle());
        // A tap is one answer more.
        bool tapped = false;
        watched.page->tap({1, 1}, [&](std::optional<HTMLDocument::Link>) { tapped = true; });
        if (c.refused)
            EXPECT_TRUE(testkit::drainMainQueueUntil([&] { return watched.refused; }));
        else
            EXPECT_TRUE(testkit::drainMainQueueUntil([&] { return tapped; }));
        EXPECT_EQ(watched.refused, c.refused);
        EXPECT_LE(watched.wanted.size(), c.mostWanted);
        if (c.refused) {
            EXPECT_FALSE(watched.budget);
            EXPECT_EQ(watched.why, c.says);
            EXPECT_TRUE(testkit::waitUntil([] { return childRunning("orvo-test-stand-in-renderer") < 0; }));
        } else {
            EXPECT_EQ(watched.page->title(), "Stand-in");
            EXPECT_EQ(watched.page->height(), 1000);
        }
    }
}

// What a telling stand-in renderer had, as its title says: its layouts'
// widths, and its draws.
struct Told {
    struct Draw {
        int width = 0;
        double scale = 0, top = 0, height = 0;
    };
    std::vector<int> layouts;
    std::vector<Draw> draws;

    explicit Told(const std::string& title) {
        std::istringstream words(title);
        for (std::string word; words >> word;) {
            Draw draw;
            if (word[0] == 'L')
                layouts.push_back(std::stoi(word.substr(1)));
            else if (std::sscanf(word.c_str(), "D%d@%lf:%lf+%lf", &draw.width, &draw.scale, &draw.top, &draw.height) == 4)
                draws.push_back(draw);
        }
    }
};

// A live resize asks for a width each frame: only the latest is laid out
// once the layout on its way is done, and only its strips are drawn.
TEST(RenderedPage, ALiveResizeLaysOutOnlyTheLatestWidth) {
    Watched watched("telling", ORVO_TEST_STAND_IN_RENDERER, URL::string("http://127.0.0.1/resized.html"), {300, 200});
    for (int width = 301; width <= 340; ++width) {
        watched.size.width = width;
        watched.page->setWidth(width);
        watched.draw();
    }
    ASSERT_TRUE(watched.settle());
    ASSERT_FALSE(watched.refused) << watched.why;
    const Told told(watched.page->title());
    EXPECT_EQ(told.layouts, (std::vector<int>{300, 340})) << watched.page->title();
    ASSERT_FALSE(told.draws.empty());
    for (const Told::Draw& draw : told.draws)
        EXPECT_EQ(draw.width, 340) << watched.page->title();
}

// A page's top is drawn at the scale of the view that draws it: the first
// draw's, or, when none comes before the page is laid out, the one the page
// was made for. Its strips end at the page's end, which they cover.
TEST(RenderedPage, ThePagesTopIsDrawnAtTheScaleOfTheViewThatDrawsIt) {
    struct Case {
        const char* name;
        CGFloat made, drawn;
        bool drawnAtOnce;
    };
    for (const Case& c : std::vector<Case>{{"drawn at once at 2", 1, 2, true},
                                           {"made for 2, drawn later", 2, 2, false},
                                           {"at 1", 1, 1, true},
                                           {"made for 1.5, drawn at 1.5", 1.5, 1.5, true}}) {
        SCOPED_TRACE(c.name);
        // The stand-in's page is 1000 points tall.
        Watched watched("telling", ORVO_TEST_STAND_IN_RENDERER, URL::string("http://127.0.0.1/scaled.html"), {1200, 1600},
                        c.made);
        watched.scale = c.drawn;
        if (c.drawnAtOnce)
            watched.draw();
        else
            ASSERT_TRUE(testkit::drainMainQueueUntil([&] { return watched.laidOut && !watched.page->isBusy(); }));
        ASSERT_TRUE(watched.settle());
        ASSERT_FALSE(watched.refused) << watched.why;
        const Told told(watched.page->title());
        ASSERT_FALSE(told.draws.empty()) << watched.page->title();
        double reached = 0;
        for (const Told::Draw& draw : told.draws) {
            EXPECT_EQ(draw.scale, c.drawn) << watched.page->title();
            EXPECT_LE(draw.top + draw.height, 1000) << watched.page->title();
            if (draw.top <= reached)
                reached = std::max(reached, draw.top + draw.height);
        }
        EXPECT_GE(reached, 1000) << watched.page->title();
    }
}

// A renderer with no memory for a picture ends as out of memory (the page
// then needs more memory than it may take), never with an empty picture.
TEST(RenderedPage, ARendererWithNoMemoryForAPictureEndsAsOutOfMemory) {
    // A sanitizer's allocator aborts where an allocation fails.
    if (kSanitizedBuild) GTEST_SKIP() << "allocations cannot fail under a sanitizer";
    const testkit::ChildOutcome run = testkit::runInChild(
        []() -> std::string {
            PageRenderer renderer("<title>T</title><p>Too large to draw</p>", URL::string("https://pages.example/"));
            if (renderer.answer(PageRenderer::layoutRequest(4000)).bytes.empty())
                return "not laid out";
            // The memory this process has now, and a little more: not a picture's 16 MB.
            std::ifstream status("/proc/self/status");
            std::size_t kilobytes = 0;
            for (std::string line; std::getline(status, line);)
                if (line.starts_with("VmData:"))
                    kilobytes = std::stoull(line.substr(7));
            const rlimit limit{(kilobytes << 10) + (std::size_t(4) << 20), (kilobytes << 10) + (std::size_t(4) << 20)};
            if (kilobytes == 0 || ::setrlimit(RLIMIT_DATA, &limit) != 0)
                return "no limit";
            try {
                const PageRenderer::Reply reply =
                    renderer.answer(PageRenderer::drawRequest(4000, CGRect(0, 0, 4000, 1000), 1));
                return "answered " + std::to_string(reply.bytes.size()) + " bytes and " +
                       std::to_string(reply.pixels.size()) + " of pixels";
            } catch (const std::bad_alloc&) {
                return "";
            }
        },
        std::chrono::seconds(60));
    EXPECT_TRUE(run.passed()) << run.describe();
}

// What the web view reads of a renderer's answer: a real answer reads, and
// one cut short, longer than its picture, of sizes that do not agree, or of
// numbers that make no sense reads as none.
TEST(RenderedPage, AnAnswerIsReadOnlyWhenItIsWholeAndSane) {
    PageRenderer renderer("<title>T</title><p>Read me</p>", URL::string("https://pages.example/"));
    const PageRenderer::Reply reply = renderer.answer(PageRenderer::drawRequest(40, CGRect(0, 0, 40, 10), 2));
    const std::string drawn =
        reply.bytes + std::string(reinterpret_cast<const char*>(reply.pixels.data()), reply.pixels.size());
    const std::optional<PageRenderer::Answer> read = PageRenderer::readAnswer(PageRenderer::Request::draw, drawn);
    ASSERT_TRUE(read && read->picture);
    EXPECT_EQ(read->state.title, "T");
    EXPECT_EQ(read->picture->pixelWidth, 80);
    EXPECT_EQ(read->picture->pixelHeight, 20);
    for (std::size_t cut = 0; cut < drawn.size(); cut += 1 + cut / 8)
        EXPECT_FALSE(PageRenderer::readAnswer(PageRenderer::Request::draw, drawn.substr(0, cut))) << cut;
    EXPECT_FALSE(PageRenderer::readAnswer(PageRenderer::Request::draw, drawn + "x"));

    // Answers made up field by field.
    struct Made {
        std::string name;
        std::uint8_t budget = 0xff;
        double height = 100;
        std::uint32_t addresses = 1;
        std::int32_t width = 2, rows = 3;
        std::size_t pixels = 2 * 3 * 4;
        bool reads = false;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    for (const Made& m : std::vector<Made>{
             {.name = "sane", .reads = true},
             {.name = "most addresses", .addresses = std::uint32_t(kMostPagePictures), .reads = true},
             {.name = "an address too many", .addresses = std::uint32_t(kMostPagePictures) + 1},
             {.name = "addresses past the end", .addresses = 0xffffffff},
             {.name = "no such budget", .budget = 9},
             {.name = "height NaN", .height = nan},
             {.name = "height infinite", .height = inf},
             {.name = "negative width", .width = -2, .pixels = 0},
             {.name = "negative sides", .width = -2, .rows = -3},
             {.name = "sides that do not agree", .rows = 4},
             {.name = "pixels short", .pixels = 2 * 3 * 4 - 1},
         }) {
        SCOPED_TRACE(m.name);
        WireWriter out;
        out.put(m.budget).put(m.height).put("Title").put(m.addresses);
        for (std::uint32_t i = 0; i < std::min<std::uint32_t>(m.addresses, kMostPagePictures); ++i)
            out.put("https://pages.example/" + std::to_string(i) + ".png");
        PageRenderer::putPictureSides(out, m.width, m.rows);
        out.rest(std::string(m.pixels, '\0'));
        EXPECT_EQ(PageRenderer::readAnswer(PageRenderer::Request::draw, out.take()).has_value(), m.reads);
    }
}

// How a renderer's end is told: a budget only for the limit it went over,
// and what happened otherwise, the same for pages and PDFs.
TEST(RenderedPage, ARenderersEndIsToldAsWhatHappened) {
    using Kind = ChildTrial::Ending::Kind;
    struct Case {
        Kind kind;
        int status;
        std::string why;
        std::optional<PageBudget> budget;
        std::string says;
    };
    for (const Case& c : std::vector<Case>{
             {Kind::overMemory, 0, "", PageBudget::memory, ""},
             {Kind::overProcessorTime, 0, "", PageBudget::processorTime, ""},
             {Kind::timedOut, 0, "", std::nullopt, "did not answer within 30 seconds"},
             {Kind::notStarted, 0, "/opt/bin/orvo-page-renderer: No such file or directory", std::nullopt,
              "its renderer cannot be started: /opt/bin/orvo-page-renderer: No such file or directory"},
             {Kind::ended, SIGKILL, "it said something it was not asked", std::nullopt, "broke the rules of its channel"},
             {Kind::ended, SIGSEGV, "", std::nullopt, "ended by signal 11"},
             {Kind::ended, PageRenderer::kOutOfMemory << 8, "", PageBudget::memory, ""},
         }) {
        ChildTrial::Ending ending;
        ending.kind = c.kind;
        ending.status = c.status;
        ending.why = c.why;
        const std::optional<RendererEnding> said = RendererEnding::of(ending, std::chrono::seconds(30));
        ASSERT_TRUE(said);
        EXPECT_EQ(said->budget, c.budget) << c.says;
        EXPECT_NE(said->why.find(c.says), std::string::npos) << said->why;
        if (c.budget) {
            EXPECT_TRUE(said->why.empty());
        }
    }
    ChildTrial::Ending quit;
    quit.kind = Kind::quit;
    EXPECT_FALSE(RendererEnding::of(quit, std::chrono::seconds(30)));
}

} // namespace
