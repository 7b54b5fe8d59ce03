#include "platform/foundation/FileManager.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "platform/foundation/NSError.h"

namespace {
std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string homeDirectory() {
    if (std::string home = environmentValue("HOME"); !home.empty()) return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return "";
}

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

[[noreturn]] void throwCreationError(const URL& url, int code) {
    throw NSError(code, "The folder \u201C" + url.lastPathComponent() +
                            "\u201D could not be created: " + std::generic_category().message(code) + ".");
}

// One mkdir; with `folderMayExist` a folder already there counts as done, and
// anything else there as "not a directory".
void makeOneLevel(const URL& url, const std::string& path, bool folderMayExist) {
    if (folderMayExist && isDirectory(path)) return;
    if (::mkdir(path.c_str(), 0777) == 0) return;
    const int code = errno;
    if (code != EEXIST || !folderMayExist) throwCreationError(url, code);
    if (!isDirectory(path)) throwCreationError(url, ENOTDIR); // else made meanwhile by someone else
}
} // namespace

FileManager& FileManager::defaultManager() {
    static FileManager manager;
    return manager;
}

bool FileManager::fileExists(const std::string& path) const {
    bool isDirectory = false;
    return fileExists(path, isDirectory);
}

bool FileManager::fileExists(const std::string& path, bool& isDirectory) const {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0) return false;
    isDirectory = S_ISDIR(info.st_mode);
    return true;
}

std::vector<URL> FileManager::urls(SearchPathDirectory, SearchPathDomainMask) const {
    if (std::string documents = environmentValue("ORVO_DOCUMENTS_DIR"); !documents.empty())
        return {URL::fileURLWithPath(documents)};
    if (std::string home = homeDirectory(); !home.empty())
        return {URL::fileURLWithPath(home).appendingPathComponent("Documents")};
    return {};
}

void FileManager::createDirectory(const URL& url, bool withIntermediateDirectories) const {
    const std::string& path = url.path();
    if (!withIntermediateDirectories) {
        makeOneLevel(url, path, false);
        return;
    }
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        makeOneLevel(url, path.substr(0, slash), true);
    makeOneLevel(url, path, true);
}
