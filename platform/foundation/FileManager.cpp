#include "platform/foundation/FileManager.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <new>
#include <system_error>
#include <vector>

#include "platform/foundation/FileDescriptor.h"
#include "platform/foundation/NSError.h"

namespace {
std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// "The file “name” could not be read: Is a directory." The reason is the
// error number's own text unless one is given.
[[noreturn]] void throwFileError(std::string_view kind, const URL& url, std::string_view failure, int code,
                                 std::string reason = {}) {
    if (reason.empty()) reason = std::generic_category().message(code);
    throw NSError(code, std::string("The ").append(kind) + " \u201C" + url.lastPathComponent() +
                            "\u201D could not be " + std::string(failure) + ": " + reason + ".");
}

[[noreturn]] void throwCreationError(const URL& url, int code) {
    throwFileError("folder", url, "created", code);
}

// A new, empty file beside `url`, opened for writing, with a name no one else
// uses; the permissions follow the umask.
FileDescriptor createTemporaryBeside(const URL& url, std::string& path) {
    static std::atomic<unsigned> counter{0};
    const std::string stem = url.deletingLastPathComponent().path() + "/." + url.lastPathComponent() + ".";
    const auto salt =
        static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0;; ++attempt) {
        path = stem + std::to_string(::getpid()) + "-" + std::to_string(salt % 1000000) + "-" +
               std::to_string(counter++);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST || attempt == 100) return FileDescriptor(fd);
    }
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

std::string FileManager::homeDirectoryPath() {
    if (std::string home = environmentValue("HOME"); !home.empty()) return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return "";
}

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

bool FileManager::regularFileExists(const std::string& path) const {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::vector<URL> FileManager::urls(SearchPathDirectory, SearchPathDomainMask) const {
    if (std::string documents = environmentValue("ORVO_DOCUMENTS_DIR"); !documents.empty())
        return {URL::fileURLWithPath(documents)};
    if (std::string home = FileManager::homeDirectoryPath(); !home.empty())
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

std::vector<std::string> FileManager::contentsOfDirectory(const URL& url) const {
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(url.path().c_str()), ::closedir);
    if (!folder) throwFileError("folder", url, "listed", errno);
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(folder.get())) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    if (errno != 0) throwFileError("folder", url, "listed", errno);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::uint8_t> FileManager::contents(const URL& url, std::size_t maxBytes) const {
    // Opening a pipe for reading would wait for a writer; not waiting lets the
    // type check below refuse it.
    FileDescriptor file(::open(url.path().c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0) throwFileError("file", url, "read", errno);
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) throwFileError("file", url, "read", errno);
    if (S_ISDIR(info.st_mode)) throwFileError("file", url, "read", EISDIR);
    if (!S_ISREG(info.st_mode)) throwFileError("file", url, "read", EINVAL, "It is not a regular file");
    if (static_cast<std::uintmax_t>(std::max<off_t>(info.st_size, 0)) > maxBytes)
        throwFileError("file", url, "read", EFBIG);
    // The size is only a hint: some files grow or do not know it.
    std::vector<std::uint8_t> bytes;
    try {
        bytes.reserve(static_cast<std::size_t>(std::max<off_t>(info.st_size, 0)) + 1);
        std::uint8_t buffer[65536];
        for (;;) {
            const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) throwFileError("file", url, "read", errno);
            if (got == 0) return bytes;
            if (static_cast<std::size_t>(got) > maxBytes - bytes.size()) throwFileError("file", url, "read", EFBIG);
            bytes.insert(bytes.end(), buffer, buffer + got);
        }
    } catch (const std::bad_alloc&) {
        throwFileError("file", url, "read", ENOMEM);
    }
}

void FileManager::writeAtomically(const URL& url, std::span<const std::uint8_t> bytes) const {
    std::string temporary;
    FileDescriptor file = createTemporaryBeside(url, temporary);
    if (file.get() < 0) throwFileError("file", url, "saved", errno);
    struct stat existing {};
    int error = 0;
    if (::stat(url.path().c_str(), &existing) == 0 && S_ISREG(existing.st_mode) &&
        ::fchmod(file.get(), existing.st_mode & 07777) != 0)
        error = errno;
    if (!error) error = writeAll(file.get(), bytes);
    if (!error && ::fsync(file.get()) != 0) error = errno;
    if (const int closeError = file.close(); !error) error = closeError;
    if (!error && ::rename(temporary.c_str(), url.path().c_str()) != 0) error = errno;
    if (error) {
        ::unlink(temporary.c_str());
        throwFileError("file", url, "saved", error);
    }
}

std::optional<URL> FileManager::presetsDirectory() const {
    const std::vector<URL> documents =
        urls(SearchPathDirectory::documentDirectory, SearchPathDomainMask::userDomainMask);
    if (documents.empty()) return std::nullopt;
    return documents.front().appendingPathComponent("Presets");
}
