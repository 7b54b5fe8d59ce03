#pragma once

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

    // Something (a file, a folder, or what a link points to) is at the path.
    bool fileExists(const std::string& path) const;
    bool fileExists(const std::string& path, bool& isDirectory) const;

    // The matching folders, best first; empty when none can be named. The
    // folders need not exist yet.
    std::vector<URL> urls(SearchPathDirectory directory, SearchPathDomainMask domain) const;

    // Creates the folder, and with `withIntermediateDirectories` every missing
    // parent, in which case a folder already there is no error. Throws NSError.
    void createDirectory(const URL& url, bool withIntermediateDirectories) const;

private:
    FileManager() = default;
};
