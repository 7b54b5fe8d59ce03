#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <initializer_list>
#include <vector>

namespace testkit {

// Descriptors of this process left open on exec at the given numbers (below
// 100), as a careless library leaves them, while it lives; what was at those
// numbers before is put back after.
class StrayDescriptors {
public:
    explicit StrayDescriptors(std::initializer_list<int> numbers) {
        const int opened = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        const int source = ::fcntl(opened, F_DUPFD_CLOEXEC, 100);
        if (opened >= 0) ::close(opened);
        placed_ = source >= 0;
        for (const int number : numbers) {
            // Saved above the numbers, so that no later one lands on a copy.
            saved_.push_back({number, ::fcntl(number, F_DUPFD_CLOEXEC, 100), ::fcntl(number, F_GETFD)});
            placed_ = placed_ && ::dup2(source, number) == number;
        }
        if (source >= 0) ::close(source);
    }
    ~StrayDescriptors() {
        for (auto saved = saved_.rbegin(); saved != saved_.rend(); ++saved) {
            if (saved->copy < 0) {
                ::close(saved->number);
                continue;
            }
            ::dup3(saved->copy, saved->number, (saved->flags & FD_CLOEXEC) ? O_CLOEXEC : 0);
            ::close(saved->copy);
        }
    }
    StrayDescriptors(const StrayDescriptors&) = delete;
    StrayDescriptors& operator=(const StrayDescriptors&) = delete;

    bool placed() const { return placed_; }

private:
    struct Saved {
        int number, copy, flags;
    };
    std::vector<Saved> saved_;
    bool placed_ = false;
};

}  // namespace testkit
