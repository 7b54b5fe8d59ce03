// A component module with a library of its own (not one its host has loaded).
// Built twice: with a placeholder run path that the tests breaking that
// library point at a folder of theirs (testkit::brokenModule), and with the
// run path $ORIGIN, as plug-ins ship with their libraries beside them.
#include <memory>

#include "platform/audio/AUAudioUnitFactory.h"

extern "C" int orvo_test_dependency_answer();

namespace {

class DependentPrincipalClass : public AUAudioUnitFactory {
public:
    std::shared_ptr<AUAudioUnit> createAudioUnit(const AudioComponentDescription&) override {
        orvo_test_dependency_answer();
        return nullptr;
    }
};

} // namespace

AU_EXPORT_PRINCIPAL_CLASS(AUPrincipalClassFactory, DependentPrincipalClass)
