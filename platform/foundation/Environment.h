#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// This process's environment as it was when taken, carried to work that
// another thread of ours does for the one that asked (a child started, a
// search on a queue): only the asking thread reads the environment itself.
// A thread that walked it beside the program's own would race them: setenv
// may free the array being walked, unsetenv moves the entries under it.
class Environment {
public:
    // Taken now, on the calling thread.
    static Environment current();

    Environment() = default;
    explicit Environment(std::vector<std::string> variables) : variables_(std::move(variables)) {}

    // The value of `name`, when it is set.
    std::optional<std::string> value(std::string_view name) const;
    // Its entries, "NAME=value", in the process's order.
    const std::vector<std::string>& variables() const { return variables_; }

private:
    std::vector<std::string> variables_;
};
