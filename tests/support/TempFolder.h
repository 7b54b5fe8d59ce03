#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testkit {

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes.
class TempFolder {
public:
    explicit TempFolder(const std::string& prefix = "orvo");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& relative) const { return path_ / relative; }

private:
    std::filesystem::path path_;
};

// Remembers environment variables and puts them back as they were.
class ScopedEnvironment {
public:
    explicit ScopedEnvironment(std::initializer_list<const char*> names);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    static void set(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }
    static void unset(const char* name) { ::unsetenv(name); }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

} // namespace testkit
