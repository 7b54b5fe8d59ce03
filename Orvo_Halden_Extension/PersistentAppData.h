#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/PropertyList.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/graphics/CGGeometry.h"

// The settings suite the plug-in and the app share.
inline constexpr std::string_view sharedContainer = "group.com.velmora.audio";

// A store on the shared suite, opened anew on every call. When the suite
// cannot be opened its values live in this process's memory (WARNING line).
std::shared_ptr<UserDefaults> sharedUserDefaults();

// The standard store with the shared suite added to its search list: reads
// fall back to the suite, writes stay in the program's own domain.
UserDefaults& combinedUserDefaults();

// Typed settings by key in one of three stores. Creating the first instance
// adds the shared suite to the standard store's search list for the whole
// process, so reads through `defaults` fall back to the suite from then on.
class PersistentAppData {
public:
    enum class Storage : int { defaults = 0, shared = 1, combined = 2 };

    // The Storage of that raw value, if there is one.
    static std::optional<Storage> storage(int rawValue);

    static PersistentAppData& sharedInstance();

    PersistentAppData();

    void setString(std::string_view key, const std::string& value, Storage storage = Storage::defaults);
    std::optional<std::string> getString(std::string_view key, Storage from = Storage::defaults) const;
    void setInteger(std::string_view key, std::int64_t value, Storage storage = Storage::defaults);
    std::int64_t getInteger(std::string_view key, Storage from = Storage::defaults) const;
    void setFloat(std::string_view key, float value, Storage storage = Storage::defaults);
    float getFloat(std::string_view key, Storage from = Storage::defaults) const;
    void setBool(std::string_view key, bool value, Storage storage = Storage::defaults);
    bool getBool(std::string_view key, Storage from = Storage::defaults) const;
    // No URL, or no object, removes the key.
    void setURL(std::string_view key, const std::optional<URL>& value, Storage storage = Storage::defaults);
    std::optional<URL> getUrl(std::string_view key, Storage from = Storage::defaults) const;
    void setObject(std::string_view key, const std::optional<PropertyList>& value,
                   Storage storage = Storage::defaults);
    std::optional<PropertyList> getObject(std::string_view key, Storage from = Storage::defaults) const;

    // Prints every entry of the standard, the shared and the combined store.
    void dumpout() const;

    // "left", "top", "width", "height" of the rectangle as 32-bit floats.
    static PropertyList::Dictionary frameToDictionary(const CGRect& frame);
    // The rectangle saved under the key in `defaults`, or none when there is
    // no dictionary of numbers; a missing entry keeps 0, 0, 100, 100.
    static std::optional<CGRect> dictionaryToFrame(std::string_view key);

private:
    UserDefaults& store(Storage storage) const;

    UserDefaults& defaults;
    const std::shared_ptr<UserDefaults> shared;
    UserDefaults& combined;
};
