#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/AVAudioEngine.h"
#include "platform/audio/AVAudioFile.h"
#include "platform/audio/AVAudioPlayerNode.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/foundation/NSError.h"
#include "tests/support/Patience.h"
#include "tests/support/Signals.h"
#include "tests/support/TempFolder.h"

namespace {

constexpr AVAudioFrameCount kBlock = 512;

std::shared_ptr<AVAudioPCMBuffer> bufferOf(const std::vector<std::vector<float>>& channels) {
    auto buffer = std::make_shared<AVAudioPCMBuffer>(
        AVAudioFormat::standardFormat(48000.0, static_cast<AVAudioChannelCount>(channels.size())),
        static_cast<AVAudioFrameCount>(channels[0].size()));
    for (std::size_t c = 0; c < channels.size(); ++c)
        std::copy(channels[c].begin(), channels[c].end(),
                  buffer->channelData(static_cast<AVAudioChannelCount>(c)));
    buffer->setFrameLength(static_cast<AVAudioFrameCount>(channels[0].size()));
    return buffer;
}

TEST(AudioFileTest, LosslessRoundTripKeepsLengthChannelsAndTwentyFourBits) {
    testkit::TempFolder folder{"files"};
    for (const auto& [channels, frames] :
         {std::pair{1u, 1u}, {2u, 4096u}, {2u, 12345u}, {2u, 24000u}, {2u, 48001u}}) {
        std::vector<std::vector<float>> data;
        for (unsigned c = 0; c < channels; ++c) data.push_back(testkit::noise(frames, c + 3, 0.9f));
        const URL url = URL::fileURLWithPath((folder / ("f" + std::to_string(frames) + ".m4a")).string());
        AVAudioFile::writeLossless(url, *bufferOf(data));
        const AVAudioFile file(url);
        ASSERT_EQ(file.length(), frames);
        ASSERT_EQ(file.processingFormat()->channelCount(), channels);
        EXPECT_EQ(file.processingFormat()->sampleRate(), 48000.0);
        float worst = 0.0f;
        for (unsigned c = 0; c < channels; ++c)
            for (unsigned i = 0; i < frames; ++i)
                worst = std::max(worst, std::fabs(file.buffer()->channelData(c)[i] - data[c][i]));
        EXPECT_LE(worst, 1.0f / 8388607.0f) << frames;
    }
}

TEST(AudioFileTest, MissingOrUndecodableFilesThrowAClearError) {
    testkit::TempFolder folder{"files"};
    std::ofstream(folder / "noise.m4a") << "this is not an audio file at all";
    for (const auto& [name, says] : {std::pair<std::string, std::string>{"absent.m4a", "cannot be opened"},
                                     {"noise.m4a", "noise.m4a' "}}) {
        try {
            AVAudioFile file(URL::fileURLWithPath((folder / name).string()));
            ADD_FAILURE() << name << " was read";
        } catch (const NSError& error) {
            EXPECT_NE(std::string(error.what()).find(says), std::string::npos) << error.what();
        }
    }
}

// An engine rendering offline: player -> main mixer -> output.
class OfflineEngineTest : public ::testing::Test {
protected:
    OfflineEngineTest() {
        engine.enableManualRenderingMode(AVAudioFormat::standardFormat(48000.0, 2), kBlock);
        engine.attach(player);
    }

    // `frames` more frames of the output, block by block.
    std::vector<std::vector<float>> render(std::size_t frames) {
        std::vector<std::vector<float>> out(2);
        AVAudioPCMBuffer block(AVAudioFormat::standardFormat(48000.0, 2), kBlock);
        for (std::size_t done = 0; done < frames; done += kBlock) {
            const auto n = static_cast<AVAudioFrameCount>(std::min<std::size_t>(kBlock, frames - done));
            EXPECT_EQ(engine.renderOffline(n, block), AVAudioEngineManualRenderingStatus::success);
            for (int c = 0; c < 2; ++c)
                out[c].insert(out[c].end(), block.channelData(c), block.channelData(c) + n);
        }
        return out;
    }

