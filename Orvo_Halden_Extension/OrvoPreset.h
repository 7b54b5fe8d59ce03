#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio/AUParameterTree.h"
#include "platform/audio/AudioComponentDescription.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/URL.h"

// One set of parameter values of the effect with the codes of the component it
// belongs to. Built from the live parameter tree, or read from a state
// dictionary or an ".aupreset" file; turned back into that dictionary.
// Failures are log lines (safeprint); a failed read leaves the model as it was.

// Receives every parameter a model reads, the moment it has been read.
class OrvoPresetDelegate {
public:
    virtual ~OrvoPresetDelegate() = default;
    virtual void onFoundParameter(std::int64_t group, const std::string& identifier, std::uint64_t address,
                                  float value) = 0;
};

class OrvoPreset;
class PresetGroup;

// One parameter: its tree address, key and value.
class PresetParam {
public:
    PresetGroup* group = nullptr; // the group it was read into; the group owns it
    std::uint64_t address = 0;
    std::string identifier = "parameter";
    float value = 0.0f;

    PropertyList::Dictionary toDictionary() const;
    // Fills the parameter and reports it to the reporter's delegate. A known key
    // of the wrong type, a negative address or a value that is no finite float
    // makes the entry unusable: false, nothing reported.
    [[nodiscard]] bool fromDictionary(const PropertyList::Dictionary& dict, const OrvoPreset* reporter);
};

// A named group of parameters, kept in address order once written or read.
class PresetGroup {
public:
    PresetGroup() = default;
    // Its parameters point back at it.
    PresetGroup(const PresetGroup&) = delete;
    PresetGroup& operator=(const PresetGroup&) = delete;

    std::int64_t id = 0; // the number that ends the identifier, set by reading
    std::int64_t count = 0;
    std::string identifier = "group";
    std::vector<PresetParam> params;

    // Sorts params by address first.
    PropertyList::Dictionary toDictionary();
    // Replaces identifier and params; every usable parameter is reported.
    void fromDictionary(const PropertyList::Dictionary& dict, const OrvoPreset* reporter);
    // The identifier's text after its last space as a decimal integer, else 0.
    std::int64_t findGroupNumber() const;
};

// The preset body.
class PresetPatch {
public:
    explicit PresetPatch(OrvoPreset& owner) : parent(&owner) {}
    PresetPatch(const PresetPatch&) = delete;
    PresetPatch& operator=(const PresetPatch&) = delete;

    OrvoPreset* parent; // receives the component codes read
    std::int64_t version = 1;
    std::uint32_t type = 0;
    std::uint32_t manufacturer = fourCharCode("VLMR");
    std::uint32_t subtype = 0;
    std::int64_t number = 0;
    std::string name = "Preset";
    PropertyList::Data data;
    std::vector<std::unique_ptr<PresetGroup>> groups;
    std::string link;

    PropertyList::Dictionary toDictionary();
    // Replaces the groups, overwrites the fields whose keys are present (also in
    // the parent's description) and reports every usable parameter. Entries of
    // the wrong type are skipped with a WARNING.
    void fromDictionary(const PropertyList::Dictionary& dict);
    // Writes toDictionary() as an XML property list, atomically. False on failure.
    [[nodiscard]] bool saveToFile(const URL& url);
    // Reads an XML or binary property list whose root is a dictionary and
    // applies it with fromDictionary. False (and nothing changed or reported)
    // when the file is missing, unreadable, no regular file, larger than 16 MB
    // or no such property list.
    [[nodiscard]] bool loadFromFile(const URL& url);
};

class OrvoPreset {
public:
    // Parameters read are reported to `delegate` while it lives, and to nothing
    // else: each unit reads its own presets, and no model keeps a unit alive.
    explicit OrvoPreset(std::weak_ptr<OrvoPresetDelegate> delegate = {});
    OrvoPreset(const OrvoPreset&) = delete;
    OrvoPreset& operator=(const OrvoPreset&) = delete;

    AudioComponentDescription componentDescription{};

    PresetPatch& patch() { return patch_; }
    const PresetPatch& patch() const { return patch_; }

    void setDescription(const AudioComponentDescription& description, std::int64_t version,
                        const std::string& name);
    // Manufacturer, type and subtype agree; version and flags are not compared.
    [[nodiscard]] bool checkDescription(const AudioComponentDescription& description,
                                        std::int64_t version = 1) const;
    // Appends one group per parameter group below `tree`, depth first, each
    // with every parameter below it. Parameters directly under `tree` are not kept.
    void makeFrom(const AUParameterGroup* tree);
    void makeFrom(const std::optional<PropertyList::Dictionary>& state);
    PropertyList::Dictionary getDictionary() { return patch_.toDictionary(); }
    [[nodiscard]] bool save(const URL& url) { return patch_.saveToFile(url); }
    [[nodiscard]] bool load(const URL& url) { return patch_.loadFromFile(url); }

    // Hands one parameter read to the delegate, if it still lives.
    void foundParameter(std::int64_t group, const std::string& identifier, std::uint64_t address,
                        float value) const;

private:
    std::weak_ptr<OrvoPresetDelegate> delegate_;
    PresetPatch patch_;
};
