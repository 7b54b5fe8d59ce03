#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/URL.h"

// The program's own files. The resources folder is ORVO_RESOURCES_DIR when
// that is set, else the "resources" folder beside the executable, else an
// install's "../share/orvo-halden" from the executable's folder, else none.
class Bundle {
public:
    static Bundle& main();

    std::optional<URL> resourceURL() const;

    // The path of resource `name`.`type` when it is a regular file (or a link to one).
    std::optional<std::string> pathForResource(std::string_view name, std::string_view type) const;
    // The same file as a file URL.
    std::optional<URL> urlForResource(std::string_view name, std::string_view extension) const;

private:
    Bundle() = default;
};
