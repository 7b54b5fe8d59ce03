#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace testkit {

// Sends the process's standard output (file descriptor 1, so printf, std::cout
// and raw writes alike) into a temporary file while it lives:
//   StdoutCapture capture; run(); EXPECT_EQ(capture.lines(), ...);
// Test failures printed meanwhile are captured too, so assert after finish().
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Everything written so far.
    std::string text() const;
    // The text split at newlines (an unfinished last line included).
    std::vector<std::string> lines() const;
    // Gives standard output back and returns what was captured.
    std::string finish();

private:
    std::FILE* file_ = nullptr;
    int saved_ = -1;
};

std::vector<std::string> splitLines(const std::string& text);

} // namespace testkit
