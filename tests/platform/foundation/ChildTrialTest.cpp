#include <gtest/gtest.h>

#include <sys/wait.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <utility>

#include "platform/foundation/ChildTrial.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Patience.h"
#include "tests/support/StrayDescriptors.h"
#include "tests/support/ThreadSanitizer.h"

namespace {

// A trial of the shell that says it reached its end: empty when it did, else how it ended.
std::string shellTrial() {
    ChildTrial::Setup setup;
    setup.program = "/bin/sh";
    setup.arguments = {"-c", "printf 'reached its end' >&4"};
    setup.limits.time = testkit::kPatience;
    const ChildTrial::Ending ending = ChildTrial::run(std::move(setup));
    if (ending.kind == ChildTrial::Ending::Kind::ended && WIFEXITED(ending.status) &&
        WEXITSTATUS(ending.status) == 0 && ending.marker == "reached its end")
        return "";
    return "the trial ended as kind " + std::to_string(int(ending.kind)) + ", status " +
           std::to_string(ending.status) + ": " + ending.why + ending.output;
}

std::size_t threads() {
    const auto tasks = std::filesystem::directory_iterator("/proc/self/task");
    return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}

// A process forked from one that runs trials has none of its threads: it
// starts the thread trials are started from only once it runs one itself
// (a child that never does runs no thread of ours), then keeps it.
TEST(ChildTrial, AForkedChildStartsItsOwnTrialsOnlyWhenItRunsOne) {
    ASSERT_EQ(shellTrial(), "");
    const testkit::ChildOutcome run = testkit::runInChild(
        []() -> std::string {
            if (threads() != 1) return std::to_string(threads()) + " threads after the fork";
            // ThreadSanitizer ends a child of a threaded process as it starts a thread.
            if constexpr (testkit::kThreadSanitizer) return "";
            for (const char* trial : {"first", "second"})
                if (const std::string failed = shellTrial(); !failed.empty())
                    return std::string(trial) + " trial: " + failed;
            if (threads() != 2) return std::to_string(threads()) + " threads after two trials";
            return "";
        },
        testkit::kPatience);
    EXPECT_TRUE(run.passed()) << run.describe();
}

// The trial has its standard descriptors and its marker, and none of this
// process's: not even one left open on exec below the marker.
TEST(ChildTrial, TheChildHasOnlyTheDescriptorsItIsGiven) {
    const testkit::StrayDescriptors strays({3, 40});
    ASSERT_TRUE(strays.placed());
    ChildTrial::Setup setup;
    setup.program = "/bin/sh";
    // The shell's own descriptors, listed by a process of its own (a
    // redirection would open one more in the shell).
    setup.arguments = {"-c", "ls /proc/$$/fd; true"};
    setup.limits.time = testkit::kPatience;
    const ChildTrial::Ending ending = ChildTrial::run(std::move(setup));
    ASSERT_EQ(ending.kind, ChildTrial::Ending::Kind::ended) << ending.why << ending.output;
    EXPECT_EQ(ending.output, "0\n1\n2\n4\n");
}

} // namespace
