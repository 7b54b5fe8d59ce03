// The demonstration app's entry.

#include <cstring>

#include "Orvo Halden/AppDelegate.h"
#include "Orvo Halden/MainStoryboard.h"
#include "platform/app/UIApplicationMain.h"

int main(int argc, char** argv) {
    // What the runtime would find by name: the delegate class and the storyboard.
    UIApplication::registerDelegateClass("AppDelegate", [] { return std::make_shared<AppDelegate>(); });
    // --autoplay presses Play at start, --unit presses Unit.
    bool autoplay = false, unit = false;
    for (int i = 1; i < argc; ++i) {
        autoplay = autoplay || std::strcmp(argv[i], "--autoplay") == 0;
        unit = unit || std::strcmp(argv[i], "--unit") == 0;
    }
    MainStoryboard::registerMain(autoplay, unit);
    return UIApplicationMain(argc, argv, std::nullopt, "AppDelegate");
}
