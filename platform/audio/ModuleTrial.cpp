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
#include <cerrno>
#include <compare>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/foundation/FileDescriptor.h"
#include "platform/foundation/Mutex.h"

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
    // Loaded in this process through its descriptor, which stays open for
    // good: the loader knows the module by that descriptor's name, and a name
    // reused for another file would be taken for this module.
    void* module = nullptr;
};

struct Verdicts {
    Mutex mutex;
    std::map<FileKey, Record> records GUARDED_BY(mutex);
    std::size_t trials GUARDED_BY(mutex) = 0;
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

// Starts the trial program on the module open on `module`, its output into
// `output`: 0, or the error number. A process group of its own, to be ended
// whole; default signals, none blocked; nothing else of ours open.
int spawnTrial(const std::string& program, const std::string& path, const std::string& function, int output,
               int module, pid_t& child) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output, STDERR_FILENO);
    posix_spawn_file_actions_adddup2(&actions, module, ModuleTrial::kModuleDescriptor);
    posix_spawn_file_actions_addclosefrom_np(&actions, ModuleTrial::kModuleDescriptor + 1);
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
    // posix_spawn, not fork: after a fork this threaded process could only make async-signal-safe calls.
    const int error = ::posix_spawn(&child, program.c_str(), &actions, &attributes, argv.data(), environ);
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

// Reads the trial's output until it closes it, then waits for its end, all
// within the time limit (or until the program quits); then ends its whole
// group, whatever is left of it, and reaps it.
Ending awaitTrial(pid_t child, int output) {
    Running& now = running();
    const auto deadline = std::chrono::steady_clock::now() + ModuleTrial::kTimeLimit;
    const auto left = [&] {
        const auto rest = deadline - std::chrono::steady_clock::now();
        return std::chrono::duration_cast<std::chrono::milliseconds>(rest).count();
    };
    Ending ending;
    ending.kind = Ending::Kind::timedOut;
    bool open = true;
    while (ending.kind == Ending::Kind::timedOut && left() > 0) {
        if (now.endsEarly()) {
            ending.kind = Ending::Kind::quit;
        } else if (open) {
            pollfd wait{output, POLLIN, 0};
            if (::poll(&wait, 1, static_cast<int>(std::min<std::int64_t>(left(), kQuitCheckMilliseconds))) <=
                0)
                continue;
            char chunk[4096];
            const ssize_t got = ::read(output, chunk, sizeof chunk);
            if (got > 0) ending.output.append(chunk, static_cast<std::size_t>(got));
            if (ending.output.size() > 4096) ending.output.erase(0, ending.output.size() - 4096);
            open = got > 0 || (got < 0 && errno == EINTR);
        } else {
            // Left unreaped, so that its number cannot go to another process before the group is ended.
            siginfo_t info{};
            if (::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                info.si_pid == child)
                ending.kind = Ending::Kind::ended;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ::kill(-child, SIGKILL);
    while (::waitpid(child, &ending.status, 0) < 0 && errno == EINTR) {
    }
    return ending;
}

// Runs the trial program on the module open on `fd`: empty when it passed, else why not.
std::string tryInChild(int fd, const std::string& path, const std::string& function) {
    const std::optional<std::string> program = trialProgram();
    if (!program) return "the trial program cannot be found";
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) return "no pipe for its trial: " + systemMessage(errno);
    FileDescriptor reading(pipe[0]), writing(pipe[1]);
    // A copy above the child's number, so that moving it there clears close-on-exec.
    const FileDescriptor module(::fcntl(fd, F_DUPFD_CLOEXEC, ModuleTrial::kModuleDescriptor + 1));
    if (module.get() < 0) return "no descriptor for its trial: " + systemMessage(errno);
    pid_t child = -1;
    Running& now = running();
    {
        MutexLock lock(now.mutex);
        if (now.quitting) return "the program is quitting";
        if (const int error = spawnTrial(*program, path, function, writing.get(), module.get(), child))
            return "the trial program '" + *program + "' cannot be started: " + systemMessage(error);
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
        return "its trial was ended unfinished as the program quit";
    case Ending::Kind::timedOut:
        return "its trial did not end within " + std::to_string(ModuleTrial::kTimeLimit.count()) + " seconds";
    case Ending::Kind::ended:
        break;
    }
    if (WIFSIGNALED(ending.status)) {
        const char* name = ::sigdescr_np(WTERMSIG(ending.status));
        return "it was killed by signal " + std::to_string(WTERMSIG(ending.status)) + " (" +
               (name ? name : "?") + ") while it was tried";
    }
    if (WEXITSTATUS(ending.status) == 0) return "";
    const std::string line = lastLine(ending.output);
    if (WEXITSTATUS(ending.status) == ModuleTrial::kRefused && !line.empty()) return line;
    return "its trial ended with status " + std::to_string(WEXITSTATUS(ending.status)) +
           " while it was tried" + (line.empty() ? "" : ": " + line);
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
    const auto until = std::chrono::steady_clock::now() + ModuleTrial::kTimeLimit;
    while (now.child != 0 && now.ended.wait_until(now.mutex, until) == std::cv_status::no_timeout) {
    }
}

} // namespace

void* ModuleTrial::open(int descriptor, const std::string& path, std::string& why) {
    const std::string name = "/proc/self/fd/" + std::to_string(descriptor);
    void* module = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        // The loader names the descriptor; the reader knows the path.
        const char* error = ::dlerror();
        why = error ? error : "the loader gives no reason";
        for (std::size_t at = why.find(name); at != std::string::npos; at = why.find(name, at + path.size()))
            why.replace(at, name.size(), path);
    }
    return module;
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
    Record& record = shared.records[key];
    auto verdict = record.verdicts.find(function);
    if (verdict == record.verdicts.end()) {
        ++shared.trials;
        verdict = record.verdicts.emplace(function, tryInChild(file.get(), path, function)).first;
    }
    if (!verdict->second.empty()) {
        why = verdict->second;
        return nullptr;
    }
    if (!record.module) {
        // Once the program quits nothing more is loaded into it.
        if (running().endsEarly()) {
            why = "the program is quitting";
            return nullptr;
        }
        struct stat now {};
        if (::fstat(file.get(), &now) != 0 || FileKey(path, now) != key) {
            why = "it changed while it was tried";
            return nullptr;
        }
        record.module = open(file.get(), path, why);
        if (!record.module) return nullptr;
        file.release();
    }
    return entryPoint(record.module, function, why);
}

void ModuleTrial::endTrials() {
    endTrial();
    // A module that passed may be loading into this process: the program
    // exits only once it is in, for a loader still at work after exit has run
    // the libraries' destructors would run their constructors again.
    MutexLock wait(verdicts().mutex);
}

namespace {
// A program that never calls endTrials still must not exit under a load.
struct EndTrialsAtExit {
    ~EndTrialsAtExit() { ModuleTrial::endTrials(); }
} endTrialsAtExit;
} // namespace

std::size_t ModuleTrial::trialsStarted() {
    Verdicts& shared = verdicts();
    MutexLock lock(shared.mutex);
    return shared.trials;
}
