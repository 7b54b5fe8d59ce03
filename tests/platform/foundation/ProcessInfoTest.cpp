#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <mutex>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/ProcessInfo.h"

TEST(ProcessInfoTest, UniqueStringsNeverRepeatAcrossThreads) {
    std::set<std::string> seen;
    std::mutex mutex;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                std::string text = ProcessInfo::processInfo().globallyUniqueString();
                std::lock_guard lock(mutex);
                seen.insert(std::move(text));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(seen.size(), 8000u);
}

TEST(ProcessInfoTest, UniqueStringCarriesRandomBitsAndTheProcess) {
    const std::string text = ProcessInfo::processInfo().globallyUniqueString();
    const std::regex shape(
        "[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}-([0-9A-F]+)-[0-9A-F]+");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(text, match, shape)) << text;
    EXPECT_EQ(std::stoul(match[1].str(), nullptr, 16), static_cast<unsigned long>(::getpid()));
    EXPECT_EQ(ProcessInfo::processInfo().processIdentifier(), ::getpid());

    // Two strings share no long prefix: the leading part is random, not a clock.
    const std::string other = ProcessInfo::processInfo().globallyUniqueString();
    EXPECT_NE(text.substr(0, 13), other.substr(0, 13));
}

// The peak counts what this process made resident, and keeps it once that is
// given back: more than the peak so far, touched and freed, raises it by as
// much as the peak was passed.
TEST(ProcessInfoTest, ThePeakOfResidentMemoryKeepsWhatThisProcessTouched) {
    const std::optional<std::size_t> before = ProcessInfo::processInfo().peakResidentBytes();
    ASSERT_TRUE(before);
    // Every page made resident by the kernel as it maps them.
    const std::size_t past = std::size_t(64) << 20, bytes = *before + past;
    void* memory =
        ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    ::munmap(memory, bytes);
    const std::optional<std::size_t> after = ProcessInfo::processInfo().peakResidentBytes();
    ASSERT_TRUE(after);
    EXPECT_GE(*after, *before + past) << *before << " bytes before";
}
