#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <functional>

#include "Orvo_Halden_Extension/Orvo_Halden_Extension_AudioUnit.h"
#include "platform/audio/AVAudioSession.h"
#include "tests/Orvo Halden/AppTestSupport.h"

namespace {

using namespace apptest;

// The player over a resources folder of one known loop, rendering offline.
class PlayerTest : public ::testing::Test {
protected:
    explicit PlayerTest(AVAudioFrameCount loopFrames = 24000) : loops(loopFrames) {
        testkit::ScopedEnvironment::set("ORVO_RESOURCES_DIR", loops.folder.path().string());
        player->setDelegate(listener);
        offline(*player);
    }
    ~PlayerTest() override { DispatchQueue::main().drain(); }

    std::shared_ptr<AVAudioUnit> effect() {
        auto unit =
            Orvo_Halden_Extension_AudioUnit::make(Orvo_Halden_Extension_AudioUnit::kComponentDescription);
        unit->setParameter(2, 1.0f); // three bands
        for (std::int32_t band = 0; band < 4; ++band) unit->setParameter(22 + band, 0.8f);
        return std::make_shared<AVAudioUnit>(unit);
    }

    testkit::ScopedEnvironment environment{"ORVO_RESOURCES_DIR", "SDL_AUDIODRIVER"};
    LoopFolder loops;
    std::shared_ptr<Listener> listener = std::make_shared<Listener>();
    std::unique_ptr<AUEnginePlayer> player = std::make_unique<AUEnginePlayer>();
};

TEST_F(PlayerTest, TheEffectIsReallyInThePath) {
    player->connect(effect());
    ASSERT_TRUE(player->toggle());
    std::size_t allocations = 0;
    const auto through = render(*player, loops.data, &allocations);
    EXPECT_EQ(allocations, 0u);

    // The same loop through a bare unit with the same parameters and blocks.
    auto bare = std::dynamic_pointer_cast<Orvo_Halden_Extension_AudioUnit>(effect()->auAudioUnit());
    for (const auto& busses : {bare->inputBusses(), bare->outputBusses()})
        ASSERT_TRUE((*busses)[0]->setFormat(AVAudioFormat::standardFormat(48000.0, 2)));
    bare->setMaximumFramesToRender(kBlock);
    bare->allocateRenderResources();
    const AURenderBlock renderBlock = bare->renderBlock();
    std::size_t at = 0;
    AURenderPullInputBlock pull = [&](AudioUnitRenderActionFlags*, const AudioTimeStamp*, AUAudioFrameCount n,
                                      NSInteger, AudioBufferList* list) -> AUAudioUnitStatus {
        for (int c = 0; c < 2; ++c)
            std::copy_n(loops.decoded->channelData(c) + at, n, static_cast<float*>(list->mBuffers[c].mData));
        return noErr;
    };
    std::vector<float> left(kBlock), right(kBlock);
    AudioBufferListStorage out(2);
    AudioTimeStamp time;
    float worst = 0.0f, wetness = 0.0f;
    for (; at < loops.data; at += kBlock, time.mSampleTime += kBlock) {
        const auto n = static_cast<AUAudioFrameCount>(std::min<std::size_t>(kBlock, loops.data - at));
        out.get()->mBuffers[0] = {1, n * 4u, left.data()};
        out.get()->mBuffers[1] = {1, n * 4u, right.data()};
        AudioUnitRenderActionFlags flags = 0;
        ASSERT_EQ(renderBlock(&flags, &time, n, 0, out.get(), nullptr, pull), noErr);
        for (std::size_t i = 0; i < n; ++i) {
            worst = std::max(
                {worst, std::fabs(left[i] - through[0][at + i]), std::fabs(right[i] - through[1][at + i])});
            wetness =
                std::max(wetness, std::fabs(through[0][at + i] - loops.decoded->channelData(0)[at + i]));
        }
    }
    EXPECT_LE(worst, 1e-6f);
    EXPECT_GT(wetness, 1e-2f);
}

TEST_F(PlayerTest, WithoutAUnitTheLoopPlaysDryThroughTheMixer) {
    ASSERT_TRUE(player->toggle());
    const auto out = render(*player, loops.data);
    for (int c = 0; c < 2; ++c)
        EXPECT_TRUE(std::equal(out[c].begin(), out[c].end(), loops.decoded->channelData(c)));
}

// Loop ends over loops of several lengths: the count, the delegate's number
// (one behind, as the log is one ahead) and the lines.
class LoopLengthTest : public PlayerTest, public ::testing::WithParamInterface<AVAudioFrameCount> {
protected:
    LoopLengthTest() : PlayerTest(GetParam()) {}
};

TEST_P(LoopLengthTest, EveryLoopEndIsCountedOnceAndARestartCountsAfresh) {
    player->connect(effect());
    testkit::StdoutCapture capture;
    ASSERT_TRUE(player->toggle());
    std::size_t allocations = 0;
    render(*player, 3 * loops.data + kBlock, &allocations);
    EXPECT_EQ(player->loopCount(), 3);
    EXPECT_EQ(allocations, 0u); // rescheduling happens off the render thread
    EXPECT_FALSE(player->toggle());
    EXPECT_TRUE(player->toggle());
    render(*player, loops.data + kBlock);
    EXPECT_FALSE(player->toggle());
    ASSERT_TRUE(testkit::drainMainQueueUntil([&] { return listener->calls.size() >= 10; }));
    DispatchQueue::main().drain();
    const auto lines = testkit::splitLines(capture.finish());
    EXPECT_EQ(listener->loops, (std::vector<NSInteger>{0, 1, 2, 0}));
    // onFileSelect comes at once on the loading thread, the rest through the main queue.
    std::vector<std::string> queued;
    std::copy_if(listener->calls.begin(), listener->calls.end(), std::back_inserter(queued),
                 [](const std::string& call) { return call != "file"; });
    EXPECT_EQ(queued, (std::vector<std::string>{"playing", "loop", "loop", "loop", "stopped", "playing",
                                                "loop", "stopped"}));
    EXPECT_EQ(std::count(listener->calls.begin(), listener->calls.end(), "file"), 2);
    EXPECT_TRUE(listener->allOnMain);
    for (const auto& [countText, times] : {std::pair{"1.", 2}, {"2.", 1}, {"3.", 1}, {"4.", 0}}) {
        const std::string count = countText;
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [count](const std::string& l) {
                                    return l.starts_with("AUEnginePlayer: Current audio file '/") &&
                                           l.ends_with(std::string(".m4a' looped: ") + count);
                                }),
                  times)
            << count;
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, LoopLengthTest, ::testing::Values(9000u, 24000u, 48001u));

