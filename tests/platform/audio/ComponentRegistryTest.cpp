#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <link.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/AVAudioUnit.h"
#include "platform/audio/AVAudioUnitComponentManager.h"
#include "platform/audio/ModuleTrial.h"
#include "platform/foundation/FileDescriptor.h"
#include "platform/foundation/Thread.h"
#include "tests/support/BrokenModules.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/CopyTally.h"
#include "tests/support/MainQueue.h"
#include "tests/support/NamedPipe.h"
#include "tests/support/Patience.h"
#include "tests/support/StdoutCapture.h"
#include "tests/support/TempFolder.h"
#include "tests/support/ThreadSanitizer.h"

namespace {

constexpr OSType aumf = fourCharCode("aumf"), ohdn = fourCharCode("ohdn"), VLMR = fourCharCode("VLMR");

OSType code(const std::string& text) {
    OSType value = 0;
    for (unsigned char c : text) value = (value << 8) | c;
    return value;
}

std::string manifest(const std::string& type, const std::string& subtype, const std::string& path,
                     const std::string& function = "AUPrincipalClassFactory", int flags = 2) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>name</key><string>VLMR: " +
           subtype +
           "</string>"
           "<key>type</key><string>" +
           type + "</string><key>subtype</key><string>" + subtype +
           "</string>"
           "<key>manufacturer</key><string>VLMR</string><key>flags</key><integer>" +
           std::to_string(flags) + "</integer><key>path</key><string>" + path +
           "</string>"
           "<key>factoryFunction</key><string>" +
           function + "</string></dict></plist>\n";
}

std::size_t openDescriptors() {
    const auto entries = std::filesystem::directory_iterator("/proc/self/fd");
    return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

// Whether the loader has mapped the object at `path` into this process.
bool mappedHere(std::string path) {
    return ::dl_iterate_phdr(
               [](dl_phdr_info* info, std::size_t, void* wanted) {
                   return int(info->dlpi_name && *static_cast<std::string*>(wanted) == info->dlpi_name);
               },
               &path) != 0;
}

// A registry folder of its own, searched before the test component's folder.
// Trials get a minute, so that a busy machine never turns a verdict into a
// time-out; a case that hangs on purpose shortens it (a hang never ends).
class RegistryTest : public ::testing::Test {
protected:
    RegistryTest() {
        testkit::ScopedEnvironment::set("ORVO_COMPONENT_PATH", folder.path().string());
        testkit::ScopedEnvironment::set("ORVO_MODULE_TRIAL_SECONDS", "60");
    }
    static void hangsOnPurpose() { testkit::ScopedEnvironment::set("ORVO_MODULE_TRIAL_SECONDS", "2"); }

    void write(const std::string& name, const std::string& text) { std::ofstream(folder / name) << text; }
    std::vector<std::string> names(const AudioComponentDescription& search) {
        std::vector<std::string> found;
        for (const auto& c :
             AVAudioUnitComponentManager::sharedAudioUnitComponentManager().components(search))
            found.push_back(c->manifestURL().lastPathComponent());
        return found;
    }

    testkit::ScopedEnvironment environment{"ORVO_COMPONENT_PATH", "ORVO_MODULE_TRIAL_SECONDS"};
    testkit::TempFolder folder{"registry"};
    const std::string module = ORVO_TEST_COMPONENT_FILE;
};

TEST_F(RegistryTest, MatchesLikeThePlatformWildcardsAndFlagsUnderTheMask) {
    struct Case {
        AudioComponentDescription search;
        bool matches;
    } cases[] = {
        {{aumf, ohdn, VLMR, 2, 0}, true}, // the host's own search: flags ignored
        {{aumf, ohdn, VLMR, 0, 0}, true},
        {{aumf, ohdn, VLMR, 2, 2}, true},  // flags under the mask agree
        {{aumf, ohdn, VLMR, 0, 2}, false}, // ... or not
        {{aumf, ohdn, VLMR, 1, 1}, false},
        {{0, 0, 0, 0, 0}, true}, // zero codes match anything
        {{aumf, 0, VLMR, 0, 0}, true},
        {{fourCharCode("aufx"), ohdn, VLMR, 0, 0}, false},
        {{aumf, fourCharCode("ohdx"), VLMR, 0, 0}, false},
        {{aumf, ohdn, fourCharCode("VLMX"), 0, 0}, false},
    };
    const AudioComponentDescription component{aumf, ohdn, VLMR, 2, 0};
    for (const auto& c : cases)
        EXPECT_EQ(AVAudioUnitComponentManager::matches(c.search, component), c.matches)
            << c.search.componentFlags << "/" << c.search.componentFlagsMask;
}

TEST_F(RegistryTest, FindsTheBuiltComponentWithItsRegisteredDescription) {
    testkit::ScopedEnvironment::set("ORVO_COMPONENT_PATH", ORVO_TEST_COMPONENTS_DIR);
    const auto found =
        AVAudioUnitComponentManager::sharedAudioUnitComponentManager().components({aumf, ohdn, VLMR, 2, 0});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->name(), "VLMR: Orvo Halden Extension (AU)");
    EXPECT_EQ(found[0]->manufacturerName(), "VLMR");
    EXPECT_EQ(found[0]->audioComponentDescription(), (AudioComponentDescription{aumf, ohdn, VLMR, 2, 0}));
    EXPECT_EQ(found[0]->moduleURL().path(), module);
}

