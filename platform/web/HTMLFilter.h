#pragma once

#include <string>
#include <string_view>

// Makes an untrusted page safe for the layout engine: the bytes are parsed
// as HTML and written out again well formed, with
// - at most 1 MiB of input and 8,000 tags read, 32 attributes a tag and 16
//   formatting elements (<b>, <i>, <font> ...) left open, all counted on the
//   bytes before the parser meets them; then at most 10,000 elements,
//   nested at most 64 deep (the others give up their tags, not their text);
// - no scripts, frames, embedded objects, foreign (SVG, MathML) content,
//   <base>, <link> or <meta>, and no event attributes;
// - tables nested at most 3 deep, counting every element that CSS (a style
//   sheet or its style attribute) may give a table display as a table;
// - table spans between 1 and 64, list numbers within +-100,000, and every
//   number in a size attribute or in CSS held to a sane range (font sizes
//   tighter still), once CSS comments are gone; numbers in strings and
//   url() are kept as they are.
std::string filterHTML(std::string_view bytes);

// The CSS part of the filter, for style sheets and style attributes.
std::string filterCSS(std::string_view css);
