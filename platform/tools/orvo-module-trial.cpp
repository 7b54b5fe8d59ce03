// Tries a component module for a host: loads it from its path, provided that
// is the file open on descriptor 3, finds its factory function and calls it,
// in a process of its own, so that whatever crashes, hangs or exits there ends
// this process only. Says it reached its end on descriptor 4 and exits 0 when
// the module loaded; exits ModuleTrial::kRefused after a line saying why when
// it did not, ModuleTrial::kReplaced when the path names another file. A
// crash, a hang or an exit of the module's the host sees for itself.
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/audio/ModuleTrial.h"

int main(int argc, char** argv) {
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
    std::string why;
    bool replaced = false;
    void* module = ModuleTrial::open(ModuleTrial::kModuleDescriptor, path, why, replaced);
    const AUPrincipalClassFunction entry = module ? ModuleTrial::entryPoint(module, function, why) : nullptr;
    if (!entry) {
        std::printf("%s\n", why.c_str());
        std::fflush(stdout);
        ::_exit(replaced ? ModuleTrial::kReplaced : ModuleTrial::kRefused);
    }
    std::shared_ptr<AUAudioUnitFactory> principal;
    try {
        entry(&principal);
    } catch (...) {
        // The host hears of a throw when it calls the factory itself.
    }
    std::fflush(nullptr);
    // Only here, past the factory: a module that ends the process earlier, even with status 0, fails.
    const ssize_t said =
        ::write(ModuleTrial::kMarkerDescriptor, ModuleTrial::kPassed, sizeof ModuleTrial::kPassed - 1);
    // Nothing of the module's runs at exit: what it made is left as it is.
    ::_exit(said == static_cast<ssize_t>(sizeof ModuleTrial::kPassed - 1) ? 0 : ModuleTrial::kRefused);
}
