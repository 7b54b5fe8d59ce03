#include <gtest/gtest.h>

#include <signal.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "Orvo_Halden_Extension/Orvo_Halden_Extension_AudioUnit.h"
#include "platform/audio/AVAudioFile.h"
#include "tests/Orvo Halden/AppTestSupport.h"
#include "tests/support/BrokenModules.h"
#include "tests/support/StdoutCapture.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestDisplay.h"

extern char** environ;

namespace {

struct AppRun {
    int status = -1;  // the exit status, -1 when it did not end by itself in time
    std::string log;
};

// Runs the built app with these arguments and extra environment, its output
// into a file; kills it when it outlives `timeout`.
AppRun runApp(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
           const testkit::TempFolder& folder, std::chrono::seconds timeout = std::chrono::seconds(60)) {
    std::vector<std::string> words{ORVO_APP_FILE};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables(environment);
    for (char** e = environ; *e; ++e)
        variables.emplace_back(*e);  // the first of a name wins: ours above
    std::vector<char*> envp;
    for (std::string& v : variables)
        envp.push_back(v.data());
    envp.push_back(nullptr);

    const std::string logPath = (folder / "log.txt").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t child = -1;
    AppRun run;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return run;
    const auto until = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > until) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            status = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    run.status = status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(logPath);
    run.log.assign(std::istreambuf_iterator<char>(in), {});
    return run;
}

std::vector<float> readFloats(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<float> samples;
    float sample = 0;
    while (in.read(reinterpret_cast<char*>(&sample), sizeof sample))
        samples.push_back(sample);
    return samples;
}

std::size_t firstSound(const std::vector<float>& samples, std::size_t stride = 1) {
    for (std::size_t i = 0; i < samples.size(); i += stride)
        if (std::abs(samples[i]) > 1e-4f)
            return i;
    return samples.size();
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
    // Play waits for the effect, which a sanitizer build on a busy machine
    // can take seconds to load: six leave well over the two the checks need.
    const AppRun run = runApp({"--headless", "--autoplay", "--seconds", "6"},
                           {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + sound,
                            "ORVO_DOCUMENTS_DIR=" + folder.path().string(), "ORVO_COMPONENT_PATH=", "ORVO_RESOURCES_DIR="},
                           folder);
    ASSERT_EQ(run.status, 0) << run.log;
    EXPECT_NE(run.log.find("AUExtensionManager: Performed audio unit connection."), std::string::npos);
    EXPECT_NE(run.log.find("AUEnginePlayer: Audio unit re-connectingto the main mixer."), std::string::npos)
        << "the loop did not go through the plug-in";
    EXPECT_NE(run.log.find("AUEnginePlayer: Audio engine starting."), std::string::npos);
    std::smatch chosen;
    ASSERT_TRUE(std::regex_search(run.log, chosen, std::regex("Audio file at '([^']+)' was selected")));

    // The sound card's file: 48 kHz stereo, interleaved floats.
    const std::vector<float> wet = readFloats(sound);
    ASSERT_GT(wet.size(), 2u * 48000);
    const std::size_t start = firstSound(wet);
    ASSERT_LT(start + 2 * 24000, wet.size()) << "the output is silent";
    double energy = 0;
    for (std::size_t i = start; i < start + 2 * 24000; ++i)
        energy += double(wet[i]) * wet[i];
    EXPECT_GT(std::sqrt(energy / (2 * 24000)), 1e-3);

    // Autoplay waits for the effect: from its first sound on, the first second
    // the card got is the effect's own offline render of the chosen loop (a
    // start before the unit is wired would play the loop dry, and louder).
    const std::vector<std::vector<float>> reference = effectRender(chosen[1].str(), 2 * 48000);
    const std::size_t frames = 48000, startFrame = start / 2,
                      referenceStart = std::min(firstSound(reference[0]), firstSound(reference[1]));
    ASSERT_LT(referenceStart + frames, reference[0].size());
    ASSERT_LE(startFrame + frames, wet.size() / 2);
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
// installed effect after it is loaded; the app never crashes or hangs on it.
TEST(App, ABrokenModuleIsSkippedWithItsReasonNeverACrashOrAHang) {
    const std::string crashed = "while it was tried";
    const struct {
        const char* name;
        testkit::BrokenModule kind;
        std::vector<std::string> says;  // one of these
    } cases[] = {
        {"truncated library", testkit::BrokenModule::truncatedDependency, {crashed}},
        // A two-second run may quit before the trial's time is up.
        {"library that is a pipe", testkit::BrokenModule::pipeDependency,
         {"its trial did not end within", "was still being tried when the program quit"}},
        {"zeroed dynamic segment", testkit::BrokenModule::zeroedDynamicSegment, {crashed}},
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
        const AppRun run = runApp({"--headless", "--autoplay", "--seconds", "2"},
                                  {"SDL_AUDIODRIVER=dummy", "ORVO_DOCUMENTS_DIR=" + folder.path().string(),
                                   "ORVO_COMPONENT_PATH=" + (folder / "registry").string(), "ORVO_RESOURCES_DIR="},
                                  folder);
        EXPECT_EQ(run.status, 0) << run.log;
        EXPECT_NE(run.log.find("The module '" + module.string() + "'"), std::string::npos) << run.log;
        EXPECT_TRUE(std::any_of(c.says.begin(), c.says.end(),
                                [&](const std::string& s) { return run.log.find(s) != std::string::npos; }))
            << run.log;
    }
}

// The command line: how the app ends, and its first line, for good and bad arguments.
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
        const AppRun run = runApp(c.arguments,
                                  {"DISPLAY=", "WAYLAND_DISPLAY=", "SDL_AUDIODRIVER=dummy",
                                   "ORVO_DOCUMENTS_DIR=" + folder.path().string()},
                                  folder, std::chrono::seconds(20));
        EXPECT_EQ(run.status, c.status) << run.log.substr(0, 400);
        const std::vector<std::string> lines = testkit::splitLines(run.log);
        ASSERT_FALSE(lines.empty());
        EXPECT_TRUE(lines.front().starts_with(c.firstLine)) << lines.front();
        if (c.status == 2) {
            EXPECT_EQ(lines.size(), 1u) << run.log.substr(0, 400);
        }
    }
}

