#include "platform/app/UIApplicationMain.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>

#include "platform/app/DesktopWindow.h"
#include "platform/audio/AVAudioEngine.h"
#include "platform/audio/ModuleTrial.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/RunLoop.h"
#include "platform/graphics/ImageSurface.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"

namespace {

constexpr double kPass = 1.0 / 60;  // longest wait of one pass of the loop

std::atomic<bool> quitRequested{false};

extern "C" void requestQuit(int) { quitRequested = true; }

// SIGINT and SIGTERM end the loop as time running out does. They are heard
// from the start, so one that comes while the app launches ends the loop at
// its first pass; the end itself runs with the handlers the program had.
class QuitSignals {
public:
    QuitSignals() {
        quitRequested = false;
        interrupt_ = std::signal(SIGINT, requestQuit);
        terminate_ = std::signal(SIGTERM, requestQuit);
    }
    ~QuitSignals() { restore(); }
    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;

    void restore() {
        if (restored_) return;
        restored_ = true;
        std::signal(SIGINT, interrupt_);
        std::signal(SIGTERM, terminate_);
    }

private:
    void (*interrupt_)(int) = SIG_DFL;
    void (*terminate_)(int) = SIG_DFL;
    bool restored_ = false;
};

struct Options {
    bool headless = false;
    double seconds = std::numeric_limits<double>::infinity();
    std::string screenshot;
};

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

std::optional<Options> parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i] ? argv[i] : "";
        if (argument == "--headless") {
            options.headless = true;
        } else if (argument == "--seconds") {
            const std::optional<double> seconds =
                i + 1 < argc && argv[i + 1] ? UIApplicationSeconds(argv[i + 1]) : std::nullopt;
            if (!seconds) {
                say("UIApplicationMain: ERROR: --seconds needs a number of seconds above 0 and at most " +
                    std::to_string(static_cast<long>(kUIApplicationMaxSeconds)) + ".");
                return std::nullopt;
            }
            options.seconds = *seconds;
            ++i;
        } else if (argument == "--screenshot") {
            if (i + 1 >= argc || !*argv[i + 1]) {
                say("UIApplicationMain: ERROR: --screenshot needs a file name.");
                return std::nullopt;
            }
            options.screenshot = argv[++i];
        }
    }
    return options;
}

// The window's title: the program's name with spaces for underscores.
std::string title() {
    std::string name = ProcessInfo::processInfo().processName();
    std::replace(name.begin(), name.end(), '_', ' ');
    return name;
}

}  // namespace

std::optional<double> UIApplicationSeconds(const std::string& text) {
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    // Not a number, trailing text, 0 or less, infinite or beyond the bound.
    if (text.empty() || *end || !(seconds > 0 && seconds <= kUIApplicationMaxSeconds))
        return std::nullopt;
    return seconds;
}

int UIApplicationMain(int argc, char** argv, const std::optional<std::string>& principalClassName,
                      const std::string& delegateClassName) {
    if (principalClassName)
        say("UIApplicationMain: WARNING: the application class is always the default one; \"" +
            *principalClassName + "\" is not used.");
    const std::optional<Options> options = parse(argc, argv);
    if (!options)
        return 2;
    QuitSignals signals;
    UIApplication& application = UIApplication::shared();
    std::shared_ptr<UIApplicationDelegate> delegate = UIApplication::makeDelegate(delegateClassName);
    if (!delegate) {
        say("UIApplicationMain: ERROR: there is no application delegate class \"" + delegateClassName + "\".");
        return 1;
    }
    if (!UIStoryboard::exists("Main")) {
        say("UIApplicationMain: ERROR: there is no \"Main\" storyboard.");
        return 1;
    }
    application.setDelegate(delegate);
    const CGSize size = UIStoryboard::size("Main");
    auto window = std::make_shared<UIWindow>(CGRect(0, 0, size.width, size.height));
    delegate->window = window;
    window->setRootViewController(UIStoryboard::instantiateInitialViewController("Main"));
    window->layoutIfNeeded();
    if (!delegate->application(application, {}))
        say("UIApplicationMain: WARNING: the delegate did not finish launching.");
    delegate->applicationDidBecomeActive(application);

    std::unique_ptr<DesktopWindow> desktop;
    if (!options->headless) {
        desktop = DesktopWindow::open(title(), window);
        if (!desktop)
            say("UIApplicationMain: no display to open a window on; running headless (Ctrl+C quits).");
    }
    const TimeInterval end = Clock::now() + options->seconds;
    while (!quitRequested && Clock::now() < end) {
        if (desktop) {
            if (!desktop->runOnce(std::clamp(end - Clock::now(), 0.0, kPass)))
                break;
        } else {
            RunLoop::main().runUntil(std::min(end, Clock::now() + kPass));
            window->layoutIfNeeded();
        }
    }
    signals.restore();
    // A module still on trial is not waited for.
    ModuleTrial::endTrials();
    // A screenshot asked for and not written is a failed run.
    bool shot = true;
    if (!options->screenshot.empty()) {
        shot = desktop && desktop->picture().writePNG(options->screenshot);
        if (!desktop) say("UIApplicationMain: ERROR: no window, so no screenshot.");
    }

    delegate->applicationWillResignActive(application);
    delegate->applicationDidEnterBackground(application);
    delegate->applicationWillTerminate(application);
    // The render threads stop before the units, players and files they use go.
    AVAudioEngine::stopAll();
    desktop.reset();
    window->setRootViewController(nullptr);
    delegate->window.reset();
    window.reset();
    application.setDelegate(nullptr);
    delegate.reset();
    // Blocks still queued hold the last references of what was shown.
    DispatchQueue::main().drain();
    return shot ? 0 : 1;
}
