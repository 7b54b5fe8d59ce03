#include "platform/foundation/Thread.h"

#include <thread>

namespace {
// Initialised while the library loads, which happens on the initial thread.
const std::thread::id mainThreadId = std::this_thread::get_id();
} // namespace

bool Thread::isMainThread() { return std::this_thread::get_id() == mainThreadId; }
