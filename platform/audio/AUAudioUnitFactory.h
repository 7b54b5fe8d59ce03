#pragma once

#include <memory>

#include "platform/audio/AUAudioUnit.h"
#include "platform/audio/AudioComponentDescription.h"

class AUViewController;

// What a plug-in offers hosts: new units of its component.
class AUAudioUnitFactory {
public:
    virtual ~AUAudioUnitFactory() = default;
    // A new unit; throws NSError when it cannot be made.
    virtual std::shared_ptr<AUAudioUnit> createAudioUnit(const AudioComponentDescription& componentDescription) = 0;
};

// A plug-in module's principal class, as its entry point hands it to a host:
// one object, seen as the factory of units and as the editor's controller.
struct AUPrincipalClass {
    std::shared_ptr<AUAudioUnitFactory> factory;
    std::shared_ptr<AUViewController> viewController;
};

// The shape of a module's exported entry point: fills *out and answers true,
// or leaves it empty and answers false. Call it on the main thread. A module
// must stay loaded while anything it made is alive.
using AUPrincipalClassEntryPoint = bool (*)(AUPrincipalClass* out);
