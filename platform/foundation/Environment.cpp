#include "platform/foundation/Environment.h"

extern char** environ;

Environment Environment::current() {
    std::vector<std::string> variables;
    for (char** variable = environ; variable && *variable; ++variable)
        variables.emplace_back(*variable);
    return Environment(std::move(variables));
}

std::optional<std::string> Environment::value(std::string_view name) const {
    for (const std::string& variable : variables_)
        if (variable.size() > name.size() && variable[name.size()] == '=' && variable.starts_with(name))
            return variable.substr(name.size() + 1);
    return std::nullopt;
}