TEST_F(PlayerTest, AStopWithALoopEndPendingEndsTheLoop) {
    ASSERT_TRUE(player->toggle());
    render(*player, kBlock);
    EXPECT_FALSE(player->toggle()); // flushes the pending loop end
    player->waitForStateQueue();
    player->engine().start(); // nothing was scheduled again
    const auto after = render(*player, 2 * kBlock);
    EXPECT_TRUE(std::all_of(after[0].begin(), after[0].end(), [](float s) { return s == 0.0f; }));
    DispatchQueue::main().drain();
    EXPECT_EQ(player->loopCount(), 0);
    EXPECT_TRUE(listener->loops.empty());
}

TEST_F(PlayerTest, AnEngineThatCannotStartIsNeverAnnouncedAsPlaying) {
    player->engine().disableManualRenderingMode();
    testkit::ScopedEnvironment::set("SDL_AUDIODRIVER", "no-such-driver");
    testkit::StdoutCapture capture;
    EXPECT_FALSE(player->toggle());
    EXPECT_FALSE(player->isPlaying());
    DispatchQueue::main().drain();
    const auto lines = testkit::splitLines(capture.finish());
    const auto error = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
        return l.starts_with(
            "AUEnginePlayer::ERROR: Could not start audio engine. error: The audio system could not start");
    });
    ASSERT_NE(error, lines.end());
    EXPECT_TRUE(error->ends_with("."));
    EXPECT_FALSE(contains(lines, "AUEnginePlayer: Audio engine starting."));
    EXPECT_EQ(listener->calls, std::vector<std::string>{"file"});
    EXPECT_FALSE(AVAudioSession::sharedInstance().isActive());
}

