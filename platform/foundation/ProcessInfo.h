#pragma once

#include <cstddef>
#include <optional>
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
    // The most resident memory this process's own address space has held, in
    // bytes (VmHWM); nothing when /proc cannot tell. Not getrusage's
    // ru_maxrss: past an exec, that keeps the peak of the address space the
    // exec replaced, that of whatever started this program. The kernel adds
    // up its counts of resident pages lazily, so that a reading may come out
    // a few pages below an earlier one.
    std::optional<std::size_t> peakResidentBytes() const;

private:
    ProcessInfo() = default;
};
