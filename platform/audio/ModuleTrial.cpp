#include "platform/audio/ModuleTrial.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <compare>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/foundation/FileDescriptor.h"
#include "platform/foundation/Mutex.h"
#include "platform/foundation/Sanitizers.h"

extern char** environ;

namespace {

using ElfHeader = ElfW(Ehdr);
using ProgramHeader = ElfW(Phdr);

std::string systemMessage(int error) { return std::error_code(error, std::generic_category()).message(); }

// The machine this code runs on, as its own library's header says.
ElfW(Half) ownMachine() {
    Dl_info self{};
    if (!::dladdr(reinterpret_cast<void*>(&ownMachine), &self) || !self.dli_fbase) return EM_NONE;
    return static_cast<const ElfHeader*>(self.dli_fbase)->e_machine;
}

std::string machineName(ElfW(Half) machine) {
    switch (machine) {
    case EM_X86_64:
        return "x86-64";
    case EM_AARCH64:
        return "AArch64";
    case EM_386:
        return "i386";
    case EM_ARM:
        return "ARM";
    case EM_RISCV:
        return "RISC-V";
    default:
        return "ELF machine " + std::to_string(machine);
    }
}

// Whether the file open on `fd` can be handed to the loader; the reason when
// not. The loader waits forever on a pipe, maps whatever the program headers
// name (a truncated module would fault on first touch instead of failing), and
// says only "No such file or directory" of a module for another machine.
std::optional<std::string> unloadable(int fd, const struct stat& status) {
    if (!S_ISREG(status.st_mode)) return "it is not a regular file";
    const auto size = static_cast<std::uint64_t>(status.st_size);
    auto readAt = [fd](void* into, std::size_t bytes, std::uint64_t at) {
        return ::pread(fd, into, bytes, static_cast<off_t>(at)) == static_cast<ssize_t>(bytes);
    };
    ElfHeader header{};
    if (!readAt(&header, sizeof header, 0) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0)
        return "it is not an ELF file";
    if (header.e_machine != ownMachine())
        return "it is built for another machine (" + machineName(header.e_machine) + ", this one is " +
               machineName(ownMachine()) + ")";
    if (header.e_ident[EI_CLASS] != (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32) ||
        header.e_type != ET_DYN || header.e_phentsize != sizeof(ProgramHeader) || header.e_phnum == 0)
        return "it is not a shared object for this machine";
    const std::uint64_t tableEnd = header.e_phoff + std::uint64_t{header.e_phnum} * sizeof(ProgramHeader);
    if (header.e_phoff > size || tableEnd > size) return "it is truncated (its program headers are missing)";
    std::vector<ProgramHeader> segments(header.e_phnum);
    if (!readAt(segments.data(), segments.size() * sizeof(ProgramHeader), header.e_phoff))
        return "its program headers cannot be read";
    for (const ProgramHeader& segment : segments)
        if (segment.p_offset > size || segment.p_filesz > size - segment.p_offset)
            return "it is truncated (a segment lies beyond its end)";
    return std::nullopt;
}

// What a verdict is kept for: the file as it was when it was tried.
struct FileKey {
    std::string path;
    dev_t device;
    ino_t inode;
    off_t size;
    std::int64_t seconds, nanoseconds; // modified

    FileKey(std::string name, const struct stat& status)
        : path(std::move(name)), device(status.st_dev), inode(status.st_ino), size(status.st_size),
          seconds(status.st_mtim.tv_sec), nanoseconds(status.st_mtim.tv_nsec) {}
    auto operator<=>(const FileKey&) const = default;
};

struct Record {
    std::map<std::string, std::string> verdicts; // factory function -> why it failed, empty when it passed
    // Loaded in this process. Its descriptor stays open for good: the loader
    // was asked for the module by that descriptor's name, and a name reused
    // for another file would be taken for this module.
    void* module = nullptr;
};

struct Verdicts {
    Mutex mutex;
    std::map<FileKey, Record> records GUARDED_BY(mutex);
    std::size_t trials GUARDED_BY(mutex) = 0;
    // The thread holding `mutex` for a load, if any: a module that ends the
    // program as it loads runs the at-exit wait for loads on that very thread.
    std::atomic<std::thread::id> loading{};
};

Verdicts& verdicts() {
    // Never destroyed: a trial may still be under way while the program exits.
    static Verdicts* const shared = new Verdicts;
    return *shared;
}

// The trial under way (one at a time), ended early when the program quits.
struct Running {
    Mutex mutex;
    std::condition_variable_any ended;
    pid_t child GUARDED_BY(mutex) = 0;
    std::string path GUARDED_BY(mutex);
    std::chrono::steady_clock::time_point started GUARDED_BY(mutex);
    bool quitting GUARDED_BY(mutex) = false;

