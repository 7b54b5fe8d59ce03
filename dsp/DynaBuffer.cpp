#include "dsp/DynaBuffer.h"

#include <cstdlib>
#include <cstring>

DynaBuffer::DynaBuffer(int n) {
    if (n != 0) allocate(n);
}

DynaBuffer::~DynaBuffer() { free(); }

float* DynaBuffer::ensure(int n) { return allocate(n); }

float* DynaBuffer::allocate(int n) {
    if (n == size) return data;
    if (n < 1) {
        free();
        return data;
    }
    if (n > size) return reallocate(n);
    return data;
}

float* DynaBuffer::readjust(int n) {
    if (n == size) return data;
    if (n < 1) {
        free();
        return data;
    }
    return reallocate(n);
}

// A failed allocation leaves the buffer empty; every user checks for null.
float* DynaBuffer::reallocate(int n) {
    free();
    void* memory = nullptr;
    if (posix_memalign(&memory, 16, static_cast<std::size_t>(n) * sizeof(float)) != 0) return data;
    data = static_cast<float*>(memory);
    size = n;
    clear();
    return data;
}

void DynaBuffer::clear() {
    if (data != nullptr && size != 0) std::memset(data, 0, static_cast<std::size_t>(size) * sizeof(float));
}

void DynaBuffer::free() {
    if (size == 0) return;
    std::free(data);
    data = nullptr;
    size = 0;
}
