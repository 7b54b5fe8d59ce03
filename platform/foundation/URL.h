#pragma once

#include <optional>
#include <string>
#include <string_view>

// Mostly a file URL: an absolute, tidied path (no empty or "." components,
// no trailing slash) that prints as "file://" text. URLs of other schemes
// come only from text (URL::string) and name no file.
class URL {
public:
    // A relative path is taken from the current directory.
    static URL fileURLWithPath(std::string_view path);
    // "file://" text becomes a file URL (percent escapes decoded); text of
    // another scheme, or of none, is kept as written. None for text that
    // forms no URL: empty, or with a space, a control character or a broken
    // percent escape.
    static std::optional<URL> string(std::string_view text);

    const std::string& path() const { return path_; }
    std::string absoluteString() const;
    // "file", "http", ...; empty for text without a scheme.
    const std::string& scheme() const { return scheme_; }
    bool isFileURL() const { return scheme_ == "file"; }

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
    std::string scheme_ = "file";
    std::string text_;  // as written, for URLs that are not file URLs
};
