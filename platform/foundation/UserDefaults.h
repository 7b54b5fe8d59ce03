#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Mutex.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/URL.h"

// Settings by key, kept in domains: the program's own (named after its
// executable) and named suites that several programs share. Each domain is
// one XML property-list file, "<domain>.plist", in the storage folder; every
// write saves its file at once (atomically), and a read notices when another
// process has saved a newer file. A file that is there but cannot be read
// (permissions, I/O, no regular file, above 16 MB) is never replaced: writes
// stay in memory, with a WARNING line, and are saved once it can be read. All stores on one domain in a process share
// its values. Any thread may use any store.
class UserDefaults {
public:
    // The program's own domain, whose reads fall back to the suites added to it.
    static UserDefaults& standard();

    // A store on the named suite, or null when the name cannot name a domain
    // (empty, a path, the program's own domain) or the storage folder cannot
    // be made.
    static std::shared_ptr<UserDefaults> suite(std::string_view suiteName);

    // A store on the process's domain of this name, made in memory (never
    // saved) if the process holds none yet.
    static std::shared_ptr<UserDefaults> inMemory(std::string_view name);

    // The folder of the domain files: the one set here, else $ORVO_DEFAULTS_DIR,
    // else $XDG_CONFIG_HOME/Orvo Halden, else ~/.config/Orvo Halden. Changing
    // it makes the process forget the domains it held.
    static void setStorageFolder(std::optional<std::string> folder);
    static std::string storageFolder();

    // Makes the process forget every domain it holds, so the next use loads
    // the files again. Values that lived only in memory are gone.
    static void resetStandardUserDefaults();

    const std::string& domainName() const { return domain_; }

    // Reads look into this store's own domain first, then into the added
    // suites in the order they were added. Adding a suite twice, or the
    // store's own domain, changes nothing.
    void addSuiteNamed(std::string_view suiteName);
    void removeSuiteNamed(std::string_view suiteName);

    // Reads. A missing key, or a value that does not convert, gives null,
    // 0 or false. Numbers read as text and text that holds a number reads as
    // that number; "YES" and "true" read as true.
    std::optional<PropertyList> object(std::string_view key) const;
    std::optional<std::string> string(std::string_view key) const;
    std::int64_t integer(std::string_view key) const;
    float floatValue(std::string_view key) const;
    double doubleValue(std::string_view key) const;
    bool boolValue(std::string_view key) const;
    // File URL text ("file:///...") or an absolute or "~" path.
    std::optional<URL> url(std::string_view key) const;

    // Every key the reads can see, each with the value they find.
    PropertyList::Dictionary dictionaryRepresentation() const;

    // Writes go to this store's own domain. A null value removes the key. A
    // value no property-list file can hold is refused with a WARNING line and
    // the old value stays.
    void setObject(std::optional<PropertyList> value, std::string_view key);
    void setInteger(std::int64_t value, std::string_view key);
    void setFloat(float value, std::string_view key);
    void setDouble(double value, std::string_view key);
    void setBool(bool value, std::string_view key);
    void setURL(const std::optional<URL>& value, std::string_view key);
    void removeObject(std::string_view key);

private:
    UserDefaults(std::string domain, bool memoryOnly) : domain_(std::move(domain)), memoryOnly_(memoryOnly) {}
    // The added suites, copied under the lock.
    std::vector<std::string> searchList() const;

    const std::string domain_;
    const bool memoryOnly_;
    mutable Mutex mutex_;
    std::vector<std::string> suites_ GUARDED_BY(mutex_);
};
