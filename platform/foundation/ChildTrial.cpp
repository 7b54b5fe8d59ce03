#include "platform/foundation/ChildTrial.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <system_error>
#include <thread>

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/FileDescriptor.h"
#include "platform/foundation/Mutex.h"
#include "platform/foundation/Sanitizers.h"

extern char** environ;

namespace {

// Tells a trial program which process started it.
constexpr char kParentVariable[] = "ORVO_TRIAL_PARENT";

// How often a trial, or a session's child answering, is looked at: its end,
// its resources, the program quitting.
constexpr int kWatchMilliseconds = 10;
// How often an idle session's child is: it waits for a request, but its
// memory is watched for its whole life.
constexpr int kIdleWatchMilliseconds = 100;

// The trials and sessions under way.
struct Trials {
    struct Running {
        std::chrono::steady_clock::time_point started;
        std::function<void(double)> endedByQuit;
        // Wakes a session's thread, which may be waiting for its child to say something.
        std::function<void()> wake;
    };
    Mutex mutex;
    std::condition_variable_any ended;
    std::map<pid_t, Running> running GUARDED_BY(mutex);
    bool quitting GUARDED_BY(mutex) = false;
};

// A fork (a test's child) happens between two uses of the registry, never
// inside one that a thread of the parent, one the child lacks, holds.
void lockTrials() NO_THREAD_SAFETY_ANALYSIS;
void unlockTrials() NO_THREAD_SAFETY_ANALYSIS;
// The forked child started none of its parent's children.
void unlockTrialsInChild() NO_THREAD_SAFETY_ANALYSIS;

Trials& trials() {
    // Never destroyed: a trial may still be under way while the program exits.
    static Trials* const shared = [] {
        ::pthread_atfork(lockTrials, unlockTrials, unlockTrialsInChild);
        return new Trials;
    }();
    return *shared;
}

void lockTrials() { trials().mutex.lock(); }
void unlockTrials() { trials().mutex.unlock(); }
void unlockTrialsInChild() {
    trials().running.clear();
    trials().mutex.unlock();
}

// The one thread every trial is started from: never destroyed, its thread
// never ends, so a trial's parent-death signal waits for the process's end.
// A forked child has none of its parent's threads: it only forgets the
// queue, and makes one of its own when it first starts a trial, so that a
// child that never does runs no thread of ours and allocates nothing.
DispatchQueue& spawner() {
    static std::atomic<DispatchQueue*> shared{nullptr};
    [[maybe_unused]] static const int forgotten =
        ::pthread_atfork(nullptr, nullptr, [] { shared.store(nullptr); });
    DispatchQueue* queue = shared.load();
    if (!queue) {
        DispatchQueue* made = new DispatchQueue("ChildTrial.spawner");
        if (shared.compare_exchange_strong(queue, made))
            queue = made;
        else
            delete made;
    }
    return *queue;
}

// Starts the program: 0, or the error number. A process group of its own, to
// be ended whole; default signals, none blocked; nothing else of ours open.
// `channel`: the marker pipe of a trial or the socket of a session, and the
// child's number for it.
int spawn(const ChildTrial::Setup& setup, int output, std::pair<int, int> channel, pid_t& child) {
    // Copies above every number the child gets, so that moving them there clears close-on-exec.
    int highest = std::max(ChildTrial::kMarkerDescriptor, channel.second);
    for (const auto& [from, to] : setup.descriptors)
        highest = std::max(highest, to);
    std::vector<std::unique_ptr<FileDescriptor>> copies;
    std::vector<std::pair<int, int>> moves{channel};
    for (const auto& [from, to] : setup.descriptors)
        moves.emplace_back(from, to);
    for (auto& [from, to] : moves) {
        copies.push_back(std::make_unique<FileDescriptor>(::fcntl(from, F_DUPFD_CLOEXEC, highest + 1)));
        if (copies.back()->get() < 0)
            return errno;
        from = copies.back()->get();
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output, STDERR_FILENO);
    for (const auto& [from, to] : moves)
        posix_spawn_file_actions_adddup2(&actions, from, to);
    posix_spawn_file_actions_addclosefrom_np(&actions, highest + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    std::vector<std::string> words{setup.program};
    words.insert(words.end(), setup.arguments.begin(), setup.arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables = ChildTrial::environment();
    std::vector<char*> envp;
    for (std::string& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    // posix_spawn, not fork: after a fork this threaded process could only make async-signal-safe calls.
    int error = 0;
    spawner().sync([&] {
        error = ::posix_spawn(&child, setup.program.c_str(), &actions, &attributes, argv.data(), envp.data());
    });
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return error;
}

// Appends what can be read from `from` now, 64 KB at most, to `into` (its
// last 4 KB): false once it is closed.
bool readSome(int from, std::string& into) {
    char chunk[4096];
    for (int chunks = 0; chunks < 16; ++chunks) {
        const ssize_t got = ::read(from, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got < 0 && errno == EAGAIN;
        into.append(chunk, static_cast<std::size_t>(got));
        if (into.size() > 4096)
            into.erase(0, into.size() - 4096);
    }
    return true;
}

// The child's processor time and resident memory, as the kernel counts them.
struct Usage {
    std::chrono::milliseconds processorTime{0};
    std::size_t residentBytes = 0;
};

std::optional<Usage> usageOf(pid_t child) {
    std::ifstream file("/proc/" + std::to_string(child) + "/stat");
    std::string text;
    if (!std::getline(file, text))
        return std::nullopt;
    // The name in parentheses may hold anything; the fields follow its last ')'.
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::istringstream fields(text.substr(close + 1));
    std::vector<std::string> field;
    for (std::string word; fields >> word && field.size() < 22;)
        field.push_back(word);
    if (field.size() < 22)
        return std::nullopt;
    // Fields 14, 15 (user and system time) and 24 (resident pages) of the file.
    static const long ticks = ::sysconf(_SC_CLK_TCK), page = ::sysconf(_SC_PAGESIZE);
    const auto number = [](const std::string& word) { return std::strtoull(word.c_str(), nullptr, 10); };
    Usage usage;
    usage.processorTime =
        std::chrono::milliseconds((number(field[11]) + number(field[12])) * 1000 / std::uint64_t(ticks));
    usage.residentBytes = std::size_t(number(field[21])) * std::size_t(page);
    return usage;
}

bool quittingNow() {
    Trials& shared = trials();
    MutexLock lock(shared.mutex);
    return shared.quitting;
}

// A pipe for the child's output, the reading end (first) not blocking:
// empty, or why there is none.
std::string outputPipe(int ends[2]) {
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return "no pipe for it: " + ChildTrial::systemMessage(errno);
    if (::fcntl(ends[0], F_SETFL, ::fcntl(ends[0], F_GETFL) | O_NONBLOCK) != 0) {
        const int error = errno;
        ::close(ends[0]);
        ::close(ends[1]);
        return "no descriptor for it: " + ChildTrial::systemMessage(error);
    }
    return "";
}

// Starts the program and counts it among those under way, unless the
// program quits: empty, or why it did not start.
std::string enroll(const ChildTrial::Setup& setup, int output, std::pair<int, int> channel, pid_t& child,
                   std::function<void()> wake) {
    Trials& shared = trials();
    MutexLock lock(shared.mutex);
    if (shared.quitting)
        return "the program is quitting";
    if (const int error = spawn(setup, output, channel, child))
        return "the trial program '" + setup.program + "' cannot be started: " + ChildTrial::systemMessage(error);
    shared.running[child] = {std::chrono::steady_clock::now(), setup.endedByQuit, std::move(wake)};
    return "";
}

// Ends the child's whole group, whatever is left of it, and reaps it. Until
// then its number is its own: `reaping` runs once nothing may signal it any more.
void retire(pid_t child, int& status, const std::function<void()>& reaping = {}) {
    ::kill(-child, SIGKILL);
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    if (reaping)
        reaping();
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    Trials& shared = trials();
    {
        MutexLock lock(shared.mutex);
        shared.running.erase(child);
    }
    shared.ended.notify_all();
}

// What a child is held to now: processor time counted from `spentBefore`.
struct Watch {
    std::optional<std::chrono::milliseconds> processorTime;
    std::chrono::milliseconds spentBefore{0};
    std::optional<std::size_t> memoryBytes;
    std::optional<std::chrono::steady_clock::time_point> deadline;
};

// Why the child is to be ended now, if it is: its own end, or a limit passed.
std::optional<ChildTrial::Ending::Kind> verdict(pid_t child, const Watch& watch) {
    using Kind = ChildTrial::Ending::Kind;
    // Left unreaped, so that its number cannot go to another process before the group is ended.
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == child)
        return Kind::ended;
    if (watch.processorTime || watch.memoryBytes) {
        if (const std::optional<Usage> usage = usageOf(child)) {
            if (watch.processorTime && usage->processorTime - watch.spentBefore > *watch.processorTime)
                return Kind::overProcessorTime;
            if (watch.memoryBytes && usage->residentBytes > *watch.memoryBytes)
                return Kind::overMemory;
        }
    }
    if (watch.deadline && std::chrono::steady_clock::now() >= *watch.deadline)
        return Kind::timedOut;
    return std::nullopt;
}

// Waits, within the limits (or until the program quits), for the trial to
// end, reading its output (non-blocking) as it comes; then ends its whole
// group and reaps it. The trial's end is its exit, not the end of its
// output: what it started may hold that open.
void await(pid_t child, int output, const ChildTrial::Setup& setup, ChildTrial::Ending& ending) {
    using Kind = ChildTrial::Ending::Kind;
    const ChildTrial::Limits& limits = setup.limits;
    const Watch watch{limits.processorTime, {}, limits.memoryBytes, std::chrono::steady_clock::now() + limits.time};
    bool open = true;
    for (;;) {
        if (quittingNow() || (setup.cancelled && setup.cancelled->load())) {
            ending.kind = Kind::quit;
            break;
        }
        if (const std::optional<Kind> kind = verdict(child, watch)) {
            if (*kind == Kind::ended && open)
                readSome(output, ending.output);
            ending.kind = *kind;
            break;
        }
        // Once the output is closed, only the wait is left.
        pollfd wait{open ? output : -1, POLLIN, 0};
        if (::poll(&wait, 1, kWatchMilliseconds) > 0)
            open = readSome(output, ending.output);
    }
    retire(child, ending.status);
}

}  // namespace

ChildTrial::Ending ChildTrial::run(Setup setup) {
    Ending ending;
    const auto notStarted = [&](std::string why) {
        ending.kind = Ending::Kind::notStarted;
        ending.why = std::move(why);
        return ending;
    };
    int output[2];
    std::string why = outputPipe(output);
    if (!why.empty())
        return notStarted(why);
    FileDescriptor reading(output[0]), writing(output[1]);
    int markerPipe[2];
    if (::pipe2(markerPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return notStarted("no pipe for its trial: " + systemMessage(errno));
    FileDescriptor marked(markerPipe[0]), marking(markerPipe[1]);
    pid_t child = -1;
    why = enroll(setup, writing.get(), {marking.get(), kMarkerDescriptor}, child, {});
    if (!why.empty())
        return notStarted(why);
    writing.close();
    marking.close();
    await(child, reading.get(), setup, ending);
    if (ending.kind == Ending::Kind::ended)
        readSome(marked.get(), ending.marker);
    return ending;
}

void ChildTrial::endAll() {
    Trials& shared = trials();
    MutexLock lock(shared.mutex);
    shared.quitting = true;
    const auto now = std::chrono::steady_clock::now();
    for (const auto& [child, running] : shared.running) {
        if (running.endedByQuit)
            running.endedByQuit(std::chrono::duration<double>(now - running.started).count());
        if (running.wake)
            running.wake();
    }
    // Each is ended and reaped by its own trial or session before the program goes on to exit.
    const auto until = now + std::chrono::seconds(10);
    while (!shared.running.empty() && shared.ended.wait_until(shared.mutex, until) == std::cv_status::no_timeout) {
    }
}

bool ChildTrial::quitting() { return quittingNow(); }

std::string ChildTrial::systemMessage(int error) { return std::generic_category().message(error); }

bool ChildTrial::say(std::string_view what) {
    return ::write(kMarkerDescriptor, what.data(), what.size()) == static_cast<ssize_t>(what.size());
}

bool ChildTrial::bindToParent() {
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0)
        return false;
    // The host may have gone before the signal was asked for.
    const char* parent = std::getenv(kParentVariable);
    return !parent || std::strtol(parent, nullptr, 10) == long(::getppid());
}

std::vector<std::string> ChildTrial::environment() {
    std::vector<std::string> variables;
    const std::string parent = std::string(kParentVariable) + "=";
    for (char** variable = environ; *variable; ++variable)
        if (!std::string_view(*variable).starts_with(parent))
            variables.emplace_back(*variable);
    variables.push_back(parent + std::to_string(::getpid()));
    if constexpr (kSanitizedBuild) {
        for (const std::string name : {"ASAN_OPTIONS", "TSAN_OPTIONS", "UBSAN_OPTIONS"}) {
            auto found = std::find_if(variables.begin(), variables.end(),
                                      [&](const std::string& v) { return v.starts_with(name + "="); });
            if (found == variables.end())
                found = variables.insert(variables.end(), name + "=");
            found->append(found->back() == '=' ? "symbolize=0" : ":symbolize=0");
        }
    }
    return variables;
}

std::optional<std::string> ChildTrial::programBeside(const std::string& name) {
    Dl_info self{};
    if (!::dladdr(reinterpret_cast<void*>(&ChildTrial::programBeside), &self) || !self.dli_fname)
        return std::nullopt;
    const std::filesystem::path library = self.dli_fname;
    if (!library.has_parent_path())
        return std::nullopt;
    const std::filesystem::path program = library.parent_path() / "../bin" / name;
    // Resolved as the system resolves it (through links), for the log lines.
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(program, error);
    return (error ? program : resolved).string();
}

std::string ChildTrial::lastLine(const std::string& text) {
    const std::size_t end = text.find_last_not_of("\r\n \t");
    if (end == std::string::npos)
        return "";
    const std::size_t start = text.find_last_of('\n', end);
    const std::size_t from = start == std::string::npos ? 0 : start + 1;
    return text.substr(from, end + 1 - from);
}

std::string ChildTrial::signalName(int signal) {
    const char* name = ::sigdescr_np(signal);
    return "signal " + std::to_string(signal) + " (" + (name ? name : "?") + ")";
}

namespace {

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

std::string framed(std::string_view bytes) {
    const std::uint64_t length = bytes.size();
    std::string frame(reinterpret_cast<const char*>(&length), sizeof length);
    frame.append(bytes);
    return frame;
}

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

std::shared_ptr<ChildSession> ChildSession::start(ChildTrial::Setup setup, Limits limits, Ended ended) {
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
    // The child gets copies, so that the caller may close its own at once: it is started later, on the session's thread.
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

void ChildSession::serve(const std::shared_ptr<State>& state, ChildTrial::Setup setup, Limits limits,
                         std::vector<std::unique_ptr<FileDescriptor>> copies) {
    using Kind = ChildTrial::Ending::Kind;
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
    if (std::string why = outputPipe(output); !why.empty())
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
    const std::string why = enroll(setup, writing.get(), {childsEnd.get(), kChannelDescriptor}, child,
                                   [weak = std::weak_ptr<State>(state)] {
                                       if (const auto alive = weak.lock())
                                           alive->poke();
                                   });
    if (!why.empty())
        return notStarted(why);
    writing.close();
    childsEnd.close();
    copies.clear();
    {
        MutexLock lock(state->mutex);
        state->child = child;
    }

    Watch watch{std::nullopt, {}, limits.memoryBytes, std::nullopt};
    std::optional<Answered> answering;  // the request under way
    std::string out;                    // what is left to write of its frame
    Incoming in;
    bool outputOpen = true, channelOpen = true;
    for (;;) {
        bool sent = false;
        {
            MutexLock lock(state->mutex);
            if (state->ending)
                break;
            if (!answering && channelOpen && !state->queued.empty()) {
                out = framed(state->queued.front().first);
                answering = std::move(state->queued.front().second);
                state->queued.pop_front();
                sent = true;
            }
        }
        if (sent) {
            const std::optional<Usage> usage = usageOf(child);
            watch.processorTime = limits.processorTime;
            watch.spentBefore = usage ? usage->processorTime : std::chrono::milliseconds(0);
            watch.deadline = std::chrono::steady_clock::now() + limits.time;
        }
        if (quittingNow()) {
            ending.kind = Kind::quit;
            break;
        }
        if (const std::optional<Kind> kind = verdict(child, watch)) {
            if (*kind == Kind::ended && outputOpen)
                readSome(reading.get(), ending.output);
            ending.kind = *kind;
            break;
        }
        pollfd waits[3] = {{state->wake.get(), POLLIN, 0},
                           {channelOpen ? channel.get() : -1, short(POLLIN | (out.empty() ? 0 : POLLOUT)), 0},
                           {outputOpen ? reading.get() : -1, POLLIN, 0}};
        if (::poll(waits, 3, answering || !channelOpen ? kWatchMilliseconds : kIdleWatchMilliseconds) <= 0)
            continue;
        if (waits[0].revents) {
            std::uint64_t count = 0;
            (void)!::read(state->wake.get(), &count, sizeof count);
        }
        if (waits[2].revents)
            outputOpen = readSome(reading.get(), ending.output);
        if (waits[1].revents & POLLOUT) {
            const ssize_t wrote = ::send(channel.get(), out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (wrote > 0)
                out.erase(0, std::size_t(wrote));
        }
        if (!(waits[1].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        const Incoming::Read read = in.readSome(channel.get());
        if (read == Incoming::Read::closed) {
            // It is ending, or will not answer again: it has as long as a request to go.
            channelOpen = false;
            watch.deadline = std::chrono::steady_clock::now() + limits.time;
            continue;
        }
        if (read == Incoming::Read::tooLong || (!answering && !in.empty())) {
            ending.kind = Kind::ended;
            ending.why = read == Incoming::Read::tooLong
                             ? "it sent a frame of " + std::to_string(in.length()) + " bytes, more than a channel carries"
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
    retire(child, ending.status, [&] {
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
