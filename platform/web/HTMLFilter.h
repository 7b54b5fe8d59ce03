#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The budgets an untrusted page's work runs under; a page that spends one
// is not shown.
enum class PageBudget {
    parserMemory,   // the parse's own allocator
    parserTime,     // the parse's processor time
    processorTime,  // the processor time of one piece of work: building, a layout, a draw, a tap
    memory,         // the resident memory of the page's renderer
};

// Why a piece of work (`what`: "a page") was refused for the budget it spent:
// "it needs more processor time than a page may take".
std::string overBudgetReason(PageBudget budget, const std::string& what);

// The most pictures one page may ask for: each takes a download for a
// while, and those past it are drawn as missing.
inline constexpr std::size_t kMostPagePictures = 128;

struct FilteredHTML {
    std::string html;                 // empty when the parse went over budget
    std::optional<PageBudget> spent;  // the budget the parse ran out of
};

// Makes an untrusted page safe for the layout engine: the bytes (the first
// 1 MiB) are parsed as HTML in an arena of their own with a memory and a
// time budget, and written out again well formed, with
// - at most 10,000 elements and 50,000 words (the page is cut there),
//   nested at most 64 deep (the others give up their tags, not their
//   text), 32 attributes an element and 256 KiB of style sheets, in whole
//   rules;
// - no scripts, frames, embedded objects, foreign (SVG, MathML) content,
//   <base>, <link> or <meta>, and no event attributes;
// - table spans between 1 and 64, list numbers within +-100,000, and every
//   number in a size attribute or in CSS held to a sane range (font sizes
//   tighter still), once CSS comments are gone; numbers in strings and
//   url() are kept as they are.
// Tables nested in tables are bounded on the computed style, in layout.
FilteredHTML filterHTML(std::string_view bytes);

// The CSS part of the filter, for style sheets and style attributes.
std::string filterCSS(std::string_view css);
