#include "platform/foundation/ChildProcessesInternal.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/FileDescriptor.h"
#include "platform/foundation/Mutex.h"

namespace childprocess::detail {

namespace {

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
int spawn(const Start& start, pid_t& child) {
    // Copies above every number the child gets, so that moving them there clears close-on-exec.
    int highest = std::max(ChildTrial::kMarkerDescriptor, start.channel.second);
    for (const auto& [from, to] : start.descriptors)
        highest = std::max(highest, to);
    std::vector<std::unique_ptr<FileDescriptor>> copies;
    std::vector<std::pair<int, int>> moves{start.channel};
    for (const auto& [from, to] : start.descriptors)
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
    posix_spawn_file_actions_adddup2(&actions, start.output, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, start.output, STDERR_FILENO);
    for (const auto& [from, to] : moves)
        posix_spawn_file_actions_adddup2(&actions, from, to);
    // A descriptor of ours left open on exec, at a number below the highest
    // the child gets but not one of them, would reach it too. (A close of a
    // number that is not open there is no failure.)
    for (int number = STDERR_FILENO + 1; number <= highest; ++number)
        if (std::none_of(moves.begin(), moves.end(), [&](const auto& move) { return move.second == number; }))
            posix_spawn_file_actions_addclose(&actions, number);
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
    std::vector<std::string> words{start.program};
    words.insert(words.end(), start.arguments.begin(), start.arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables = ChildTrial::environment(start.environment);
    std::vector<char*> envp;
    for (std::string& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    // posix_spawn, not fork: after a fork this threaded process could only make async-signal-safe calls.
    int error = 0;
    spawner().sync([&] {
        error = ::posix_spawn(&child, start.program.c_str(), &actions, &attributes, argv.data(), envp.data());
    });
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return error;
}

}  // namespace

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

std::string Refusal::clause(const std::string& program) const {
    return error ? program + ": " + ChildTrial::systemMessage(error) : "the program is quitting";
}

std::optional<Refusal> enroll(const Start& start, pid_t& child, std::function<void(double)> endedByQuit,
                              std::function<void()> wake) {
    Trials& shared = trials();
    MutexLock lock(shared.mutex);
    if (shared.quitting)
        return Refusal{};
    if (const int error = spawn(start, child))
        return Refusal{error};
    shared.running[child] = {std::chrono::steady_clock::now(), std::move(endedByQuit), std::move(wake)};
    return std::nullopt;
}

void retire(pid_t child, int& status, const std::function<void()>& reaping) {
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

void endAll() {
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

}  // namespace childprocess::detail
