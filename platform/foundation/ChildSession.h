#pragma once

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

#include "platform/foundation/ChildTrial.h"

class FileDescriptor;

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
    // The longest frame either side takes. The longest sent are a page's
    // pictures: one the page asked for goes to its renderer whole and may
    // fill a frame (a drawn strip's picture is 16 MiB at most).
    static constexpr std::uint64_t kLargestFrame = std::uint64_t(64) << 20;

    struct Limits {
        std::size_t memoryBytes = std::size_t(512) << 20;        // resident, for its whole life
        std::chrono::milliseconds processorTime{10000};          // a request's, while it is answered
        std::chrono::milliseconds time{40000};                   // a request's, elapsed: bounds a child that waits on nothing
    };
    using Ended = std::function<void(const ChildTrial::Ending&)>;
    using Answered = std::function<void(std::string reply)>;

    struct Setup {
        std::string program;
        std::vector<std::string> arguments;  // after the program's name
        // This process's descriptor -> the child's number for it (3, 4, or above the channel).
        std::vector<std::pair<int, int>> descriptors;
        // What the child's environment is made from: this process's as it was
        // when the session was asked for. The child is started later, on the
        // session's own thread, so start() takes it when it is not given.
        std::optional<Environment> environment;
    };

    // Starts `setup.program` with its arguments and descriptors as a trial is
    // started, never waiting for it. `ended` is called once, on the session's
    // own thread, when the child ends for any reason but end(): `overMemory`,
    // `overProcessorTime`, `timedOut`, `ended` by itself (its status; when it
    // broke the channel's rules, `why` says how in a clause that starts with
    // "it ", for the caller to put after words of its own: "it said something
    // it was not asked", "it answered a request before it had all of it", "it
    // sent a frame of N bytes, more than a channel carries"), `quit` when the
    // program quits, `notStarted` (inside this call when not even its thread
    // can be had; `why` is a clause for the caller to put after its own "...
    // cannot be started: ", as "/usr/bin/x: No such file or directory").
    static std::shared_ptr<ChildSession> start(Setup setup, Limits limits, Ended ended);
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
    static void serve(const std::shared_ptr<State>& state, Setup setup, Limits limits,
                      std::vector<std::unique_ptr<FileDescriptor>> copies);

    const std::shared_ptr<State> state_;
};