TEST_F(RegistryTest, SkipsOtherSubtypesAndBrokenManifestsInAStableOrder) {
    write("b.plist", manifest("aumf", "ohdn", module));
    write("a.plist", manifest("aumf", "ohdn", module));
    write("c.plist", manifest("aumf", "zzzz", module));
    write("d.plist", "<plist><dict><key>name</key>");  // not XML
    write("e.plist", manifest("aumf", "ohd", module)); // a three-letter code
    write("f.plist", manifest("aumf", "ohdn", ""));    // no module
    write("g.txt", manifest("aumf", "ohdn", module));  // not a manifest
    testkit::StdoutCapture capture;
    const auto first = names({aumf, ohdn, VLMR, 2, 0});
    const auto again = names({aumf, ohdn, VLMR, 2, 0});
    const auto lines = testkit::splitLines(capture.finish());
    EXPECT_EQ(first, (std::vector<std::string>{"a.plist", "b.plist"}));
    EXPECT_EQ(again, first);
    EXPECT_EQ(
        std::count_if(lines.begin(), lines.end(),
                      [](const std::string& l) { return l.starts_with("WARNING: Component manifest"); }),
        6); // d, e and f, twice
}

TEST_F(RegistryTest, TheEnvironmentsFoldersComeFirstInTheirOrder) {
    testkit::TempFolder second{"registry2"};
    std::ofstream(second / "a.plist") << manifest("aumf", "ohdn", module);
    write("z.plist", manifest("aumf", "ohdn", module));
    testkit::ScopedEnvironment::set("ORVO_COMPONENT_PATH",
                                    folder.path().string() + ":" + second.path().string());
    const auto found =
        AVAudioUnitComponentManager::sharedAudioUnitComponentManager().components({aumf, ohdn, VLMR, 0, 0});
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0]->manifestURL().path(), (folder / "z.plist").string());
    EXPECT_EQ(found[1]->manifestURL().path(), (second / "a.plist").string());
}

// Instantiation, its result always on the main queue, and the completion
// handed there whole: the worker keeps no copy of it (nor of what it holds,
// which it would release on its own thread, maybe while the program exits).
struct Outcome {
    bool arrived = false;
    bool onMainThread = false;
    std::shared_ptr<AVAudioUnit> unit;
    std::optional<NSError> error;
    int completionCopies = 0;
};

Outcome instantiate(const AudioComponentDescription& description) {
    Outcome outcome;
    const auto copies = std::make_shared<std::atomic<int>>(0);
    AVAudioUnit::instantiate(description, 0,
                             [&, tally = testkit::CopyTally(copies)](std::shared_ptr<AVAudioUnit> unit,
                                                                     std::optional<NSError> error) {
                                 outcome = {true, Thread::isMainThread(), std::move(unit), std::move(error),
                                            copies->load()};
                             });
    EXPECT_TRUE(testkit::drainMainQueueUntil([&] { return outcome.arrived; }));
    return outcome;
}

TEST_F(RegistryTest, InstantiatesTheFirstMatchThroughItsModuleOnTheMainQueue) {
    write("a.plist", manifest("aumf", "ohdn", module));
    const Outcome outcome = instantiate({aumf, ohdn, VLMR, 2, 0});
    ASSERT_TRUE(outcome.unit) << (outcome.error ? outcome.error->what() : "");
    EXPECT_TRUE(outcome.onMainThread);
    EXPECT_EQ(outcome.completionCopies, 0);
    EXPECT_TRUE(outcome.unit->principalClass());
    EXPECT_EQ(outcome.unit->auAudioUnit()->componentDescription(),
              (AudioComponentDescription{aumf, ohdn, VLMR, 2, 0}));
    EXPECT_EQ(outcome.unit->auAudioUnit()->MIDIOutputNames(),
              std::vector<std::string>{"Orvo Halden MIDI Out"});
}

