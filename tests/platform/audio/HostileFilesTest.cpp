// Files a broken install or a hostile folder may put where the player looks
// for its loops. Each is read (and played where it matters) in a child
// process with a time limit, so a crash or a hang fails its case alone.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio/AVAudioEngine.h"
#include "platform/audio/AVAudioFile.h"
#include "platform/audio/AVAudioPlayerNode.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/NSError.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/EncodedAudio.h"
#include "tests/support/FrequencyMeasures.h"
#include "tests/support/Signals.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;
using testkit::EncodedPart;

namespace {

// None when there is nothing to write.
fs::path written(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty()) return {};
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

// A loop of one second of sine at `rate`, as the loop generator writes them.
fs::path loopAt(const fs::path& path, double rate) {
    AVAudioPCMBuffer buffer(AVAudioFormat::standardFormat(rate, 1), static_cast<AVAudioFrameCount>(rate));
    const auto tone = testkit::sine(440.0, rate, buffer.frameCapacity(), 0.5f);
    std::copy(tone.begin(), tone.end(), buffer.channelData(0));
    buffer.setFrameLength(buffer.frameCapacity());
    AVAudioFile::writeLossless(URL::fileURLWithPath(path.string()), buffer);
    return path;
}

AVAudioFile opened(const fs::path& path) { return AVAudioFile(URL::fileURLWithPath(path.string())); }

double rmsOf(const AVAudioFile& file, AVAudioChannelCount channel, double from, double to) {
    const auto frames = static_cast<double>(file.length());
    const auto begin = static_cast<std::size_t>(frames * from), end = static_cast<std::size_t>(frames * to);
    return testkit::rms(file.buffer()->channelData(channel) + begin, end - begin);
}

// Both channels sound in the first and the last fifth, and the file is `seconds` long.
std::string stereoThroughout(const fs::path& path, double seconds) {
    const AVAudioFile file = opened(path);
    const double length = static_cast<double>(file.length()) / file.processingFormat()->sampleRate();
    if (file.processingFormat()->channelCount() != 2)
        return "channels: " + std::to_string(file.processingFormat()->channelCount());
    if (std::fabs(length - seconds) > 0.12) return "seconds: " + std::to_string(length);
    for (AVAudioChannelCount c = 0; c < 2; ++c)
        for (const double from : {0.0, 0.8})
            if (rmsOf(file, c, from, from + 0.2) < 0.1)
                return "channel " + std::to_string(c) + " is silent at " + std::to_string(from);
    return "";
}

// Frames the player puts out for the file in an engine at 48 kHz.
std::size_t playedFrames(const fs::path& path) {
    const AVAudioFile file = opened(path);
    AVAudioEngine engine;
    engine.enableManualRenderingMode(AVAudioFormat::standardFormat(48000.0, 2), 512);
    auto player = std::make_shared<AVAudioPlayerNode>();
    engine.attach(player);
    engine.connect(player, engine.mainMixerNode(), file.processingFormat());
    player->scheduleFile(file, nullptr, nullptr);
    player->play();
    engine.start();
    AVAudioPCMBuffer block(AVAudioFormat::standardFormat(48000.0, 2), 512);
    std::size_t last = 0;
    for (std::size_t at = 0; at < 5 * 48000; at += 512) {
        engine.renderOffline(512, block);
        for (std::size_t i = 0; i < 512; ++i)
            if (block.channelData(0)[i] != 0.0f) last = at + i + 1;
    }
    return last;
}

std::string playsForOneSecond(const fs::path& path) {
    const std::size_t frames = playedFrames(path);
    return frames > 48000 - 100 && frames < 48000 + 100 ? "" : "played " + std::to_string(frames) + " frames";
}

std::string refusedWith(const fs::path& path, const std::string& says) {
    try {
        opened(path);
    } catch (const NSError& error) {
        return std::string(error.what()).find(says) != std::string::npos ? "" : error.what();
    }
    return "was read";
}

// Neither the bundle offers it as a loop nor does the reader wait on it.
std::string refusedAsALoop(const fs::path& path) {
    ::setenv("ORVO_RESOURCES_DIR", path.parent_path().c_str(), 1);
    if (Bundle::main().pathForResource(path.stem().string(), "m4a")) return "the bundle offers it";
    return refusedWith(path, "is not a regular file");
}

struct Case {
    const char* name;
    std::function<fs::path(const fs::path& folder)> make;
    std::function<std::string(const fs::path&)> check;
};

TEST(HostileFilesTest, EveryFileIsReadPlayedOrRefusedWithoutACrashOrAHang) {
    testkit::TempFolder folder{"hostile"};
    const std::vector<Case> cases = {
        {"stereo then mono MP2",
         [](const fs::path& f) {
             return written(f / "a.mp2",
                            testkit::encodedAudio("mp2", "mp2", {{2, 48000, 48000}, {1, 48000, 48000}}));
         },
         [](const fs::path& p) { return stereoThroughout(p, 2.0); }},
        {"mono then stereo MP2",
         [](const fs::path& f) {
             return written(f / "b.mp2",
                            testkit::encodedAudio("mp2", "mp2", {{1, 48000, 48000}, {2, 48000, 48000}}));
         },
         [](const fs::path& p) { return stereoThroughout(p, 2.0); }},
        {"stereo then mono ADTS AAC",
         [](const fs::path& f) {
             return written(f / "c.aac",
                            testkit::encodedAudio("adts", "aac", {{2, 48000, 48000}, {1, 48000, 48000}}));
         },
         [](const fs::path& p) { return stereoThroughout(p, 2.0); }},
        {"rate halved mid-stream",
         [](const fs::path& f) {
             return written(f / "d.mp2",
                            testkit::encodedAudio("mp2", "mp2", {{2, 48000, 48000}, {2, 24000, 24000}}));
         },
         [](const fs::path& p) { return stereoThroughout(p, 2.0); }},
        {"8 kHz loop", [](const fs::path& f) { return loopAt(f / "e.m4a", 8000.0); }, playsForOneSecond},
        {"192 kHz loop", [](const fs::path& f) { return loopAt(f / "f.m4a", 192000.0); }, playsForOneSecond},
        {"FLAC of digital silence beyond the cap",
         [](const fs::path& f) {
             return written(f / "g.flac",
                            testkit::encodedAudio("flac", "flac",
                                                  {{1, 48000, AVAudioFile::kMaximumSamples + 48000, 0.0f}}));
         },
         [](const fs::path& p) {
             return refusedWith(p, std::to_string(AVAudioFile::kMaximumSamples) + " samples");
         }},
        {"pipe in place of a loop",
         [](const fs::path& f) {
             fs::create_directory(f / "pipe");
             ::mkfifo((f / "pipe/7.m4a").c_str(), 0600);
             return f / "pipe/7.m4a";
         },
         refusedAsALoop},
        {"device in place of a loop",
         [](const fs::path& f) {
             fs::create_directory(f / "device");
             fs::create_symlink("/dev/zero", f / "device/8.m4a");
             return f / "device/8.m4a";
         },
         refusedAsALoop},
    };
    for (const Case& test : cases) {
        const fs::path path = test.make(folder.path());
        ASSERT_TRUE(fs::exists(fs::symlink_status(path))) << test.name;
        const auto outcome = testkit::runInChild([&] { return test.check(path); }, std::chrono::seconds(60));
        EXPECT_TRUE(outcome.passed()) << test.name << ": " << outcome.describe();
    }
}

} // namespace
