#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "Orvo_Halden_Extension/Orvo_Halden_Extension_AudioUnit.h"
#include "platform/audio/AVAudioFile.h"
#include "tests/Orvo Halden/AppTestSupport.h"
#include "tests/support/BrokenModules.h"
#include "tests/support/RunningProgram.h"
#include "tests/support/StdoutCapture.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestDisplay.h"

namespace {

// The built app with these arguments and extra environment variables, running.
struct App : testkit::RunningProgram {
    App(const std::vector<std::string>& arguments, const std::vector<std::string>& environment)
        : RunningProgram(ORVO_APP_FILE, arguments, environment) {}
    // How it ended and all it said, for a failure.
    std::string story() const { return describe() + ":\n" + output(); }
};

// The sound card's file as the disk driver writes it: 48 kHz stereo,
// interleaved floats. Read on from where the last look stopped.
class CardFile {
public:
    explicit CardFile(std::string path) : path_(std::move(path)) {}

    const std::vector<float>& samples() {
        std::ifstream in(path_, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(samples_.size() * sizeof(float)));
        float sample = 0;
        while (in && in.read(reinterpret_cast<char*>(&sample), sizeof sample))
            samples_.push_back(sample);
        return samples_;
    }
    // Whether the card has got `frames` frames from its first sound on.
    bool heard(std::size_t frames) {
        samples();
        while (scanned_ < samples_.size() && std::abs(samples_[scanned_]) <= kFloor) ++scanned_;
        return scanned_ + 2 * frames <= samples_.size();
    }

    static constexpr float kFloor = 1e-4f;

private:
    std::string path_;
    std::vector<float> samples_;
    std::size_t scanned_ = 0;
};

std::size_t firstSound(const std::vector<float>& samples) {
    return static_cast<std::size_t>(std::find_if(samples.begin(), samples.end(),
                                                 [](float s) { return std::abs(s) > CardFile::kFloor; }) -
                                    samples.begin());
}

// The loop at `path` through a freshly made effect, as the app's player wires
// it, rendered offline: `frames` frames of each channel.
std::vector<std::vector<float>> effectRender(const std::string& path, std::size_t frames) {
    testkit::TempFolder loops{"loops"};
    for (int n = 1; n <= 80; ++n)
        std::filesystem::create_symlink(path, loops / (std::to_string(n) + ".m4a"));
    testkit::ScopedEnvironment environment{"ORVO_RESOURCES_DIR"};
    testkit::ScopedEnvironment::set("ORVO_RESOURCES_DIR", loops.path().string());
    AUEnginePlayer player;
    apptest::offline(player);
    player.connect(std::make_shared<AVAudioUnit>(
        Orvo_Halden_Extension_AudioUnit::make(Orvo_Halden_Extension_AudioUnit::kComponentDescription)));
    EXPECT_TRUE(player.toggle());
    auto out = apptest::render(player, frames);
    player.stop();
    DispatchQueue::main().drain();
    return out;
}

}  // namespace

TEST(App, PlaysALoopThroughThePlugInHeadlessAndEndsCleanly) {
    testkit::TempFolder folder;
    const std::string sound = (folder / "out.raw").string();
    App app({"--headless", "--autoplay"},
            {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + sound, "ORVO_DOCUMENTS_DIR=" + folder.path().string(),
             "ORVO_COMPONENT_PATH=", "ORVO_RESOURCES_DIR="});
    ASSERT_TRUE(app.started());
    // Play waits for the effect, however long it takes to load: the run lasts
    // until the card has got the second of sound the checks below compare.
    CardFile card(sound);
    const std::size_t frames = 48000;
    const bool heard = app.waitUntil([&] { return card.heard(frames); });
    ASSERT_EQ(app.end(), 0) << app.story();
    ASSERT_TRUE(heard) << "the card got no second of sound: " << app.output();
    const std::string log = app.output();
    EXPECT_NE(log.find("AUExtensionManager: Performed audio unit connection."), std::string::npos) << log;
    EXPECT_NE(log.find("AUEnginePlayer: Audio unit re-connectingto the main mixer."), std::string::npos)
        << "the loop did not go through the plug-in";
    EXPECT_NE(log.find("AUEnginePlayer: Audio engine starting."), std::string::npos);
    std::smatch chosen;
    ASSERT_TRUE(std::regex_search(log, chosen, std::regex("Audio file at '([^']+)' was selected")));

    const std::vector<float> wet = card.samples();
    const std::size_t start = firstSound(wet);
    double energy = 0;
    for (std::size_t i = start; i < start + 2 * frames; ++i)
        energy += double(wet[i]) * wet[i];
    EXPECT_GT(std::sqrt(energy / (2 * frames)), 1e-3);

    // Autoplay waits for the effect: from its first sound on, the first second
    // the card got is the effect's own offline render of the chosen loop (a
    // start before the unit is wired would play the loop dry, and louder).
    const std::vector<std::vector<float>> reference = effectRender(chosen[1].str(), 2 * frames);
    const std::size_t startFrame = start / 2,
                      referenceStart = std::min(firstSound(reference[0]), firstSound(reference[1]));
    ASSERT_LT(referenceStart + frames, reference[0].size());
    double error = 0, power = 0;
    for (std::size_t frame = 0; frame < frames; ++frame)
        for (std::size_t c = 0; c < 2; ++c) {
            const double want = reference[c][referenceStart + frame], got = wet[2 * (startFrame + frame) + c];
            error += (got - want) * (got - want);
            power += want * want;
        }
    EXPECT_LT(std::sqrt(error / power), 1e-3) << "the start is not the effect's sound";
}