TEST_F(RegistryTest, EveryFailureArrivesAsAnErrorOnTheMainQueue) {
    struct Case {
        const char* subtype;
        std::string path, function, says;
    } cases[] = {
        {"none", module, "AUPrincipalClassFactory", "No registered component"},
        {"miss", (folder / "missing.so").string(), "AUPrincipalClassFactory", "cannot be loaded"},
        {"nofn", module, "NoSuchFunction", "has no function 'NoSuchFunction'"},
        {"refu", module, "RefusingPrincipalClassFactory", "refuses to make a unit"},
    };
    for (const auto& c : cases) {
        if (std::string(c.subtype) != "none")
            write(std::string(c.subtype) + ".plist", manifest("aumf", c.subtype, c.path, c.function));
        const Outcome outcome = instantiate({aumf, code(c.subtype), VLMR, 0, 0});
        EXPECT_FALSE(outcome.unit) << c.subtype;
        EXPECT_TRUE(outcome.onMainThread);
        EXPECT_EQ(outcome.completionCopies, 0) << c.subtype;
        ASSERT_TRUE(outcome.error) << c.subtype;
        EXPECT_NE(std::string(outcome.error->what()).find(c.says), std::string::npos)
            << outcome.error->what();
    }
}

// Broken installs: each is tried in a child process, since a loader that
// hangs or faults takes the whole program with it. Every one must come back
// as an error, logged with its reason, within the time limit.
TEST_F(RegistryTest, ABrokenModuleIsAnErrorNeverACrashOrAHang) {
    const testkit::NamedPipe pipe(folder / "pipe.so");
    ASSERT_TRUE(pipe.made());
    const auto truncated = folder / "truncated.so";
    std::filesystem::copy_file(module, truncated);
    std::filesystem::resize_file(truncated, 256 * 1024); // inside the loadable segments
    const auto broken = [&](testkit::BrokenModule kind, const std::string& name) {
        std::filesystem::create_directory(folder / name);
        return testkit::brokenModule(kind, folder / name).string();
    };
    const std::string crashed = "while it was tried", hung = "its trial did not end within",
                      ended = "the module ended the process while it was loaded";
    struct Case {
        const char* subtype;
        std::string path, function, says;
        bool loaded = false; // the module went in, and may keep what it opens
    } cases[] = {
        {"fifo", pipe.path().string(), "AUPrincipalClassFactory", "not a regular file"},
        {"trun", truncated.string(), "AUPrincipalClassFactory", "truncated"},
        {"thro", module, "ThrowingPrincipalClassFactory", "no exception", true},
        {"libc", module, "abort", "does not lie in the module"}, // found in a library it links
        {"dtrn", broken(testkit::BrokenModule::truncatedDependency, "dtrn"), "AUPrincipalClassFactory",
         crashed},
        {"dpip", broken(testkit::BrokenModule::pipeDependency, "dpip"), "AUPrincipalClassFactory", hung},
        {"zdyn", broken(testkit::BrokenModule::zeroedDynamicSegment, "zdyn"), "AUPrincipalClassFactory",
         crashed},
        {"arch", broken(testkit::BrokenModule::anotherMachine, "arch"), "AUPrincipalClassFactory",
         "built for another machine"},
        {"hang", module, "HangingPrincipalClassFactory", hung},
        // Status 0 is no pass: the trial never reached its end.
        {"exit", broken(testkit::BrokenModule::exitingAsItLoads, "exit"), "AUPrincipalClassFactory", ended},
        {"quit", module, "QuittingPrincipalClassFactory", ended},
    };
    for (const auto& c : cases) {
        ASSERT_FALSE(c.path.empty()) << c.subtype;
        write(std::string(c.subtype) + ".plist", manifest("aumf", c.subtype, c.path, c.function));
        const testkit::ChildOutcome run = testkit::runInChild(
            [&]() -> std::string {
                if (c.says == hung) hangsOnPurpose();
                const auto descriptors = openDescriptors();
                try {
                    AVAudioUnit::instantiate({aumf, code(c.subtype), VLMR, 0, 0}, 0);
                    return "instantiated";
                } catch (const NSError&) {
                    // The trial leaves nothing behind: no descriptor, no child.
                    if (!c.loaded && openDescriptors() != descriptors) return "a descriptor was left open";
                    if (::waitpid(-1, nullptr, WNOHANG) != -1 || errno != ECHILD) return "a child was left";
                    return "";
                } catch (...) {
                    return "a throw that is no exception came through";
                }
            },
            std::chrono::seconds(120));
        EXPECT_TRUE(run.passed()) << c.subtype << ": " << run.describe();
        EXPECT_NE(run.output.find("AVAudioUnit::ERROR"), std::string::npos)
            << c.subtype << ": " << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << c.subtype << ": " << run.output;
    }
}

