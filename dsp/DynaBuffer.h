#pragma once

// Owned float array, 16-byte aligned for vector loads. It only grows through
// allocate()/ensure(), so re-sizing to something smaller later costs nothing
// and never allocates on the audio thread.
class DynaBuffer {
public:
    explicit DynaBuffer(int n = 0);
    virtual ~DynaBuffer();
    DynaBuffer(const DynaBuffer&) = delete;
    DynaBuffer& operator=(const DynaBuffer&) = delete;

    virtual float* getBuffer() const { return data; }
    virtual int getSize() const { return size; }
    // Same as allocate(): at least n floats, contents kept when already big enough.
    virtual float* ensure(int n);
    // Grows to n floats (zeroed); a smaller positive n keeps the larger buffer, n < 1 frees.
    virtual float* allocate(int n);
    // Exactly n floats, zeroed; n < 1 frees.
    virtual float* readjust(int n);
    virtual void clear();
    virtual void free();

    // Unchecked, like the raw array.
    float& operator[](int i) { return data[i]; }
    const float& operator[](int i) const { return data[i]; }

protected:
    int size = 0;
    float* data = nullptr;

private:
    float* reallocate(int n);
};
