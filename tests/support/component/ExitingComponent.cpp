// A component module that ends the program as it is loaded, with status 0,
// as a module that takes a failed check for the end of its work would. Built
// twice: once ending any program, once only a program that is not the trial
// program, as a module that passed its trial may still do in its host. Built
// a third time hanging its host as it loads instead, as one waiting for a
// lock of the host's would.
#include <errno.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/audio/AUAudioUnitFactory.h"

namespace {

__attribute__((constructor)) void endTheProgram() {
#if defined(ORVO_EXIT_OUTSIDE_TRIAL_ONLY) || defined(ORVO_HANG_OUTSIDE_TRIAL)
    if (std::strcmp(program_invocation_short_name, "orvo-module-trial") == 0) return;
#endif
#ifdef ORVO_HANG_OUTSIDE_TRIAL
    for (;;) ::pause();
#else
    std::exit(0);
#endif
}

class NoPrincipalClass : public AUAudioUnitFactory {
public:
    std::shared_ptr<AUAudioUnit> createAudioUnit(const AudioComponentDescription&) override {
        return nullptr;
    }
};

} // namespace

AU_EXPORT_PRINCIPAL_CLASS(AUPrincipalClassFactory, NoPrincipalClass)