// A verdict is kept for the file as it was tried: asked again, the registry
// starts no second trial until the file changes (in time, or for another).
// A module that fails is skipped for the next match. A file put in the place
// of one this process has loaded passes its trial but is not loaded in the
// host, which would get the earlier file by that path, even when the new file
// is in the host already by another path: it is tried again, and what the
// loader was asked about it misleads no later load; searched again and
// again, it holds no more descriptors open.
TEST_F(RegistryTest, AModuleIsTriedOnceUntilItsFileChanges) {
    const auto copy = folder / "copy.so";
    std::filesystem::copy_file(module, copy);
    std::filesystem::create_directory(folder / "zdyn");
    write("good.plist", manifest("aumf", "good", copy.string()));
    const std::string zeroed =
        testkit::brokenModule(testkit::BrokenModule::zeroedDynamicSegment, folder / "zdyn").string();
    write("zdyn.plist", manifest("aumf", "zdyn", zeroed));
    // The broken one first: it is skipped for the next match.
    write("next-a.plist", manifest("aumf", "next", zeroed));
    write("next-b.plist", manifest("aumf", "next", copy.string()));
    // Two broken ones: the reason of each is told.
    write("both-a.plist", manifest("aumf", "both", zeroed));
    write("both-b.plist", manifest("aumf", "both", (folder / "missing.so").string()));
    const auto touch = [&] {
        std::filesystem::last_write_time(copy,
                                         std::filesystem::last_write_time(copy) + std::chrono::seconds(1));
    };
    const auto replace = [&] {
        std::filesystem::copy_file(module, folder / "fresh.so");
        std::filesystem::rename(folder / "fresh.so", copy);
    };
    const auto other = folder / "other.so";
    std::filesystem::copy_file(module, other);
    write("othr.plist", manifest("aumf", "othr", other.string()));
    const auto moveOther = [&] { std::filesystem::rename(other, copy); };
    const auto third = folder / "third.so";
    std::filesystem::copy_file(module, third);
    write("thrd.plist", manifest("aumf", "thrd", third.string()));
    struct Step {
        const char* name;
        const char* subtype;
        std::function<void()> before;
        bool loads;
        std::size_t trials;
    } steps[] = {
        {"first search", "good", {}, true, 1},      {"second search", "good", {}, true, 0},
        {"broken", "zdyn", {}, false, 1},           {"broken again", "zdyn", {}, false, 0},
        {"broken, then good", "next", {}, true, 0}, {"two broken", "both", {}, false, 0},
        {"touched", "good", touch, true, 1},
        {"replaced", "good", replace, false, 1},    {"replaced, again", "good", {}, false, 1},
        {"another", "othr", {}, true, 1},
        {"replaced by one loaded by another path", "good", moveOther, false, 1},
        {"a new one after", "thrd", {}, true, 1},
    };
    for (const Step& step : steps) {
        if (step.before) step.before();
        const std::size_t before = ModuleTrial::trialsStarted();
        std::shared_ptr<AVAudioUnit> unit;
        testkit::StdoutCapture capture; // the broken module's error line
        try {
            unit = AVAudioUnit::instantiate({aumf, code(step.subtype), VLMR, 0, 0}, 0);
        } catch (const NSError&) {
        }
        const std::string output = capture.finish();
        EXPECT_EQ(unit != nullptr, step.loads) << step.name << ": " << output;
        if (std::string(step.name) == "two broken") {
            // Its reason is the crash, told as a sanitizer's build tells it.
            EXPECT_NE(output.find("zeroed.so' cannot be loaded: "), std::string::npos) << output;
            EXPECT_NE(output.find("missing.so' cannot be loaded"), std::string::npos) << output;
        }
        if (std::string(step.name).starts_with("replaced")) {
            EXPECT_NE(output.find("can be loaded once the program starts again"), std::string::npos)
                << output;
        }
        EXPECT_EQ(ModuleTrial::trialsStarted() - before, step.trials) << step.name;
    }
    const std::size_t descriptors = openDescriptors();
    int refused = 0;
    for (int search = 0; search < 3; ++search) {
        testkit::StdoutCapture capture;
        try {
            AVAudioUnit::instantiate({aumf, code("good"), VLMR, 0, 0}, 0);
        } catch (const NSError&) {
            ++refused;
        }
    }
    EXPECT_EQ(refused, 3);
    EXPECT_EQ(openDescriptors(), descriptors);
    DispatchQueue::main().drain();
}