// Play shows Stop only while a loop is scheduled: no loop to load, a node
// that refuses the loop at the start, or at a loop end, each end in an error
// line and a stopped player.
TEST_F(PlayerTest, WhatCannotBeScheduledIsLoggedAndLeavesThePlayerStopped) {
    struct Case {
        const char* name;
        bool loopsThere;
        std::size_t occupied;  // segments put on the node before the start
        std::vector<std::string> calls;
        std::string error;
    };
    const std::size_t full = AVAudioPlayerNode::kCapacity;
    const std::string refused = "AUEnginePlayer::ERROR: The player node refused the audio file '";
    const std::vector<Case> cases{
        {"no loops", false, 0, {}, "AUEnginePlayer::ERROR: `file` parameter must not be nil."},
        {"refused at the start", true, full, {}, refused},
        {"refused at a loop end", true, full - 1, {"playing", "stopped"}, refused},
    };
    testkit::TempFolder empty{"empty"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testkit::ScopedEnvironment::set("ORVO_RESOURCES_DIR",
                                        (c.loopsThere ? loops.folder.path() : empty.path()).string());
        auto heard = std::make_shared<Listener>();
        auto fresh = std::make_unique<AUEnginePlayer>();
        fresh->setDelegate(heard);
        offline(*fresh);
        // Failures are stated after the capture, which would swallow them.
        testkit::StdoutCapture capture;
        std::size_t placed = 0;
        const auto occupy = [&] {
            for (std::size_t i = 0; i < c.occupied; ++i)
                placed += fresh->playerNode().scheduleBuffer(loops.decoded, {}) ? 1 : 0;
        };
        if (c.calls.empty())
            occupy();
        const bool started = fresh->toggle();
        if (started) {
            occupy();
            for (std::size_t done = 0; fresh->isPlaying() && done < 2 * loops.data; done += kBlock)
                render(*fresh, kBlock);
        }
        const bool playing = fresh->isPlaying();
        DispatchQueue::main().drain();
        const auto lines = testkit::splitLines(capture.finish());
        EXPECT_EQ(placed, c.occupied);
        EXPECT_EQ(started, !c.calls.empty());
        EXPECT_FALSE(playing);
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                                [&](const std::string& l) { return l.starts_with(c.error); }));
        std::vector<std::string> states;
        std::copy_if(heard->calls.begin(), heard->calls.end(), std::back_inserter(states),
                     [](const std::string& call) { return call == "playing" || call == "stopped"; });
        EXPECT_EQ(states, c.calls);
        EXPECT_FALSE(AVAudioSession::sharedInstance().isActive());
    }
}

// Each state line comes first, then the delegate hears of it; at a loop end
// the delegate hears first, with the count from before.
TEST_F(PlayerTest, TheStateLinesAndTheLoopEndReachLogAndDelegateInOrder) {
    listener->echo = true;
    testkit::StdoutCapture capture;
    ASSERT_TRUE(player->toggle());
    render(*player, loops.data + kBlock);
    ASSERT_TRUE(testkit::drainMainQueueUntil([&] { return !listener->loops.empty(); }));
    ASSERT_FALSE(player->toggle());
    DispatchQueue::main().drain();
    const auto lines = testkit::splitLines(capture.finish());
    const std::string looped =
        "AUEnginePlayer: Current audio file '" + player->fileURL()->path() + "' looped: 1.";
    for (const auto& [first, then] :
         {std::pair<std::string, std::string>{"AUEnginePlayer: Audio engine starting.", "delegate: playing"},
          {"delegate: loop", looped},
          {"AUEnginePlayer: Audio engine stopping.", "delegate: stopped"}}) {
        const auto at = std::find(lines.begin(), lines.end(), first);
        ASSERT_NE(at, lines.end()) << first;
        ASSERT_NE(at + 1, lines.end()) << first;
        EXPECT_EQ(*(at + 1), then);
    }
    EXPECT_EQ(listener->loops, std::vector<NSInteger>{0});
}

TEST_F(PlayerTest, ASessionThatFailsIsReportedAndPlaybackGoesOn) {
    AVAudioSession::sharedInstance().setFailureForTesting("The session is busy");
    testkit::StdoutCapture capture;
    EXPECT_TRUE(player->toggle());
    EXPECT_FALSE(player->toggle());
    AVAudioSession::sharedInstance().setFailureForTesting(std::nullopt);
    const auto lines = testkit::splitLines(capture.finish());
    for (const char* flag : {"true", "false"})
        EXPECT_TRUE(
            contains(lines, std::string("AUEnginePlayer::ERROR: Could not set audio session active ") + flag +
                                ". system error: The session is busy."));
}

TEST_F(PlayerTest, ALoopEndWithoutAFoundFileNamesNone) {
    ASSERT_TRUE(player->toggle());
    ASSERT_FALSE(player->toggle());
    testkit::TempFolder empty{"empty"};
    testkit::ScopedEnvironment::set("ORVO_RESOURCES_DIR", empty.path().string());
    testkit::StdoutCapture capture;
    ASSERT_TRUE(player->toggle()); // the older loop plays on
    render(*player, loops.data + kBlock);
    player->stop();
    DispatchQueue::main().drain();
    const auto lines = testkit::splitLines(capture.finish());
    EXPECT_TRUE(contains(lines, "AUEnginePlayer: Current audio file '(none)' looped: 1."));
}

