#pragma once

// The plug-in module's one exported symbol, named by the "factoryFunction" of
// its registry manifest. Hosts reach it with dlsym and call it through
// AUPrincipalClassFunction; they never link the module.

#include <memory>

#include "platform/audio/AUAudioUnitFactory.h"

inline constexpr const char* kOrvoHaldenFactoryFunction = "OrvoHalden_CreatePrincipalClass";

// A new principal class in *principal: the editor's view controller, which is
// also the unit factory (dynamic_pointer_cast to AUViewController for the editor).
extern "C" void OrvoHalden_CreatePrincipalClass(std::shared_ptr<AUAudioUnitFactory>* principal);
