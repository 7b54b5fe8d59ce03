#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace testkit {

// How code run in a child process ended. A crash or a hang there ends the
// child, never the test program, and says which it was.
struct ChildOutcome {
    enum class End { exited, signalled, timedOut };
    End end = End::exited;
    int code = 0;       // the exit status or the signal
    std::string output; // what the child printed, both streams (at most 64 KB)

    bool passed() const { return end == End::exited && code == 0; }
    // "exited 1", "killed by signal 11 (Segmentation fault)", "timed out": then the output.
    std::string describe() const;
};

// Runs `body` in a forked child, which exits 0 when it returns an empty
// string and 1 after printing the string otherwise; killed after `limit`.
ChildOutcome runInChild(const std::function<std::string()>& body, std::chrono::milliseconds limit);

// The processes this one started that are not reaped yet (ended ones included).
std::vector<pid_t> childProcesses();

} // namespace testkit
