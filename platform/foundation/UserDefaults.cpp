#include "platform/foundation/UserDefaults.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <system_error>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/UserDefaultsInternal.h"

namespace {

void warn(const std::string& where, const std::string& text) {
    std::printf("UserDefaults::%s : WARNING: %s\n", where.c_str(), text.c_str());
    std::fflush(stdout);
}

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}


// ---- Where the files live -------------------------------------------------

Mutex folderMutex;
std::optional<std::string> folderSetting GUARDED_BY(folderMutex);

std::string defaultFolder() {
    if (std::string folder = environmentValue("ORVO_DEFAULTS_DIR"); !folder.empty()) return folder;
    std::string config = environmentValue("XDG_CONFIG_HOME");
    if (config.empty() || config.front() != '/') { // a relative value is to be ignored
        const std::string home = FileManager::homeDirectoryPath();
        if (home.empty()) return "";
        config = home + "/.config";
    }
    return config + "/Orvo Halden";
}

FileManager& files() { return FileManager::defaultManager(); }

bool makeFolder(const std::string& folder) {
    if (folder.empty()) return false;
    try {
        files().createDirectory(URL::fileURLWithPath(folder), true);
        return true;
    } catch (const NSError&) {
        return false;
    }
}

// One file name per domain: nothing that reaches outside the folder.
bool usableDomainName(std::string_view name) {
    return !name.empty() && name.size() <= 200 && name != "." && name != ".." && name != "NSGlobalDomain" &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

std::string executableName() {
    std::vector<char> buffer(4096);
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) return "orvo";
    const std::string path(buffer.data(), static_cast<std::size_t>(length));
    const std::string name = path.substr(path.rfind('/') + 1);
    return usableDomainName(name) ? name : "orvo";
}

// ---- Files ------------------------------------------------------------------

// Enough to tell that another process has replaced or rewritten the file.
struct FileStamp {
    dev_t device;
    ino_t inode;
    off_t size;
    std::int64_t seconds;
    long nanoseconds;
    bool operator==(const FileStamp&) const = default;
};

std::optional<FileStamp> stampOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return FileStamp{info.st_dev, info.st_ino, info.st_size, info.st_mtim.tv_sec, info.st_mtim.tv_nsec};
}

// ---- Domains ----------------------------------------------------------------

using Dictionary = PropertyList::Dictionary;

// Far above any real settings file (a few kilobytes); a larger one is
// refused unread, and so never replaced.
constexpr std::size_t kLargestDomainFile = std::size_t{16} << 20;

// One domain's values, kept in step with its file when it has one. A file
// that was read and found damaged is moved aside before the first save
// replaces it; one that could not be read at all (permissions, I/O, no regular
// file, too large) is never written over: changes wait in memory and are
// saved once it can be read.
class Domain {
public:
    Domain(std::string name, std::optional<std::string> file)
        : name_(std::move(name)), file_(std::move(file)) {}

    std::optional<PropertyList> find(std::string_view key) {
        MutexLock lock(mutex_);
        catchUp();
        const auto found = values_.find(key);
        return found == values_.end() ? std::nullopt : std::optional(found->second);
    }

    Dictionary values() {
        MutexLock lock(mutex_);
        catchUp();
        return values_;
    }

    void set(std::string_view key, std::optional<PropertyList> value) {
        MutexLock lock(mutex_);
        catchUp();
        Dictionary next = values_;
        if (value)
            next.insert_or_assign(std::string(key), *value);
        else if (next.erase(std::string(key)) == 0 && !unread_)
            return;
        std::vector<std::uint8_t> bytes;
        try {
            bytes = PropertyListSerialization::data(PropertyList(next), PropertyListFormat::xml);
        } catch (const NSError& error) {
            warn("set()", "\"" + std::string(key) + "\" was not stored: " + error.localizedDescription());
            return;
        }
        values_ = std::move(next);
        if (!file_) return;
        if (unread_) {
            unsaved_.insert_or_assign(std::string(key), std::move(value));
            warn("set()", *file_ + " could not be read, so it is not replaced; \"" + std::string(key) +
                              "\" is kept in memory until it can be.");
            return;
        }
        if (save(bytes)) unsaved_.clear();
    }

private:
    // Another process may have saved the file since we last looked; a file
    // that could not be read is tried again on every use.
    void catchUp() REQUIRES(mutex_) {
        if (!file_) return;
        const std::optional<FileStamp> now = stampOf(*file_);
        if (now == stamp_ && !unread_) return;
        // The same file failing again is said once.
        const bool failedBefore = unread_ && now == stamp_;
        stamp_ = now;
        values_.clear();
        unread_ = false;
        damaged_ = false;
        if (now) load(!failedBefore);
        for (const auto& [key, value] : unsaved_) {
            if (value)
                values_.insert_or_assign(key, *value);
            else
                values_.erase(key);
        }
    }

