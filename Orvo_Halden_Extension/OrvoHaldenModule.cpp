#include "Orvo_Halden_Extension/OrvoHaldenModule.h"

#include <exception>

#include "Orvo_Halden_Extension/AudioUnitViewController.h"
#include "Orvo_Halden_Extension/Extensions.h"

extern "C" __attribute__((visibility("default"))) bool OrvoHalden_CreatePrincipalClass(AUPrincipalClass* out) {
    if (!out)
        return false;
    // Nothing may leave a C entry point by exception.
    try {
        auto controller = AudioUnitViewController::make();
        out->factory = controller;
        out->viewController = std::move(controller);
        return true;
    } catch (const std::exception& error) {
        printLine(std::string("OrvoHalden_CreatePrincipalClass: ERROR: ") + error.what());
    } catch (...) {
        printLine("OrvoHalden_CreatePrincipalClass: ERROR: unknown failure");
    }
    return false;
}
