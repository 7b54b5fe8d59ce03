#pragma once

// What the settings store and its tests share; not for callers.

#include <optional>
#include <string>

namespace defaults {

// Renames without ever replacing the target, as renameat2(RENAME_NOREPLACE)
// does: 0, or -1 with errno set.
using RenameCall = int (*)(const char* from, const char* to);
int renameNoReplace(const char* from, const char* to);

// Names of the copies moved aside: "<file>.damaged", then "-2", "-3", ...
constexpr int kMostDamagedCopies = 1000;

// Moves `file` to the first free name for a damaged copy, never over another
// file, and answers the name it took. Where the file system cannot rename
// that way (EINVAL or ENOSYS, as on NFS and some FUSE), the file is linked
// to the new name and then unlinked from the old: link() never replaces
// either. Nothing, with `error` set to the errno value, when it stays where
// it is.
std::optional<std::string> moveAside(const std::string& file, int& error,
                                     RenameCall rename = renameNoReplace);

} // namespace defaults