    AVAudioEngine engine;
    std::shared_ptr<AVAudioPlayerNode> player = std::make_shared<AVAudioPlayerNode>();
};

TEST_F(OfflineEngineTest, ThePlayerThroughTheMixerIsTheSignalItselfMonoOnBothSides) {
    for (const unsigned channels : {1u, 2u}) {
        std::vector<std::vector<float>> data;
        for (unsigned c = 0; c < channels; ++c) data.push_back(testkit::noise(3000, c + 1, 0.5f));
        auto buffer = bufferOf(data);
        engine.connect(player, engine.mainMixerNode(), buffer->format());
        player->scheduleBuffer(buffer, nullptr);
        player->play();
        engine.start();
        const auto out = render(3000 + kBlock);
        engine.stop();
        for (int c = 0; c < 2; ++c) {
            const auto& expected = data[channels == 1 ? 0 : c];
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out[c].begin())) << channels;
            EXPECT_TRUE(std::all_of(out[c].begin() + 3000, out[c].end(), [](float s) { return s == 0.0f; }));
        }
    }
}

TEST_F(OfflineEngineTest, CompletionsFireOnceEachOnAWorkerThreadInOrder) {
    engine.connect(player, engine.mainMixerNode(), nullptr);
    std::mutex mutex;
    std::vector<int> fired;
    std::set<std::thread::id> threads;
    for (int i = 0; i < 3; ++i)
        player->scheduleBuffer(bufferOf({testkit::noise(1000, 9), testkit::noise(1000, 8)}), [&, i] {
            std::lock_guard lock(mutex);
            fired.push_back(i);
            threads.insert(std::this_thread::get_id());
        });
    player->play();
    engine.start();
    render(4 * kBlock);
    player->stop(); // nothing left to flush: no second firing
    ASSERT_TRUE(testkit::waitUntil([&] {
        std::lock_guard lock(mutex);
        return fired.size() == 3;
    }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::lock_guard lock(mutex);
    EXPECT_EQ(fired, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
}

TEST_F(OfflineEngineTest, PauseKeepsThePlaceAndStopFlushesAndFiresOnce) {
    const auto data = testkit::noise(20 * kBlock, 4, 0.5f);
    auto buffer = bufferOf({data});
    engine.connect(player, engine.mainMixerNode(), buffer->format());
    player->setCompletionLeadFrames(0);
    std::atomic<int> fired{0};
    player->scheduleBuffer(buffer, [&] { ++fired; });
    player->play();
    engine.start();
    auto first = render(kBlock);
    player->pause();
    EXPECT_FALSE(player->isPlaying());
    auto paused = render(kBlock);
    player->play();
    auto resumed = render(kBlock);
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + kBlock, first[0].begin()));
    EXPECT_TRUE(std::all_of(paused[0].begin(), paused[0].end(), [](float s) { return s == 0.0f; }));
    EXPECT_TRUE(std::equal(data.begin() + kBlock, data.begin() + 2 * kBlock, resumed[1].begin()));
    EXPECT_EQ(fired, 0);
    player->stop();
    player->stop();
    ASSERT_TRUE(testkit::waitUntil([&] { return fired == 1; }));
    player->play();
    auto after = render(kBlock);
    EXPECT_TRUE(std::all_of(after[0].begin(), after[0].end(), [](float s) { return s == 0.0f; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(fired, 1);
}

TEST_F(OfflineEngineTest, RenderingNeedsARunningEngineAndABlockWithinTheMaximum) {
    AVAudioPCMBuffer block(AVAudioFormat::standardFormat(48000.0, 2), 2 * kBlock);
    EXPECT_EQ(engine.renderOffline(kBlock, block),
              AVAudioEngineManualRenderingStatus::cannotDoInCurrentContext);
    engine.start();
    EXPECT_EQ(engine.renderOffline(2 * kBlock, block), AVAudioEngineManualRenderingStatus::error);
    EXPECT_THROW(engine.enableManualRenderingMode(AVAudioFormat::standardFormat(48000.0, 2), kBlock),
                 NSError);
    // What an application does at its end: every engine of the process stops.
    auto other = std::make_unique<AVAudioEngine>();
    other->enableManualRenderingMode(AVAudioFormat::standardFormat(48000.0, 2), kBlock);
    other->start();
    AVAudioEngine::stopAll();
    EXPECT_FALSE(engine.isRunning());
    EXPECT_FALSE(other->isRunning());
    other.reset();
    AVAudioEngine::stopAll();  // an engine that is gone is not touched
}

TEST_F(OfflineEngineTest, TheOutputIsFiniteAndWithinFullScaleWhateverTheGraphPutsOut) {
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<std::pair<float, float>> inOut = {
        {std::nanf(""), 0.0f}, {inf, 0.0f},    {-inf, 0.0f}, {1e30f, 1.0f},  {-1e30f, -1.0f},
        {1.5f, 1.0f},          {-3.0f, -1.0f}, {0.5f, 0.5f}, {-1.0f, -1.0f}, {1e-40f, 1e-40f}};
    std::vector<float> samples;
    for (const auto& [in, out] : inOut) samples.push_back(in);
    auto buffer = bufferOf({samples});
    engine.connect(player, engine.mainMixerNode(), buffer->format());
    player->scheduleBuffer(buffer, nullptr);
    player->play();
    engine.start();
    const auto out = render(kBlock);
    for (std::size_t i = 0; i < inOut.size(); ++i)
        for (int c = 0; c < 2; ++c) EXPECT_EQ(out[c][i], inOut[i].second) << inOut[i].first;
}

// Passes its input on and counts the frames it rendered.
class Probe : public AVAudioMixerNode {
public:
    std::atomic<std::uint64_t> frames{0};

protected:
    void render(const AVAudioNodeInput* inputs, std::size_t count, float* const* output,
                AVAudioChannelCount channels, AVAudioFrameCount n) override {
        AVAudioMixerNode::render(inputs, count, output, channels, n);
        frames.fetch_add(n, std::memory_order_relaxed);
    }
};

TEST(SoundCardTest, RewiringWhileTheDeviceRendersNeverRacesTheRenderThread) {
    testkit::ScopedEnvironment environment{"SDL_AUDIODRIVER"};
    testkit::ScopedEnvironment::set("SDL_AUDIODRIVER", "dummy");
    AVAudioEngine engine;
    auto player = std::make_shared<AVAudioPlayerNode>();
    auto probe = std::make_shared<Probe>();
    engine.attach(player);
    engine.attach(probe);
    engine.connect(probe, engine.mainMixerNode(), nullptr);
    auto buffer = bufferOf({testkit::noise(2000, 1, 0.5f)});
    std::atomic<int> loops{0};
    std::atomic<bool> looping{true};
    std::function<void()> again = [&] {
        if (looping && ++loops < 1000) player->scheduleBuffer(buffer, again);
    };
    player->scheduleBuffer(buffer, again);
    player->play();
    engine.start();
    ASSERT_TRUE(engine.isRunning());
    for (int i = 0; i < 200; ++i) {
        engine.connect(player, probe, nullptr);
        std::this_thread::sleep_for(std::chrono::microseconds(300));
        engine.disconnectNodeInput(probe);
    }
    engine.connect(player, probe, nullptr);
    EXPECT_TRUE(testkit::waitUntil([&] { return probe->frames > 48000 / 10; }));
    looping = false;
    player->stop();
    engine.stop();
    EXPECT_FALSE(engine.isRunning());
}

TEST(SoundCardTest, ADeviceThatCannotOpenFailsTheStartWithItsReason) {
    testkit::ScopedEnvironment environment{"SDL_AUDIODRIVER"};
    testkit::ScopedEnvironment::set("SDL_AUDIODRIVER", "no-such-driver");
    AVAudioEngine engine;
    engine.mainMixerNode();
    try {
        engine.start();
        ADD_FAILURE() << "started";
    } catch (const NSError& error) {
        EXPECT_TRUE(std::string(error.what()).starts_with("The audio system could not start"))
            << error.what();
    }
    EXPECT_FALSE(engine.isRunning());
}

TEST(AudioSessionTest, SucceedsUnlessATestAsksForAFailure) {
    auto& session = AVAudioSession::sharedInstance();
    session.setCategory(AVAudioSessionCategoryPlayback, AVAudioSessionModeDefault, 0);
    session.setActive(true, 0);
    EXPECT_TRUE(session.isActive());
    EXPECT_EQ(session.category(), AVAudioSessionCategoryPlayback);
    session.setFailureForTesting("The session is busy.");
    EXPECT_THROW(session.setActive(false, 0), NSError);
    EXPECT_TRUE(session.isActive());
    session.setFailureForTesting(std::nullopt);
    session.setActive(false, 0);
    EXPECT_FALSE(session.isActive());
}

} // namespace
