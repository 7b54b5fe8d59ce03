#pragma once

#include <cmath>
#include <cstddef>

namespace testkit {

inline bool isSubnormal(float x) { return std::fpclassify(x) == FP_SUBNORMAL; }
inline bool isSubnormal(double x) { return std::fpclassify(x) == FP_SUBNORMAL; }

inline std::size_t countSubnormals(const float* data, std::size_t n) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < n; ++i) count += isSubnormal(data[i]) ? 1 : 0;
    return count;
}

inline bool allFinite(const float* data, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (!std::isfinite(data[i])) return false;
    return true;
}

} // namespace testkit
