#pragma once

#include <cstddef>

namespace testkit {

// Counts heap allocations made by the current thread while it is alive:
//   AllocationCounter counter; process(...); EXPECT_EQ(counter.count(), 0u);
// Works by replacing the global operator new for the test programs.
class AllocationCounter {
public:
    AllocationCounter();
    ~AllocationCounter();
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;

    std::size_t count() const;

private:
    std::size_t start_;
    bool wasCounting_;
};

} // namespace testkit
