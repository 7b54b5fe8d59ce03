#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/ChildSession.h"
#include "platform/foundation/Environment.h"
#include "platform/foundation/FileDescriptor.h"
#include "platform/foundation/Sanitizers.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Patience.h"
#include "tests/support/StrayDescriptors.h"
#include "tests/support/TempFolder.h"

namespace {

using Kind = ChildTrial::Ending::Kind;
using namespace std::chrono_literals;

// Limits no test input comes near unless it means to.
ChildSession::Limits generous() {
    return {std::size_t(kSanitizedBuild ? 1024 : 256) << 20, 60s, 120s};
}

// A session with the test child, and all it said. The child's descriptor
// `heldAt` is a socket whose other end the test holds (`held`), for the
// "block" and "then" requests at 3. `adjust` changes the setup before the start.
class Session {
public:
    explicit Session(ChildSession::Limits limits = generous(), int heldAt = 3,
                     const std::function<void(ChildSession::Setup&)>& adjust = {}) {
        int ends[2] = {-1, -1};
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
        held_ = std::make_unique<FileDescriptor>(ends[0]);
        const FileDescriptor childs(ends[1]);
        ChildSession::Setup setup;
        setup.program = ORVO_TEST_SESSION_CHILD;
        setup.descriptors = {{childs.get(), heldAt}};
        if (adjust) adjust(setup);
        session = ChildSession::start(std::move(setup), limits, [record = record_](const ChildTrial::Ending& ending) {
            std::lock_guard lock(record->mutex);
            record->endings.push_back(ending);
        });
    }

    void send(const std::string& request) {
        session->send(request, [record = record_](std::string reply) {
            std::lock_guard lock(record->mutex);
            record->replies.push_back(std::move(reply));
        });
    }
    std::vector<std::string> replies() const {
        std::lock_guard lock(record_->mutex);
        return record_->replies;
    }
    std::vector<ChildTrial::Ending> endings() const {
        std::lock_guard lock(record_->mutex);
        return record_->endings;
    }
    bool waitForReplies(std::size_t count) const {
        return testkit::waitUntil([&] { return replies().size() >= count; });
    }
    bool waitForEnd() const {
        return testkit::waitUntil([&] { return !endings().empty(); });
    }
    // Waits for the child to take up a "block" request, or lets it go on.
    bool blocked() const { return exchange(false); }
    bool release() const { return exchange(true); }
    // What the child wrote on descriptor 3 that is there to read now.
    std::string told() const {
        std::string text;
        char chunk[4096];
        for (ssize_t got; (got = ::recv(held_->get(), chunk, sizeof chunk, MSG_DONTWAIT)) > 0;)
            text.append(chunk, std::size_t(got));
        return text;
    }

    std::shared_ptr<ChildSession> session;

private:
    bool exchange(bool write) const {
        char byte = 'x';
        if (write) return ::send(held_->get(), &byte, 1, MSG_NOSIGNAL) == 1;
        pollfd wait{held_->get(), POLLIN, 0};
        return ::poll(&wait, 1, int(testkit::kPatience.count())) == 1 && ::read(held_->get(), &byte, 1) == 1;
    }

    struct Record {
        mutable std::mutex mutex;
        std::vector<std::string> replies;
        std::vector<ChildTrial::Ending> endings;
    };
    std::shared_ptr<Record> record_ = std::make_shared<Record>();
    std::unique_ptr<FileDescriptor> held_;
};

bool noChildLeft() {
    return testkit::waitUntil([] { return testkit::childProcesses().empty(); });
}

// `size` bytes, each telling where it lies.
std::string patterned(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t at = 0; at < size; ++at) bytes[at] = char(at % 251);
    return bytes;
}

// Whether a session's thread sleeps in poll now, waiting on its child,
// rather than running.
bool aSessionRests() {
    std::vector<std::string> polls;
#ifdef SYS_poll
    polls.push_back(std::to_string(SYS_poll) + " ");
#endif
#ifdef SYS_ppoll
    polls.push_back(std::to_string(SYS_ppoll) + " ");
#endif
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::ifstream comm(task.path() / "comm"), syscall(task.path() / "syscall");
        std::string name, call;
        if (!std::getline(comm, name) || name != "ChildSession" || !std::getline(syscall, call)) continue;
        for (const std::string& poll : polls)
            if (call.starts_with(poll)) return true;
    }
    return false;
}

}  // namespace