// Modules that pass their trial and are loaded from their own path: one
// whose library lies beside it, found through its $ORIGIN run path, and one
// whose factory leaves a process behind holding the trial's output, which is
// no hang: the trial ended when its program did.
TEST_F(RegistryTest, AModuleThatPassesIsLoadedFromItsOwnPath) {
    std::filesystem::create_directory(folder / "origin");
    const struct {
        const char* name;
        std::string path, function;
    } cases[] = {
        {"library beside it", testkit::moduleWithItsLibrary(folder / "origin").string(),
         "AUPrincipalClassFactory"},
        {"process left behind", module, "ForkingPrincipalClassFactory"},
    };
    for (const auto& c : cases) {
        ASSERT_FALSE(c.path.empty()) << c.name;
        const testkit::ChildOutcome run = testkit::runInChild(
            [&]() -> std::string {
                const std::size_t before = ModuleTrial::trialsStarted();
                std::string why;
                const AUPrincipalClassFunction entry = ModuleTrial::load(c.path, c.function, why);
                if (!entry) return "not loaded: " + why;
                if (ModuleTrial::trialsStarted() - before != 1) return "not tried once";
                Dl_info where{};
                if (!::dladdr(reinterpret_cast<void*>(entry), &where) || !where.dli_fname ||
                    where.dli_fname != c.path)
                    return std::string("loaded as '") + (where.dli_fname ? where.dli_fname : "?") + "'";
                return "";
            },
            std::chrono::seconds(120));
        EXPECT_TRUE(run.passed()) << c.name << ": " << run.describe();
    }
}

