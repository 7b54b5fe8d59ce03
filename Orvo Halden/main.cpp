// The demonstration app's entry.

#include <cstdio>

#include "Orvo Halden/AppDelegate.h"
#include "Orvo Halden/CommandLine.h"
#include "Orvo Halden/MainStoryboard.h"
#include "platform/app/UIApplicationMain.h"

int main(int argc, char** argv) {
    // Nothing starts on --help, --version or a bad argument.
    const CommandLine line = CommandLine::parse(argc, argv);
    if (line.outcome != CommandLine::Outcome::run) {
        std::fputs(line.message.c_str(), line.outcome == CommandLine::Outcome::error ? stderr : stdout);
        return line.exitStatus();
    }
    // What the runtime would find by name: the delegate class and the storyboard.
    UIApplication::registerDelegateClass("AppDelegate", [] { return std::make_shared<AppDelegate>(); });
    MainStoryboard::registerMain(line.autoplay, line.unit);
    std::vector<std::string> words = line.applicationArguments;
    std::vector<char*> arguments;
    for (std::string& word : words)
        arguments.push_back(word.data());
    arguments.push_back(nullptr);
    return UIApplicationMain(static_cast<int>(words.size()), arguments.data(), std::nullopt, "AppDelegate");
}