    bool endsEarly() {
        MutexLock lock(mutex);
        return quitting;
    }
};

// How long the trial waits at a time before it looks whether the program quits.
constexpr int kQuitCheckMilliseconds = 20;

Running& running() {
    static Running* const shared = new Running;
    return *shared;
}

// "../bin/orvo-module-trial" from this library.
std::optional<std::string> trialProgram() {
    Dl_info self{};
    if (!::dladdr(reinterpret_cast<void*>(&trialProgram), &self) || !self.dli_fname) return std::nullopt;
    const std::filesystem::path library = self.dli_fname;
    if (!library.has_parent_path()) return std::nullopt;
    const std::filesystem::path program = library.parent_path() / "../bin/orvo-module-trial";
    // Resolved as the system resolves it (through links), for the log lines.
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(program, error);
    return (error ? program : resolved).string();
}

// The last line with something on it.
std::string lastLine(const std::string& text) {
    std::size_t end = text.find_last_not_of("\r\n \t");
    if (end == std::string::npos) return "";
    const std::size_t start = text.find_last_of('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1,
                       end + 1 - (start == std::string::npos ? 0 : start + 1));
}

// This program's environment for the trial program. A sanitizer build of it
// would symbolise a crash's stack before it exits, which takes seconds on a
// busy machine; the verdict needs only the exit.
std::vector<std::string> trialEnvironment() {
    std::vector<std::string> variables;
    for (char** variable = environ; *variable; ++variable) variables.emplace_back(*variable);
    if constexpr (kSanitizedBuild) {
        for (const std::string name : {"ASAN_OPTIONS", "TSAN_OPTIONS", "UBSAN_OPTIONS"}) {
            auto found = std::find_if(variables.begin(), variables.end(),
                                      [&](const std::string& v) { return v.starts_with(name + "="); });
            if (found == variables.end()) found = variables.insert(variables.end(), name + "=");
            found->append(found->back() == '=' ? "symbolize=0" : ":symbolize=0");
        }
    }
    return variables;
}

// Starts the trial program on the module open on `module`, its output into
// `output` and its marker into `marker`: 0, or the error number. A process
// group of its own, to be ended whole; default signals, none blocked; nothing
// else of ours open.
int spawnTrial(const std::string& program, const std::string& path, const std::string& function, int output,
               int module, int marker, pid_t& child) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output, STDERR_FILENO);
    posix_spawn_file_actions_adddup2(&actions, module, ModuleTrial::kModuleDescriptor);
    posix_spawn_file_actions_adddup2(&actions, marker, ModuleTrial::kMarkerDescriptor);
    posix_spawn_file_actions_addclosefrom_np(&actions, ModuleTrial::kMarkerDescriptor + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    std::vector<std::string> words{program, path, function};
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables = trialEnvironment();
    std::vector<char*> envp;
    for (std::string& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);
    // posix_spawn, not fork: after a fork this threaded process could only make async-signal-safe calls.
    const int error = ::posix_spawn(&child, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return error;
}

// How a trial ended.
struct Ending {
    enum class Kind { ended, timedOut, quit } kind = Kind::ended;
    int status = 0;     // when it ended
    std::string output; // its last 4 KB
};

// Appends what can be read from `output` now, 64 KB at most, to `into` (its
// last 4 KB): false once it is closed.
bool readSome(int output, std::string& into) {
    char chunk[4096];
    for (int chunks = 0; chunks < 16; ++chunks) {
        const ssize_t got = ::read(output, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return got < 0 && errno == EAGAIN;
        into.append(chunk, static_cast<std::size_t>(got));
        if (into.size() > 4096) into.erase(0, into.size() - 4096);
    }
    return true;
}

// Waits, within the time limit (or until the program quits), for the trial
// to end, reading its output (non-blocking) as it comes; then ends its whole
// group, whatever is left of it, and reaps it. The trial's end is its exit,
// not the end of its output: what it started may hold that open.
Ending awaitTrial(pid_t child, int output) {
    Running& now = running();
    const auto deadline = std::chrono::steady_clock::now() + ModuleTrial::timeLimit();
    Ending ending;
    bool open = true;
    for (;;) {
        if (now.endsEarly()) {
            ending.kind = Ending::Kind::quit;
            break;
        }
        // Left unreaped, so that its number cannot go to another process before the group is ended.
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == child) {
            if (open) readSome(output, ending.output);
            ending.kind = Ending::Kind::ended;
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        if (left <= 0) {
            ending.kind = Ending::Kind::timedOut;
            break;
        }
        // Once the output is closed, only the wait is left.
        pollfd wait{open ? output : -1, POLLIN, 0};
        if (::poll(&wait, 1, static_cast<int>(std::min<std::int64_t>(left, kQuitCheckMilliseconds))) > 0)
            open = readSome(output, ending.output);
    }
    ::kill(-child, SIGKILL);
    while (::waitpid(child, &ending.status, 0) < 0 && errno == EINTR) {
    }
    return ending;
}

// "5", "0.5", "12.5".
std::string seconds(std::chrono::milliseconds time) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(time.count()) / 1000);
    return text;
}