// A trial is judged by its own peak of memory. A module that takes more than
// a trial may and gives it back before it returns is refused, whether or not
// a look from outside fell within its peak: here none does, the trial's own
// reading tells alone. A host that has made more resident than a trial may,
// and given it back, still has its own module pass: the trial program
// replaced an address space of the host's when it started, and the kernel's
// count of a process's peak keeps that one's across the exec.
TEST_F(RegistryTest, ATrialIsJudgedByItsOwnMemoryNotItsHostsPeak) {
    // ThreadSanitizer would shadow the gigabytes several times over.
    if (testkit::kThreadSanitizer) GTEST_SKIP() << "gigabytes of shadow under ThreadSanitizer";
    std::filesystem::copy_file(module, folder / "after-a-peak.so");
    std::filesystem::create_directory(folder / "peaking");
    const std::size_t peak = ModuleTrial::memoryBytes() + (std::size_t(64) << 20);
    const struct {
        const char* name;
        std::string path;
        bool hostPeaks;
        std::string says; // the trial's refusal; empty when it passes
    } cases[] = {
        {"a host's peak", (folder / "after-a-peak.so").string(), true, ""},
        {"a module's peak, given back",
         testkit::brokenModule(testkit::BrokenModule::peakingAsItIsMade, folder / "peaking").string(), false,
         ModuleTrial::tookTooMuchMemory()},
    };
    for (const auto& c : cases) {
        ASSERT_FALSE(c.path.empty()) << c.name;
        const testkit::ChildOutcome run = testkit::runInChild(
            [&]() -> std::string {
                if (c.hostPeaks) {
                    // Every page made resident by the kernel as it maps them: a
                    // loop touching them takes seconds under AddressSanitizer.
                    void* memory = ::mmap(nullptr, peak, PROT_READ | PROT_WRITE,
                                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
                    if (memory == MAP_FAILED) return "no memory for the host's peak";
                    ::munmap(memory, peak);
                    rusage usage{};
                    if (::getrusage(RUSAGE_SELF, &usage) != 0 ||
                        std::size_t(usage.ru_maxrss) * 1024 <= ModuleTrial::memoryBytes())
                        return "the host never had its peak";
                }
                testkit::ScopedEnvironment::set("ORVO_TEST_PEAK_BYTES", std::to_string(peak));
                const FileDescriptor file(::open(c.path.c_str(), O_RDONLY | O_CLOEXEC));
                std::optional<ChildTrial::Setup> setup =
                    ModuleTrial::trialSetup(file.get(), c.path, "AUPrincipalClassFactory");
                if (file.get() < 0 || !setup) return "no trial";
                // Nothing watches it from outside: only its own reading can refuse it.
                setup->limits.memoryBytes.reset();
                const ChildTrial::Ending ending = ChildTrial::run(std::move(*setup));
                if (ending.kind != ChildTrial::Ending::Kind::ended || !WIFEXITED(ending.status))
                    return "the trial did not end by itself: " + ending.why + ending.output;
                const int code = WEXITSTATUS(ending.status);
                if (!ending.marker.starts_with(ModuleTrial::kReached)) return "never reached the module";
                if (c.says.empty())
                    return code == 0 && ending.marker.ends_with(ModuleTrial::kPassed) ? ""
                                                                                       : "refused: " + ending.output;
                if (code != ModuleTrial::kRefused || ChildTrial::lastLine(ending.output) != c.says)
                    return "not refused for its memory: status " + std::to_string(code) + ", " + ending.output;
                return "";
            },
            std::chrono::seconds(120));
        EXPECT_TRUE(run.passed()) << c.name << ": " << run.describe();
    }
}

// Only a trial that reached the module and ended by the module's doing gives
// a verdict that is kept. What keeps a trial from running or ending (no
// descriptors left, a trial program that cannot start, a machine too busy to
// finish in time), a loader short of memory, and a kill this program did not
// send (the system's out-of-memory killer) say nothing about the module: the
// next search tries it again. A module that takes more memory than a trial
// may is refused for good, before the system's killer picks a process. A
// module refused is never loaded into the host.
TEST_F(RegistryTest, ATrialThatSaysNothingOfTheModuleIsTriedAgainAtTheNextSearch) {
    enum class Around { nothing, noDescriptors, noTrialProgram, tooBusy };
    // All descriptors but one in use: the module opens, its trial's pipe does not.
    const auto exhaust = [](std::vector<int>& held) {
        rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_cur, 512);
        ::setrlimit(RLIMIT_NOFILE, &limit);
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) held.push_back(fd);
        if (!held.empty()) ::close(held.back()), held.pop_back();
    };
    // The platform library, empty where the trial program's loader looks first.
    const auto breakTrialProgram = [&] {
        Dl_info platform{};
        if (!::dladdr(reinterpret_cast<void*>(&ModuleTrial::timeLimit), &platform) || !platform.dli_fname) return;
        std::filesystem::create_directory(folder / "libraries");
        std::ofstream(folder / "libraries" / std::filesystem::path(platform.dli_fname).filename());
        testkit::ScopedEnvironment::set("LD_LIBRARY_PATH", (folder / "libraries").string());
    };
    const auto copy = [&](const std::string& name) {
        std::filesystem::copy_file(module, folder / name);
        return (folder / name).string();
    };
    std::filesystem::create_directory(folder / "beyond");
    std::filesystem::create_directory(folder / "swelling");
    const struct {
        const char* name;
        std::string path, function;
        Around around;
        std::string firstSays;
        bool kept, loadsAtLast;
    } cases[] = {
        {"no descriptors", copy("descriptors.so"), "AUPrincipalClassFactory", Around::noDescriptors,
         "Too many open files", false, true},
        {"trial program cannot start", copy("program.so"), "AUPrincipalClassFactory", Around::noTrialProgram,
         "before it reached the module", false, true},
        {"time-out", copy("time-out.so"), "HangingPrincipalClassFactory", Around::tooBusy,
         "its trial did not end within", false, false},
        {"loader short of memory",
         testkit::brokenModule(testkit::BrokenModule::beyondAddressSpace, folder / "beyond").string(),
         "AUPrincipalClassFactory", Around::nothing, "failed to map segment", false, false},
        {"killed from outside", copy("killed.so"), "KilledPrincipalClassFactory", Around::nothing,
         "killed by signal 9", false, false},
        // A crash of the module's own is kept, however a sanitizer's build tells it.
        {"its own crash", copy("aborting.so"), "AbortingPrincipalClassFactory", Around::nothing,
         "while it was tried", true, false},
        {"too much memory",
         testkit::brokenModule(testkit::BrokenModule::swellingAsItIsMade, folder / "swelling").string(),
         "AUPrincipalClassFactory", Around::nothing, ModuleTrial::tookTooMuchMemory(), true, false},
    };
    for (const auto& c : cases) {
        ASSERT_FALSE(c.path.empty()) << c.name;
        // ThreadSanitizer shadows every byte a module touches several times
        // over: gigabytes take a busy machine past the trial's minute there,
        // and say nothing of threads.
        if (testkit::kThreadSanitizer && c.path.find("swelling") != std::string::npos) continue;
        const testkit::ChildOutcome run = testkit::runInChild(
            [&]() -> std::string {
                std::string first;
                bool loadedFirst = false;
                {
                    testkit::ScopedEnvironment libraries{"LD_LIBRARY_PATH"};
                    std::vector<int> held;
                    if (c.around == Around::noDescriptors) exhaust(held);
                    if (c.around == Around::noTrialProgram) breakTrialProgram();
                    if (c.around == Around::tooBusy) hangsOnPurpose();
                    loadedFirst = ModuleTrial::load(c.path, c.function, first) != nullptr;
                    for (const int fd : held) ::close(fd);
                }
                if (loadedFirst || first.find(c.firstSays) == std::string::npos) return "first: " + first;
                const std::size_t before = ModuleTrial::trialsStarted();
                std::string second;
                const bool loaded = ModuleTrial::load(c.path, c.function, second) != nullptr;
                if (ModuleTrial::trialsStarted() - before != (c.kept ? 0u : 1u))
                    return std::string(c.kept ? "tried again" : "not tried again") + " after: " + first;
                if (loaded != c.loadsAtLast) return "then: " + (loaded ? "loaded" : second);
                if (c.kept && second != first) return "then: " + second;
                if (!loaded && mappedHere(c.path)) return "refused, yet loaded into this process";
                return "";
            },
            std::chrono::seconds(120));
        EXPECT_TRUE(run.passed()) << c.name << ": " << run.describe();
    }
}

