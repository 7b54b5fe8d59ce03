#include "Orvo_Halden_Extension/OrvoPreset.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <limits>
#include <new>
#include <system_error>

#include "Orvo_Halden_Extension/Extensions.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/NSError.h"

namespace {

using Dictionary = PropertyList::Dictionary;

constexpr double kTwoTo63 = 9223372036854775808.0;

// Far above any real preset (a few kilobytes); a larger file is refused unread.
constexpr std::size_t kLargestPresetFile = std::size_t{16} << 20;

void warnSkipped(const std::string& key) {
    safeprint("OrvoPreset::fromDictionary() : WARNING: The entry '" + key +
              "' is not usable and is skipped.");
}

// An integer, or a real that holds one exactly.
std::optional<std::int64_t> wholeNumber(const PropertyList& value) {
    if (auto integer = value.integer()) return integer;
    const auto real = value.real();
    if (!real || !std::isfinite(*real) || std::trunc(*real) != *real || *real < -kTwoTo63 ||
        *real >= kTwoTo63)
        return std::nullopt;
    return static_cast<std::int64_t>(*real);
}

std::optional<std::uint32_t> fourCharCodeOf(const PropertyList& value) {
    const auto number = wholeNumber(value);
    if (!number || *number < 0 || *number > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return static_cast<std::uint32_t>(*number);
}

// Any number, truncated towards zero; nothing negative or beyond 63 bits.
std::optional<std::uint64_t> addressOf(const PropertyList& value) {
    if (auto integer = value.integer()) {
        if (*integer < 0) return std::nullopt;
        return static_cast<std::uint64_t>(*integer);
    }
    const auto real = value.real();
    if (!real || !(*real >= 0.0 && *real < kTwoTo63)) return std::nullopt;
    return static_cast<std::uint64_t>(*real);
}

// Any number that stays finite as a float.
std::optional<float> floatOf(const PropertyList& value) {
    std::optional<double> number = value.real();
    if (auto integer = value.integer()) number = static_cast<double>(*integer);
    if (!number) return std::nullopt;
    const auto single = static_cast<float>(*number);
    if (!std::isfinite(single)) return std::nullopt;
    return single;
}

// Assigns the converted value when it converts; false otherwise.
template <class T, class Convert> bool readInto(T& field, const PropertyList& value, Convert convert) {
    auto converted = convert(value);
    if (!converted) return false;
    field = std::move(*converted);
    return true;
}

std::optional<std::string> textOf(const PropertyList& value) {
    if (const auto* text = value.string()) return *text;
    return std::nullopt;
}

std::optional<PropertyList::Data> bytesOf(const PropertyList& value) {
    if (const auto* bytes = value.data()) return *bytes;
    return std::nullopt;
}

bool contains(const std::string& key, std::string_view word) { return key.find(word) != std::string::npos; }

void sortByAddress(std::vector<PresetParam>& params) {
    std::stable_sort(params.begin(), params.end(),
                     [](const PresetParam& a, const PresetParam& b) { return a.address < b.address; });
}

std::string numbered(const char* word, std::size_t index) {
    return word + std::string(" ") + std::to_string(index);
}

} // namespace

// ---------------------------------------------------------------- PresetParam

PropertyList::Dictionary PresetParam::toDictionary() const {
    return {{"address", static_cast<std::int64_t>(address)},
            {"identifier", identifier},
            {"value", static_cast<double>(value)}};
}

bool PresetParam::fromDictionary(const Dictionary& dict, const OrvoPreset* reporter) {
    for (const auto& [key, entry] : dict) {
        bool usable = true;
        if (key == "identifier")
            usable = readInto(identifier, entry, textOf);
        else if (key == "address")
            usable = readInto(address, entry, addressOf);
        else if (key == "value")
            usable = readInto(value, entry, floatOf);
        if (!usable) return false;
    }
    if (reporter) reporter->foundParameter(group ? group->id : 0, identifier, address, value);
    return true;
}

// ---------------------------------------------------------------- PresetGroup

PropertyList::Dictionary PresetGroup::toDictionary() {
    sortByAddress(params);
    Dictionary dict{{"identifier", identifier}, {"count", static_cast<std::int64_t>(params.size())}};
    for (std::size_t i = 0; i < params.size(); ++i)
        dict.emplace(numbered("param", i), params[i].toDictionary());
    return dict;
}

void PresetGroup::fromDictionary(const Dictionary& dict, const OrvoPreset* reporter) {
    params.clear();
    for (const auto& [key, value] : dict) {
        if (key == "identifier") {
            if (!readInto(identifier, value, textOf)) {
                warnSkipped(key);
                continue;
            }
            id = findGroupNumber();
        } else if (contains(key, "param")) {
            PresetParam param;
            param.group = this;
            const Dictionary* entries = value.dictionary();
            if (!entries || !param.fromDictionary(*entries, reporter)) {
                warnSkipped(key);
                continue;
            }
            params.push_back(std::move(param));
        }
    }
    sortByAddress(params);
}

std::int64_t PresetGroup::findGroupNumber() const {
    const std::size_t space = identifier.rfind(' ');
    std::string_view piece = identifier;
    if (space != std::string::npos) piece.remove_prefix(space + 1);
    // from_chars takes a minus sign but no plus sign.
    if (piece.size() > 1 && piece.front() == '+' && piece[1] != '-') piece.remove_prefix(1);
    std::int64_t number = 0;
    const auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), number);
    if (piece.empty() || error != std::errc{} || end != piece.data() + piece.size()) return 0;
    return number;
}

