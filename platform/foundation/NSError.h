#pragma once

#include <stdexcept>
#include <string>

// What the file operations throw: an error number (errno) and a sentence for
// the user.
class NSError : public std::runtime_error {
public:
    NSError(int code, const std::string& description) : std::runtime_error(description), code_(code) {}

    int code() const { return code_; }
    std::string localizedDescription() const { return what(); }

private:
    int code_;
};
