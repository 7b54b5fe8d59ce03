#include "tests/support/StdoutCapture.h"

#include <unistd.h>

#include <stdexcept>

namespace testkit {

StdoutCapture::StdoutCapture() {
    std::fflush(stdout);
    file_ = std::tmpfile();
    saved_ = ::dup(STDOUT_FILENO);
    if (!file_ || saved_ < 0 || ::dup2(::fileno(file_), STDOUT_FILENO) < 0)
        throw std::runtime_error("StdoutCapture: cannot redirect standard output");
}

StdoutCapture::~StdoutCapture() { finish(); }

std::string StdoutCapture::text() const {
    std::fflush(stdout);
    std::string result;
    if (!file_) return result;
    char buffer[4096];
    for (off_t offset = 0;;) {
        const ssize_t n = ::pread(::fileno(file_), buffer, sizeof buffer, offset);
        if (n <= 0) break;
        result.append(buffer, static_cast<std::size_t>(n));
        offset += n;
    }
    return result;
}

std::vector<std::string> StdoutCapture::lines() const { return splitLines(text()); }

std::string StdoutCapture::finish() {
    if (saved_ < 0) return {};
    std::string result = text();
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
    saved_ = -1;
    std::fclose(file_);
    file_ = nullptr;
    return result;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

} // namespace testkit
