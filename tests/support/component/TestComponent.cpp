// A component module as the registry loads it: the effect's unit behind the
// exported entry point, plus entries whose principal classes refuse: with an
// error, by throwing something that is no exception at all, by never being
// made, by ending the program, by aborting it or by killing it; and one that
// leaves a process behind.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "Orvo_Halden_Extension/Orvo_Halden_Extension_AudioUnit.h"
#include "platform/audio/AUAudioUnitFactory.h"
#include "platform/foundation/NSError.h"

namespace {

class TestPrincipalClass : public AUAudioUnitFactory {
public:
    std::shared_ptr<AUAudioUnit> createAudioUnit(const AudioComponentDescription& description) override {
        return Orvo_Halden_Extension_AudioUnit::make(description);
    }
};

class RefusingPrincipalClass : public AUAudioUnitFactory {
public:
    std::shared_ptr<AUAudioUnit> createAudioUnit(const AudioComponentDescription&) override {
        throw NSError(-10875, "The test component refuses to make a unit.");
    }
};

class ThrowingPrincipalClass : public AUAudioUnitFactory {
public:
    std::shared_ptr<AUAudioUnit> createAudioUnit(const AudioComponentDescription&) override { throw 42; }
};

// A factory stuck for good, as one waiting on a lock or a device would be.
class HangingPrincipalClass : public AUAudioUnitFactory {
public:
    HangingPrincipalClass() {
        for (;;) ::pause();
    }
    std::shared_ptr<AUAudioUnit> createAudioUnit(const AudioComponentDescription&) override {
        return nullptr;
    }
};

// A factory that ends the program, with status 0, before it returns.
class QuittingPrincipalClass : public TestPrincipalClass {
public:
    QuittingPrincipalClass() { ::_exit(0); }
};

// A factory whose program crashes, as one failing its own check does.
class AbortingPrincipalClass : public TestPrincipalClass {
public:
    AbortingPrincipalClass() { std::abort(); }
};

// A factory whose program is killed as the system's out-of-memory killer
// kills it: with SIGKILL, which says nothing about the module.
class KilledPrincipalClass : public TestPrincipalClass {
public:
    KilledPrincipalClass() {
        ::kill(::getpid(), SIGKILL);
        for (;;) ::pause();
    }
};

// A factory that leaves a background process holding what its program had
// open (its output among it), as a helper daemon started on first use does;
// it lives until it is ended, or for two minutes at most.
class ForkingPrincipalClass : public TestPrincipalClass {
public:
    ForkingPrincipalClass() {
        if (::fork() == 0) {
            ::alarm(120);
            for (;;) ::pause();
        }
    }
};

} // namespace

AU_EXPORT_PRINCIPAL_CLASS(AUPrincipalClassFactory, TestPrincipalClass)
AU_EXPORT_PRINCIPAL_CLASS(RefusingPrincipalClassFactory, RefusingPrincipalClass)
AU_EXPORT_PRINCIPAL_CLASS(ThrowingPrincipalClassFactory, ThrowingPrincipalClass)
AU_EXPORT_PRINCIPAL_CLASS(HangingPrincipalClassFactory, HangingPrincipalClass)
AU_EXPORT_PRINCIPAL_CLASS(QuittingPrincipalClassFactory, QuittingPrincipalClass)
AU_EXPORT_PRINCIPAL_CLASS(ForkingPrincipalClassFactory, ForkingPrincipalClass)
AU_EXPORT_PRINCIPAL_CLASS(AbortingPrincipalClassFactory, AbortingPrincipalClass)
AU_EXPORT_PRINCIPAL_CLASS(KilledPrincipalClassFactory, KilledPrincipalClass)
