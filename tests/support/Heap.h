#pragma once

#include <memory>
#include <utility>

namespace testkit {

// Processing objects carry their delay lines inline (megabytes each): tests
// always hold them on the heap, never on the stack.
template <class T, class... Args>
std::unique_ptr<T> makeHeap(Args&&... args) {
    return std::make_unique<T>(std::forward<Args>(args)...);
}

} // namespace testkit