// Requests go one at a time, in order, each answered whole, a request and a
// reply larger than the channel's buffers included; requests dropped before
// they were sent are never answered, the one under way still is.
TEST(ChildSession, RequestsAreAnsweredInOrderAndDroppedOnesNever) {
    Session child;
    const std::size_t big = std::size_t(20) << 20;
    const std::string large = patterned(std::size_t(ChildSession::kLargestFrame / 2));
    child.send("echo one");
    child.send("big " + std::to_string(big));
    child.send("echo " + large);
    ASSERT_TRUE(child.waitForReplies(3));
    auto replies = child.replies();
    EXPECT_EQ(replies[0], "one");
    EXPECT_EQ(replies[1], std::string(big, 'b'));
    EXPECT_TRUE(replies[2] == large) << "a reply of " << replies[2].size() << " bytes";

    child.send("block");
    ASSERT_TRUE(child.blocked());  // under way: the next ones wait in the queue
    child.send("echo dropped");
    child.send("echo dropped too");
    EXPECT_EQ(child.session->dropQueued(), 2u);
    child.send("echo after");
    ASSERT_TRUE(child.release());
    ASSERT_TRUE(child.waitForReplies(5));
    replies = child.replies();
    EXPECT_EQ(std::vector<std::string>(replies.begin() + 3, replies.end()),
              (std::vector<std::string>{"unblocked", "after"}));
    EXPECT_TRUE(child.endings().empty());
}

