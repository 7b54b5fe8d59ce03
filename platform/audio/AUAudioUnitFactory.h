#pragma once

#include <memory>

#include "platform/audio/AUAudioUnit.h"

// A component module's principal class: what the host asks for the unit.
class AUAudioUnitFactory {
public:
    virtual ~AUAudioUnitFactory() = default;
    // The unit for the description; throws (NSError or any std::exception) when it cannot.
    virtual std::shared_ptr<AUAudioUnit> createAudioUnit(const AudioComponentDescription& description) = 0;
};

// The one function a component module exports, named by its manifest's
// "factoryFunction": it makes the principal class. Exceptions may pass.
using AUPrincipalClassFunction = void (*)(std::shared_ptr<AUAudioUnitFactory>* principal);

inline constexpr const char* kAUDefaultFactoryFunction = "AUPrincipalClassFactory";

// Exports `function` making a `PrincipalClass` (default-constructible, derived
// from AUAudioUnitFactory), in a module's source file.
#define AU_EXPORT_PRINCIPAL_CLASS(function, PrincipalClass)                                                  \
    extern "C" __attribute__((visibility("default"))) void function(                                         \
        std::shared_ptr<AUAudioUnitFactory>* principal) {                                                    \
        *principal = std::make_shared<PrincipalClass>();                                                     \
    }
