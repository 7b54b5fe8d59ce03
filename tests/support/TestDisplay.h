#pragma once

#include <string>
#include <sys/types.h>

namespace testkit {

// A display for window tests: the one DISPLAY names, else a private Xvfb
// server started on first use and stopped when the process ends (a window
// system, once up, keeps its connection until then). When neither is there,
// available() is false and reason() says why, for GTEST_SKIP.
class TestDisplay {
public:
    static const TestDisplay& shared();
    ~TestDisplay();
    TestDisplay(const TestDisplay&) = delete;
    TestDisplay& operator=(const TestDisplay&) = delete;

    bool available() const { return available_; }
    const std::string& reason() const { return reason_; }

private:
    TestDisplay();

    bool available_ = false;
    std::string reason_;
    pid_t server_ = -1;
    std::string savedDisplay_;
    bool hadDisplay_ = false;
};

}  // namespace testkit