TEST_F(PlayerTest, TheMIDILoggerAllocatesNothingOnTheRenderPathAndPrintsFromTheMainLoop) {
    const auto unit = effect();
    player->connect(unit);
    ASSERT_TRUE(player->toggle());
    const AUMIDIOutputEventBlock sent = unit->auAudioUnit()->midiOutputEventBlock();
    ASSERT_TRUE(sent);
    player->waitForStateQueue();
    DispatchQueue::main().drain();
    VirtualClock clock;
    testkit::StdoutCapture capture;
    std::size_t allocations = 0;
    // The engine renders and the unit sends MIDI on a render thread, as on a sound card's.
    std::thread renderThread([&] {
        AVAudioPCMBuffer block(AVAudioFormat::standardFormat(48000.0, 2), kBlock);
        const std::uint8_t bytes[8] = {0x90, 60, 100, 1, 2, 3, 4, 5};
        testkit::AllocationCounter counter;
        for (const NSInteger length : {3, 2, 8, -1}) {
            EXPECT_EQ(player->engine().renderOffline(kBlock, block), AVAudioEngineManualRenderingStatus::success);
            EXPECT_EQ(sent(length * 10, 0, length, bytes), noErr);
        }
        allocations = counter.count();
    });
    renderThread.join();
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(DispatchQueue::main().pendingCount(), 0u) << "the render thread posts nothing";
    clock.advance(0.5);
    std::vector<std::string> midi;
    for (const auto& line : testkit::splitLines(capture.finish()))
        if (line.find("MIDI") != std::string::npos) midi.push_back(line);
    EXPECT_EQ(midi, (std::vector<std::string>{"AUEnginePlayer: MIDI event from audio unit at: 30, data: 144, 60, 100",
                                             "AUEnginePlayer::WARNING: The MIDI data length is not as expected.",
                                             "AUEnginePlayer: MIDI event from audio unit at: 20, data: 144, 60",
                                             "AUEnginePlayer::WARNING: The MIDI data length is not as expected.",
                                             "AUEnginePlayer: MIDI event from audio unit at: 80, data: 144, 60, 100",
                                             "AUEnginePlayer::WARNING: The MIDI data length is not as expected.",
                                             "AUEnginePlayer: MIDI event from audio unit at: -10, data: "}));
}

TEST_F(PlayerTest, TakingTheUnitOutWiresThePlayerStraightToTheMixer) {
    player->connect(effect());
    ASSERT_TRUE(player->toggle());
    testkit::StdoutCapture capture;
    player->disconnect();
    const auto lines = testkit::splitLines(capture.finish());
    EXPECT_EQ(player->activeAVAudioUnit(), nullptr);
    EXPECT_TRUE(contains(lines, "AUEnginePlayer: Audio unit was disconnecting and detaching."));
    EXPECT_TRUE(contains(lines, "AUEnginePlayer: Performed audio unit disconnection."));
    const auto out = render(*player, loops.data);
    // Dry again from wherever the loop stood.
    EXPECT_TRUE(std::equal(out[0].begin(), out[0].begin() + kBlock, loops.decoded->channelData(0)) ||
                std::search(loops.decoded->channelData(0), loops.decoded->channelData(0) + loops.data,
                            out[0].begin(),
                            out[0].begin() + 64) != loops.decoded->channelData(0) + loops.data);
}

TEST_F(PlayerTest, QuittingWhileTheDeviceRunsStopsItBeforeAnythingGoes) {
    player->engine().disableManualRenderingMode();
    testkit::ScopedEnvironment::set("SDL_AUDIODRIVER", "dummy");
    player->connect(effect());
    ASSERT_TRUE(player->toggle());
    // The device has played the loop through the unit once and goes on.
    ASSERT_TRUE(testkit::drainMainQueueUntil([&] { return !listener->loops.empty(); }));
    player.reset(); // unit, nodes and engine go with the device running
    DispatchQueue::main().drain();
}

// A loop that is missing is not found; one that is a pipe, a folder or a
// device is no regular file, and said to be one. Nothing plays either way.
TEST_F(PlayerTest, ALoopThatIsNoRegularFileIsNamedSo) {
    const std::string missing = "' was not found inside the resource folder for the app.",
                      irregular = "' inside the resource folder for the app is not a regular file.";
    const struct {
        const char* name;
        std::function<void(const std::filesystem::path&)> make;
        std::string says;
    } cases[] = {
        {"missing", [](const std::filesystem::path&) {}, missing},
        {"pipe", [](const std::filesystem::path& p) { ::mkfifo(p.c_str(), 0600); }, irregular},
        {"folder", [](const std::filesystem::path& p) { std::filesystem::create_directory(p); }, irregular},
        {"device", [](const std::filesystem::path& p) { std::filesystem::create_symlink("/dev/zero", p); },
         irregular},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testkit::TempFolder folder{"loops"};
        for (int n = 1; n <= 80; ++n) c.make(folder / (std::to_string(n) + ".m4a"));
        testkit::ScopedEnvironment::set("ORVO_RESOURCES_DIR", folder.path().string());
        AUEnginePlayer fresh;
        offline(fresh);
        testkit::StdoutCapture capture;
        EXPECT_FALSE(fresh.toggle());
        DispatchQueue::main().drain();
        const std::string log = capture.finish();
        const auto lines = testkit::splitLines(log);
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.starts_with("AUEnginePlayer::ERROR: The audio file '") && l.ends_with(c.says);
        })) << log;
    }
}

} // namespace
