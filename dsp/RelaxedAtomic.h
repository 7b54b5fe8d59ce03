#pragma once

#include <atomic>

// A scalar written on one thread and read on another (a parameter, a flag, a
// meter). Reads and writes are relaxed atomics: no tearing and no data race,
// with the cost of a plain load or store.
template <class T> class RelaxedAtomic {
public:
    constexpr RelaxedAtomic(T v = T{}) : value_(v) {}
    RelaxedAtomic(const RelaxedAtomic& other) : value_(other.load()) {}
    RelaxedAtomic& operator=(const RelaxedAtomic& other) {
        store(other.load());
        return *this;
    }
    RelaxedAtomic& operator=(T v) {
        store(v);
        return *this;
    }

    operator T() const { return load(); }
    T load() const { return value_.load(std::memory_order_relaxed); }
    void store(T v) { value_.store(v, std::memory_order_relaxed); }

private:
    std::atomic<T> value_;
};
