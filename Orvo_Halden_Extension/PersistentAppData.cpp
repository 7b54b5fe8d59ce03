#include "Orvo_Halden_Extension/PersistentAppData.h"

#include <charconv>
#include <cstdio>

namespace {

// The standard print: the text and a newline, at once.
void print(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string numberText(double value) {
    char buffer[64];
    return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
}

std::string hexText(const PropertyList::Data& bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t byte : bytes) text += {digits[byte >> 4], digits[byte & 15]};
    return text;
}

// A value as the platform's description writes it.
std::string description(const PropertyList& value) {
    if (const std::string* text = value.string()) return *text;
    if (const auto integer = value.integer()) return std::to_string(*integer);
    if (const auto real = value.real()) return numberText(*real);
    if (const auto boolean = value.boolean()) return *boolean ? "1" : "0";
    if (const auto* bytes = value.data())
        return "{length = " + std::to_string(bytes->size()) + ", bytes = 0x" + hexText(*bytes) + "}";
    if (const auto date = value.date()) return numberText(date->timeIntervalSinceReferenceDate);
    std::string text;
    if (const auto* array = value.array()) {
        for (const PropertyList& element : *array) text += (text.empty() ? "" : ", ") + description(element);
        return "(" + text + ")";
    }
    for (const auto& [key, entry] : *value.dictionary()) text += key + " = " + description(entry) + "; ";
    return "{" + text + "}";
}

void printEntries(const std::string& title, const UserDefaults& store) {
    print("PersistentAppData::dumpout() : UserDefaults." + title + " : ");
    for (const auto& [key, value] : store.dictionaryRepresentation())
        print(key + " = " + description(value) + " \n");
}

std::optional<float> floatOf(const PropertyList& value) {
    if (const auto real = value.real()) return static_cast<float>(*real);
    if (const auto integer = value.integer()) return static_cast<float>(*integer);
    return std::nullopt;
}

} // namespace

std::shared_ptr<UserDefaults> sharedUserDefaults() {
    if (std::shared_ptr<UserDefaults> suite = UserDefaults::suite(sharedContainer)) return suite;
    print("PersistentAppData::shared : WARNING: the suite " + std::string(sharedContainer) +
          " cannot be opened; its settings are kept in memory only.");
    return UserDefaults::inMemory(sharedContainer);
}

UserDefaults& combinedUserDefaults() {
    UserDefaults& standard = UserDefaults::standard();
    standard.addSuiteNamed(sharedContainer);
    return standard;
}

std::optional<PersistentAppData::Storage> PersistentAppData::storage(int rawValue) {
    if (rawValue < 0 || rawValue > 2) return std::nullopt;
    return static_cast<Storage>(rawValue);
}

PersistentAppData& PersistentAppData::sharedInstance() {
    static PersistentAppData instance;
    return instance;
}

PersistentAppData::PersistentAppData()
    : defaults(UserDefaults::standard()), shared(sharedUserDefaults()), combined(combinedUserDefaults()) {}

UserDefaults& PersistentAppData::store(Storage storage) const {
    switch (storage) {
    case Storage::shared:
        return *shared;
    case Storage::combined:
        return combined;
    case Storage::defaults:
        break;
    }
    return defaults;
}

void PersistentAppData::setString(std::string_view key, const std::string& value, Storage storage) {
    store(storage).setObject(PropertyList(value), key);
}

std::optional<std::string> PersistentAppData::getString(std::string_view key, Storage from) const {
    return store(from).string(key);
}

void PersistentAppData::setInteger(std::string_view key, std::int64_t value, Storage storage) {
    store(storage).setInteger(value, key);
}

std::int64_t PersistentAppData::getInteger(std::string_view key, Storage from) const {
    return store(from).integer(key);
}

void PersistentAppData::setFloat(std::string_view key, float value, Storage storage) {
    store(storage).setFloat(value, key);
}

float PersistentAppData::getFloat(std::string_view key, Storage from) const {
    return store(from).floatValue(key);
}

void PersistentAppData::setBool(std::string_view key, bool value, Storage storage) {
    store(storage).setBool(value, key);
}

bool PersistentAppData::getBool(std::string_view key, Storage from) const {
    return store(from).boolValue(key);
}

void PersistentAppData::setURL(std::string_view key, const std::optional<URL>& value, Storage storage) {
    store(storage).setURL(value, key);
}

std::optional<URL> PersistentAppData::getUrl(std::string_view key, Storage from) const {
    return store(from).url(key);
}

void PersistentAppData::setObject(std::string_view key, const std::optional<PropertyList>& value,
                                  Storage storage) {
    store(storage).setObject(value, key);
}

std::optional<PropertyList> PersistentAppData::getObject(std::string_view key, Storage from) const {
    return store(from).object(key);
}

void PersistentAppData::dumpout() const {
    printEntries("standard", UserDefaults::standard());
    printEntries("shared", *sharedUserDefaults());
    printEntries("combined", combinedUserDefaults());
}

PropertyList::Dictionary PersistentAppData::frameToDictionary(const CGRect& frame) {
    PropertyList::Dictionary dictionary;
    dictionary["left"] = static_cast<double>(static_cast<float>(frame.minX()));
    dictionary["top"] = static_cast<double>(static_cast<float>(frame.minY()));
    dictionary["width"] = static_cast<double>(static_cast<float>(frame.width()));
    dictionary["height"] = static_cast<double>(static_cast<float>(frame.height()));
    return dictionary;
}

std::optional<CGRect> PersistentAppData::dictionaryToFrame(std::string_view key) {
    const std::optional<PropertyList> object = sharedInstance().getObject(key, Storage::defaults);
    const PropertyList::Dictionary* dictionary = object ? object->dictionary() : nullptr;
    if (!dictionary) return std::nullopt;
    CGRect frame(0, 0, 100, 100);
    for (const auto& [name, entry] : *dictionary) {
        const std::optional<float> value = floatOf(entry);
        if (!value) return std::nullopt; // not a dictionary of numbers
        if (name == "left")
            frame.origin.x = *value;
        else if (name == "top")
            frame.origin.y = *value;
        else if (name == "width")
            frame.size.width = *value;
        else if (name == "height")
            frame.size.height = *value;
    }
    return frame;
}
