#include "tests/support/ChildRun.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace testkit {

ChildRun runInChild(const std::function<int()>& body, std::chrono::seconds limit) {
    ChildRun run;
    int out[2];
    if (::pipe(out) != 0) {
        run.output = "no pipe";
        return run;
    }
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(out[1], STDERR_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        int code = 0;
        try {
            code = body();
        } catch (...) {
            std::abort();  // what an escaping throw does to a program
        }
        std::fflush(nullptr);
        ::_exit(code);  // no exit handlers: they belong to the parent's test run
    }
    ::close(out[1]);
    if (child < 0) {
        ::close(out[0]);
        run.output = "no fork";
        return run;
    }
    // Read as it comes, so a talkative child never blocks on a full pipe.
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            run.timedOut = true;
            ::kill(child, SIGKILL);
            break;
        }
        pollfd wait{out[0], POLLIN, 0};
        if (::poll(&wait, 1, int(left.count())) <= 0)
            continue;
        char chunk[4096];
        const ssize_t n = ::read(out[0], chunk, sizeof chunk);
        if (n <= 0)
            break;  // the child closed its end: it has ended
        run.output.append(chunk, size_t(n));
    }
    ::close(out[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!run.timedOut && WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    if (!run.timedOut && WIFSIGNALED(status))
        run.signal = WTERMSIG(status);
    return run;
}

std::string describe(const ChildRun& run) {
    const std::string how = run.timedOut ? "timed out" : run.signal ? "signal " + std::to_string(run.signal)
                                                                     : "exit " + std::to_string(run.exitCode);
    return how + "; output: " + run.output;
}

}  // namespace testkit
