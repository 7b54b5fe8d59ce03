#include "Orvo_Halden_Extension/Orvo_Halden_Extension_Parameters.h"

#include <array>
#include <string>

#include "kernel/ParameterAddress.h"

namespace {

constexpr AudioUnitParameterOptions kReadWrite =
    kAudioUnitParameterFlag_IsReadable | kAudioUnitParameterFlag_IsWritable;
constexpr AudioUnitParameterOptions kReadOnly = kAudioUnitParameterFlag_IsReadable;

constexpr int kNoBand = -1;
constexpr std::array<const char*, 4> kBandLabels = {"AP", "LP", "BP", "HP"};

// One row of the table: `count` parameters at consecutive addresses from
// `address`, for the bands from `firstBand` (key and name get the band's
// digit and label), or one parameter without a band.
struct Row {
    const char* key;
    const char* name;
    AUParameterAddress address;
    int firstBand;
    int count;
    AUValue min, max, defaultValue;
    AudioUnitParameterUnit unit;
    AudioUnitParameterOptions flags = kReadWrite;
};

constexpr auto kGeneric = kAudioUnitParameterUnit_Generic;
constexpr auto kIndexed = kAudioUnitParameterUnit_Indexed;
constexpr auto kBoolean = kAudioUnitParameterUnit_Boolean;
constexpr auto kSeconds = kAudioUnitParameterUnit_Seconds;
constexpr auto kBPM = kAudioUnitParameterUnit_BPM;

// In creation order, which is the order of the tree's parameters.
constexpr Row kRows[] = {
    {"kVolumeIn", "Input Volume", kVolumeIn, kNoBand, 1, 0, 1, 0.5f, kGeneric},
    {"kVolumeOut", "Output Volume", kVolumeOut, kNoBand, 1, 0, 1, 0.5f, kGeneric},
    {"kCurrentMode", "Processing Mode", kCurrentMode, kNoBand, 1, 0, 3, 2, kIndexed},
    {"kSplit1", "Band Split 1", kSplit1, kNoBand, 1, 0, 1, 0.5f, kGeneric},
    {"kSplit2", "Band Split 2", kSplit2, kNoBand, 1, 0, 1, 0.75f, kGeneric},
    {"kActive", "Active", kActive1, 1, 3, 0, 1, 1, kBoolean},
    {"kBypass", "Processing Bypass", kBypass1, 1, 3, 0, 1, 0, kBoolean, kReadOnly},
    {"kVolume", "Volume", kVolume1, 1, 3, 0, 1, 0.5f, kGeneric},
    {"kReverbInput", "Reverb Input", kReverbInput0, 0, 4, 0, 1, 0.5f, kGeneric},
    {"kReverbDry", "Reverb Dry", kReverbDry0, 0, 4, 0, 1, 0.5f, kGeneric},
    {"kReverbWet", "Reverb Wet", kReverbWet0, 0, 4, 0, 1, 0.5f, kGeneric},
    {"kReverbSize", "Reverb Size", kReverbSize0, 0, 4, 0, 1, 0.5f, kGeneric},
    {"kReverbDamp", "Reverb Damp", kReverbDamp0, 0, 4, 0, 1, 0.5f, kGeneric},
    {"kReverbWidth", "Reverb Width", kReverbWidth0, 0, 4, 0, 1, 0.5f, kGeneric},
    {"kReverbFreeze", "Reverb Freeze", kReverbFreeze0, 0, 4, 0, 1, 0, kBoolean},
    {"kReverbOutput", "Reverb Output", kReverbOutput0, 0, 4, 0, 1, 0.5f, kGeneric},
    {"kReverbModel", "Reverb Model", kReverbModel0, 0, 4, 0, 3, 2, kIndexed},
    {"kReverbPan", "Reverb Pan", kReverbPan0, 0, 4, 0, 1, 0.5f, kGeneric},
    {"kReverbPreDelay", "PreDelay On/Off", kReverbPreDelay0, 0, 4, 0, 1, 0, kBoolean},
    {"kReverbPreDelayTempo", "PreDelay Tempo", kReverbPreDelayTempo0, 0, 3, 40, 240, 120, kBPM},
    {"kReverbPreDelayTempo", "PreDelay Tempo", kReverbPreDelayTempo3, 3, 1, 4, 240, 120, kBPM},
    {"kReverbPreDelayDivision", "PreDelay Division", kReverbPreDelayDivision0, 0, 4, 0, 19, 9, kIndexed},
    {"kReverbPreDelayFeedback", "PreDelay Feedback", kReverbPreDelayFeedback0, 0, 4, 0, 1, 0, kGeneric},
    {"kReverbPostDelay", "PostDelay On/Off", kReverbPostDelay0, 0, 4, 0, 1, 0, kBoolean},
    {"kReverbPostDelayTempo", "PostDelay Tempo", kReverbPostDelayTempo0, 0, 4, 40, 240, 120, kBPM},
    {"kReverbPostDelayDivision", "PostDelay Division", kReverbPostDelayDivision0, 0, 4, 0, 19, 9, kIndexed},
    {"kReverbPostDelayFeedback", "PostDelay Feedback", kReverbPostDelayFeedback0, 0, 4, 0, 1, 0, kGeneric},
    {"kReverbShift", "Shifter On/Off", kReverbShift0, 0, 4, 0, 1, 0, kBoolean},
    {"kReverbShiftAmount", "Shifter Amount", kReverbShiftAmount0, 0, 4, 0, 1, 0.5f, kGeneric},
    {"kReverbShiftMix", "Shifter Mix", kReverbShiftMix0, 0, 4, 0, 1, 0.33f, kGeneric},
    {"kReverbShiftMode", "Shifter Mode", kReverbShiftMode0, 0, 4, 0, 3, 1, kIndexed},
    {"kReverbShiftConnection", "Shifter Pre/Post", kReverbShiftConnection0, 0, 4, 0, 1, 1, kBoolean},
    {"kDynamicsOn", "Limiter On", kDynamicsOn, kNoBand, 1, 0, 1, 1, kBoolean},
    {"kDynamicsMultiplier", "Compander Multiplier", kDynamicsMultiplier, kNoBand, 1, -1, 1, 0, kGeneric},
    {"kDynamicsAttack", "Dynamics Attack", kDynamicsAttack, kNoBand, 1, 0, 1, 0.2f, kSeconds},
    {"kDynamicsHold", "Dynamics Hold", kDynamicsHold, kNoBand, 1, 0, 1, 0.1f, kSeconds},
    {"kDynamicsRelease", "Dynamics Release", kDynamicsRelease, kNoBand, 1, 0, 1, 0.4f, kSeconds},
};

std::shared_ptr<AUParameter> makeParameter(const Row& row, int index) {
    std::string key = row.key, name = row.name;
    if (row.firstBand != kNoBand) {
        const int band = row.firstBand + index;
        key += std::to_string(band);
        name = std::string(kBandLabels[static_cast<std::size_t>(band)]) + " " + name;
    }
    auto parameter = AUParameterTree::createParameter(
        std::move(key), std::move(name), row.address + static_cast<AUParameterAddress>(index), row.min,
        row.max, row.unit, std::nullopt, row.flags, std::nullopt, {});
    parameter->setValue(row.defaultValue);
    return parameter;
}

} // namespace

