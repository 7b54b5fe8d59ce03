#include "platform/web/PageTrial.h"

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cmath>
#include <cstring>

#include "platform/foundation/ChildTrial.h"
#include "platform/foundation/FileDescriptor.h"
#include "platform/foundation/Sanitizers.h"

namespace {

// A file in memory holding `bytes`, for a trial program to read; -1, with
// the reason in `why`, when there is none.
int memoryFile(const char* name, const std::string& bytes, std::string& why) {
    FileDescriptor file(::memfd_create(name, MFD_CLOEXEC));
    if (file.get() < 0) {
        why = "no memory file for the page's trial: " + ChildTrial::systemMessage(errno);
        return -1;
    }
    if (const int error =
            writeAll(file.get(), {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()})) {
        why = "the page cannot be handed to its trial: " + ChildTrial::systemMessage(error);
        return -1;
    }
    return file.release();
}

}  // namespace

std::chrono::milliseconds PageTrial::processorTime() {
    return std::chrono::milliseconds(std::llround(2000 * kSanitizerSlowdown));
}

std::size_t PageTrial::memoryBytes() {
    // A sanitizer's shadow and quarantine take resident memory of their own.
    return (std::size_t(kSanitizedBuild ? 640 : 200)) << 20;
}

PageTrial::Verdict PageTrial::run(const std::string& html, const std::optional<URL>& baseURL, int width, int height,
                                  std::shared_ptr<const std::atomic<bool>> cancelled) {
    Verdict verdict;
    const auto failed = [&](std::string why) {
        verdict.kind = Verdict::Kind::failed;
        verdict.why = std::move(why);
        return verdict;
    };
    const std::optional<std::string> program = ChildTrial::programBeside("orvo-page-trial");
    if (!program)
        return failed("the page's trial program cannot be found");
    // The page and its address as files in memory: the child reads them whole, at its own pace.
    std::string why;
    const FileDescriptor page(memoryFile("page", html, why));
    if (page.get() < 0)
        return failed(why);
    const FileDescriptor address(memoryFile("address", baseURL ? baseURL->absoluteString() : "", why));
    if (address.get() < 0)
        return failed(why);
    ChildTrial::Setup setup;
    setup.program = *program;
    setup.arguments = {std::to_string(width), std::to_string(height)};
    setup.descriptors = {{page.get(), kPageDescriptor}, {address.get(), kBaseURLDescriptor}};
    // Elapsed time only bounds a trial that waits on nothing; the processor time is the page's measure.
    setup.limits.time = std::max(std::chrono::milliseconds(30000), 4 * processorTime());
    setup.limits.processorTime = processorTime();
    setup.limits.memoryBytes = memoryBytes();
    setup.cancelled = std::move(cancelled);
    const ChildTrial::Ending ending = ChildTrial::run(std::move(setup));
    using Kind = ChildTrial::Ending::Kind;
    switch (ending.kind) {
    case Kind::notStarted:
        return failed(ending.why);
    case Kind::quit:
        verdict.kind = Verdict::Kind::cancelled;
        return verdict;
    case Kind::timedOut:
    case Kind::overProcessorTime:
        verdict.kind = Verdict::Kind::refused;
        verdict.budget = PageBudget::processorTime;
        return verdict;
    case Kind::overMemory:
        verdict.kind = Verdict::Kind::refused;
        verdict.budget = PageBudget::memory;
        return verdict;
    case Kind::ended:
        break;
    }
    if (WIFEXITED(ending.status) && WEXITSTATUS(ending.status) == kOutOfMemory) {
        verdict.kind = Verdict::Kind::refused;
        verdict.budget = PageBudget::memory;
        return verdict;
    }
    if (WIFEXITED(ending.status) && WEXITSTATUS(ending.status) == 0) {
        if (ending.marker == kShown) {
            verdict.kind = Verdict::Kind::shown;
            return verdict;
        }
        if (ending.marker.starts_with(kRefused)) {
            const int budget = std::atoi(ending.marker.c_str() + std::strlen(kRefused));
            if (budget >= int(PageBudget::parserMemory) && budget <= int(PageBudget::memory)) {
                verdict.kind = Verdict::Kind::refused;
                verdict.budget = PageBudget(budget);
                return verdict;
            }
        }
    }
    const std::string line = ChildTrial::lastLine(ending.output);
    return failed((WIFSIGNALED(ending.status) ? "its layout was ended by " + ChildTrial::signalName(WTERMSIG(ending.status))
                                              : "its layout ended with status " + std::to_string(WEXITSTATUS(ending.status))) +
                  (line.empty() ? "" : ": " + line));
}
