#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include "platform/audio/AUAudioUnitFactory.h"
#include "platform/foundation/ChildTrial.h"
#include "platform/foundation/Environment.h"

// Component modules enter this process only after a child process has loaded
// them, found their factory function and called it, within a time limit: a
// module (or a library it needs) that crashes, hangs or ends the loader, or a
// factory that never returns, then fails its trial instead of taking the host
// with it, as desktop hosts scan their plug-ins. The child is the trial
// program, orvo-module-trial, found in "../bin" from this library (beside the
// app, in the build tree and in an install).
class ModuleTrial {
public:
    // The trial program gets the module open on kModuleDescriptor. It writes
    // kReached to kMarkerDescriptor as it turns to the module, and kPassed
    // once the factory returned: an exit after the first and without the
    // second is the module's doing, an exit before the first the program's
    // own. It exits with kRefused after a line saying why when it cannot load
    // the module or the module took more memory than memoryBytes(), with
    // kShortOfResources when the loader lacked memory or descriptors for it,
    // with kReplaced when its path names another file than the one it got.
    static constexpr int kModuleDescriptor = 3;
    static constexpr int kMarkerDescriptor = ChildTrial::kMarkerDescriptor;
    static constexpr char kReached[] = "reached the module; ";
    static constexpr char kPassed[] = "reached its end";
    static constexpr int kRefused = 3;
    static constexpr int kReplaced = 4;
    static constexpr int kShortOfResources = 5;
    static constexpr std::chrono::seconds kTimeLimit{5};
    // How many trials in a row may run short of resources for a file as it
    // is before that stands as its verdict: a shortage that clears gets its
    // retries, a module the loader can never map is not tried at every search.
    static constexpr int kMostShortages = 3;

    // How long a trial may take: kTimeLimit, or ORVO_MODULE_TRIAL_SECONDS
    // (0.1 to 600) for a machine too slow or too busy for it, as `environment`
    // (this process's, taken on the calling thread unless carried) has it.
    static std::chrono::milliseconds timeLimit(const Environment& environment = Environment::current());

    // The resident memory a trial may take (more in a sanitizer build, whose
    // shadow and quarantine take memory of their own); a module that takes
    // more is refused, for good, with the reason tookTooMuchMemory() gives.
    static std::size_t memoryBytes();
    static std::string tookTooMuchMemory();

    // The module's factory function `function`, loaded in this process (for
    // good) once the module has passed its trial; null, with the reason in
    // `why`, when it cannot be. Verdicts about the module (it passed, it was
    // refused, it crashed, it took too much memory) are kept for the file's
    // path, device, inode, size and modification time, so the file is tried
    // again only once it has changed; a trial that could not start or did not
    // end in time, and a pass the host then cannot load, are tried again at
    // the next search, and one short of resources up to kMostShortages times.
    // The trial's time limit and its program's environment come from
    // `environment`: a caller that works for another thread carries that
    // thread's, taken when it asked.
    static AUPrincipalClassFunction load(const std::string& path, const std::string& function, std::string& why,
                                         const Environment& environment = Environment::current());

    // The module at `path` loaded in this process by that path (so that its
    // $ORIGIN run path finds the libraries beside it), provided the object
    // loaded is the file open on `descriptor`; null, with the reason in `why`,
    // when it cannot be loaded. `replaced` says the path named another file,
    // or loaded another object: nothing about the file tried.
    static void* open(int descriptor, const std::string& path, std::string& why, bool& replaced);
    // `function` as the module itself defines it: dlsym also searches what the
    // module links against, and a name found there is no entry point of it.
    static AUPrincipalClassFunction entryPoint(void* module, const std::string& function, std::string& why);

    // The trial load() runs on the module open on `descriptor` from `path`,
    // for its factory function `function`, under the limits above, its
    // time limit and its program's environment from `environment`; nothing
    // when the trial program cannot be found.
    static std::optional<ChildTrial::Setup> trialSetup(int descriptor, const std::string& path,
                                                       const std::string& function,
                                                       const Environment& environment = Environment::current());

    // Ends a trial still under way, saying so, and starts no more: for a
    // program that quits (a trial would otherwise outlive it).
    static void endTrials();

    // How many trials this process has started; a verdict found again starts none.
    static std::size_t trialsStarted();
};
