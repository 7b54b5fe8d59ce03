#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/foundation/URL.h"

enum class SearchPathDirectory { documentDirectory };
enum class SearchPathDomainMask { userDomainMask };

// The file system as the code asks it. The user's documents folder is
// $HOME/Documents unless ORVO_DOCUMENTS_DIR names another folder (tests
// always point it at a temporary one).
class FileManager {
public:
    static FileManager& defaultManager();

    // The user's home folder: $HOME, else the account's; empty when neither is known.
    static std::string homeDirectoryPath();

    // Something (a file, a folder, or what a link points to) is at the path.
    bool fileExists(const std::string& path) const;
    bool fileExists(const std::string& path, bool& isDirectory) const;
    // A regular file, or a link to one, is at the path: no folder, pipe or device.
    bool regularFileExists(const std::string& path) const;

    // The matching folders, best first; empty when none can be named. The
    // folders need not exist yet.
    std::vector<URL> urls(SearchPathDirectory directory, SearchPathDomainMask domain) const;

    // Creates the folder, and with `withIntermediateDirectories` every missing
    // parent, in which case a folder already there is no error. Throws NSError.
    void createDirectory(const URL& url, bool withIntermediateDirectories) const;

    // The names of the folder's entries, without "." and "..", sorted by their
    // bytes so every machine lists them alike. Throws NSError.
    std::vector<std::string> contentsOfDirectory(const URL& url) const;

    // The whole file, at most `maxBytes` long. Only a regular file (or a link
    // to one) is read, opened without waiting, so that a pipe or a device can
    // neither stall nor flood the caller. Throws NSError when it is missing,
    // unreadable, a folder (EISDIR), anything else but a regular file (EINVAL),
    // longer than `maxBytes` (EFBIG) or more than memory can hold (ENOMEM).
    std::vector<std::uint8_t> contents(const URL& url, std::size_t maxBytes) const;

    // Writes a temporary file in the same folder, then renames it over the
    // target, so readers see the old file or the new one, never a part. A file
    // replaced keeps its permissions. Throws NSError.
    void writeAtomically(const URL& url, std::span<const std::uint8_t> bytes) const;

    // The "Presets" folder of the documents folder; none when there is no
    // documents folder. It need not exist yet.
    std::optional<URL> presetsDirectory() const;

private:
    FileManager() = default;
};
