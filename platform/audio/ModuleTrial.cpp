#include "platform/audio/ModuleTrial.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <compare>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/foundation/ChildTrial.h"
#include "platform/foundation/FileDescriptor.h"
#include "platform/foundation/Mutex.h"
#include "platform/foundation/Sanitizers.h"


namespace {

using ElfHeader = ElfW(Ehdr);
using ProgramHeader = ElfW(Phdr);


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
    void* module = nullptr;                      // loaded in this process
    int shortages = 0;                           // trials in a row that ran short of resources
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
    bool shortOfResources = false; // the loader lacked memory or descriptors for it
};

Verdict retried(std::string why) { return {std::move(why), false}; }

// The verdict on a trial that ended with `status`, its output and its
// marker. Kept only when the trial reached the module and the failure is the
// module's: a trial program that failed to start itself, a loader short of
// memory or descriptors, and a kill the host did not send (the system's
// out-of-memory killer) say nothing about the module.
Verdict verdictOn(int status, const std::string& output, const std::string& marker) {
    const bool reached = marker.starts_with(ModuleTrial::kReached);
    const std::string line = ChildTrial::lastLine(output);
    if (WIFSIGNALED(status)) {
        const std::string signal = ChildTrial::signalName(WTERMSIG(status));
        if (WTERMSIG(status) == SIGKILL)
            return retried("it was killed by " + signal +
                           " while it was tried, not by this program (the system may be short of memory)");
        if (!reached) return retried("its trial program was killed by " + signal + " before it reached the module");
        return {"it was killed by " + signal + " while it was tried"};
    }
    const int code = WEXITSTATUS(status);
    const std::string said = line.empty() ? "" : ": " + line;
    if (code == 0 && reached && marker.ends_with(ModuleTrial::kPassed)) return {};
    if (code == ModuleTrial::kRefused && reached && !line.empty()) return {line};
    if (code == ModuleTrial::kShortOfResources && !line.empty()) return {line, false, true};
    if (code == ModuleTrial::kReplaced && !line.empty()) return retried(line);
    if (!reached)
        return retried("its trial program ended with status " + std::to_string(code) + " before it reached the module" +
                       said);
    if (code == 0)
        return {"the module ended the process while it was loaded, before its trial reached its end"};
    return {"its trial ended with status " + std::to_string(code) + " while it was tried" + said};
}

// Runs the trial program on the module open on `fd`.
Verdict tryInChild(int fd, const std::string& path, const std::string& function, const Environment& environment) {
    std::optional<ChildTrial::Setup> setup = ModuleTrial::trialSetup(fd, path, function, environment);
    if (!setup) return retried("the trial program cannot be found");
    const std::chrono::milliseconds limit = setup->limits.time;
    const ChildTrial::Ending ending = ChildTrial::run(std::move(*setup));
    switch (ending.kind) {
    case ChildTrial::Ending::Kind::notStarted:
        return retried(ending.why);
    case ChildTrial::Ending::Kind::quit:
        return retried("its trial was ended unfinished as the program quit");
    case ChildTrial::Ending::Kind::overMemory:
        return {ModuleTrial::tookTooMuchMemory()};
    case ChildTrial::Ending::Kind::timedOut:
    case ChildTrial::Ending::Kind::overProcessorTime:
        return retried("its trial did not end within " + seconds(limit) + " seconds");
    case ChildTrial::Ending::Kind::ended:
        break;
    }
    return verdictOn(ending.status, ending.output, ending.marker);
}

// The copies of tried files' descriptors that the loader knows an object by,
// by the file's device and inode: one for each file, held while the process
// lives. While it is held, no other file can have that device and inode.
struct KeptCopies {
    Mutex mutex;
    std::map<std::pair<dev_t, ino_t>, FileDescriptor> copies GUARDED_BY(mutex);
};

KeptCopies& keptCopies() {
    // Never destroyed: the loader may know an object by their names until the very end.
    static KeptCopies* const shared = new KeptCopies;
    return *shared;
}

// Drops what a trial said of `function` in `record`: it is tried again.
std::nullptr_t forget(Verdicts& shared, std::map<FileKey, Record>::iterator record,
                      const std::string& function) REQUIRES(shared.mutex) {
    record->second.verdicts.erase(function);
    if (record->second.verdicts.empty() && !record->second.module && !record->second.shortages)
        shared.records.erase(record);
    return nullptr;
}

// Ends the trials and waits for a load under way: false, once it has said
// so, when that load outlasted the wait.
bool endTrialsAndLoads() {
    ChildTrial::endAll();
    // A module that passed may be loading into this process: the program
    // exits only once it is in, for a loader still at work after exit has run
    // the libraries' destructors would run their constructors again. When
    // the module ends the program as it loads, the load is this very thread's
    // and waiting for it would never end; a load that hangs is waited for
    // only as long as a trial may take, and only once.
    Verdicts& shared = verdicts();
    if (shared.loading.load() == std::this_thread::get_id()) return true;
    static std::atomic<bool> abandoned{false};
    const auto until =
        std::chrono::steady_clock::now() + (abandoned ? std::chrono::milliseconds(0) : ModuleTrial::timeLimit());
    for (;;) {
        if (shared.mutex.try_lock()) {
            shared.mutex.unlock();
            return true;
        }
        if (std::chrono::steady_clock::now() >= until) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!abandoned.exchange(true)) {
        std::printf("AVAudioUnit::WARNING: A module was still loading when the program quit, after %s seconds; "
                    "the program does not wait for it.\n",
                    seconds(ModuleTrial::timeLimit()).c_str());
        std::fflush(stdout);
    }
    return false;
}

