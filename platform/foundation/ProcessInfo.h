#pragma once

#include <string>

// Facts about the running process.
class ProcessInfo {
public:
    static ProcessInfo& processInfo();

    // A text never handed out before, in this process or any other, in this
    // run or another: 128 random bits, then the process id and a counter.
    std::string globallyUniqueString() const;

    int processIdentifier() const;
    // The program's file name.
    std::string processName() const;

private:
    ProcessInfo() = default;
};