// ---------------------------------------------------------------- PresetPatch

PropertyList::Dictionary PresetPatch::toDictionary() {
    Dictionary dict{{"version", version},
                    {"type", type},
                    {"manufacturer", manufacturer},
                    {"subtype", subtype},
                    {"number", number},
                    {"name", name},
                    {"data", data},
                    {"count", static_cast<std::int64_t>(groups.size())}};
    for (std::size_t i = 0; i < groups.size(); ++i)
        dict.emplace(numbered("group", i), groups[i]->toDictionary());
    dict.emplace("link", link);
    return dict;
}

void PresetPatch::fromDictionary(const Dictionary& dict) {
    groups.clear();
    AudioComponentDescription& description = parent->componentDescription;
    for (const auto& [key, value] : dict) {
        bool usable = true;
        if (key == "version") {
            usable = readInto(version, value, wholeNumber);
        } else if (key == "type") {
            usable = readInto(type, value, fourCharCodeOf);
            if (usable) description.componentType = type;
        } else if (key == "manufacturer") {
            usable = readInto(manufacturer, value, fourCharCodeOf);
            if (usable) description.componentManufacturer = manufacturer;
        } else if (key == "subtype") {
            usable = readInto(subtype, value, fourCharCodeOf);
            if (usable) description.componentSubType = subtype;
        } else if (key == "number") {
            usable = readInto(number, value, wholeNumber);
        } else if (key == "name") {
            usable = readInto(name, value, textOf);
        } else if (key == "data") {
            usable = readInto(data, value, bytesOf);
        } else if (contains(key, "group")) {
            const Dictionary* entries = value.dictionary();
            usable = entries != nullptr;
            if (usable) {
                groups.push_back(std::make_unique<PresetGroup>());
                groups.back()->fromDictionary(*entries, parent);
            }
        } else if (key == "link") {
            usable = readInto(link, value, textOf);
        }
        if (!usable) warnSkipped(key);
    }
}

bool PresetPatch::saveToFile(const URL& url) {
    std::vector<std::uint8_t> bytes;
    try {
        bytes = PropertyListSerialization::data(toDictionary(), PropertyListFormat::xml);
    } catch (const NSError&) {
        safeprint("OrvoPreset::loadFromFile() : ERROR: Could not serialize.");
        return false;
    }
    try {
        FileManager::defaultManager().writeAtomically(url, bytes);
    } catch (const NSError& error) {
        safeprint("OrvoPreset::loadFromFile() : ERROR: Could not save the file '" + url.path() +
                  "'. (Code=" + std::to_string(error.code()) + " \"" + error.localizedDescription() + "\")");
        return false;
    }
    return true;
}

