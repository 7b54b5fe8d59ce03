#pragma once

#include <cstddef>
#include <cstring>
#include <vector>

namespace testkit {

// Bit for bit, so NaNs, signed zeros and last-place differences all count.
inline bool sameBits(const float* a, const float* b, std::size_t n) {
    return n == 0 || std::memcmp(a, b, n * sizeof(float)) == 0;
}

inline bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && sameBits(a.data(), b.data(), a.size());
}

} // namespace testkit
