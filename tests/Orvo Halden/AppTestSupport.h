#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Orvo Halden/AUExtensionManager.h"
#include "Orvo Halden/Audio Engine/AUEnginePlayer.h"
#include "Orvo Halden/Console.h"
#include "platform/foundation/Thread.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/MainQueue.h"
#include "tests/support/Signals.h"
#include "tests/support/StdoutCapture.h"
#include "tests/support/TempFolder.h"

namespace apptest {

constexpr AVAudioFrameCount kBlock = 512;

// Records what the host and the player report, and on which thread.
class Listener : public AUExtensionManagerDelegate, public AUEnginePlayerDelegate {
public:
    std::vector<std::string> calls;
    std::vector<NSInteger> loops;
    std::shared_ptr<AVAudioUnit> unit;
    bool allOnMain = true;
    // Also logs each call, so its place among the player's lines shows.
    bool echo = false;

    void onFoundComponent(const std::shared_ptr<AVAudioUnit>& found) override {
        note("found");
        unit = found;
    }
    void onEngineInitialized() override { note("initialized"); }
    void onPlayerStateChanged(bool playing) override { note(playing ? "playing" : "stopped"); }
    void onFileSelect(const std::string&) override { calls.push_back("file"); }
    void onLoop(NSInteger count) override {
        note("loop");
        loops.push_back(count);
    }

private:
    void note(const char* call) {
        if (echo)
            print(std::string("delegate: ") + call);
        allOnMain = allOnMain && Thread::isMainThread();
        calls.push_back(call);
    }
};

// A resources folder whose 80 loops are all one stereo noise loop of `frames`.
class LoopFolder {
public:
    explicit LoopFolder(AVAudioFrameCount frames) : data(frames) {
        auto buffer = std::make_shared<AVAudioPCMBuffer>(AVAudioFormat::standardFormat(48000.0, 2), frames);
        for (AVAudioChannelCount c = 0; c < 2; ++c) {
            const auto noise = testkit::noise(frames, c + 11, 0.5f);
            std::copy(noise.begin(), noise.end(), buffer->channelData(c));
        }
        buffer->setFrameLength(frames);
        const auto first = folder / "1.m4a";
        AVAudioFile::writeLossless(URL::fileURLWithPath(first.string()), *buffer);
        for (int n = 2; n <= 80; ++n)
            std::filesystem::create_symlink(first, folder / (std::to_string(n) + ".m4a"));
        decoded = AVAudioFile(URL::fileURLWithPath(first.string())).buffer();
    }

    testkit::TempFolder folder{"loops"};
    AVAudioFrameCount data;
    std::shared_ptr<const AVAudioPCMBuffer> decoded;
};

// Renders the player's engine offline, block by block, letting each loop end
// be handled before the next block (as a real device's pace would); adds the
// allocations made inside the render calls to `allocations`.
inline std::vector<std::vector<float>> render(AUEnginePlayer& player, std::size_t frames,
                                              std::size_t* allocations = nullptr) {
    std::vector<std::vector<float>> out(2);
    AVAudioPCMBuffer block(AVAudioFormat::standardFormat(48000.0, 2), kBlock);
    for (std::size_t done = 0; done < frames; done += kBlock) {
        const auto n = static_cast<AVAudioFrameCount>(std::min<std::size_t>(kBlock, frames - done));
        {
            testkit::AllocationCounter counter;
            EXPECT_EQ(player.engine().renderOffline(n, block), AVAudioEngineManualRenderingStatus::success);
            if (allocations) *allocations += counter.count();
        }
        for (int c = 0; c < 2; ++c)
            out[c].insert(out[c].end(), block.channelData(c), block.channelData(c) + n);
        player.waitForStateQueue();
    }
    return out;
}

inline void offline(AUEnginePlayer& player) {
    player.engine().enableManualRenderingMode(AVAudioFormat::standardFormat(48000.0, 2), kBlock);
}

inline bool contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

} // namespace apptest
