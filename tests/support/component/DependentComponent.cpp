// A component module with a library of its own (not one its host has loaded),
// for the tests that break that library. Its run path is a placeholder that
// they point at a folder of theirs (testkit::brokenModule).
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