TEST(App, OpensItsWindowOnADisplayAndClosesWhenItsTimeIsUp) {
    const testkit::TestDisplay& display = testkit::TestDisplay::shared();
    if (!display.available())
        GTEST_SKIP() << display.reason();
    testkit::TempFolder folder;
    const AppRun run = runApp({"--seconds", "2"},
                           {"SDL_AUDIODRIVER=dummy", "ORVO_DOCUMENTS_DIR=" + folder.path().string(), "ORVO_COMPONENT_PATH=",
                            "ORVO_RESOURCES_DIR="},
                           folder);
    EXPECT_EQ(run.status, 0) << run.log;
    EXPECT_EQ(run.log.find("no display"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("ViewController: Loading the audio unit's interface..."), std::string::npos);
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
        const AppRun run = runApp(c.arguments,
                                  {"SDL_AUDIODRIVER=dummy", "ORVO_DOCUMENTS_DIR=" + folder.path().string(),
                                   "ORVO_COMPONENT_PATH=", "ORVO_RESOURCES_DIR="},
                                  folder);
        EXPECT_EQ(run.status, c.status) << run.log;
        EXPECT_NE(run.log.find(c.reason), std::string::npos) << run.log;
        EXPECT_EQ(std::filesystem::exists(c.arguments.back()), c.status == 0);
    }
}

TEST(App, WithoutADisplaySaysSoInOneLineAndRunsHeadless) {
    testkit::TempFolder folder;
    const AppRun run = runApp({"--seconds", "0.5"},
                           {"DISPLAY=", "WAYLAND_DISPLAY=", "SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=dummy",
                            "ORVO_DOCUMENTS_DIR=" + folder.path().string()},
                           folder);
    EXPECT_EQ(run.status, 0) << run.log;
    EXPECT_NE(run.log.find("UIApplicationMain: no display to open a window on; running headless (Ctrl+C quits)."),
              std::string::npos)
        << run.log;
}
