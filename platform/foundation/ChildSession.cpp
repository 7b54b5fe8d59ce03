#include "platform/foundation/ChildSession.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <exception>
#include <system_error>
#include <thread>

#include "platform/foundation/ChildProcessesInternal.h"
#include "platform/foundation/FileDescriptor.h"
#include "platform/foundation/Mutex.h"

namespace detail = childprocess::detail;

namespace {

// How often an idle session's child is looked at: it waits for a request,
// but its memory is watched for its whole life.
constexpr int kIdleWatchMilliseconds = 100;

// A callback of a session's caller, on the session's thread, which it must not take down.
template <class Callback, class... Arguments>
void callBack(const Callback& callback, Arguments&&... arguments) {
    if (!callback)
        return;
    try {
        callback(std::forward<Arguments>(arguments)...);
    } catch (const std::exception& error) {
        std::printf("ChildSession: ERROR: a callback threw: %s\n", error.what());
        std::fflush(stdout);
    }
}

// Reads `size` bytes, waiting for them: false when the other end closed first.
bool readExactly(int from, char* into, std::size_t size) {
    while (size > 0) {
        const ssize_t got = ::read(from, into, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        into += got;
        size -= std::size_t(got);
    }
    return true;
}

// A frame going out over a session's channel, its length and then its bytes
// sent from where they lie: a request may be a page's picture.
class Outgoing {
public:
    // Takes the bytes over (no copy) and is then pending until all are sent.
    void start(std::string bytes) {
        length_ = bytes.size();
        body_ = std::move(bytes);
        sent_ = 0;
    }
    bool pending() const { return sent_ < sizeof length_ + body_.size(); }
    // Sends what the channel takes now; lets the bytes go once all are sent,
    // or once the channel is closed (the child shut it for reading, or is
    // gone): false then, and nothing is pending.
    bool sendSome(int channel) {
        const std::size_t inHeader = std::min(sent_, sizeof length_), inBody = sent_ - inHeader;
        iovec parts[2] = {{reinterpret_cast<char*>(&length_) + inHeader, sizeof length_ - inHeader},
                          {body_.data() + inBody, body_.size() - inBody}};
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = 2;
        ssize_t wrote = 0;
        do
            wrote = ::sendmsg(channel, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        while (wrote < 0 && errno == EINTR);
        if (wrote < 0 && errno != EAGAIN) {
            *this = Outgoing();
            return false;
        }
        if (wrote > 0)
            sent_ += std::size_t(wrote);
        if (!pending())
            std::string().swap(body_);
        return true;
    }

private:
    std::uint64_t length_ = 0;
    std::string body_;
    std::size_t sent_ = sizeof length_;
};

// A frame coming in over a session's channel, read as it comes.
class Incoming {
public:
    enum class Read { more, whole, closed, tooLong };

    // Reads what the channel holds now of this frame, never past its end.
    Read readSome(int channel) {
        for (;;) {
            const bool inHeader = headerHad_ < sizeof length_;
            char* const into = inHeader ? reinterpret_cast<char*>(&length_) + headerHad_ : body_.data() + bodyHad_;
            const std::size_t wanted = inHeader ? sizeof length_ - headerHad_ : body_.size() - bodyHad_;
            const ssize_t got = wanted ? ::read(channel, into, wanted) : 0;
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0 && errno == EAGAIN)
                return Read::more;
            if (got < 0 || (got == 0 && wanted))
                return Read::closed;
            (inHeader ? headerHad_ : bodyHad_) += std::size_t(got);
            if (inHeader && headerHad_ == sizeof length_) {
                if (length_ > ChildSession::kLargestFrame)
                    return Read::tooLong;
                body_.resize(std::size_t(length_));
            }
            if (headerHad_ == sizeof length_ && bodyHad_ == body_.size())
                return Read::whole;
        }
    }
    bool empty() const { return headerHad_ == 0; }
    std::uint64_t length() const { return length_; }
    // The whole frame's bytes; this is then empty for the next one.
    std::string take() {
        headerHad_ = bodyHad_ = 0;
        length_ = 0;
        return std::exchange(body_, {});
    }

private:
    std::uint64_t length_ = 0;
    std::size_t headerHad_ = 0, bodyHad_ = 0;
    std::string body_;
};

}  // namespace

struct ChildSession::State {
    Ended ended;
    // Woken for a request, for end() and when the program quits.
    const FileDescriptor wake{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    Mutex mutex;
    std::deque<std::pair<std::string, Answered>> queued GUARDED_BY(mutex);
    bool ending GUARDED_BY(mutex) = false;    // end() was called
    bool finished GUARDED_BY(mutex) = false;  // the child has ended, for whatever reason
    // The child, while end() may signal it: until its thread reaps it.
    pid_t child GUARDED_BY(mutex) = -1;

    void poke() const {
        const std::uint64_t one = 1;
        (void)!::write(wake.get(), &one, sizeof one);
    }
    bool endedByCaller() {
        MutexLock lock(mutex);
        return ending;
    }
};

std::shared_ptr<ChildSession> ChildSession::start(Setup setup, Limits limits, Ended ended) {
    auto state = std::make_shared<State>();
    state->ended = std::move(ended);
    const auto notStarted = [&](const std::string& why) {
        ChildTrial::Ending ending;
        ending.kind = ChildTrial::Ending::Kind::notStarted;
        ending.why = why;
        {
            MutexLock lock(state->mutex);
            state->finished = true;
        }
        callBack(state->ended, ending);
        return std::shared_ptr<ChildSession>(new ChildSession(state));
    };
    if (state->wake.get() < 0)
        return notStarted("no descriptor for it: " + ChildTrial::systemMessage(errno));
    // The child is started later, on the session's thread: it gets copies of the
    // descriptors, so that the caller may close its own at once, and the
    // environment as it is now.
    if (!setup.environment)
        setup.environment = Environment::current();
    std::vector<std::unique_ptr<FileDescriptor>> copies;
    for (auto& [from, to] : setup.descriptors) {
        copies.push_back(std::make_unique<FileDescriptor>(::fcntl(from, F_DUPFD_CLOEXEC, 0)));
        if (copies.back()->get() < 0)
            return notStarted("no descriptor for it: " + ChildTrial::systemMessage(errno));
        from = copies.back()->get();
    }
    try {
        std::thread([state, setup = std::move(setup), limits, copies = std::move(copies)]() mutable {
            serve(state, std::move(setup), limits, std::move(copies));
        }).detach();
    } catch (const std::system_error& error) {
        return notStarted(std::string("no thread for it: ") + error.what());
    }
    return std::shared_ptr<ChildSession>(new ChildSession(state));
}

ChildSession::~ChildSession() { end(); }

void ChildSession::send(std::string request, Answered answered) {
    {
        MutexLock lock(state_->mutex);
        if (state_->ending || state_->finished)
            return;
        state_->queued.emplace_back(std::move(request), std::move(answered));
    }
    state_->poke();
}

std::size_t ChildSession::dropQueued() {
    std::deque<std::pair<std::string, Answered>> dropped;
    {
        MutexLock lock(state_->mutex);
        dropped.swap(state_->queued);
    }
    return dropped.size();
}

void ChildSession::end() {
    std::deque<std::pair<std::string, Answered>> dropped;
    {
        MutexLock lock(state_->mutex);
        if (state_->ending)
            return;
        state_->ending = true;
        dropped.swap(state_->queued);
        if (state_->child > 0)
            ::kill(-state_->child, SIGKILL);
    }
    state_->poke();
}

void ChildSession::serve(const std::shared_ptr<State>& state, Setup setup, Limits limits,
                         std::vector<std::unique_ptr<FileDescriptor>> copies) {
    using Kind = ChildTrial::Ending::Kind;
    // Told apart from the program's other threads in the system's list of them.
    ::pthread_setname_np(::pthread_self(), "ChildSession");
    ChildTrial::Ending ending;
    const auto finish = [&] {
        std::deque<std::pair<std::string, Answered>> dropped;
        {
            MutexLock lock(state->mutex);
            state->finished = true;
            dropped.swap(state->queued);
            if (state->ending)
                return;
        }
        callBack(state->ended, ending);
    };
    const auto notStarted = [&](std::string why) {
        ending.kind = Kind::notStarted;
        ending.why = std::move(why);
        finish();
    };
    int output[2], sockets[2];
    if (std::string why = detail::outputPipe(output); !why.empty())
        return notStarted(why);
    FileDescriptor reading(output[0]), writing(output[1]);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
        return notStarted("no channel for it: " + ChildTrial::systemMessage(errno));
    FileDescriptor channel(sockets[0]), childsEnd(sockets[1]);
    if (::fcntl(channel.get(), F_SETFL, ::fcntl(channel.get(), F_GETFL) | O_NONBLOCK) != 0)
        return notStarted("no channel for it: " + ChildTrial::systemMessage(errno));
    if (state->endedByCaller())
        return finish();
    pid_t child = -1;
    if (const std::optional<detail::Refusal> refused = detail::enroll(
            {setup.program, setup.arguments, setup.descriptors, *setup.environment, writing.get(),
             {childsEnd.get(), kChannelDescriptor}},
            child, {}, [weak = std::weak_ptr<State>(state)] {
                if (const auto alive = weak.lock())
                    alive->poke();
            }))
        return notStarted(refused->clause(setup.program));
    writing.close();
    childsEnd.close();
    copies.clear();
    {
        MutexLock lock(state->mutex);
        state->child = child;
    }

    detail::Watch watch{std::nullopt, {}, limits.memoryBytes, std::nullopt};
    std::optional<Answered> answering;  // the request under way
    Outgoing out;                       // its frame, while not all of it is sent
    Incoming in;
    bool outputOpen = true, channelOpen = true;
    // It is ending, or will not answer again: it has as long as a request to go.
    const auto channelClosed = [&] {
        channelOpen = false;
        watch.deadline = std::chrono::steady_clock::now() + limits.time;
    };
    for (;;) {
        bool sent = false;
        {
            MutexLock lock(state->mutex);
            if (state->ending)
                break;
            if (!answering && !out.pending() && channelOpen && !state->queued.empty()) {
                // Moved, not copied: send() and end() wait for this lock.
                out.start(std::move(state->queued.front().first));
                answering = std::move(state->queued.front().second);
                state->queued.pop_front();
                sent = true;
            }
        }
        if (sent) {
            const std::optional<detail::Usage> usage = detail::usageOf(child);
            watch.processorTime = limits.processorTime;
            watch.spentBefore = usage ? usage->processorTime : std::chrono::milliseconds(0);
            watch.deadline = std::chrono::steady_clock::now() + limits.time;
        }
        if (detail::quittingNow()) {
            ending.kind = Kind::quit;
            break;
        }
        if (const std::optional<Kind> kind = detail::verdict(child, watch)) {
            if (*kind == Kind::ended && outputOpen)
                detail::readSome(reading.get(), ending.output);
            ending.kind = *kind;
            break;
        }
        pollfd waits[3] = {{state->wake.get(), POLLIN, 0},
                           {channelOpen ? channel.get() : -1, short(POLLIN | (out.pending() ? POLLOUT : 0)), 0},
                           {outputOpen ? reading.get() : -1, POLLIN, 0}};
        if (::poll(waits, 3, answering || !channelOpen ? detail::kWatchMilliseconds : kIdleWatchMilliseconds) <= 0)
            continue;
        if (waits[0].revents) {
            std::uint64_t count = 0;
            (void)!::read(state->wake.get(), &count, sizeof count);
        }
        if (waits[2].revents)
            outputOpen = detail::readSome(reading.get(), ending.output);
        if ((waits[1].revents & POLLOUT) && !out.sendSome(channel.get())) {
            channelClosed();
            continue;
        }
        if (!(waits[1].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        const Incoming::Read read = in.readSome(channel.get());
        if (read == Incoming::Read::closed) {
            channelClosed();
            continue;
        }
        // A child that answers before its request is wholly sent cannot have
        // read it: it answers something it was not asked. So the next request
        // never starts while a frame is half-sent.
        if (read == Incoming::Read::tooLong || ((!answering || out.pending()) && !in.empty())) {
            ending.kind = Kind::ended;
            ending.why = read == Incoming::Read::tooLong
                             ? "it sent a frame of " + std::to_string(in.length()) + " bytes, more than a channel carries"
                         : answering ? "it answered a request before it had all of it"
                                     : "it said something it was not asked";
            break;
        }
        if (read == Incoming::Read::whole) {
            const Answered answered = std::move(*answering);
            answering.reset();
            watch.processorTime.reset();
            watch.deadline.reset();
            if (!state->endedByCaller())
                callBack(answered, in.take());
        }
    }
    detail::retire(child, ending.status, [&] {
        MutexLock lock(state->mutex);
        state->child = -1;
    });
    finish();
}

bool ChildSession::nextRequest(std::string& request) {
    std::uint64_t length = 0;
    if (!readExactly(kChannelDescriptor, reinterpret_cast<char*>(&length), sizeof length) || length > kLargestFrame)
        return false;
    request.resize(std::size_t(length));
    return readExactly(kChannelDescriptor, request.data(), request.size());
}

bool ChildSession::reply(std::string_view reply, std::span<const std::uint8_t> tail) {
    const std::uint64_t length = reply.size() + tail.size();
    return length <= kLargestFrame &&
           writeAll(kChannelDescriptor, {reinterpret_cast<const std::uint8_t*>(&length), sizeof length}) == 0 &&
           writeAll(kChannelDescriptor, {reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size()}) == 0 &&
           writeAll(kChannelDescriptor, tail) == 0;
}