// A broken module found first is tried, skipped with its reason, and the
// installed effect after it is loaded; the app never crashes or hangs on it,
// and a user who quits while it is on trial is not kept waiting.
TEST(App, ABrokenModuleIsSkippedWithItsReasonNeverACrashOrAHang) {
    const std::string crashed = "while it was tried";
    const struct {
        const char* name;
        testkit::BrokenModule kind;
        bool quitsDuringTrial;
        std::string says;
    } cases[] = {
        {"truncated library", testkit::BrokenModule::truncatedDependency, false, crashed},
        {"library that is a pipe", testkit::BrokenModule::pipeDependency, false, "its trial did not end within"},
        {"zeroed dynamic segment", testkit::BrokenModule::zeroedDynamicSegment, false, crashed},
        {"quit while a pipe is read", testkit::BrokenModule::pipeDependency, true,
         "was still being tried when the program quit"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testkit::TempFolder folder;
        const std::filesystem::path module = testkit::brokenModule(c.kind, folder.path());
        ASSERT_FALSE(module.empty());
        std::filesystem::create_directory(folder / "registry");
        std::ofstream(folder / "registry" / "broken.plist")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
               "<key>name</key><string>VLMR: Broken</string><key>type</key><string>aumf</string>"
               "<key>subtype</key><string>ohdn</string><key>manufacturer</key><string>VLMR</string>"
               "<key>flags</key><integer>2</integer><key>path</key><string>"
            << module.string() << "</string></dict></plist>\n";
        // A hang never ends, whatever the limit: the pipe's case is found hung
        // sooner (the installed effect too has only that long, so it is not
        // awaited there); the others have all the time a busy machine needs.
        const bool hangs = c.kind == testkit::BrokenModule::pipeDependency && !c.quitsDuringTrial;
        App app({"--headless", "--autoplay"},
                {"SDL_AUDIODRIVER=dummy", "ORVO_DOCUMENTS_DIR=" + folder.path().string(),
                 "ORVO_COMPONENT_PATH=" + (folder / "registry").string(), "ORVO_RESOURCES_DIR=",
                 std::string("ORVO_MODULE_TRIAL_SECONDS=") + (hangs ? "2" : "60")});
        ASSERT_TRUE(app.started());
        int writer = -1; // the pipe's writing end, held open: the reader stays stuck in it
        if (c.quitsDuringTrial) {
            std::filesystem::path pipe;
            for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
                if (entry.is_fifo()) pipe = entry.path();
            // It opens for writing once the trial's loader has it open for reading.
            EXPECT_TRUE(app.waitUntil([&] {
                writer = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                return writer >= 0;
            })) << "the module's trial never opened its library: " << app.output();
        } else if (hangs) {
            // Its hang is cut short and the app goes on; loading the effect
            // after it is shown by the other cases, which have all the time.
            EXPECT_TRUE(app.waitFor(c.says)) << app.output();
        } else {
            EXPECT_TRUE(app.waitFor("AUExtensionManager: Performed audio unit connection."))
                << "the installed effect was not loaded after the broken module: " << app.output();
        }
        EXPECT_EQ(app.end(), 0) << app.story();
        if (writer >= 0) ::close(writer);
        const std::string log = app.output();
        EXPECT_NE(log.find("The module '" + module.string() + "'"), std::string::npos) << log;
        EXPECT_NE(log.find(c.says), std::string::npos) << log;
    }
}

// The command line: how the app ends, and its first line, for good and bad
// arguments. A run of a fraction of a second ends by itself when its time is up.
TEST(App, AnswersItsCommandLineWithAnExitStatusAndAFirstLine) {
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string firstLine;  // its beginning
    };
    const std::string bad = "Orvo_Halden: ";
    const std::vector<Case> cases{
        {{"--help"}, 0, "usage: Orvo_Halden [options]"},
        {{"-h", "--frobnicate"}, 0, "usage: Orvo_Halden [options]"},
        {{"--version"}, 0, "Orvo_Halden 1."},
        {{"--frobnicate"}, 2, bad + "unknown argument '--frobnicate'"},
        {{"--headless", "loop.m4a"}, 2, bad + "unknown argument 'loop.m4a'"},
        {{"--autoplay=yes"}, 2, bad + "unknown argument '--autoplay=yes'"},
        {{"--seconds"}, 2, bad + "--seconds needs"},
        {{"--seconds", "1e30"}, 2, bad + "--seconds needs"},
        {{"--seconds", "inf"}, 2, bad + "--seconds needs"},
        {{"--seconds=nan"}, 2, bad + "--seconds needs"},
        {{"--seconds", "0"}, 2, bad + "--seconds needs"},
        {{"--seconds", "-1"}, 2, bad + "--seconds needs"},
        {{"--seconds=3s"}, 2, bad + "--seconds needs"},
        {{"--screenshot"}, 2, bad + "--screenshot needs"},
        {{"--headless", "--seconds=0.3"}, 0, "Info: Main view controller loaded."},
        {{"--headless", "--seconds", "0.3", "--unit"}, 0, "Info: Main view controller loaded."},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& a : c.arguments)
            shown += a + " ";
        SCOPED_TRACE(shown);
        testkit::TempFolder folder;
        App app(c.arguments, {"DISPLAY=", "WAYLAND_DISPLAY=", "SDL_AUDIODRIVER=dummy",
                              "ORVO_DOCUMENTS_DIR=" + folder.path().string()});
        EXPECT_EQ(app.finish(), c.status) << app.describe() << ":\n" << app.output().substr(0, 400);
        const std::vector<std::string> lines = testkit::splitLines(app.output());
        ASSERT_FALSE(lines.empty());
        EXPECT_TRUE(lines.front().starts_with(c.firstLine)) << lines.front();
        if (c.status == 2) {
            EXPECT_EQ(lines.size(), 1u) << app.output().substr(0, 400);
        }
    }
}

