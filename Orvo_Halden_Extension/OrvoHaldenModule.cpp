#include "Orvo_Halden_Extension/OrvoHaldenModule.h"

#include "Orvo_Halden_Extension/AudioUnitViewController.h"

AU_EXPORT_PRINCIPAL_CLASS(OrvoHalden_CreatePrincipalClass, AudioUnitViewController)