// A program that never calls endTrials still must not exit under a load.
// Exit runs the libraries' destructors holding the loader's lock, which a
// load that hangs holds for good: past the wait, the program ends without
// them. Registered at the first load, so that it runs before them.
void endTrialsAtExit(int status, void*) {
    if (endTrialsAndLoads()) return;
    std::fflush(nullptr);
    ::_exit(status);
}

} // namespace

void* ModuleTrial::open(int descriptor, const std::string& path, std::string& why, bool& replaced) {
    replaced = false;
    struct stat tried {};
    struct stat named {};
    if (::fstat(descriptor, &tried) != 0) {
        why = ChildTrial::systemMessage(errno);
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
    // loading, for the file open on a descriptor, it answers with the object
    // of that file, if one is loaded, and knows that object by the
    // descriptor's name from then on. So it is asked by a copy's name, and
    // the copy is kept open for good then: that name never names another
    // file. A file asked about again is asked by the copy kept for it.
    void* checked = nullptr;
    {
        KeptCopies& kept = keptCopies();
        MutexLock lock(kept.mutex);
        const auto found = kept.copies.find({tried.st_dev, tried.st_ino});
        const int copy =
            found != kept.copies.end() ? found->second.get() : ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
        if (copy < 0) {
            why = ChildTrial::systemMessage(errno);
            ::dlclose(module);
            return nullptr;
        }
        const std::string byDescriptor = "/proc/self/fd/" + std::to_string(copy);
        checked = ::dlopen(byDescriptor.c_str(), RTLD_LAZY | RTLD_NOLOAD);
        if (found == kept.copies.end()) {
            if (checked)
                kept.copies.try_emplace({tried.st_dev, tried.st_ino}, copy);
            else
                ::close(copy);
        }
    }
    // The path must have loaded that very object: an object of the tried
    // file loaded earlier under another name says nothing of what the path
    // loaded now.
    if (checked) ::dlclose(checked);
    if (checked == module) return module;
    ::dlclose(module);
    replaced = true;
    why = earlier ? "another file loaded from that path earlier is in the program; the new one can be "
                    "loaded once the program starts again"
                  : "the file its path loaded is not the one tried";
    return nullptr;
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

AUPrincipalClassFunction ModuleTrial::load(const std::string& path, const std::string& function, std::string& why,
                                           const Environment& environment) {
    [[maybe_unused]] static const int atExit = ::on_exit(endTrialsAtExit, nullptr);
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) {
        why = ChildTrial::systemMessage(errno);
        return nullptr;
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        why = ChildTrial::systemMessage(errno);
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
        Verdict tried = tryInChild(file.get(), path, function, environment);
        // A shortage that lasts as long as the file does is, likely, the file's own doing.
        int& shortages = record->second.shortages;
        shortages = tried.shortOfResources ? shortages + 1 : 0;
        if (shortages >= ModuleTrial::kMostShortages)
            tried = {tried.why + " (its last " + std::to_string(shortages) +
                     " trials ran short of resources; it is tried again once the file changes)"};
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
        if (ChildTrial::quitting()) {
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
    }
    return entryPoint(record->second.module, function, why);
}

std::optional<ChildTrial::Setup> ModuleTrial::trialSetup(int descriptor, const std::string& path,
                                                         const std::string& function, const Environment& environment) {
    const std::optional<std::string> program = ChildTrial::programBeside("orvo-module-trial");
    if (!program) return std::nullopt;
    ChildTrial::Setup setup;
    setup.program = *program;
    setup.arguments = {path, function};
    setup.descriptors = {{descriptor, kModuleDescriptor}};
    setup.limits.time = timeLimit(environment);
    setup.limits.memoryBytes = memoryBytes();
    setup.environment = environment;
    setup.endedByQuit = [path](double seconds) {
        std::printf("AVAudioUnit::WARNING: The module '%s' was still being tried when the program quit, after "
                    "%.1f seconds; its trial is ended.\n",
                    path.c_str(), seconds);
        std::fflush(stdout);
    };
    return setup;
}

void ModuleTrial::endTrials() { endTrialsAndLoads(); }

std::chrono::milliseconds ModuleTrial::timeLimit(const Environment& environment) {
    if (const std::optional<std::string> text = environment.value("ORVO_MODULE_TRIAL_SECONDS")) {
        char* end = nullptr;
        const double seconds = std::strtod(text->c_str(), &end);
        if (end != text->c_str() && *end == '\0' && seconds >= 0.1 && seconds <= 600)
            return std::chrono::milliseconds(std::llround(seconds * 1000));
    }
    return kTimeLimit;
}

std::size_t ModuleTrial::memoryBytes() { return std::size_t(kSanitizedBuild ? 2048 : 1024) << 20; }

std::string ModuleTrial::tookTooMuchMemory() {
    return "it took more than " + std::to_string(memoryBytes() >> 20) + " MB of memory while it was tried";
}

std::size_t ModuleTrial::trialsStarted() {
    Verdicts& shared = verdicts();
    MutexLock lock(shared.mutex);
    return shared.trials;
}
