// Opens the editor of a freshly made unit in a desktop window, without any
// audio, so the editor can be tried by hand: the mouse is the finger.
//
//   orvo-editor [--size WxH] [--info TEXT] [--prompt] [--screenshot FILE [--seconds N]]
//
// --info shows a message in the overlay and --prompt the file-name dialog,
// to try them. With --screenshot the window runs N seconds (default 1),
// writes what it shows as PNG and closes.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Orvo_Halden_Extension/AudioUnitViewController.h"
#include "Orvo_Halden_Extension/Orvo_Halden_Extension_AudioUnit.h"
#include "platform/app/DesktopWindow.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSError.h"
#include "platform/graphics/ImageSurface.h"
#include "platform/ui/UIWindow.h"

namespace {

constexpr const char* kUsage =
    "usage: orvo-editor [--size WxH] [--info TEXT] [--prompt] [--screenshot FILE [--seconds N]]\n";

// Asked for: to standard output, and done. A bad argument: to the errors, status 2.
int usage(bool asked = false) {
    std::fputs(kUsage, asked ? stdout : stderr);
    return asked ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
    CGSize size{680, 600};
    std::string screenshot, info;
    bool prompt = false;
    double seconds = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            return usage(true);
        } else if (arg == "--size" && hasValue) {
            double w = 0, h = 0;
            if (std::sscanf(argv[++i], "%lfx%lf", &w, &h) != 2 || !(w >= 1 && h >= 1 && w <= 8192 && h <= 8192))
                return usage();
            size = {w, h};
        } else if (arg == "--info" && hasValue) {
            info = argv[++i];
        } else if (arg == "--prompt") {
            prompt = true;
        } else if (arg == "--screenshot" && hasValue) {
            screenshot = argv[++i];
        } else if (arg == "--seconds" && hasValue) {
            seconds = std::atof(argv[++i]);
            if (!(seconds >= 0 && seconds <= 600))
                return usage();
        } else {
            return usage();
        }
    }

    const auto controller = AudioUnitViewController::make();
    try {
        controller->createAudioUnit(Orvo_Halden_Extension_AudioUnit::kComponentDescription);
    } catch (const NSError& error) {
        std::printf("orvo-editor: ERROR: the audio unit could not be made: %s\n", error.what());
        return 1;
    }
    const auto window = std::make_shared<UIWindow>(CGRect(0, 0, size.width, size.height));
    window->setRootViewController(controller);
    const auto desktop = DesktopWindow::open("Orvo Halden", window);
    if (!desktop)
        return 1;
    if (!info.empty())
        controller->showInfo(info);
    if (prompt)
        controller->alertFileName("save", "Preset.aupreset");
    if (screenshot.empty()) {
        desktop->run();
        return 0;
    }
    const TimeInterval end = Clock::now() + seconds;
    while (Clock::now() < end && desktop->runOnce(0.01))
        ;
    return desktop->picture().writePNG(screenshot) ? 0 : 1;
}
