// A component module as the registry loads it: the effect's unit behind the
// exported entry point, plus entries whose principal classes refuse: with an
// error, by throwing something that is no exception at all, or by never
// being made.
#include <unistd.h>

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

} // namespace

AU_EXPORT_PRINCIPAL_CLASS(AUPrincipalClassFactory, TestPrincipalClass)
AU_EXPORT_PRINCIPAL_CLASS(RefusingPrincipalClassFactory, RefusingPrincipalClass)
AU_EXPORT_PRINCIPAL_CLASS(ThrowingPrincipalClassFactory, ThrowingPrincipalClass)
AU_EXPORT_PRINCIPAL_CLASS(HangingPrincipalClassFactory, HangingPrincipalClass)
