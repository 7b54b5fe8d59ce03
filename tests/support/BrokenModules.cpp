#include "tests/support/BrokenModules.h"

#include <elf.h>
#include <link.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace testkit {
namespace {

std::vector<char> contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

fs::path written(const fs::path& path, const std::vector<char>& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

// The dependent component in `folder`, its run path (a placeholder as built)
// pointed there; trailing slashes keep the string's length.
fs::path dependentModule(const fs::path& folder) {
    std::vector<char> bytes = contents(ORVO_TEST_DEPENDENT_COMPONENT_FILE);
    const std::string placeholder = ORVO_TEST_RUNPATH_PLACEHOLDER;
    std::string path = folder.string();
    const auto at = std::search(bytes.begin(), bytes.end(), placeholder.begin(), placeholder.end());
    if (at == bytes.end() || path.size() > placeholder.size()) return {};
    path.resize(placeholder.size(), '/');
    std::copy(path.begin(), path.end(), at);
    return written(folder / "dependent.so", bytes);
}

// The program headers of `bytes`, each with where it lies; those that can be read.
std::vector<std::pair<std::size_t, ElfW(Phdr)>> segments(const std::vector<char>& bytes) {
    ElfW(Ehdr) header;
    std::memcpy(&header, bytes.data(), sizeof header);
    std::vector<std::pair<std::size_t, ElfW(Phdr)>> found;
    for (std::size_t i = 0; i < header.e_phnum; ++i) {
        ElfW(Phdr) segment;
        const std::size_t at = header.e_phoff + i * sizeof segment;
        if (at + sizeof segment > bytes.size()) break;
        std::memcpy(&segment, bytes.data() + at, sizeof segment);
        found.emplace_back(at, segment);
    }
    return found;
}

// The built module `from` with `change` made to its bytes, written at `path`.
template <typename Change> fs::path changedModule(const fs::path& from, const fs::path& path, Change change) {
    std::vector<char> bytes = contents(from);
    if (bytes.size() < sizeof(ElfW(Ehdr)) || !change(bytes)) return {};
    return written(path, bytes);
}

template <typename Change> fs::path changedComponent(const fs::path& path, Change change) {
    return changedModule(ORVO_TEST_COMPONENT_FILE, path, change);
}

// The last loadable segment made larger than any address space: the loader
// reserves the span up to its end at once, and fails.
bool beyondAddressSpace(std::vector<char>& bytes) {
    std::optional<std::pair<std::size_t, ElfW(Phdr)>> last;
    for (const auto& found : segments(bytes))
        if (found.second.p_type == PT_LOAD && (!last || found.second.p_vaddr > last->second.p_vaddr))
            last = found;
    if (!last) return false;
    last->second.p_memsz = ElfW(Xword){1} << 50; // a petabyte
    std::memcpy(bytes.data() + last->first, &last->second, sizeof last->second);
    return true;
}

fs::path copied(const fs::path& file, const fs::path& folder) {
    std::error_code error;
    fs::copy_file(file, folder / fs::path(file).filename(), error);
    return error ? fs::path() : folder / fs::path(file).filename();
}

} // namespace

fs::path brokenModule(BrokenModule kind, const fs::path& folder) {
    const fs::path dependency = folder / fs::path(ORVO_TEST_DEPENDENCY_FILE).filename();
    switch (kind) {
    case BrokenModule::truncatedDependency:
        fs::copy_file(ORVO_TEST_DEPENDENCY_FILE, dependency);
        fs::resize_file(dependency, 4096); // its header page only
        return dependentModule(folder);
    case BrokenModule::pipeDependency:
        if (::mkfifo(dependency.c_str(), 0600) != 0) return {};
        return dependentModule(folder);
    case BrokenModule::zeroedDynamicSegment:
        return changedComponent(folder / "zeroed.so", [](std::vector<char>& bytes) {
            for (const auto& [at, segment] : segments(bytes)) {
                if (segment.p_type != PT_DYNAMIC) continue;
                if (segment.p_offset + segment.p_filesz > bytes.size()) return false;
                std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(segment.p_offset), segment.p_filesz,
                            0);
                return true;
            }
            return false;
        });
    case BrokenModule::beyondAddressSpace:
        return changedComponent(folder / "beyond.so", beyondAddressSpace);
    case BrokenModule::unmappableDependency:
        if (changedModule(ORVO_TEST_DEPENDENCY_FILE, dependency, beyondAddressSpace).empty()) return {};
        return dependentModule(folder);
    case BrokenModule::swellingAsItIsMade:
        return copied(ORVO_TEST_SWELLING_COMPONENT_FILE, folder);
    case BrokenModule::peakingAsItIsMade:
        return copied(ORVO_TEST_PEAKING_COMPONENT_FILE, folder);
    case BrokenModule::exitingAsItLoads:
        return copied(ORVO_TEST_EXITING_COMPONENT_FILE, folder);
    case BrokenModule::exitingOnceTried:
        return copied(ORVO_TEST_LATE_EXITING_COMPONENT_FILE, folder);
    case BrokenModule::hangingOnceTried:
        return copied(ORVO_TEST_LATE_HANGING_COMPONENT_FILE, folder);
    case BrokenModule::anotherMachine:
        return changedComponent(folder / "aarch64.so", [](std::vector<char>& bytes) {
            ElfW(Ehdr) header;
            std::memcpy(&header, bytes.data(), sizeof header);
            header.e_machine = header.e_machine == EM_AARCH64 ? EM_X86_64 : EM_AARCH64;
            std::memcpy(bytes.data(), &header, sizeof header);
            return true;
        });
    }
    return {};
}

bool mendDependency(const fs::path& folder) {
    const fs::path dependency = folder / fs::path(ORVO_TEST_DEPENDENCY_FILE).filename();
    std::error_code error;
    // Renamed into place, as an install puts a library in place.
    fs::copy_file(ORVO_TEST_DEPENDENCY_FILE, folder / "mended.so", error);
    if (!error) fs::rename(folder / "mended.so", dependency, error);
    return !error;
}

fs::path moduleWithItsLibrary(const fs::path& folder) {
    if (copied(ORVO_TEST_DEPENDENCY_FILE, folder).empty()) return {};
    return copied(ORVO_TEST_ORIGIN_COMPONENT_FILE, folder);
}

} // namespace testkit