// A trial whose loader runs short of resources is tried again, up to a few
// times for the file as it is: a module whose own segment no address space
// can hold runs every trial short, and would be tried at every search for
// good. Then the loader's reason stands until the file changes. A shortage
// that clears before then (here, its library put right) still gets its retry.
TEST_F(RegistryTest, AModuleWhoseTrialsRunShortOfResourcesIsTriedAFewTimesForItsFile) {
    std::filesystem::create_directory(folder / "beyond");
    std::filesystem::create_directory(folder / "dependency");
    const std::string beyond =
        testkit::brokenModule(testkit::BrokenModule::beyondAddressSpace, folder / "beyond").string();
    const std::string dependent =
        testkit::brokenModule(testkit::BrokenModule::unmappableDependency, folder / "dependency").string();
    ASSERT_FALSE(beyond.empty());
    ASSERT_FALSE(dependent.empty());
    const auto touch = [&] {
        const auto modified = std::filesystem::last_write_time(beyond);
        std::filesystem::last_write_time(beyond, modified + std::chrono::seconds(1));
        return true;
    };
    const auto mend = [&] { return testkit::mendDependency(folder / "dependency"); };
    const struct {
        const char* name;
        const std::string& path;
        std::function<bool()> before;
        bool tried, loads;
    } steps[] = {
        {"first", beyond, {}, true, false},
        {"second", beyond, {}, true, false},
        {"third", beyond, {}, true, false},
        {"fourth: its verdict stands", beyond, {}, false, false},
        {"changed", beyond, touch, true, false},
        {"a library short", dependent, {}, true, false},
        {"short again", dependent, {}, true, false},
        {"then put right", dependent, mend, true, true},
    };
    const testkit::ChildOutcome run = testkit::runInChild(
        [&]() -> std::string {
            std::string failures;
            for (const auto& step : steps) {
                if (step.before && !step.before()) return std::string(step.name) + ": not made";
                const std::size_t before = ModuleTrial::trialsStarted();
                std::string why;
                const bool loaded = ModuleTrial::load(step.path, "AUPrincipalClassFactory", why) != nullptr;
                if ((ModuleTrial::trialsStarted() - before == 1) != step.tried)
                    failures += std::string(step.name) + (step.tried ? ": not tried\n" : ": tried again\n");
                if (loaded != step.loads)
                    failures += std::string(step.name) + ": " + (loaded ? "loaded" : why) + "\n";
                // The loader's reason, whether the trial ran or its verdict stood.
                if (!loaded && why.find("failed to map segment") == std::string::npos)
                    failures += std::string(step.name) + ": " + why + "\n";
            }
            return failures;
        },
        std::chrono::seconds(120));
    EXPECT_TRUE(run.passed()) << run.describe();
}

