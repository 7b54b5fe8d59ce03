#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class FileDescriptor;

// A program of ours run on untrusted input (a module, a page) in a process of
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
    };

    struct Ending {
        // `quit`: the program quits, or the caller cancelled it.
        enum class Kind { ended, timedOut, overProcessorTime, overMemory, quit, notStarted } kind = Kind::ended;
        int status = 0;      // how it ended (waitpid's status), when it did
        std::string output;  // the last 4 KB of what it wrote on standard output and error
        std::string marker;  // what it wrote on its marker descriptor
        std::string why;     // why it did not start
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

    // This process's environment for a trial program: a sanitizer build of it
    // would symbolise a crash's stack before it exits, which takes seconds on
    // a busy machine; the verdict needs only the exit.
    static std::vector<std::string> environment();

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

// A program of ours kept running beside its host on untrusted input (a
// document), that answers the host's requests one at a time: started, held
// to limits and ended with its host as a trial is. Its resident memory is
// watched for its whole life, each request's processor time while it is
// answered. A child past a limit, or one that ends by itself, is ended whole
// and said so once; nothing is answered after that.
class ChildSession {
public:
    // Where the child finds its end of the channel: a stream socket carrying
    // frames of an 8-byte length (this machine's order) and as many bytes.
    static constexpr int kChannelDescriptor = 5;
    // The longest frame either side takes (a page's picture is 16 MiB at most).
    static constexpr std::uint64_t kLargestFrame = std::uint64_t(64) << 20;

    struct Limits {
        std::size_t memoryBytes = std::size_t(512) << 20;        // resident, for its whole life
        std::chrono::milliseconds processorTime{10000};          // a request's, while it is answered
        std::chrono::milliseconds time{40000};                   // a request's, elapsed: bounds a child that waits on nothing
    };
    using Ended = std::function<void(const ChildTrial::Ending&)>;
    using Answered = std::function<void(std::string reply)>;

    // Starts `setup.program` with its arguments and descriptors as a trial
    // (its limits and `cancelled` unused), never waiting for it. `ended` is
    // called once, on the session's own thread, when the child ends for any
    // reason but end(): `overMemory`, `overProcessorTime`, `timedOut`, `ended`
    // by itself (its status, and `why` when it broke the channel's rules),
    // `quit` when the program quits, `notStarted` (inside this call when
    // not even its thread can be had).
    static std::shared_ptr<ChildSession> start(ChildTrial::Setup setup, Limits limits, Ended ended);
    ~ChildSession();
    ChildSession(const ChildSession&) = delete;
    ChildSession& operator=(const ChildSession&) = delete;

    // Queues a request and returns: requests are sent one at a time, in
    // order, and `answered` runs with the reply on the session's thread.
    void send(std::string request, Answered answered);
    // Drops the requests not sent yet (the newest ones); answers how many.
    std::size_t dropQueued();
    // Ends the child at once, whatever it does, and returns: its thread
    // reaps it. No callback starts after this (one under way may finish).
    // The destructor does the same.
    void end();

    // For the child program: the next request (false once the host is gone),
    // and the reply to it, `tail` (a picture, say) sent from where it lies.
    static bool nextRequest(std::string& request);
    static bool reply(std::string_view reply, std::span<const std::uint8_t> tail = {});

private:
    struct State;
    explicit ChildSession(std::shared_ptr<State> state) : state_(std::move(state)) {}
    static void serve(const std::shared_ptr<State>& state, ChildTrial::Setup setup, Limits limits,
                      std::vector<std::unique_ptr<FileDescriptor>> copies);

    const std::shared_ptr<State> state_;
};
