#include "platform/web/RendererEnding.h"

#include <sys/wait.h>

#include <cmath>

#include "platform/web/PageRenderer.h"

std::optional<RendererEnding> RendererEnding::of(const ChildTrial::Ending& ending,
                                                 std::chrono::milliseconds answerTime) {
    using Kind = ChildTrial::Ending::Kind;
    RendererEnding said;
    switch (ending.kind) {
    case Kind::quit:
        return std::nullopt;
    case Kind::overMemory:
        said.budget = PageBudget::memory;
        return said;
    case Kind::overProcessorTime:
        said.budget = PageBudget::processorTime;
        return said;
    case Kind::timedOut:
        // Stopped, or waiting on nothing: no processor time went into it.
        said.why = "its renderer did not answer within " +
                   std::to_string(std::lround(std::chrono::duration<double>(answerTime).count())) + " seconds";
        return said;
    case Kind::notStarted:
        said.why = "its renderer cannot be started: " + ending.why;
        return said;
    case Kind::ended:
        break;
    }
    if (!ending.why.empty()) {
        said.why = "its renderer broke the rules of its channel: " + ending.why;
        return said;
    }
    if (WIFEXITED(ending.status) && WEXITSTATUS(ending.status) == PageRenderer::kOutOfMemory) {
        said.budget = PageBudget::memory;
        return said;
    }
    const std::string line = ChildTrial::lastLine(ending.output);
    said.why = (WIFSIGNALED(ending.status) ? "its renderer was ended by " + ChildTrial::signalName(WTERMSIG(ending.status))
                                           : "its renderer ended with status " + std::to_string(WEXITSTATUS(ending.status))) +
               (line.empty() ? "" : ": " + line);
    return said;
}
