#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>

#include "tests/support/Patience.h"

namespace testkit {

// A named pipe nobody writes to, for readers that must refuse it rather than
// wait on it. A reader that waits anyway is freed by opening and closing the
// writing end, so such a test fails instead of hanging the run.
class NamedPipe {
public:
    explicit NamedPipe(std::filesystem::path path) : path_(std::move(path)) {
        ok_ = ::mkfifo(path_.c_str(), 0600) == 0;
    }
    ~NamedPipe() { std::filesystem::remove(path_); }
    NamedPipe(const NamedPipe&) = delete;
    NamedPipe& operator=(const NamedPipe&) = delete;

    bool made() const { return ok_; }
    const std::filesystem::path& path() const { return path_; }

    // Runs `read` on its own thread: true when it came back by itself within
    // the cap, false when it had to be freed from the pipe.
    bool returnsWithoutAWriter(const std::function<void()>& read) const {
        auto done = std::async(std::launch::async, read);
        if (done.wait_for(kPatience) == std::future_status::ready) {
            done.get();
            return true;
        }
        while (done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
            const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) ::close(fd);
        }
        return false;
    }

private:
    std::filesystem::path path_;
    bool ok_ = false;
};

} // namespace testkit
