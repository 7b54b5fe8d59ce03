#include <gtest/gtest.h>

#include <signal.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/AVAudioFile.h"
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

}  // namespace

TEST(App, PlaysALoopThroughThePlugInHeadlessAndEndsCleanly) {
    testkit::TempFolder folder;
    const std::string sound = (folder / "out.raw").string();
    const AppRun run = runApp({"--headless", "--autoplay", "--seconds", "3"},
                           {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + sound,
                            "ORVO_DOCUMENTS_DIR=" + folder.path().string(), "ORVO_COMPONENT_PATH=", "ORVO_RESOURCES_DIR="},
                           folder);
    ASSERT_EQ(run.status, 0) << run.log;
    EXPECT_NE(run.log.find("AUExtensionManager: Performed audio unit connection."), std::string::npos);
    EXPECT_NE(run.log.find("AUEnginePlayer: Audio Unit was connected to the main mixer."), std::string::npos)
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

    // The dry loop, lined up with the output at its first sound, is not what
    // was played in the last second (the start may be dry, before the unit is
    // wired). A whole second, as some loops rest silent for a quarter of one.
    const auto dry = AVAudioFile(URL::fileURLWithPath(chosen[1].str())).buffer();
    const float* left = dry->channelData(0);
    std::vector<float> dryLeft(left, left + dry->frameLength());
    const std::size_t dryStart = firstSound(dryLeft), frames = wet.size() / 2, startFrame = start / 2;
    ASSERT_LT(dryStart, dryLeft.size());
    float difference = 0;
    for (std::size_t frame = std::max(frames - 48000, startFrame); frame < frames; ++frame) {
        const std::size_t at = dryStart + (frame - startFrame) % (dryLeft.size() - dryStart);
        difference = std::max(difference, std::abs(wet[2 * frame] - dryLeft[at]));
    }
    EXPECT_GT(difference, 0.01f);
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
