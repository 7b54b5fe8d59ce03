#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace testkit {

// How long a test waits for a line or a state before it fails. A busy machine
// under a sanitizer is slow but gets there: this cap only ends a run that
// never would.
inline constexpr std::chrono::milliseconds kPatience = std::chrono::seconds(60);

// Checks `done` every millisecond until it holds or `cap` has passed;
// answers `done` at the end.
inline bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds cap = kPatience) {
    const auto until = std::chrono::steady_clock::now() + cap;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace testkit
