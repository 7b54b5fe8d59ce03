#pragma once

#include <string>
#include <vector>

// The app's command line: its own flags (--autoplay, --unit, --help,
// --version) and the ones the application loop takes (--headless, --seconds,
// --screenshot), checked all at once so that nothing starts on a bad one.
struct CommandLine {
    enum class Outcome { run, help, version, error };

    Outcome outcome = Outcome::run;
    bool autoplay = false;
    bool unit = false;
    // For the application loop: the program's name and its flags, every value
    // as a word of its own (--seconds=3 becomes --seconds 3).
    std::vector<std::string> applicationArguments;
    // What to print when the app ends at once: the usage, the version, or the
    // one line that says what was wrong.
    std::string message;

    static CommandLine parse(int argc, const char* const* argv);
    // 0 for help and version, 2 for an error; run is not an exit.
    int exitStatus() const { return outcome == Outcome::error ? 2 : 0; }
};
