#include <gtest/gtest.h>

#include <dlfcn.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "platform/web/RenderedPage.h"
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

// A page's address is handed to its renderer as the page is, never on the
// renderer's command line, which any user of the machine may read in /proc.
TEST(RenderedPage, APagesAddressIsNotOnItsRenderersCommandLine) {
    // The renderer's loader, looking for our library, opens a named pipe
    // nobody writes to: the renderer stays at its start until the page goes.
    Dl_info platform{};
    ASSERT_TRUE(::dladdr(reinterpret_cast<void*>(&RenderedPage::memoryBytes), &platform) && platform.dli_fname);
    testkit::TempFolder folder{"page-renderer"};
    testkit::NamedPipe library(folder / std::filesystem::path(platform.dli_fname).filename().string());
    ASSERT_TRUE(library.made());
    testkit::ScopedEnvironment environment{"LD_LIBRARY_PATH"};
    testkit::ScopedEnvironment::set("LD_LIBRARY_PATH", folder.path().string());
    const std::string address = "https://pages.example/private/a-page-of-its-own.html";
    auto page = std::make_unique<RenderedPage>("<p>A page</p>", URL::string(address), 320, 240, RenderedPage::Events{});
    // The program is named as it starts; its command line is there once its loader is at work.
    std::string commandLine;
    const bool found = testkit::waitUntil([&] {
        const pid_t child = childRunning("orvo-page-renderer");
        commandLine = child > 0 ? contents("/proc/" + std::to_string(child) + "/cmdline") : "";
        return commandLine.find("orvo-page-renderer") != std::string::npos;
    });
    page.reset();
    ASSERT_TRUE(found);
    EXPECT_EQ(commandLine.find("pages.example"), std::string::npos) << commandLine;
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
                RenderedPage page(testkit::floats(9000), URL::string("http://127.0.0.1/floats.html"), 800, 600, {});
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

} // namespace
