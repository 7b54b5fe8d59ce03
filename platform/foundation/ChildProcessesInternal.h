#pragma once

// What a trial and a session share: their start, the registry of the
// children under way, the watch of their resources and their end. Not for
// callers.

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/ChildTrial.h"

namespace childprocess::detail {

// How often a trial, or a session's child answering, is looked at: its end,
// its resources, the program quitting.
constexpr int kWatchMilliseconds = 10;

// A child to start: the caller's setup, and where its output and channel go.
struct Start {
    const std::string& program;
    const std::vector<std::string>& arguments;  // after the program's name
    // This process's descriptor -> the child's number for it.
    const std::vector<std::pair<int, int>>& descriptors;
    // This process's, as the thread that asked for the child had it.
    const Environment& environment;
    int output;  // its standard output and error
    // The marker pipe of a trial or the socket of a session, and the child's number for it.
    std::pair<int, int> channel;
};

// A pipe for the child's output, the reading end (first) not blocking:
// empty, or why there is none.
std::string outputPipe(int ends[2]);

// Why a child did not start, for each caller to word: the program quits
// (`error` 0), or starting it met the system's error number `error`.
struct Refusal {
    int error = 0;
    // A clause to put after the caller's own "... cannot be started: ":
    // "the program is quitting", "/usr/bin/x: No such file or directory".
    std::string clause(const std::string& program) const;
};

// Starts the program and counts it among those under way, unless the
// program quits: none, or why it did not start. `endedByQuit` is said at a
// quit, with the seconds it ran; `wake` wakes a thread that waits for it.
std::optional<Refusal> enroll(const Start& start, pid_t& child, std::function<void(double)> endedByQuit,
                              std::function<void()> wake);

// Ends the child's whole group, whatever is left of it, and reaps it. Until
// then its number is its own: `reaping` runs once nothing may signal it any more.
void retire(pid_t child, int& status, const std::function<void()>& reaping = {});

// Ends the children under way and starts no more (see ChildTrial::endAll).
void endAll();
bool quittingNow();

// Appends what can be read from `from` now, 64 KB at most, to `into` (its
// last 4 KB): false once it is closed.
bool readSome(int from, std::string& into);

// The child's processor time and resident memory, as the kernel counts them.
struct Usage {
    std::chrono::milliseconds processorTime{0};
    std::size_t residentBytes = 0;
};
std::optional<Usage> usageOf(pid_t child);

// What a child is held to now: processor time counted from `spentBefore`.
struct Watch {
    std::optional<std::chrono::milliseconds> processorTime;
    std::chrono::milliseconds spentBefore{0};
    std::optional<std::size_t> memoryBytes;
    std::optional<std::chrono::steady_clock::time_point> deadline;
};

// Why the child is to be ended now, if it is: its own end, or a limit passed.
std::optional<ChildTrial::Ending::Kind> verdict(pid_t child, const Watch& watch);

}  // namespace childprocess::detail