    // Fills values_ from the file. One that was read and found damaged leaves
    // them empty and sets damaged_; one that could not be read sets unread_.
    void load(bool announce) REQUIRES(mutex_) {
        std::optional<std::string> unreadable;
        try {
            PropertyListFormat format{};
            const std::vector<std::uint8_t> bytes =
                files().contents(URL::fileURLWithPath(*file_), kLargestDomainFile);
            try {
                PropertyList read = PropertyListSerialization::propertyList(bytes, format);
                if (Dictionary* values = read.dictionary()) {
                    values_ = std::move(*values);
                } else {
                    damaged_ = true;
                    warn("load()", *file_ + " holds no dictionary; " + name_ + " starts empty.");
                }
            } catch (const NSError& error) {
                damaged_ = true;
                warn("load()", *file_ + " is damaged (" + error.localizedDescription() + "); " + name_ +
                                   " starts empty.");
            }
        } catch (const NSError& error) {
            unreadable = error.localizedDescription();
        } catch (const std::bad_alloc&) {
            unreadable = "out of memory";
        }
        if (!unreadable) return;
        unread_ = true;
        if (announce)
            warn("load()", *file_ + " could not be read (" + *unreadable + "); " + name_ +
                               " keeps its changes in memory and leaves the file as it is.");
    }

    // False when the file could not be written; the values stay in memory.
    bool save(const std::vector<std::uint8_t>& bytes) REQUIRES(mutex_) {
        if (damaged_ && !moveAside()) return false;
        bool saved = true;
        try {
            files().writeAtomically(URL::fileURLWithPath(*file_), bytes);
        } catch (const NSError& error) {
            saved = false;
            warn("save()", *file_ + " could not be written (" + error.localizedDescription() +
                               "); the change is kept in memory only.");
        }
        stamp_ = stampOf(*file_);
        return saved;
    }

    // Moves the damaged file aside, never over another, so that a save
    // cannot take what it held.
    bool moveAside() REQUIRES(mutex_) {
        int error = 0;
        if (const std::optional<std::string> aside = defaults::moveAside(*file_, error)) {
            damaged_ = false;
            warn("save()",
                 "the damaged " + *file_ + " was moved to " + *aside + " before saving " + name_ + ".");
            return true;
        }
        warn("save()", "the damaged " + *file_ + " could not be moved aside (" +
                           std::generic_category().message(error) +
                           "), so it is not replaced; the change is kept in memory only.");
        return false;
    }

    const std::string name_;
    const std::optional<std::string> file_;
    Mutex mutex_;
    Dictionary values_ GUARDED_BY(mutex_);
    std::optional<FileStamp> stamp_ GUARDED_BY(mutex_);
    // The file is there but could not be read: it must not be saved over.
    bool unread_ GUARDED_BY(mutex_) = false;
    // The file was read and is damaged: it goes aside before it is replaced.
    bool damaged_ GUARDED_BY(mutex_) = false;
    // Changes made while the file could not be read (none: a removal), laid
    // over what it holds whenever it is read, until a save takes them.
    std::map<std::string, std::optional<PropertyList>, std::less<>> unsaved_ GUARDED_BY(mutex_);
};

enum class Opening {
    savedOnly,     // a file in the storage folder, or nothing
    savedOrMemory, // a file, or memory when the folder cannot be made
    memory,        // memory, unless the process holds the domain already
};

// The process's domains, by name, for the current storage folder.
class Registry {
public:
    static Registry& shared() {
        static Registry registry;
        return registry;
    }

    std::shared_ptr<Domain> domain(std::string_view name, Opening opening) {
        MutexLock lock(mutex_);
        followFolder();
        if (const auto found = domains_.find(name); found != domains_.end()) return found->second;
        std::optional<std::string> file;
        if (opening != Opening::memory && usableDomainName(name) && makeFolder(folder_))
            file = folder_ + "/" + std::string(name) + ".plist";
        if (!file && opening == Opening::savedOnly) return nullptr;
        if (!file && opening == Opening::savedOrMemory)
            warn("open()", "the folder \"" + folder_ + "\" cannot be made; " + std::string(name) +
                               " lives in memory only.");
        auto domain = std::make_shared<Domain>(std::string(name), std::move(file));
        domains_.emplace(std::string(name), domain);
        return domain;
    }

