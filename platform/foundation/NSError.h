#pragma once

#include <exception>
#include <string>
#include <utility>

// What the file operations throw: an error number (errno) and a sentence for
// the user. The sentence is a string of its own: errors are handed between
// threads, and a copy must share nothing with the one it came from.
class NSError : public std::exception {
public:
    NSError(int code, std::string description) : description_(std::move(description)), code_(code) {}

    const char* what() const noexcept override { return description_.c_str(); }
    int code() const { return code_; }
    std::string localizedDescription() const { return description_; }

private:
    std::string description_;
    int code_;
};