// What a trial says: empty when the module passed, else why not; `lasting`
// when that is about the module itself and not about the trial's chances.
struct Verdict {
    std::string why;
    bool lasting = true;
};

Verdict retried(std::string why) { return {std::move(why), false}; }

// The verdict on a trial that ended with `status`, its output and its marker.
Verdict verdictOn(int status, const std::string& output, const std::string& marker) {
    if (WIFSIGNALED(status)) {
        const char* name = ::sigdescr_np(WTERMSIG(status));
        return {"it was killed by signal " + std::to_string(WTERMSIG(status)) + " (" + (name ? name : "?") +
                ") while it was tried"};
    }
    const int code = WEXITSTATUS(status);
    const std::string line = lastLine(output);
    if (code == 0 && marker == ModuleTrial::kPassed) return {};
    if (code == 0)
        return {"the module ended the process while it was loaded, before its trial reached its end"};
    if (code == ModuleTrial::kRefused && !line.empty()) return {line};
    if (code == ModuleTrial::kReplaced && !line.empty()) return retried(line);
    return {"its trial ended with status " + std::to_string(code) + " while it was tried" +
            (line.empty() ? "" : ": " + line)};
}

// Runs the trial program on the module open on `fd`.
Verdict tryInChild(int fd, const std::string& path, const std::string& function) {
    const std::optional<std::string> program = trialProgram();
    if (!program) return retried("the trial program cannot be found");
    int pipe[2], markerPipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) return retried("no pipe for its trial: " + systemMessage(errno));
    FileDescriptor reading(pipe[0]), writing(pipe[1]);
    if (::pipe2(markerPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return retried("no pipe for its trial: " + systemMessage(errno));
    FileDescriptor marked(markerPipe[0]), marking(markerPipe[1]);
    // Copies above the child's numbers, so that moving them there clears close-on-exec.
    const int above = ModuleTrial::kMarkerDescriptor + 1;
    const FileDescriptor module(::fcntl(fd, F_DUPFD_CLOEXEC, above)),
        marker(::fcntl(marking.get(), F_DUPFD_CLOEXEC, above));
    if (module.get() < 0 || marker.get() < 0 ||
        ::fcntl(reading.get(), F_SETFL, ::fcntl(reading.get(), F_GETFL) | O_NONBLOCK) != 0)
        return retried("no descriptor for its trial: " + systemMessage(errno));
    pid_t child = -1;
    Running& now = running();
    {
        MutexLock lock(now.mutex);
        if (now.quitting) return retried("the program is quitting");
        if (const int error =
                spawnTrial(*program, path, function, writing.get(), module.get(), marker.get(), child))
            return retried("the trial program '" + *program + "' cannot be started: " + systemMessage(error));
        now.child = child;
        now.path = path;
        now.started = std::chrono::steady_clock::now();
    }
    writing.close();
    const Ending ending = awaitTrial(child, reading.get());
    {
        MutexLock lock(now.mutex);
        now.child = 0;
    }
    now.ended.notify_all();

    switch (ending.kind) {
    case Ending::Kind::quit:
        return retried("its trial was ended unfinished as the program quit");
    case Ending::Kind::timedOut:
        return retried("its trial did not end within " + seconds(ModuleTrial::timeLimit()) + " seconds");
    case Ending::Kind::ended:
        break;
    }
    std::string said;
    readSome(marked.get(), said);
    return verdictOn(ending.status, ending.output, said);
}

// Ends the trial under way, saying so, and lets no other start.
void endTrial() {
    Running& now = running();
    MutexLock lock(now.mutex);
    now.quitting = true;
    if (now.child == 0) return;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - now.started).count();
    std::printf("AVAudioUnit::WARNING: The module '%s' was still being tried when the program quit, after "
                "%.1f seconds; its trial is ended.\n",
                now.path.c_str(), seconds);
    std::fflush(stdout);
    // The child is ended and reaped before the program goes on to exit.
    const auto until = std::chrono::steady_clock::now() + ModuleTrial::timeLimit();
    while (now.child != 0 && now.ended.wait_until(now.mutex, until) == std::cv_status::no_timeout) {
    }
}

