#pragma once

#include <cstdio>
#include <string>

// The app's log: one line on standard output, now, on the calling thread.
inline void print(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
