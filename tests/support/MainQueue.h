#pragma once

#include <chrono>
#include <functional>

#include "platform/foundation/DispatchQueue.h"
#include "tests/support/Patience.h"

namespace testkit {

// Serves the main queue (from the main thread) until `done` holds or the
// cap has passed; answers `done` at the end.
inline bool drainMainQueueUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = kPatience) {
    return waitUntil(
        [&] {
            DispatchQueue::main().drain();
            return done();
        },
        timeout);
}

} // namespace testkit