// Drops what a trial said of `function` in `record`: it is tried again.
std::nullptr_t forget(Verdicts& shared, std::map<FileKey, Record>::iterator record,
                      const std::string& function) REQUIRES(shared.mutex) {
    record->second.verdicts.erase(function);
    if (record->second.verdicts.empty() && !record->second.module) shared.records.erase(record);
    return nullptr;
}

} // namespace

void* ModuleTrial::open(int descriptor, const std::string& path, std::string& why, bool& replaced) {
    replaced = false;
    struct stat tried {};
    struct stat named {};
    if (::fstat(descriptor, &tried) != 0) {
        why = systemMessage(errno);
        return nullptr;
    }
    // Narrows the window in which the path could name something the loader hangs on.
    if (::stat(path.c_str(), &named) != 0 || named.st_dev != tried.st_dev || named.st_ino != tried.st_ino) {
        replaced = true;
        why = "its path names another file than the one tried";
        return nullptr;
    }
    // By its path, so that the libraries beside it are found through its $ORIGIN.
    const std::string name = path.find('/') == std::string::npos ? "./" + path : path;
    void* earlier = ::dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (earlier) ::dlclose(earlier);
    void* module = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* error = ::dlerror();
        why = error ? error : "the loader gives no reason";
        return nullptr;
    }
    // The loader knows its objects by device and inode: asked, without
    // loading, for the file open on the descriptor, it answers with the
    // object of that file, if one is loaded.
    const std::string byDescriptor = "/proc/self/fd/" + std::to_string(descriptor);
    void* checked = ::dlopen(byDescriptor.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    ::dlclose(module);
    if (!checked) {
        replaced = true;
        why = earlier ? "another file loaded from that path earlier is in the program; the new one can be "
                        "loaded once the program starts again"
                      : "the file its path loaded is not the one tried";
    }
    return checked;
}

