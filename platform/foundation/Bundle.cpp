#include "platform/foundation/Bundle.h"

#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/foundation/FileManager.h"

namespace {
std::optional<std::string> executablePath() {
    std::vector<char> buffer(4096);
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) return std::nullopt;
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}
} // namespace

Bundle& Bundle::main() {
    static Bundle bundle;
    return bundle;
}

std::optional<URL> Bundle::resourceURL() const {
    if (const char* folder = std::getenv("ORVO_RESOURCES_DIR"); folder && *folder)
        return URL::fileURLWithPath(folder);
    const std::optional<std::string> executable = executablePath();
    if (!executable) return std::nullopt;
    const URL folder = URL::fileURLWithPath(*executable).deletingLastPathComponent();
    for (const URL& candidate : {folder.appendingPathComponent("resources"),
                                 folder.deletingLastPathComponent().appendingPathComponent("share/orvo-halden")}) {
        bool isDirectory = false;
        if (FileManager::defaultManager().fileExists(candidate.path(), isDirectory) && isDirectory)
            return candidate;
    }
    return std::nullopt;
}

std::optional<std::string> Bundle::pathForResource(std::string_view name, std::string_view type) const {
    const std::optional<URL> folder = resourceURL();
    if (!folder || name.empty()) return std::nullopt;
    const URL file = folder->appendingPathComponent(name).appendingPathExtension(type);
    // A pipe or a device in its place would hold whoever reads it.
    if (!FileManager::defaultManager().regularFileExists(file.path())) return std::nullopt;
    return file.path();
}

std::optional<URL> Bundle::urlForResource(std::string_view name, std::string_view extension) const {
    const std::optional<std::string> path = pathForResource(name, extension);
    if (!path) return std::nullopt;
    return URL::fileURLWithPath(*path);
}