// A child that goes past a limit (its memory watched while it waits between
// requests too), that ends by itself, or that breaks the channel's rules is
// ended whole and said so once, and nothing sent after is answered.
TEST(ChildSession, AChildPastALimitOrEndedByItselfIsEndedAndSaysWhy) {
    const auto limits = [](std::size_t memoryMiB, std::chrono::milliseconds processorTime,
                           std::chrono::milliseconds time) {
        ChildSession::Limits made = generous();
        if (memoryMiB) made.memoryBytes = (memoryMiB + (kSanitizedBuild ? 256 : 0)) << 20;
        if (processorTime.count()) made.processorTime = processorTime;
        if (time.count()) made.time = time;
        return made;
    };
    const struct Case {
        std::string request;
        ChildSession::Limits limits;
        Kind kind;
        int signal = 0, status = 0;  // of an end by itself
        bool says = false;           // why it was ended
    } cases[] = {
        {"eat 512", limits(128, {}, {}), Kind::overMemory},
        {"spin", limits(0, 300ms, {}), Kind::overProcessorTime},
        {"sleep", limits(0, {}, 300ms), Kind::timedOut},
        {"crash", generous(), Kind::ended, SIGABRT},
        {"exit 3", generous(), Kind::ended, 0, 3},
        {"babble", generous(), Kind::ended, SIGKILL, 0, true},
        {"huge", generous(), Kind::ended, SIGKILL, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        Session child(c.limits);
        child.send(c.request);
        ASSERT_TRUE(child.waitForEnd());
        const ChildTrial::Ending ending = child.endings()[0];
        EXPECT_EQ(ending.kind, c.kind);
        if (c.signal) {
            EXPECT_TRUE(WIFSIGNALED(ending.status) && WTERMSIG(ending.status) == c.signal) << ending.status;
        } else if (c.kind == Kind::ended) {
            EXPECT_TRUE(WIFEXITED(ending.status) && WEXITSTATUS(ending.status) == c.status) << ending.status;
        }
        EXPECT_EQ(!ending.why.empty(), c.says) << ending.why;
        EXPECT_TRUE(noChildLeft());
        child.send("echo late");
        EXPECT_EQ(child.session->dropQueued(), 0u);
        EXPECT_EQ(child.endings().size(), 1u);
        for (const std::string& reply : child.replies()) EXPECT_NE(reply, "late");
    }
}

// end() returns at once whatever the child does (waits for a request, spins,
// is stopped and cannot die by itself), even while the session's own thread
// is held in a callback of the caller, and leaves no process behind; nothing
// is said after it, neither an end nor a reply.
TEST(ChildSession, EndNeverWaitsAndLeavesNoProcess) {
    enum class Doing { waiting, spinning, stopped };
    for (const Doing doing : {Doing::waiting, Doing::spinning, Doing::stopped}) {
        SCOPED_TRACE(int(doing));
        Session child;
        // The session's thread stays in the reply's callback until the test lets it go.
        struct Hold {
            std::promise<void> release;
            std::shared_future<void> released = release.get_future().share();
            std::atomic<bool> inside{false}, letGo{false};
            void let() {
                if (!letGo.exchange(true))
                    release.set_value();
            }
        };
        const auto hold = std::make_shared<Hold>();
        // Let go however the case ends, an assertion's early return included.
        const std::unique_ptr<Hold, void (*)(Hold*)> letGo(hold.get(), [](Hold* held) { held->let(); });
        child.session->send(doing == Doing::spinning ? "spin held" : "echo held", [hold](const std::string&) {
            hold->inside = true;
            hold->released.wait();
        });
        ASSERT_TRUE(testkit::waitUntil([&] { return hold->inside.load(); }));
        if (doing == Doing::stopped) {
            const std::vector<pid_t> children = testkit::childProcesses();
            ASSERT_EQ(children.size(), 1u);
            ASSERT_EQ(::kill(children[0], SIGSTOP), 0);
        }
        std::atomic<bool> ended{false};
        std::thread ender([&] {
            child.session->end();
            ended = true;
        });
        const bool endedFirst = testkit::waitUntil([&] { return ended.load(); });
        EXPECT_TRUE(endedFirst) << "end() waited for the session's thread";
        hold->let();  // a waiting end() returns too, so the thread can be joined
        ender.join();
        child.send("echo after the end");
        EXPECT_TRUE(noChildLeft());
        child.session.reset();
        EXPECT_TRUE(child.endings().empty());
        EXPECT_TRUE(child.replies().empty());
    }
}

// The child has its standard descriptors, the ones it is given and its
// channel, and none of this process's: not even one left open on exec at a
// number between those it is given.
TEST(ChildSession, TheChildHasOnlyTheDescriptorsItIsGiven) {
    const testkit::StrayDescriptors strays({3, 4, 6, 40});
    ASSERT_TRUE(strays.placed());
    const struct Case {
        int heldAt;
        std::string open;
    } cases[] = {{3, "0 1 2 3 5"}, {4, "0 1 2 4 5"}, {7, "0 1 2 5 7"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.heldAt);
        Session child(generous(), c.heldAt);
        child.send("fds");
        ASSERT_TRUE(child.waitForReplies(1));
        EXPECT_EQ(child.replies()[0], c.open);
    }
}

// A program that quits ends its sessions with its trials, each saying so,
// and leaves no process behind (in a child: no trial starts after a quit).
TEST(ChildSession, EndAllEndsTheSessionsToo) {
    const testkit::ChildOutcome run = testkit::runInChild(
        []() -> std::string {
            Session idle, busy;
            idle.send("echo ready");
            busy.send("spin");
            if (!idle.waitForReplies(1)) return "no reply";
            ChildTrial::endAll();
            if (!testkit::childProcesses().empty()) return "a child is left";
            for (const Session* session : {&idle, &busy}) {
                if (!session->waitForEnd()) return "an end was not said";
                if (session->endings()[0].kind != Kind::quit) return "an end was not the quit";
            }
            Session later;
            if (!later.waitForEnd() || later.endings()[0].kind != Kind::notStarted) return "a session started";
            return "";
        },
        std::chrono::seconds(120));
    EXPECT_TRUE(run.passed()) << run.describe();
}

// A child that shuts its side of the channel for reading, or closes it,
// under a request half-sent has the channel closed: the session's thread
// rests until the child ends, never trying to send on, and tells that end.
TEST(ChildSession, AChannelShutUnderAHalfSentRequestIsClosed) {
    for (const std::string how : {"shut", "close"}) {
        SCOPED_TRACE(how);
        Session child;
        child.send("then 1048576 " + how);
        child.send(patterned(std::size_t(32) << 20));
        ASSERT_TRUE(child.blocked());  // its side is shut, what was queued there read
        EXPECT_TRUE(testkit::waitUntil(aSessionRests)) << "the session's thread spins on the channel";
        ASSERT_TRUE(child.release());
        ASSERT_TRUE(child.waitForEnd());
        const ChildTrial::Ending ending = child.endings()[0];
        EXPECT_EQ(ending.kind, Kind::ended);
        EXPECT_TRUE(WIFEXITED(ending.status) && WEXITSTATUS(ending.status) == 0) << ending.status;
        EXPECT_EQ(ending.why, "");
        EXPECT_EQ(child.replies(), std::vector<std::string>{"ready"});
    }
}

// A child that answers before its request is wholly sent cannot have read
// it: it is ended for breaking the channel's rules, its answer goes to no
// one, and the next request never starts inside the half-sent one.
TEST(ChildSession, AnAnswerBeforeItsRequestIsWhollySentBreaksTheRules) {
    Session child;
    child.send("then 1048576 answer");
    child.send(patterned(std::size_t(32) << 20));
    child.send(patterned(std::size_t(1) << 20));
    ASSERT_TRUE(child.waitForEnd());
    const ChildTrial::Ending ending = child.endings()[0];
    EXPECT_EQ(ending.kind, Kind::ended);
    EXPECT_TRUE(WIFSIGNALED(ending.status) && WTERMSIG(ending.status) == SIGKILL) << ending.status;
    EXPECT_TRUE(ending.why.starts_with("it ")) << ending.why;
    EXPECT_EQ(child.replies(), std::vector<std::string>{"ready"});
    const std::string told = child.told();
    EXPECT_EQ(told.find("broken"), std::string::npos) << told;
}

// A child's environment is this process's as it was when the child was
// asked for, or the one its asker carried, never what it became while a
// session's thread was starting the child.
TEST(ChildSession, AChildsEnvironmentIsTheOneItWasAskedWith) {
    constexpr char kName[] = "ORVO_TEST_ASKED";
    const testkit::ScopedEnvironment kept({kName});
    const struct Case {
        std::optional<std::string> asked;    // the variable as the child is asked for
        std::optional<Environment> carried;  // the environment its asker carried
        std::string entry;                   // what the child has of it
    } cases[] = {
        {"before", std::nullopt, "ORVO_TEST_ASKED=before"},
        {std::nullopt, std::nullopt, ""},
        {"before", Environment({"ORVO_TEST_ASKED=carried"}), "ORVO_TEST_ASKED=carried"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        const auto ask = [&] {
            if (c.asked) testkit::ScopedEnvironment::set(kName, *c.asked);
            else testkit::ScopedEnvironment::unset(kName);
        };
        ask();
        Session child(generous(), 3, [&](ChildSession::Setup& setup) { setup.environment = c.carried; });
        testkit::ScopedEnvironment::set(kName, "after");
        child.send(std::string("env ") + kName);
        ASSERT_TRUE(child.waitForReplies(1));
        EXPECT_EQ(child.replies()[0], c.entry) << "a session's child";

        ask();
        ChildTrial::Setup trial;
        trial.program = "/bin/sh";
        trial.arguments = {"-c", std::string("printf %s \"${") + kName + "+" + kName + "=$" + kName + "}\""};
        trial.limits.time = testkit::kPatience;
        trial.environment = c.carried;
        const ChildTrial::Ending ending = ChildTrial::run(std::move(trial));
        ASSERT_EQ(ending.kind, Kind::ended) << ending.why;
        EXPECT_EQ(ending.output, c.entry) << "a trial";
    }
}

// Sessions started, and trials run for another thread, while this thread
// sets and unsets variables: none of their threads reads the environment
// beside it (ThreadSanitizer tells a read that races the changes, which may
// free the array read).
TEST(ChildSession, ChildrenStartWhileTheEnvironmentChanges) {
    std::atomic<bool> done{false};
    std::atomic<int> trialsEnded{0}, trialsRun{0};
    std::thread trials([&, carried = Environment::current()] {
        do {
            ChildTrial::Setup setup;
            setup.program = "/bin/true";
            setup.limits.time = testkit::kPatience;
            setup.environment = carried;
            trialsEnded += ChildTrial::run(std::move(setup)).kind == Kind::ended;
            ++trialsRun;
        } while (!done);
    });
    std::vector<std::unique_ptr<Session>> sessions;
    for (int started = 0; started < 8; ++started) {
        sessions.push_back(std::make_unique<Session>());
        sessions.back()->send("echo " + std::to_string(started));
        // New names grow the array; unsetting one moves those after it.
        for (const bool set : {true, false})
            for (int name = 0; name < 64; ++name) {
                const std::string variable = "ORVO_TEST_CHURN_" + std::to_string(name);
                if (set) testkit::ScopedEnvironment::set(variable.c_str(), "x");
                else testkit::ScopedEnvironment::unset(variable.c_str());
            }
    }
    for (std::size_t at = 0; at < sessions.size(); ++at) {
        ASSERT_TRUE(sessions[at]->waitForReplies(1));
        EXPECT_EQ(sessions[at]->replies()[0], std::to_string(at));
    }
    done = true;
    trials.join();
    EXPECT_EQ(trialsEnded.load(), trialsRun.load());
}

// A program that cannot be started is told in words for its caller's own:
// a session's as a clause to follow "cannot be started: ", the program and
// the system's reason; a trial's as the trial program that cannot be.
TEST(ChildSession, AProgramThatCannotBeStartedIsToldWithTheSystemsReason) {
    const std::string missing = "/nonexistent/orvo-test-session-child";
    Session child(generous(), 3, [&](ChildSession::Setup& setup) { setup.program = missing; });
    ASSERT_TRUE(child.waitForEnd());
    EXPECT_EQ(child.endings()[0].kind, Kind::notStarted);
    EXPECT_EQ(child.endings()[0].why, missing + ": " + ChildTrial::systemMessage(ENOENT));

    ChildTrial::Setup trial;
    trial.program = missing;
    const ChildTrial::Ending ending = ChildTrial::run(std::move(trial));
    EXPECT_EQ(ending.kind, Kind::notStarted);
    EXPECT_EQ(ending.why, "the trial program '" + missing + "' cannot be started: " + ChildTrial::systemMessage(ENOENT));
}
