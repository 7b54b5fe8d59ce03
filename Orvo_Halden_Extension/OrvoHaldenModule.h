#pragma once

// The plug-in module's one exported symbol. Hosts find it with dlsym under
// kOrvoHaldenEntryPoint and call it through AUPrincipalClassEntryPoint; they
// never link the module.

#include "platform/audio/AUAudioUnitFactory.h"

inline constexpr char kOrvoHaldenEntryPoint[] = "OrvoHalden_CreatePrincipalClass";

// A new principal class (the editor's view controller, also the unit factory)
// in *out; false, and *out left alone, when out is null or it cannot be made.
extern "C" bool OrvoHalden_CreatePrincipalClass(AUPrincipalClass* out);
