#pragma once

#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>

namespace testkit {

// Counts the times anyone opens a file while it lives. The kernel notes an
// open as it happens, so once the opener is done the count is complete.
class FileOpens {
public:
    explicit FileOpens(const std::filesystem::path& path) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        watching_ = fd_ >= 0 && ::inotify_add_watch(fd_, path.c_str(), IN_OPEN) >= 0;
    }
    ~FileOpens() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileOpens(const FileOpens&) = delete;
    FileOpens& operator=(const FileOpens&) = delete;

    bool watching() const { return watching_; }
    int count() {
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = ::read(fd_, buffer, sizeof buffer)) > 0;)
            for (ssize_t at = 0; at < n;
                 at += ssize_t(sizeof(inotify_event) + reinterpret_cast<inotify_event*>(buffer + at)->len))
                count_ += (reinterpret_cast<inotify_event*>(buffer + at)->mask & IN_OPEN) != 0;
        return count_;
    }

private:
    int fd_;
    bool watching_ = false;
    int count_ = 0;
};

}  // namespace testkit
