#pragma once

#include <chrono>
#include <functional>
#include <thread>

#include "platform/foundation/DispatchQueue.h"
#include "tests/support/Patience.h"

namespace testkit {

// Serves the main queue (from the main thread) until `done` holds or the
// cap has passed; answers `done` at the end.
inline bool drainMainQueueUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = kPatience) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        DispatchQueue::main().drain();
        if (done()) return true;
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

} // namespace testkit
