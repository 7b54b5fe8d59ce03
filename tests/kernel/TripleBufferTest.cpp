#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <thread>

#include "kernel/TripleBuffer.h"

namespace {

struct Frame {
    std::array<int, 256> values;
};

void publish(TripleBuffer<Frame>& buffer, int n) {
    buffer.writeSlot().values.fill(n);
    buffer.publish();
}

TEST(TripleBuffer, TheReaderTakesTheNewestWholeFrameOnce) {
    auto buffer = std::make_unique<TripleBuffer<Frame>>();
    EXPECT_FALSE(buffer->takeNewest());
    EXPECT_EQ(buffer->readSlot().values[0], 0);
    publish(*buffer, 1);
    publish(*buffer, 2);
    ASSERT_TRUE(buffer->takeNewest());
    EXPECT_EQ(buffer->readSlot().values[0], 2);
    EXPECT_FALSE(buffer->takeNewest()) << "nothing new since";
    EXPECT_EQ(buffer->readSlot().values[255], 2);

    // Against a writer on another thread: every frame taken is whole and newer than the last.
    constexpr int kLast = 20000;
    std::thread writer([&] {
        for (int n = 3; n <= kLast; ++n) publish(*buffer, n);
    });
    int last = 2;
    while (last < kLast) {
        if (!buffer->takeNewest()) continue;
        const auto& values = buffer->readSlot().values;
        const bool whole = std::all_of(values.begin(), values.end(), [&](int v) { return v == values[0]; });
        const bool newer = values[0] > last;
        EXPECT_TRUE(whole && newer) << values[0] << " after " << last;
        if (!whole || !newer) break;
        last = values[0];
    }
    writer.join();
}

} // namespace
