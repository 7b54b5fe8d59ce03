#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace testkit {

// How a body run in a child process ended.
struct ChildRun {
    bool timedOut = false;  // killed at the time limit
    int exitCode = -1;      // when it exited by itself
    int signal = 0;         // when a signal ended it
    std::string output;     // what it wrote to stdout and stderr

    bool exited(int code) const { return !timedOut && signal == 0 && exitCode == code; }
};

// Runs `body` in a forked child, so that a crash or a hang ends the child
// and not the test: the child exits with what `body` returns, and is killed
// once `limit` has passed. Only the calling thread lives on in the child, so
// `body` must not wait on other threads (a queue's workers, say).
ChildRun runInChild(const std::function<int()>& body, std::chrono::seconds limit = std::chrono::seconds(30));

// What a child run came to, for failure messages.
std::string describe(const ChildRun& run);

}  // namespace testkit