    void forget() {
        MutexLock lock(mutex_);
        domains_.clear();
    }

private:
    void followFolder() REQUIRES(mutex_) {
        const std::string folder = UserDefaults::storageFolder();
        if (folder == folder_) return;
        folder_ = folder;
        domains_.clear();
    }

    Mutex mutex_;
    std::string folder_ GUARDED_BY(mutex_);
    std::map<std::string, std::shared_ptr<Domain>, std::less<>> domains_ GUARDED_BY(mutex_);
};

std::shared_ptr<Domain> domainNamed(std::string_view name, bool memoryOnly = false) {
    return Registry::shared().domain(name, memoryOnly ? Opening::memory : Opening::savedOrMemory);
}

// ---- Conversions ------------------------------------------------------------

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\n\r");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\n\r") - first + 1);
}

std::optional<double> parseNumber(std::string_view text) {
    text = trimmed(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<double> numberOf(const PropertyList& value) {
    if (const auto integer = value.integer()) return static_cast<double>(*integer);
    if (const auto real = value.real()) return *real;
    if (const auto boolean = value.boolean()) return *boolean ? 1.0 : 0.0;
    if (const std::string* text = value.string()) return parseNumber(*text);
    return std::nullopt;
}

// Truncated toward zero, held within range; NaN gives 0.
std::int64_t integerOf(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 9223372036854775807.0) return INT64_MAX;
    if (value <= -9223372036854775808.0) return INT64_MIN;
    return static_cast<std::int64_t>(value);
}

std::string textOf(double value) {
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return std::string(buffer, end);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::string> percentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        const int high = i + 2 < text.size() ? hexDigit(text[i + 1]) : -1;
        const int low = high >= 0 ? hexDigit(text[i + 2]) : -1;
        if (low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::optional<URL> fileURLFromText(std::string_view text) {
    constexpr std::string_view scheme = "file://";
    if (text.starts_with(scheme)) {
        text.remove_prefix(scheme.size());
        if (text.starts_with("localhost/")) text.remove_prefix(9);
        if (!text.starts_with('/')) return std::nullopt;
        const std::optional<std::string> path = percentDecoded(text);
        if (!path || path->find('\0') != std::string::npos) return std::nullopt;
        return URL::fileURLWithPath(*path);
    }
    if (text.starts_with('/')) return URL::fileURLWithPath(text);
    if (text == "~" || text.starts_with("~/")) {
        const std::string home = FileManager::homeDirectoryPath();
        if (home.empty()) return std::nullopt;
        return URL::fileURLWithPath(home + std::string(text.substr(1)));
    }
    return std::nullopt;
}

} // namespace

namespace defaults {

int renameNoReplace(const char* from, const char* to) {
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

std::optional<std::string> moveAside(const std::string& file, int& error, RenameCall rename) {
    const std::string base = file + ".damaged";
    error = EEXIST;
    for (int n = 1; n <= kMostDamagedCopies && error == EEXIST; ++n) {
        const std::string aside = n == 1 ? base : base + "-" + std::to_string(n);
        if (rename(file.c_str(), aside.c_str()) == 0) return aside;
        error = errno;
        if (error != EINVAL && error != ENOSYS) continue;
        // No such rename here: a second name first, then the old one goes.
        if (::link(file.c_str(), aside.c_str()) == 0) {
            // Should the old name stay, the save replaces it: the copy is kept.
            ::unlink(file.c_str());
            return aside;
        }
        error = errno;
    }
    return std::nullopt;
}

} // namespace defaults

// ---- UserDefaults ---------------------------------------------------------------

UserDefaults& UserDefaults::standard() {
    static UserDefaults defaults(executableName(), false);
    return defaults;
}

std::shared_ptr<UserDefaults> UserDefaults::suite(std::string_view suiteName) {
    if (!usableDomainName(suiteName) || suiteName == standard().domainName()) return nullptr;
    if (!Registry::shared().domain(suiteName, Opening::savedOnly)) return nullptr;
    return std::shared_ptr<UserDefaults>(new UserDefaults(std::string(suiteName), false));
}

std::shared_ptr<UserDefaults> UserDefaults::inMemory(std::string_view name) {
    Registry::shared().domain(name, Opening::memory);
    return std::shared_ptr<UserDefaults>(new UserDefaults(std::string(name), true));
}

void UserDefaults::setStorageFolder(std::optional<std::string> folder) {
    MutexLock lock(folderMutex);
    folderSetting = std::move(folder);
}

std::string UserDefaults::storageFolder() {
    MutexLock lock(folderMutex);
    return folderSetting ? *folderSetting : defaultFolder();
}

void UserDefaults::resetStandardUserDefaults() { Registry::shared().forget(); }

void UserDefaults::addSuiteNamed(std::string_view suiteName) {
    if (!usableDomainName(suiteName) || suiteName == domain_) return;
    MutexLock lock(mutex_);
    if (std::ranges::find(suites_, suiteName) == suites_.end()) suites_.emplace_back(suiteName);
}

void UserDefaults::removeSuiteNamed(std::string_view suiteName) {
    MutexLock lock(mutex_);
    std::erase(suites_, suiteName);
}

std::vector<std::string> UserDefaults::searchList() const {
    MutexLock lock(mutex_);
    return suites_;
}

std::optional<PropertyList> UserDefaults::object(std::string_view key) const {
    if (std::optional<PropertyList> value = domainNamed(domain_, memoryOnly_)->find(key)) return value;
    for (const std::string& name : searchList())
        if (std::optional<PropertyList> value = domainNamed(name)->find(key)) return value;
    return std::nullopt;
}

std::optional<std::string> UserDefaults::string(std::string_view key) const {
    const std::optional<PropertyList> value = object(key);
    if (!value) return std::nullopt;
    if (const std::string* text = value->string()) return *text;
    if (const auto integer = value->integer()) return std::to_string(*integer);
    if (const auto real = value->real()) return textOf(*real);
    if (const auto boolean = value->boolean()) return *boolean ? "1" : "0";
    return std::nullopt;
}

std::int64_t UserDefaults::integer(std::string_view key) const {
    const std::optional<PropertyList> value = object(key);
    if (!value) return 0;
    if (const auto integer = value->integer()) return *integer;
    if (const std::string* text = value->string()) {
        const std::string_view digits = trimmed(*text);
        std::int64_t parsed = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), parsed);
        if (error == std::errc() && end == digits.data() + digits.size()) return parsed;
    }
    return integerOf(numberOf(*value).value_or(0.0));
}

float UserDefaults::floatValue(std::string_view key) const { return static_cast<float>(doubleValue(key)); }

double UserDefaults::doubleValue(std::string_view key) const {
    const std::optional<PropertyList> value = object(key);
    return value ? numberOf(*value).value_or(0.0) : 0.0;
}

bool UserDefaults::boolValue(std::string_view key) const {
    const std::optional<PropertyList> value = object(key);
    if (!value) return false;
    if (const std::string* text = value->string()) {
        const std::string_view word = trimmed(*text);
        if (equalsIgnoringCase(word, "yes") || equalsIgnoringCase(word, "true")) return true;
    }
    const std::optional<double> number = numberOf(*value);
    return number && *number != 0.0;
}

std::optional<URL> UserDefaults::url(std::string_view key) const {
    const std::optional<PropertyList> value = object(key);
    const std::string* text = value ? value->string() : nullptr;
    return text ? fileURLFromText(*text) : std::nullopt;
}

Dictionary UserDefaults::dictionaryRepresentation() const {
    Dictionary all = domainNamed(domain_, memoryOnly_)->values();
    for (const std::string& name : searchList())
        for (auto& [key, value] : domainNamed(name)->values()) all.try_emplace(key, std::move(value));
    return all;
}

void UserDefaults::setObject(std::optional<PropertyList> value, std::string_view key) {
    domainNamed(domain_, memoryOnly_)->set(key, std::move(value));
}

void UserDefaults::setInteger(std::int64_t value, std::string_view key) {
    setObject(PropertyList(value), key);
}

void UserDefaults::setFloat(float value, std::string_view key) { setDouble(value, key); }

void UserDefaults::setDouble(double value, std::string_view key) { setObject(PropertyList(value), key); }

void UserDefaults::setBool(bool value, std::string_view key) { setObject(PropertyList(value), key); }

void UserDefaults::setURL(const std::optional<URL>& value, std::string_view key) {
    setObject(value ? std::optional<PropertyList>(value->absoluteString()) : std::nullopt, key);
}

void UserDefaults::removeObject(std::string_view key) { setObject(std::nullopt, key); }