TEST(App, OpensItsWindowOnADisplayAndClosesWhenAskedToQuit) {
    const testkit::TestDisplay& display = testkit::TestDisplay::shared();
    if (!display.available())
        GTEST_SKIP() << display.reason();
    testkit::TempFolder folder;
    App app({}, {"SDL_AUDIODRIVER=dummy", "ORVO_DOCUMENTS_DIR=" + folder.path().string(), "ORVO_COMPONENT_PATH=",
                 "ORVO_RESOURCES_DIR="});
    EXPECT_TRUE(app.waitFor("ViewController: Loading the audio unit's interface...")) << app.output();
    EXPECT_EQ(app.end(), 0) << app.story();
    EXPECT_EQ(app.output().find("no display"), std::string::npos) << app.output();
}

// A screenshot asked for is written, or the run fails and says why.
TEST(App, AScreenshotThatCannotBeWrittenFailsTheRunWithTheReason) {
    testkit::TempFolder folder;
    const std::string written = (folder / "shot.png").string();
    const struct {
        std::vector<std::string> arguments;
        bool needsWindow;
        int status;
        std::string reason; // in the log
    } cases[] = {
        {{"--seconds", "0.5", "--screenshot", written}, true, 0, ""},
        {{"--seconds", "0.5", "--screenshot", "/no/such/dir/x.png"}, true, 1, "No such file or directory"},
        {{"--headless", "--seconds", "0.3", "--screenshot", written + ".headless"},
         false,
         1,
         "no screenshot"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        if (c.needsWindow && !testkit::TestDisplay::shared().available()) continue;
        App app(c.arguments, {"SDL_AUDIODRIVER=dummy", "ORVO_DOCUMENTS_DIR=" + folder.path().string(),
                              "ORVO_COMPONENT_PATH=", "ORVO_RESOURCES_DIR="});
        EXPECT_EQ(app.finish(), c.status) << app.story();
        EXPECT_NE(app.output().find(c.reason), std::string::npos) << app.output();
        EXPECT_EQ(std::filesystem::exists(c.arguments.back()), c.status == 0);
    }
}

TEST(App, WithoutADisplaySaysSoInOneLineAndRunsHeadless) {
    testkit::TempFolder folder;
    App app({}, {"DISPLAY=", "WAYLAND_DISPLAY=", "SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=dummy",
                 "ORVO_DOCUMENTS_DIR=" + folder.path().string()});
    EXPECT_TRUE(app.waitFor("UIApplicationMain: no display to open a window on; running headless (Ctrl+C quits)."))
        << app.output();
    EXPECT_EQ(app.end(), 0) << app.story();
}
