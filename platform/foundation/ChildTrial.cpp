#include "platform/foundation/ChildTrial.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/foundation/ChildProcessesInternal.h"
#include "platform/foundation/FileDescriptor.h"
#include "platform/foundation/Sanitizers.h"

namespace detail = childprocess::detail;

namespace {

// Tells a trial program which process started it.
constexpr char kParentVariable[] = "ORVO_TRIAL_PARENT";

// Waits, within the limits (or until the program quits), for the trial to
// end, reading its output (non-blocking) as it comes; then ends its whole
// group and reaps it. The trial's end is its exit, not the end of its
// output: what it started may hold that open.
void await(pid_t child, int output, const ChildTrial::Setup& setup, ChildTrial::Ending& ending) {
    using Kind = ChildTrial::Ending::Kind;
    const ChildTrial::Limits& limits = setup.limits;
    const detail::Watch watch{limits.processorTime, {}, limits.memoryBytes,
                              std::chrono::steady_clock::now() + limits.time};
    bool open = true;
    for (;;) {
        if (detail::quittingNow() || (setup.cancelled && setup.cancelled->load())) {
            ending.kind = Kind::quit;
            break;
        }
        if (const std::optional<Kind> kind = detail::verdict(child, watch)) {
            if (*kind == Kind::ended && open)
                detail::readSome(output, ending.output);
            ending.kind = *kind;
            break;
        }
        // Once the output is closed, only the wait is left.
        pollfd wait{open ? output : -1, POLLIN, 0};
        if (::poll(&wait, 1, detail::kWatchMilliseconds) > 0)
            open = detail::readSome(output, ending.output);
    }
    detail::retire(child, ending.status);
}

}  // namespace

ChildTrial::Ending ChildTrial::run(Setup setup) {
    Ending ending;
    const auto notStarted = [&](std::string why) {
        ending.kind = Ending::Kind::notStarted;
        ending.why = std::move(why);
        return ending;
    };
    int output[2];
    std::string why = detail::outputPipe(output);
    if (!why.empty())
        return notStarted(why);
    FileDescriptor reading(output[0]), writing(output[1]);
    int markerPipe[2];
    if (::pipe2(markerPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return notStarted("no pipe for its trial: " + systemMessage(errno));
    FileDescriptor marked(markerPipe[0]), marking(markerPipe[1]);
    if (!setup.environment)
        setup.environment = Environment::current();
    pid_t child = -1;
    if (const std::optional<detail::Refusal> refused =
            detail::enroll({setup.program, setup.arguments, setup.descriptors, *setup.environment, writing.get(),
                            {marking.get(), kMarkerDescriptor}},
                           child, setup.endedByQuit, {}))
        return notStarted(refused->error ? "the trial program '" + setup.program +
                                               "' cannot be started: " + systemMessage(refused->error)
                                         : refused->clause(setup.program));
    writing.close();
    marking.close();
    await(child, reading.get(), setup, ending);
    if (ending.kind == Ending::Kind::ended)
        detail::readSome(marked.get(), ending.marker);
    return ending;
}

void ChildTrial::endAll() { detail::endAll(); }

bool ChildTrial::quitting() { return detail::quittingNow(); }

std::string ChildTrial::systemMessage(int error) { return std::generic_category().message(error); }

bool ChildTrial::say(std::string_view what) {
    return ::write(kMarkerDescriptor, what.data(), what.size()) == static_cast<ssize_t>(what.size());
}

bool ChildTrial::bindToParent() {
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0)
        return false;
    // The host may have gone before the signal was asked for.
    const char* parent = std::getenv(kParentVariable);
    return !parent || std::strtol(parent, nullptr, 10) == long(::getppid());
}

std::vector<std::string> ChildTrial::environment(const Environment& environment) {
    std::vector<std::string> variables;
    const std::string parent = std::string(kParentVariable) + "=";
    for (const std::string& variable : environment.variables())
        if (!variable.starts_with(parent))
            variables.push_back(variable);
    variables.push_back(parent + std::to_string(::getpid()));
    if constexpr (kSanitizedBuild) {
        for (const std::string name : {"ASAN_OPTIONS", "TSAN_OPTIONS", "UBSAN_OPTIONS"}) {
            auto found = std::find_if(variables.begin(), variables.end(),
                                      [&](const std::string& v) { return v.starts_with(name + "="); });
            if (found == variables.end())
                found = variables.insert(variables.end(), name + "=");
            found->append(found->back() == '=' ? "symbolize=0" : ":symbolize=0");
        }
    }
    return variables;
}

std::optional<std::string> ChildTrial::programBeside(const std::string& name) {
    Dl_info self{};
    if (!::dladdr(reinterpret_cast<void*>(&ChildTrial::programBeside), &self) || !self.dli_fname)
        return std::nullopt;
    const std::filesystem::path library = self.dli_fname;
    if (!library.has_parent_path())
        return std::nullopt;
    const std::filesystem::path program = library.parent_path() / "../bin" / name;
    // Resolved as the system resolves it (through links), for the log lines.
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(program, error);
    return (error ? program : resolved).string();
}

std::string ChildTrial::lastLine(const std::string& text) {
    const std::size_t end = text.find_last_not_of("\r\n \t");
    if (end == std::string::npos)
        return "";
    const std::size_t start = text.find_last_of('\n', end);
    const std::size_t from = start == std::string::npos ? 0 : start + 1;
    return text.substr(from, end + 1 - from);
}

std::string ChildTrial::signalName(int signal) {
    const char* name = ::sigdescr_np(signal);
    return "signal " + std::to_string(signal) + " (" + (name ? name : "?") + ")";
}
