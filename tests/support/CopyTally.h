#pragma once

#include <atomic>
#include <memory>

namespace testkit {

// Counts the copies made of it: a callback that holds one tells whether
// whoever carried the callback kept a copy of its own (and so may release
// what it holds on another thread, at another time). Moves are free.
class CopyTally {
public:
    explicit CopyTally(std::shared_ptr<std::atomic<int>> copies) : copies_(std::move(copies)) {}
    CopyTally(const CopyTally& other) : copies_(other.copies_) { ++*copies_; }
    CopyTally(CopyTally&&) noexcept = default;
    CopyTally& operator=(const CopyTally& other) {
        copies_ = other.copies_;
        ++*copies_;
        return *this;
    }
    CopyTally& operator=(CopyTally&&) noexcept = default;

private:
    std::shared_ptr<std::atomic<int>> copies_;
};

} // namespace testkit
