#include "platform/foundation/ProcessInfo.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>

namespace {
std::array<std::uint64_t, 2> randomBits() {
    static std::mutex mutex;
    static std::mt19937_64 engine = [] {
        std::random_device device;
        const auto now =
            static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
        std::seed_seq seed{device(),
                           device(),
                           device(),
                           device(),
                           device(),
                           device(),
                           device(),
                           device(),
                           static_cast<unsigned>(now),
                           static_cast<unsigned>(now >> 32),
                           static_cast<unsigned>(::getpid())};
        return std::mt19937_64(seed);
    }();
    std::lock_guard lock(mutex);
    return {engine(), engine()};
}

std::atomic<std::uint64_t> counter{0};
} // namespace

ProcessInfo& ProcessInfo::processInfo() {
    static ProcessInfo info;
    return info;
}

int ProcessInfo::processIdentifier() const { return static_cast<int>(::getpid()); }

std::string ProcessInfo::processName() const { return program_invocation_short_name; }

std::optional<std::size_t> ProcessInfo::peakResidentBytes() const {
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string text;
    char chunk[4096];
    for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) != 0;) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) break;
        text.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(fd);
    const std::size_t at = text.find("\nVmHWM:");
    if (at == std::string::npos) return std::nullopt;
    const char* const number = text.c_str() + at + 7;
    char* end = nullptr;
    const unsigned long long kilobytes = std::strtoull(number, &end, 10);
    if (end == number) return std::nullopt;
    return std::size_t(kilobytes) * 1024;
}

std::string ProcessInfo::globallyUniqueString() const {
    const auto [high, low] = randomBits();
    const unsigned long long serial = counter.fetch_add(1, std::memory_order_relaxed) + 1;
    char text[80];
    std::snprintf(
        text, sizeof text, "%08llX-%04llX-%04llX-%04llX-%012llX-%X-%llX",
        static_cast<unsigned long long>(high >> 32), static_cast<unsigned long long>((high >> 16) & 0xFFFF),
        static_cast<unsigned long long>(high & 0xFFFF), static_cast<unsigned long long>(low >> 48),
        static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull), static_cast<unsigned>(::getpid()), serial);
    return text;
}
