#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Environment.h"

// A program of ours run once on untrusted input (a module, say) in a process of
// its own, under limits watched from outside: a time limit, and optionally
// limits of processor time and resident memory. Whatever the input makes the
// library do there, crash, hang, spin or swell, ends that process only. The
// program says it reached its end by writing on its marker descriptor: an
// exit without that is the input's doing, or its own failure to start.
//
// Every trial is started from one thread that lives as long as the process,
// so that the trial's parent-death signal (see bindToParent) fires when the
// process ends, and not when some short-lived thread that started it does.
class ChildTrial {
public:
    // Where the child finds the marker pipe, and the first descriptor it may be given.
    static constexpr int kMarkerDescriptor = 4;

    struct Limits {
        std::chrono::milliseconds time{5000};                     // elapsed
        std::optional<std::chrono::milliseconds> processorTime;   // the child's own
        std::optional<std::size_t> memoryBytes;                   // its resident memory
    };

    struct Setup {
        std::string program;
        std::vector<std::string> arguments;  // after the program's name
        // This process's descriptor -> the child's number for it (3, or above the marker).
        std::vector<std::pair<int, int>> descriptors;
        Limits limits;
        // Said when the program quits with this trial under way, with the seconds it ran.
        std::function<void(double)> endedByQuit;
        // Set when its caller no longer wants the verdict: the trial ends as at a quit.
        std::shared_ptr<const std::atomic<bool>> cancelled;
        // What the program's environment is made from (see environment()):
        // this process's as it was when the trial was asked for, carried by a
        // caller that works for another thread; run() takes it, on its own
        // caller's thread, when it is not given.
        std::optional<Environment> environment;
    };

    struct Ending {
        // `quit`: the program quits, or the caller cancelled it.
        enum class Kind { ended, timedOut, overProcessorTime, overMemory, quit, notStarted } kind = Kind::ended;
        int status = 0;      // how it ended (waitpid's status), when it did
        std::string output;  // the last 4 KB of what it wrote on standard output and error
        std::string marker;  // what it wrote on its marker descriptor
        // Why it did not start (a session's: a clause for the caller to put
        // after its own "... cannot be started: "); for `ended` (a session's
        // child that broke the rules of its channel), a clause on the child
        // that starts with "it ": "it said something it was not asked".
        std::string why;
    };

    // Runs the trial and waits for its end (or a limit, or the program
    // quitting); then ends its whole process group and reaps it.
    static Ending run(Setup setup);

    // Ends the trials under way, each saying so, and starts no more: for a
    // program that quits (a trial would otherwise outlive it).
    static void endAll();
    static bool quitting();

    // For the trial program, first thing: ends it with its host. False when
    // the host is gone already (the program should exit at once).
    static bool bindToParent();
    // For the trial program: writes `what` on its marker descriptor.
    static bool say(std::string_view what);

    // The environment of a trial program started from `environment`, this
    // process's: a sanitizer build of it would symbolise a crash's stack
    // before it exits, which takes seconds on a busy machine; the verdict
    // needs only the exit.
    static std::vector<std::string> environment(const Environment& environment);

    // The program `name` in "../bin" from the platform library (beside the
    // app, in the build tree and in an install).
    static std::optional<std::string> programBeside(const std::string& name);

    // What an error number means.
    static std::string systemMessage(int error);
    // The last line with something on it.
    static std::string lastLine(const std::string& text);
    // "signal 9 (Killed)".
    static std::string signalName(int signal);
};