AUPrincipalClassFunction ModuleTrial::entryPoint(void* module, const std::string& function,
                                                 std::string& why) {
    auto entry = reinterpret_cast<AUPrincipalClassFunction>(::dlsym(module, function.c_str()));
    if (!entry) {
        why = "it has no function '" + function + "'";
        return nullptr;
    }
    link_map *own = nullptr, *home = nullptr;
    Dl_info where{};
    if (::dlinfo(module, RTLD_DI_LINKMAP, &own) != 0 ||
        !::dladdr1(reinterpret_cast<void*>(entry), &where, reinterpret_cast<void**>(&home),
                   RTLD_DL_LINKMAP) ||
        home != own) {
        why = "the function '" + function + "' does not lie in the module but in '" +
              (where.dli_fname ? where.dli_fname : "?") + "'";
        return nullptr;
    }
    return entry;
}

AUPrincipalClassFunction ModuleTrial::load(const std::string& path, const std::string& function,
                                           std::string& why) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) {
        why = systemMessage(errno);
        return nullptr;
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        why = systemMessage(errno);
        return nullptr;
    }
    if (const auto reason = unloadable(file.get(), status)) {
        why = *reason;
        return nullptr;
    }
    const FileKey key(path, status);
    Verdicts& shared = verdicts();
    // One trial at a time: a second search for the same module waits for its verdict.
    MutexLock lock(shared.mutex);
    struct Loading {
        std::atomic<std::thread::id>& thread;
        explicit Loading(std::atomic<std::thread::id>& t) : thread(t) { thread = std::this_thread::get_id(); }
        ~Loading() { thread = std::thread::id(); }
    } loading(shared.loading);
    auto record = shared.records.find(key);
    if (record == shared.records.end()) record = shared.records.emplace(key, Record{}).first;
    auto verdict = record->second.verdicts.find(function);
    if (verdict == record->second.verdicts.end()) {
        ++shared.trials;
        Verdict tried = tryInChild(file.get(), path, function);
        if (!tried.lasting) {
            why = tried.why;
            return forget(shared, record, function);
        }
        verdict = record->second.verdicts.emplace(function, std::move(tried.why)).first;
    }
    if (!verdict->second.empty()) {
        why = verdict->second;
        return nullptr;
    }
    // A pass that this process cannot load after all is no lasting verdict.
    if (!record->second.module) {
        // Once the program quits nothing more is loaded into it.
        if (running().endsEarly()) {
            why = "the program is quitting";
            return forget(shared, record, function);
        }
        struct stat now {};
        if (::fstat(file.get(), &now) != 0 || FileKey(path, now) != key) {
            why = "it changed while it was tried";
            return forget(shared, record, function);
        }
        bool replaced = false;
        record->second.module = open(file.get(), path, why, replaced);
        if (!record->second.module) return forget(shared, record, function);
        file.release();
    }
    return entryPoint(record->second.module, function, why);
}

void ModuleTrial::endTrials() {
    endTrial();
    // A module that passed may be loading into this process: the program
    // exits only once it is in, for a loader still at work after exit has run
    // the libraries' destructors would run their constructors again. When
    // the module ends the program as it loads, the load is this very thread's
    // and waiting for it would never end.
    if (verdicts().loading.load() == std::this_thread::get_id()) return;
    MutexLock wait(verdicts().mutex);
}

namespace {
// A program that never calls endTrials still must not exit under a load.
struct EndTrialsAtExit {
    ~EndTrialsAtExit() { ModuleTrial::endTrials(); }
} endTrialsAtExit;
} // namespace

std::chrono::milliseconds ModuleTrial::timeLimit() {
    if (const char* text = std::getenv("ORVO_MODULE_TRIAL_SECONDS")) {
        char* end = nullptr;
        const double seconds = std::strtod(text, &end);
        if (end != text && *end == '\0' && seconds >= 0.1 && seconds <= 600)
            return std::chrono::milliseconds(std::llround(seconds * 1000));
    }
    return kTimeLimit;
}

std::size_t ModuleTrial::trialsStarted() {
    Verdicts& shared = verdicts();
    MutexLock lock(shared.mutex);
    return shared.trials;
}
