#include "Orvo Halden/CommandLine.h"

#include <cstdio>
#include <optional>

#include "platform/app/UIApplicationMain.h"

#ifndef ORVO_VERSION
#define ORVO_VERSION "0"
#endif

namespace {

constexpr const char* kName = "Orvo_Halden";

// The longest run, as the usage and the error say it.
std::string bound() {
    char text[32];
    std::snprintf(text, sizeof text, "%g", kUIApplicationMaxSeconds);
    return text;
}

std::string usage() {
    return std::string("usage: ") + kName + " [options]\n" +
           "Plays demo loops through the Orvo Halden reverb and shows its editor.\n"
           "  --autoplay           press Play once the effect is wired\n"
           "  --unit               show the effect's editor at once\n"
           "  --headless           no window (also taken when there is no display)\n"
           "  --seconds N          quit after N seconds, more than 0 and at most " + bound() + "\n"
           "  --screenshot FILE    at the end, write what the window shows as PNG\n"
           "  --version            print the version and quit\n"
           "  -h, --help           print this text and quit\n"
           "A value may also follow its flag after '=' (--seconds=10). Exit status: 0, 2 for a bad\n"
           "argument, or 1 when the screenshot cannot be written. Folders and the sound card come\n"
           "from ORVO_RESOURCES_DIR, ORVO_DOCUMENTS_DIR, ORVO_DEFAULTS_DIR, ORVO_COMPONENT_PATH and\n"
           "SDL_AUDIODRIVER (see the README).\n";
}

CommandLine failure(std::string line) {
    CommandLine result;
    result.outcome = CommandLine::Outcome::error;
    result.message = std::string(kName) + ": " + std::move(line) + "\n";
    return result;
}

}  // namespace

CommandLine CommandLine::parse(int argc, const char* const* argv) {
    CommandLine result;
    result.applicationArguments.emplace_back(argc > 0 && argv[0] ? argv[0] : kName);
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i] ? argv[i] : "";
        const std::size_t equals = word.starts_with("--") ? word.find('=') : std::string::npos;
        const std::string flag = word.substr(0, equals);
        // The value of a flag that takes one: after '=' or the next word.
        const auto value = [&]() -> std::optional<std::string> {
            if (equals != std::string::npos)
                return word.substr(equals + 1);
            if (i + 1 < argc && argv[i + 1])
                return std::string(argv[++i]);
            return std::nullopt;
        };
        if (equals == std::string::npos && (word == "--help" || word == "-h")) {
            result.outcome = Outcome::help;
            result.message = usage();
            return result;
        }
        if (equals == std::string::npos && word == "--version") {
            result.outcome = Outcome::version;
            result.message = std::string(kName) + " " + ORVO_VERSION + "\n";
            return result;
        }
        if (equals == std::string::npos && (word == "--autoplay" || word == "--unit" || word == "--headless")) {
            result.autoplay = result.autoplay || word == "--autoplay";
            result.unit = result.unit || word == "--unit";
            if (word == "--headless")
                result.applicationArguments.push_back(word);
        } else if (flag == "--seconds") {
            const std::optional<std::string> text = value();
            if (!text || !UIApplicationSeconds(*text))
                return failure("--seconds needs a number of seconds more than 0 and at most " + bound() +
                               (text ? ", not '" + *text + "'" : std::string()));
            result.applicationArguments.insert(result.applicationArguments.end(), {flag, *text});
        } else if (flag == "--screenshot") {
            const std::optional<std::string> file = value();
            if (!file || file->empty())
                return failure("--screenshot needs a file name");
            result.applicationArguments.insert(result.applicationArguments.end(), {flag, *file});
        } else {
            return failure("unknown argument '" + word + "' (--help lists the options)");
        }
    }
    return result;
}
