#include "platform/foundation/ChildTrial.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

// How often a trial is looked at: its end, its resources, the program quitting.
constexpr int kWatchMilliseconds = 10;

// The trials under way.
struct Trials {
    struct Running {
        std::chrono::steady_clock::time_point started;
        std::function<void(double)> endedByQuit;
    };
    Mutex mutex;
    std::condition_variable_any ended;
    std::map<pid_t, Running> running GUARDED_BY(mutex);
    bool quitting GUARDED_BY(mutex) = false;
};

Trials& trials() {
    // Never destroyed: a trial may still be under way while the program exits.
    static Trials* const shared = new Trials;
    return *shared;
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
int spawn(const ChildTrial::Setup& setup, int output, int marker, pid_t& child) {
    // Copies above every number the child gets, so that moving them there clears close-on-exec.
    int highest = ChildTrial::kMarkerDescriptor;
    for (const auto& [from, to] : setup.descriptors)
        highest = std::max(highest, to);
    std::vector<std::unique_ptr<FileDescriptor>> copies;
    std::vector<std::pair<int, int>> moves{{marker, ChildTrial::kMarkerDescriptor}};
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

// Waits, within the limits (or until the program quits), for the trial to
// end, reading its output (non-blocking) as it comes; then ends its whole
// group, whatever is left of it, and reaps it. The trial's end is its exit,
// not the end of its output: what it started may hold that open.
void await(pid_t child, int output, const ChildTrial::Setup& setup, ChildTrial::Ending& ending) {
    using Kind = ChildTrial::Ending::Kind;
    const ChildTrial::Limits& limits = setup.limits;
    const auto deadline = std::chrono::steady_clock::now() + limits.time;
    bool open = true;
    for (;;) {
        if (quittingNow() || (setup.cancelled && setup.cancelled->load())) {
            ending.kind = Kind::quit;
            break;
        }
        // Left unreaped, so that its number cannot go to another process before the group is ended.
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == child) {
            if (open)
                readSome(output, ending.output);
            ending.kind = Kind::ended;
            break;
        }
        if (limits.processorTime || limits.memoryBytes) {
            if (const std::optional<Usage> usage = usageOf(child)) {
                if (limits.processorTime && usage->processorTime > *limits.processorTime) {
                    ending.kind = Kind::overProcessorTime;
                    break;
                }
                if (limits.memoryBytes && usage->residentBytes > *limits.memoryBytes) {
                    ending.kind = Kind::overMemory;
                    break;
                }
            }
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            ending.kind = Kind::timedOut;
            break;
        }
        // Once the output is closed, only the wait is left.
        pollfd wait{open ? output : -1, POLLIN, 0};
        if (::poll(&wait, 1, static_cast<int>(std::min<std::int64_t>(left, kWatchMilliseconds))) > 0)
            open = readSome(output, ending.output);
    }
    ::kill(-child, SIGKILL);
    while (::waitpid(child, &ending.status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

ChildTrial::Ending ChildTrial::run(Setup setup) {
    Ending ending;
    const auto notStarted = [&](std::string why) {
        ending.kind = Ending::Kind::notStarted;
        ending.why = std::move(why);
        return ending;
    };
    int pipe[2], markerPipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        return notStarted("no pipe for its trial: " + systemMessage(errno));
    FileDescriptor reading(pipe[0]), writing(pipe[1]);
    if (::pipe2(markerPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return notStarted("no pipe for its trial: " + systemMessage(errno));
    FileDescriptor marked(markerPipe[0]), marking(markerPipe[1]);
    if (::fcntl(reading.get(), F_SETFL, ::fcntl(reading.get(), F_GETFL) | O_NONBLOCK) != 0)
        return notStarted("no descriptor for its trial: " + systemMessage(errno));
    pid_t child = -1;
    Trials& shared = trials();
    {
        MutexLock lock(shared.mutex);
        if (shared.quitting)
            return notStarted("the program is quitting");
        if (const int error = spawn(setup, writing.get(), marking.get(), child))
            return notStarted("the trial program '" + setup.program + "' cannot be started: " + systemMessage(error));
        shared.running[child] = {std::chrono::steady_clock::now(), std::move(setup.endedByQuit)};
    }
    writing.close();
    marking.close();
    await(child, reading.get(), setup, ending);
    {
        MutexLock lock(shared.mutex);
        shared.running.erase(child);
    }
    shared.ended.notify_all();
    if (ending.kind == Ending::Kind::ended)
        readSome(marked.get(), ending.marker);
    return ending;
}

void ChildTrial::endAll() {
    Trials& shared = trials();
    MutexLock lock(shared.mutex);
    shared.quitting = true;
    const auto now = std::chrono::steady_clock::now();
    for (const auto& [child, running] : shared.running)
        if (running.endedByQuit)
            running.endedByQuit(std::chrono::duration<double>(now - running.started).count());
    // Each is ended and reaped by its own trial before the program goes on to exit.
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
