#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>

namespace testkit {

std::string ChildOutcome::describe() const {
    std::string what;
    switch (end) {
    case End::exited:
        what = "exited " + std::to_string(code);
        break;
    case End::signalled:
        what = "killed by signal " + std::to_string(code) + " (" + strsignal(code) + ")";
        break;
    case End::timedOut:
        what = "timed out";
        break;
    }
    return what + (output.empty() ? "" : ":\n" + output);
}

ChildOutcome runInChild(const std::function<std::string()>& body, std::chrono::milliseconds limit) {
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) return {ChildOutcome::End::exited, -1, "no pipe"};
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipe[1], STDOUT_FILENO);
        ::dup2(pipe[1], STDERR_FILENO);
        int status = 0;
        try {
            const std::string failure = body();
            if (!failure.empty()) std::printf("%s\n", failure.c_str()), status = 1;
        } catch (const std::exception& error) {
            std::printf("threw: %s\n", error.what());
            status = 1;
        } catch (...) {
            // Let through, it would run the rest of the test program in the child.
            std::printf("threw something that is no exception\n");
            status = 1;
        }
        std::fflush(nullptr);
        ::_exit(status);
    }
    ::close(pipe[1]);
    ChildOutcome outcome;
    if (child < 0) {
        ::close(pipe[0]);
        return {ChildOutcome::End::exited, -1, "no fork"};
    }
    // Read until the child closes its end or the time is up.
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool open = true;
    while (open) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            outcome.end = ChildOutcome::End::timedOut;
            ::kill(child, SIGKILL);
            break;
        }
        pollfd wait{pipe[0], POLLIN, 0};
        if (::poll(&wait, 1, static_cast<int>(left.count())) <= 0) continue;
        char chunk[4096];
        const ssize_t got = ::read(pipe[0], chunk, sizeof chunk);
        if (got > 0 && outcome.output.size() < 65536)
            outcome.output.append(chunk, static_cast<std::size_t>(got));
        open = got > 0 || (got < 0 && errno == EINTR);
    }
    ::close(pipe[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (outcome.end == ChildOutcome::End::timedOut) return outcome;
    if (WIFSIGNALED(status)) {
        outcome.end = ChildOutcome::End::signalled;
        outcome.code = WTERMSIG(status);
    } else {
        outcome.code = WEXITSTATUS(status);
    }
    return outcome;
}

std::vector<pid_t> childProcesses() {
    std::vector<pid_t> children;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream file(entry.path() / "stat");
        std::string text;
        if (!std::getline(file, text)) continue;  // gone meanwhile
        // The parent is the second field after the name, which ends at the last ')'.
        const std::size_t close = text.rfind(')');
        if (close == std::string::npos || close + 4 >= text.size()) continue;
        if (std::atol(text.c_str() + close + 4) == long(::getpid())) children.push_back(pid_t(std::atol(name.c_str())));
    }
    return children;
}

} // namespace testkit