// A trial ends with its host, however the host ends: a host killed can
// neither end its trial nor wait for it, and a trial left to its own time
// limit would hold on to the module, and to the machine, that long.
TEST_F(RegistryTest, ATrialEndsWithItsHost) {
    std::filesystem::create_directory(folder / "dpip");
    const std::string path =
        testkit::brokenModule(testkit::BrokenModule::pipeDependency, folder / "dpip").string();
    ASSERT_FALSE(path.empty());
    std::filesystem::path library; // the pipe
    for (const auto& entry : std::filesystem::directory_iterator(folder / "dpip"))
        if (entry.is_fifo()) library = entry.path();
    ASSERT_FALSE(library.empty());
    const testkit::ChildOutcome run = testkit::runInChild(
        [&]() -> std::string {
            // The trial, orphaned, comes to this process, which sees how it ends.
            if (::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) return "no subreaper";
            const pid_t host = ::fork();
            if (host == 0) {
                std::string why;
                ModuleTrial::load(path, "AUPrincipalClassFactory", why);
                ::_exit(0);
            }
            // The trial's loader opens the library for reading, and then waits for bytes nobody writes.
            int writer = -1;
            const bool reached = testkit::waitUntil(
                [&] { return (writer = ::open(library.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) >= 0; });
            ::kill(host, SIGKILL);
            ::waitpid(host, nullptr, 0);
            if (!reached) return "the trial never opened the module's library";
            int status = 0;
            const bool ended = testkit::waitUntil([&] { return ::waitpid(-1, &status, WNOHANG) > 0; });
            ::close(writer); // a trial still there reads the library's end, and fails
            if (!ended) {
                ::waitpid(-1, nullptr, 0);
                return "the trial outlived its host";
            }
            if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGKILL)
                return "the trial ended with status " + std::to_string(status) + ", not by its host's end";
            return "";
        },
        std::chrono::seconds(120));
    EXPECT_TRUE(run.passed()) << run.describe();
}

// A module that passed its trial may still end the program as it loads in
// the host, or hang it there, holding the loader's lock that the program's
// exit needs: either way the program ends, and never hangs on its own wait
// for a load under way, which lasts no longer than a trial may take.
TEST_F(RegistryTest, AModuleEndingOrHangingItsHostAsItLoadsLetsTheProgramEnd) {
    const struct {
        const char* name;
        testkit::BrokenModule kind;
        std::string says;
    } cases[] = {
        {"ends it", testkit::BrokenModule::exitingOnceTried, ""},
        {"hangs it", testkit::BrokenModule::hangingOnceTried, "still loading when the program quit"},
    };
    for (const auto& c : cases) {
        std::filesystem::create_directory(folder / c.name);
        const std::string path = testkit::brokenModule(c.kind, folder / c.name);
        ASSERT_FALSE(path.empty()) << c.name;
        const testkit::ChildOutcome run = testkit::runInChild(
            [&]() -> std::string {
                const auto load = [&] {
                    std::string why;
                    ModuleTrial::load(path, "AUPrincipalClassFactory", why);
                    return "the load returned: " + why;
                };
                if (c.kind == testkit::BrokenModule::exitingOnceTried) return load();
                std::thread(load).detach();
                // Mapped in, so past its trial: its constructor runs next, and never returns.
                if (!testkit::waitUntil([&] { return mappedHere(path); })) return "never loaded";
                hangsOnPurpose(); // the wait as the program quits
                ModuleTrial::endTrials();
                std::exit(0);
            },
            std::chrono::seconds(120));
        EXPECT_EQ(run.end, testkit::ChildOutcome::End::exited) << c.name << ": " << run.describe();
        EXPECT_EQ(run.code, 0) << c.name << ": " << run.describe();
        EXPECT_NE(run.output.find(c.says), std::string::npos) << c.name << ": " << run.output;
    }
}

} // namespace