bool PresetPatch::loadFromFile(const URL& url) {
    const FileManager& files = FileManager::defaultManager();
    if (!files.fileExists(url.path())) {
        safeprint("OrvoPreset::loadFromFile() : ERROR: The path " + url.path() + " does not exist.");
        return false;
    }
    std::vector<std::uint8_t> bytes;
    try {
        bytes = files.contents(url, kLargestPresetFile);
    } catch (const NSError& error) {
        if (error.code() == EFBIG)
            safeprint("OrvoPreset::loadFromFile() : ERROR: The file '" + url.path() + "' is larger than " +
                      std::to_string(kLargestPresetFile) + " bytes.");
        else
            safeprint("OrvoPreset::loadFromFile() : ERROR: The file is not readable.");
        return false;
    }
    PropertyListFormat format = PropertyListFormat::xml;
    PropertyList root;
    const auto couldNotRead = [&](const std::string& reason) {
        safeprint("OrvoPreset::loadFromFile() : ERROR: Could not read the file '" + url.path() + "': " + reason +
                  ", Format: " + std::string(description(format)));
        return false;
    };
    try {
        root = PropertyListSerialization::propertyList(bytes, format);
    } catch (const NSError& error) {
        return couldNotRead(error.localizedDescription());
    } catch (const std::bad_alloc&) {
        return couldNotRead(std::generic_category().message(ENOMEM));
    }
    const Dictionary* dict = root.dictionary();
    if (!dict) {
        safeprint("OrvoPreset::loadFromFile() : ERROR: The file '" + url.path() + "' holds no dictionary.");
        return false;
    }
    fromDictionary(*dict);
    return true;
}

// ---------------------------------------------------------------- OrvoPreset

OrvoPreset::OrvoPreset(std::weak_ptr<OrvoPresetDelegate> delegate)
    : delegate_(std::move(delegate)), patch_(*this) {}

void OrvoPreset::setDescription(const AudioComponentDescription& description, std::int64_t version,
                                const std::string& name) {
    componentDescription = description;
    patch_.type = description.componentType;
    patch_.manufacturer = description.componentManufacturer;
    patch_.subtype = description.componentSubType;
    patch_.version = version;
    patch_.name = name;
}

bool OrvoPreset::checkDescription(const AudioComponentDescription& description, std::int64_t) const {
    return componentDescription.componentManufacturer == description.componentManufacturer &&
           componentDescription.componentType == description.componentType &&
           componentDescription.componentSubType == description.componentSubType;
}

void OrvoPreset::makeFrom(const AUParameterGroup* tree) {
    if (!tree) {
        safeprint("OrvoPreset::makeFrom() : The parameter group has no children.");
        return;
    }
    for (const auto& child : tree->children()) {
        const auto* childGroup = dynamic_cast<const AUParameterGroup*>(child.get());
        if (!childGroup) continue;
        auto group = std::make_unique<PresetGroup>();
        group->identifier = childGroup->identifier();
        for (const auto& parameter : childGroup->allParameters())
            group->params.push_back(
                {nullptr, parameter->address(), parameter->identifier(), parameter->value()});
        patch_.groups.push_back(std::move(group));
        makeFrom(childGroup);
    }
}

void OrvoPreset::makeFrom(const std::optional<PropertyList::Dictionary>& state) {
    if (state) patch_.fromDictionary(*state);
}

void OrvoPreset::foundParameter(std::int64_t group, const std::string& identifier, std::uint64_t address,
                                float value) const {
    if (const auto delegate = delegate_.lock()) delegate->onFoundParameter(group, identifier, address, value);
}
