#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/Patience.h"

namespace testkit {

// A program run as a user runs it, for tests that watch it work: started
// with its arguments and extra environment variables (they win over the
// test's own), both its streams read as they come. A test waits for the line
// or the state it needs, then asks the program to end as Ctrl+C or a session
// logout does (SIGTERM), and checks how it ended and all it said. Nothing
// depends on how fast the machine is; a program that never gets there is
// killed after the cap and the test sees what it had said by then.
class RunningProgram {
public:
    RunningProgram(const std::string& file, const std::vector<std::string>& arguments,
                   const std::vector<std::string>& environment = {});
    // A program still running is killed: a failed assertion never leaves one behind.
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    bool started() const { return pid_ > 0; }

    // Reads the output until `done` holds (asked after each piece of output
    // and at least every 20 ms), the program has ended or the cap has passed;
    // answers `done` at the end.
    bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds cap = kPatience);
    // Waits for `text` anywhere in the output.
    bool waitFor(const std::string& text, std::chrono::milliseconds cap = kPatience);

    // Asks the program to end (SIGTERM) and waits for it; see finish().
    int end(std::chrono::milliseconds cap = kPatience);
    // Waits for the program to end by itself within the cap, else kills it.
    // Answers its exit status; -1 when a signal ended it or it had to be killed.
    int finish(std::chrono::milliseconds cap = kPatience);

    // Everything it has said so far, both streams as they were interleaved.
    const std::string& output() const { return output_; }
    // How it ended, for a failure message: "exited 0", "killed by signal 6
    // (Aborted)", "still running after the cap" ...
    std::string describe() const;

private:
    // Reads what is there, waiting at most `wait` for it; false at its end.
    bool readSome(std::chrono::milliseconds wait);
    // Reaps the program when it has ended.
    bool reaped();

    pid_t pid_ = -1;
    int output_fd_ = -1;
    bool ended_ = false;
    bool killed_ = false;
    int status_ = 0;
    std::string output_;
};

} // namespace testkit
