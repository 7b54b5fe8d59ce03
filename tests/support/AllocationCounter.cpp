#include "tests/support/AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace {
thread_local bool counting = false;
thread_local std::size_t allocations = 0;

void* allocate(std::size_t size, std::size_t alignment) {
    if (counting) ++allocations;
    if (size == 0) size = 1;
    void* p = nullptr;
    if (alignment <= alignof(std::max_align_t)) {
        p = std::malloc(size);
    } else {
        const std::size_t rounded = (size + alignment - 1) / alignment * alignment;
        p = std::aligned_alloc(alignment, rounded);
    }
    if (!p) throw std::bad_alloc();
    return p;
}
} // namespace

// Replacements live in this translation unit so that linking the counter
// brings them in.
void* operator new(std::size_t size) { return allocate(size, 0); }
void* operator new[](std::size_t size) { return allocate(size, 0); }
void* operator new(std::size_t size, std::align_val_t al) { return allocate(size, static_cast<std::size_t>(al)); }
void* operator new[](std::size_t size, std::align_val_t al) { return allocate(size, static_cast<std::size_t>(al)); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size, 0);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size, 0);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

namespace testkit {

AllocationCounter::AllocationCounter() : start_(allocations), wasCounting_(counting) { counting = true; }

AllocationCounter::~AllocationCounter() { counting = wasCounting_; }

std::size_t AllocationCounter::count() const { return allocations - start_; }

} // namespace testkit
