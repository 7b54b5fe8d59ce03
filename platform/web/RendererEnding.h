#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "platform/foundation/ChildTrial.h"
#include "platform/web/HTMLFilter.h"

// What the web view says of a renderer process (a page's, a PDF's) that
// ended without being asked to: the limit it went over, or what happened.
struct RendererEnding {
    std::optional<PageBudget> budget;
    std::string why;  // when no budget: "its renderer ..."

    // None when the program quits: nobody is left to tell. `answerTime` is
    // how long the renderer had for the answer it did not give.
    static std::optional<RendererEnding> of(const ChildTrial::Ending& ending, std::chrono::milliseconds answerTime);
};

// Said of a renderer whose answer is none to what it was asked: it is ended.
inline constexpr char kRendererAnsweredWrongly[] = "its renderer answered what it was not asked";
