#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "platform/audio/AUAudioUnitFactory.h"

// Component modules enter this process only after a child process has loaded
// them, found their factory function and called it, within a time limit: a
// module (or a library it needs) that crashes or hangs the loader, or a
// factory that never returns, then fails its trial instead of taking the host
// with it, as desktop hosts scan their plug-ins. The child is the trial
// program, orvo-module-trial, found in "../bin" from this library (beside the
// app, in the build tree and in an install).
class ModuleTrial {
public:
    // The trial program gets the module open on this descriptor, and exits
    // with kRefused after a line saying why when it cannot load it.
    static constexpr int kModuleDescriptor = 3;
    static constexpr int kRefused = 3;
    static constexpr std::chrono::seconds kTimeLimit{5};

    // The module's factory function `function`, loaded in this process (for
    // good) once the module has passed its trial; null, with the reason in
    // `why`, when it cannot be. The verdict is kept for the file's path,
    // device, inode, size and modification time, so the file is tried again
    // only once it has changed. What is loaded is the very file that was
    // checked, through its descriptor, never whatever the path names later.
    static AUPrincipalClassFunction load(const std::string& path, const std::string& function,
                                         std::string& why);

    // The module open on `descriptor` (shown as `path`) in this process; null,
    // with the loader's reason in `why`, when it cannot be loaded.
    static void* open(int descriptor, const std::string& path, std::string& why);
    // `function` as the module itself defines it: dlsym also searches what the
    // module links against, and a name found there is no entry point of it.
    static AUPrincipalClassFunction entryPoint(void* module, const std::string& function, std::string& why);

    // Ends a trial still under way, saying so, and starts no more: for a
    // program that quits (a trial would otherwise outlive it).
    static void endTrials();

    // How many trials this process has started; a verdict found again starts none.
    static std::size_t trialsStarted();
};
