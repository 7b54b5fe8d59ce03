#pragma once

#include <string>
#include <string_view>

// A file URL: an absolute, tidied path (no empty or "." components, no
// trailing slash) that prints as "file://" text.
class URL {
public:
    // A relative path is taken from the current directory.
    static URL fileURLWithPath(std::string_view path);

    const std::string& path() const { return path_; }
    std::string absoluteString() const;
    bool isFileURL() const { return true; }

    std::string lastPathComponent() const;
    std::string pathExtension() const;
    URL appendingPathComponent(std::string_view component) const;
    URL appendingPathExtension(std::string_view extension) const;
    URL deletingLastPathComponent() const;
    URL deletingPathExtension() const;

    bool operator==(const URL&) const = default;

private:
    explicit URL(std::string tidyPath) : path_(std::move(tidyPath)) {}

    std::string path_;
};
