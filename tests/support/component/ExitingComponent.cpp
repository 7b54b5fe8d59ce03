// A component module that ends the program as it is loaded, with status 0,
// as a module that takes a failed check for the end of its work would. Built
// twice: once ending any program, once only a program that is not the trial
// program, as a module that passed its trial may still do in its host.
#include <errno.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/audio/AUAudioUnitFactory.h"

namespace {

__attribute__((constructor)) void endTheProgram() {
#ifdef ORVO_EXIT_OUTSIDE_TRIAL_ONLY
    if (std::strcmp(program_invocation_short_name, "orvo-module-trial") == 0) return;
#endif
    std::exit(0);
}

class NoPrincipalClass : public AUAudioUnitFactory {
public:
    std::shared_ptr<AUAudioUnit> createAudioUnit(const AudioComponentDescription&) override {
        return nullptr;
    }
};

} // namespace

AU_EXPORT_PRINCIPAL_CLASS(AUPrincipalClassFactory, NoPrincipalClass)