Orvo_Halden_Extension_Parameters::Orvo_Halden_Extension_Parameters(
    std::shared_ptr<Orvo_Halden_ExtensionDSPKernelAdapter> kernelAdapter) {
    createParameters();
    connect(kernelAdapter);
}

void Orvo_Halden_Extension_Parameters::createParameters() {
    AUParameterGroup::Children parameters;
    for (const Row& row : kRows)
        for (int i = 0; i < row.count; ++i) parameters.push_back(makeParameter(row, i));
    groups_.push_back(
        AUParameterTree::createGroup("kGlobalParameters", "Orvo Halden Global", std::move(parameters)));
    parameterTree_ = AUParameterTree::createTree({groups_.begin(), groups_.end()});
}

void Orvo_Halden_Extension_Parameters::connect(
    const std::shared_ptr<Orvo_Halden_ExtensionDSPKernelAdapter>& adapter) {
    // The kernel runs with its own defaults until it hears the table's, in creation order.
    for (const auto& parameter : parameterTree_->allParameters())
        adapter->setParameter(*parameter, parameter->value());

    parameterTree_->setImplementorValueObserver(
        [adapter](const AUParameter& parameter, AUValue value) { adapter->setParameter(parameter, value); });
    parameterTree_->setImplementorValueProvider(
        [adapter](const AUParameter& parameter) { return adapter->valueForParameter(parameter); });
    parameterTree_->setImplementorStringFromValueCallback(
        [](const AUParameter& parameter, const AUValue* value) {
            return AUParameter::defaultString(value != nullptr ? *value : parameter.value());
        });
}
