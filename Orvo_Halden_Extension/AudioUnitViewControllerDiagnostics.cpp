// The listing of the unit's parameter tree that a connection prints.

#include <array>
#include <charconv>
#include <cmath>
#include <string_view>

#include "Orvo_Halden_Extension/AudioUnitViewController.h"
#include "Orvo_Halden_Extension/Extensions.h"

namespace {

struct Flag {
    AudioUnitParameterOptions mask;
    const char* label;
};

// Display types are tested as masks too, so a cube (0x30000) also reads as
// square root and squared.
constexpr Flag kFlags[] = {
    {0x10, " - flag_CFNameRelease"},
    {0x2000, " - flag_OmitFromPresets"},
    {0x4000, " - flag_PlotHistory"},
    {0x8000, " - flag_MeterReadOnly"},
    {0x470000, " - flag_DisplayMask"},
    {0x10000, " - flag_DisplaySquareRoot"},
    {0x20000, " - flag_DisplaySquared"},
    {0x30000, " - flag_DisplayCubed"},
    {0x40000, " - flag_DisplayCubeRoot"},
    {0x50000, " - flag_DisplayExponential"},
    {0x100000, " - flag_HasClump"},
    {0x200000, " - flag_ValuesHaveStrings"},
    {0x400000, " - flag_DisplayLogarithmic"},
    {0x800000, " - flag_IsHighResolution"},
    {0x1000000, " - flag_NonRealTime"},
    {0x2000000, " - flag_CanRamp"},
    {0x4000000, " - flag_ExpertMode"},
    {0x8000000, " - flag_HasCFNameString"},
    {0x10000000, " - flag_IsGlobalMeta"},
    {0x20000000, " - flag_IsElementMeta"},
    {0x40000000, " - flag_IsReadable"},
    {0x80000000, " - flag_IsWritable"},
};

constexpr std::array<const char*, 27> kUnitNames = {
    "generic",          "indexed",          "boolean",          "percent",
    "seconds",          "sampleFrames",     "phase",            "rate",
    "hertz",            "cents",            "relativeSemiTones", "midiNoteNumber",
    "midiController",   "decibels",         "linearGain",       "degrees",
    "equalPowerCrossfade", "mixerFaderCurve1", "pan",            "meters",
    "absoluteCents",    "octaves",          "BPM",              "beats",
    "milliseconds",     "ratio",            "customUnit",
};

std::string indent(int level) { return std::string(level > 0 ? static_cast<std::size_t>(level) : 0, '\t'); }

// The shortest text that reads back as the same float; whole numbers keep
// ".0" (120.0), very small and very large ones go to exponent form (1e-05).
std::string floatText(float value) {
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    const float magnitude = std::abs(value);
    const bool exponent = magnitude != 0 && (magnitude < 1e-4f || magnitude >= 16777216.0f);
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                      exponent ? std::chars_format::scientific : std::chars_format::fixed);
    std::string text(buffer, result.ptr);
    if (!exponent && text.find('.') == std::string::npos)
        text += ".0";
    return text;
}

void printValue(int level, std::string_view label, const std::string& value) {
    printLine(indent(level) + std::string(label) + " " + value);
}

}  // namespace

void AudioUnitViewController::extractParameters(const std::string& name, const AUParameterGroup* tree, int level) {
    (void)name;  // passed down the walk; no line shows it
    if (!tree) {
        printLine("ExtensionViewController: The parameter group has no children.");
        return;
    }
    for (const auto& child : tree->children()) {
        const auto* group = dynamic_cast<const AUParameterGroup*>(child.get());
        if (!group)
            continue;  // a parameter straight under this group is not listed
        for (const auto& parameter : group->allParameters()) {
            parameters_.push_back(parameter);
            printParameter(*parameter, level + 1);
        }
        extractParameters(group->displayName(), group, level + 1);
    }
}

void AudioUnitViewController::printParameter(const AUParameter& parameter, int level) {
    const std::string t = indent(level);
    printLine("\n" + t + "ExtensionViewController: Folllowing AU parameter was found... ");
    printValue(level, "- address: ", std::to_string(parameter.address()));
    printValue(level, "- displayName: ", parameter.displayName());
    printValue(level, "- value: ", floatText(parameter.value()));
    printValue(level, "- options: ", "AudioUnitParameterOptions(rawValue: " + std::to_string(parameter.flags()) + ")");
    verboseFlags(parameter.flags(), level);
    printValue(level, "- maxValue: ", floatText(parameter.maxValue()));
    printValue(level, "- minValue: ", floatText(parameter.minValue()));
    printValue(level, "- unit: (type " + std::to_string(parameter.unit()) + ") ", verboseParameterKind(parameter.unit()));
    printValue(level, "- unitName: ", parameter.unitName().value_or(""));
    printValue(level, "- valueStrings: ", describeList(parameter.valueStrings().value_or(std::vector<std::string>{})));
}

void AudioUnitViewController::verboseFlags(AudioUnitParameterOptions flags, int level) {
    const std::string t = indent(level);
    printLine(t + "- The flag value includes the following flags... ");
    for (const Flag& flag : kFlags)
        if ((flags & flag.mask) == flag.mask)
            printLine(t + flag.label);
}

std::string AudioUnitViewController::verboseParameterKind(AudioUnitParameterUnit kind) {
    return kind < kUnitNames.size() ? kUnitNames[kind] : "unknown parameter kind";
}
