// Tries a component module for a host: loads it from its path, provided that
// is the file open on descriptor 3, finds its factory function and calls it,
// in a process of its own, so that whatever crashes, hangs or exits there ends
// this process only. Says on descriptor 4 when it turns to the module and when
// it reached its end, and exits 0 when the module loaded; exits
// ModuleTrial::kRefused after a line saying why when it did not, or when the
// module took more memory than a trial may (the host watches it grow; this
// sees a peak between two of its looks, in this program's own address space:
// not its host's, which it replaced), kShortOfResources when the loader
// lacked memory or descriptors for it, kReplaced when the path names another
// file. A crash, a hang or an exit of the module's the host sees for itself.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "platform/audio/ModuleTrial.h"
#include "platform/foundation/ProcessInfo.h"

namespace {

// What the loader says when this process, not the module, ran short.
bool shortOfResources(const std::string& why) {
    for (const int error : {ENOMEM, EMFILE, ENFILE})
        if (why.find(std::strerror(error)) != std::string::npos) return true;
    return why.find("failed to map segment") != std::string::npos;
}

// A line saying why for the host, then the end, with `status`.
[[noreturn]] void endSaying(const std::string& why, int status) {
    std::printf("%s\n", why.c_str());
    std::fflush(stdout);
    ::_exit(status);
}

} // namespace

int main(int argc, char** argv) {
    if (!ChildTrial::bindToParent()) return ModuleTrial::kRefused;
    if (argc != 3) {
        std::fputs(
            "usage: orvo-module-trial MODULE-PATH FACTORY-FUNCTION (the module open on descriptor 3)\n",
            stderr);
        return 2;
    }
    // Ends itself should a module hang it after its host is gone; the host's
    // own time limit comes first.
    ::alarm(
        static_cast<unsigned>(2 * std::chrono::ceil<std::chrono::seconds>(ModuleTrial::timeLimit()).count()));
    const std::string path = argv[1], function = argv[2];
    if (!ChildTrial::say(ModuleTrial::kReached)) return ModuleTrial::kRefused;
    std::string why;
    bool replaced = false;
    void* module = ModuleTrial::open(ModuleTrial::kModuleDescriptor, path, why, replaced);
    const AUPrincipalClassFunction entry = module ? ModuleTrial::entryPoint(module, function, why) : nullptr;
    if (!entry)
        endSaying(why, replaced                 ? ModuleTrial::kReplaced
                       : shortOfResources(why) ? ModuleTrial::kShortOfResources
                                               : ModuleTrial::kRefused);
    std::shared_ptr<AUAudioUnitFactory> principal;
    try {
        entry(&principal);
    } catch (...) {
        // The host hears of a throw when it calls the factory itself.
    }
    std::fflush(nullptr);
    // Nothing from /proc passes: the host's looks from outside need it too.
    if (const std::optional<std::size_t> peak = ProcessInfo::processInfo().peakResidentBytes();
        peak && *peak > ModuleTrial::memoryBytes())
        endSaying(ModuleTrial::tookTooMuchMemory(), ModuleTrial::kRefused);
    // Only here, past the factory: a module that ends the process earlier, even with status 0, fails.
    // Nothing of the module's runs at exit: what it made is left as it is.
    ::_exit(ChildTrial::say(ModuleTrial::kPassed) ? 0 : ModuleTrial::kRefused);
}
