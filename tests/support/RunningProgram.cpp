#include "tests/support/RunningProgram.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace testkit {

namespace {

std::string nameOf(const std::string& variable) { return variable.substr(0, variable.find('=')); }

} // namespace

RunningProgram::RunningProgram(const std::string& file, const std::vector<std::string>& arguments,
                               const std::vector<std::string>& environment) {
    // Everything the child needs is made before the fork: it only execs.
    std::vector<std::string> words{file};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables(environment);
    for (char** e = environ; *e; ++e) {
        const std::string name = nameOf(*e);
        bool ours = false;
        for (const std::string& v : environment) ours = ours || nameOf(v) == name;
        if (!ours) variables.emplace_back(*e);
    }
    std::vector<char*> envp;
    for (std::string& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);

    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) return;
    const pid_t parent = ::getpid();
    pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipe[1], STDOUT_FILENO);
        ::dup2(pipe[1], STDERR_FILENO);
        // A test program that dies must not leave the program running.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(pipe[1]);
    if (child < 0) {
        ::close(pipe[0]);
        return;
    }
    pid_ = child;
    output_fd_ = pipe[0];
    ::fcntl(output_fd_, F_SETFL, ::fcntl(output_fd_, F_GETFL) | O_NONBLOCK);
}

RunningProgram::~RunningProgram() {
    if (started() && !ended_) {
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
        }
    }
    if (output_fd_ >= 0) ::close(output_fd_);
}

bool RunningProgram::readSome(std::chrono::milliseconds wait) {
    if (output_fd_ < 0) return false;
    pollfd ready{output_fd_, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(wait.count())) <= 0) return true;
    for (;;) {
        char chunk[4096];
        const ssize_t got = ::read(output_fd_, chunk, sizeof chunk);
        if (got > 0) {
            output_.append(chunk, static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && errno == EAGAIN) return true;
        // Every writer has closed its end.
        ::close(output_fd_);
        output_fd_ = -1;
        return false;
    }
}

bool RunningProgram::reaped() {
    if (ended_ || !started()) return true;
    pid_t got;
    while ((got = ::waitpid(pid_, &status_, WNOHANG)) < 0 && errno == EINTR) {
    }
    ended_ = got == pid_;
    return ended_;
}

bool RunningProgram::waitUntil(const std::function<bool()>& done, std::chrono::milliseconds cap) {
    const auto until = std::chrono::steady_clock::now() + cap;
    while (!done()) {
        if (reaped()) {
            // What it said last; a child it left may hold the pipe open.
            readSome(std::chrono::milliseconds(0));
            return done();
        }
        if (std::chrono::steady_clock::now() > until) return done();
        if (!readSome(std::chrono::milliseconds(20)) && !reaped())
            ::poll(nullptr, 0, 20); // its streams closed early: wait for it to end
    }
    return true;
}

bool RunningProgram::waitFor(const std::string& text, std::chrono::milliseconds cap) {
    return waitUntil([&] { return output_.find(text) != std::string::npos; }, cap);
}

int RunningProgram::end(std::chrono::milliseconds cap) {
    if (!reaped()) ::kill(pid_, SIGTERM);
    return finish(cap);
}

int RunningProgram::finish(std::chrono::milliseconds cap) {
    if (!started()) return -1;
    waitUntil([] { return false; }, cap);
    if (!reaped()) {
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
        }
        ended_ = killed_ = true;
        readSome(std::chrono::milliseconds(0));
    }
    return !killed_ && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

std::string RunningProgram::describe() const {
    if (!started()) return "it could not be started";
    if (killed_) return "it was still running after the cap, so it was killed";
    if (!ended_) return "it is still running";
    if (WIFSIGNALED(status_))
        return "killed by signal " + std::to_string(WTERMSIG(status_)) + " (" + strsignal(WTERMSIG(status_)) + ")";
    return "exited " + std::to_string(WEXITSTATUS(status_));
}

} // namespace testkit
