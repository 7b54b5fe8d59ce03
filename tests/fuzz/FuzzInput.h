#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>

// The fuzz targets' entry points, as libFuzzer calls them.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fuzz {

// Reads typed values off the front of a fuzzer's bytes; once they run out
// every read answers zero, so any input is a complete program.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return size_ == 0; }

    template <class T> T value() {
        static_assert(std::is_trivially_copyable_v<T>);
        unsigned char bytes[sizeof(T)] = {};
        const std::size_t n = std::min(sizeof(T), size_);
        if (n > 0) std::memcpy(bytes, data_, n);
        consume(n);
        T out;
        std::memcpy(&out, bytes, sizeof(T));
        return out;
    }

    // An integer in [lo, hi].
    template <class T> T inRange(T lo, T hi) {
        static_assert(std::is_integral_v<T>);
        const auto span = static_cast<std::uint64_t>(hi) - static_cast<std::uint64_t>(lo);
        const auto raw = value<std::uint64_t>();
        return static_cast<T>(static_cast<std::uint64_t>(lo) + (span == UINT64_MAX ? raw : raw % (span + 1)));
    }

    bool flag() { return (value<std::uint8_t>() & 1) != 0; }

    // Up to `most` bytes as text (NULs and all).
    std::string text(std::size_t most) {
        const std::size_t n = std::min<std::size_t>(inRange<std::size_t>(0, most), size_);
        std::string out(reinterpret_cast<const char*>(data_), n);
        consume(n);
        return out;
    }

private:
    void consume(std::size_t n) {
        data_ += n;
        size_ -= n;
    }

    const std::uint8_t* data_;
    std::size_t size_;
};

// A broken promise: said on stderr, then abort() so that libFuzzer keeps the input.
[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

inline void check(bool holds, const char* what) {
    if (!holds) fail(what);
}

} // namespace fuzz
