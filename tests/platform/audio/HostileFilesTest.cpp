// Files a broken install or a hostile folder may put where the player looks
// for its loops. Each is read (and played where it matters) in a child
// process with a time limit, so a crash or a hang fails its case alone.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
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

namespace {

using Make = std::function<fs::path(const fs::path& folder)>;
using Check = std::function<std::string(const fs::path&)>; // empty when it holds

Make encoded(std::string name, std::string muxer, std::string encoder,
             std::vector<testkit::EncodedPart> parts) {
    return [=](const fs::path& folder) {
        const auto bytes = testkit::encodedAudio(muxer, encoder, parts);
        std::ofstream(folder / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return bytes.empty() ? fs::path() : folder / name;
    };
}

// One second of sine at `rate`, written as the loop generator writes loops.
Make loopAt(double rate) {
    return [=](const fs::path& folder) {
        AVAudioPCMBuffer buffer(AVAudioFormat::standardFormat(rate, 1), static_cast<AVAudioFrameCount>(rate));
        const auto tone = testkit::sine(440.0, rate, buffer.frameCapacity(), 0.5f);
        std::copy(tone.begin(), tone.end(), buffer.channelData(0));
        buffer.setFrameLength(buffer.frameCapacity());
        const fs::path path = folder / (std::to_string(static_cast<int>(rate)) + ".m4a");
        AVAudioFile::writeLossless(URL::fileURLWithPath(path.string()), buffer);
        return path;
    };
}

// Loop 7 of a resources folder of its own is `make`'s thing.
Make inPlaceOfALoop(const std::string& kind, const std::function<void(const fs::path&)>& make) {
    return [=](const fs::path& folder) {
        fs::create_directory(folder / kind);
        make(folder / kind / "7.m4a");
        return folder / kind / "7.m4a";
    };
}

AVAudioFile opened(const fs::path& path) { return AVAudioFile(URL::fileURLWithPath(path.string())); }

// Two seconds in stereo, both channels sounding in the first and the last fifth.
std::string twoSecondsOfStereo(const fs::path& path) {
    const AVAudioFile file = opened(path);
    const double seconds = static_cast<double>(file.length()) / file.processingFormat()->sampleRate();
    if (file.processingFormat()->channelCount() != 2)
        return "channels: " + std::to_string(file.processingFormat()->channelCount());
    if (std::fabs(seconds - 2.0) > 0.12) return "seconds: " + std::to_string(seconds);
    const auto fifth = static_cast<std::size_t>(file.length() / 5);
    for (AVAudioChannelCount c = 0; c < 2; ++c)
        for (const std::size_t at : {std::size_t{0}, 4 * fifth})
            if (testkit::rms(file.buffer()->channelData(c) + at, fifth) < 0.1)
                return "channel " + std::to_string(c) + " is silent at frame " + std::to_string(at);
    return "";
}

// Plays for one second through a player in an engine at 48 kHz.
std::string playsOneSecond(const fs::path& path) {
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
    std::size_t last = 0; // the frame after the last one that sounds
    for (std::size_t at = 0; at < 5 * 48000; at += 512) {
        engine.renderOffline(512, block);
        for (std::size_t i = 0; i < 512; ++i)
            if (block.channelData(0)[i] != 0.0f) last = at + i + 1;
    }
    return last > 48000 - 100 && last < 48000 + 100 ? "" : "played " + std::to_string(last) + " frames";
}

Check refusedWith(const std::string& says) {
    return [=](const fs::path& path) -> std::string {
        try {
            opened(path);
        } catch (const NSError& error) {
            return std::string(error.what()).find(says) != std::string::npos ? "" : error.what();
        }
        return "was read";
    };
}

// Neither offered as a loop nor waited on by the reader.
std::string refusedAsALoop(const fs::path& path) {
    ::setenv("ORVO_RESOURCES_DIR", path.parent_path().c_str(), 1);
    if (Bundle::main().pathForResource("7", "m4a")) return "the bundle offers it";
    return refusedWith("is not a regular file")(path);
}

TEST(HostileFilesTest, EveryFileIsReadPlayedOrRefusedWithoutACrashOrAHang) {
    testkit::TempFolder folder{"hostile"};
    const std::int64_t beyondTheCap = AVAudioFile::kMaximumSamples + 48000;
    const struct {
        const char* name;
        Make make;
        Check check;
    } cases[] = {
        {"stereo then mono MP2", encoded("a.mp2", "mp2", "mp2", {{2, 48000, 48000}, {1, 48000, 48000}}),
         twoSecondsOfStereo},
        {"mono then stereo MP2", encoded("b.mp2", "mp2", "mp2", {{1, 48000, 48000}, {2, 48000, 48000}}),
         twoSecondsOfStereo},
        {"stereo then mono ADTS AAC", encoded("c.aac", "adts", "aac", {{2, 48000, 48000}, {1, 48000, 48000}}),
         twoSecondsOfStereo},
        {"rate halved midway", encoded("d.mp2", "mp2", "mp2", {{2, 48000, 48000}, {2, 24000, 24000}}),
         twoSecondsOfStereo},
        {"8 kHz loop", loopAt(8000.0), playsOneSecond},
        {"192 kHz loop", loopAt(192000.0), playsOneSecond},
        {"FLAC of digital silence beyond the cap",
         encoded("g.flac", "flac", "flac", {{1, 48000, beyondTheCap, 0.0f}}),
         refusedWith(std::to_string(AVAudioFile::kMaximumSamples) + " samples")},
        {"pipe in place of a loop",
         inPlaceOfALoop("pipe", [](const fs::path& p) { ::mkfifo(p.c_str(), 0600); }), refusedAsALoop},
        {"device in place of a loop",
         inPlaceOfALoop("device", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }),
         refusedAsALoop},
    };
    for (const auto& test : cases) {
        const fs::path path = test.make(folder.path());
        ASSERT_TRUE(fs::exists(fs::symlink_status(path))) << test.name;
        const auto outcome = testkit::runInChild([&] { return test.check(path); }, std::chrono::seconds(60));
        EXPECT_TRUE(outcome.passed()) << test.name << ": " << outcome.describe();
    }
}

} // namespace
