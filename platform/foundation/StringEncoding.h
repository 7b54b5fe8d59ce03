#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

// Text in the classic Macintosh 8-bit character set, as four-character codes
// are written, decoded into UTF-8. Every byte has a character, so decoding
// succeeds for any input; the optional is the caller's "could not decode".
std::optional<std::string> decodeMacOSRoman(std::span<const std::uint8_t> bytes);

// The code point of one byte in that character set.
char32_t macOSRomanCodePoint(std::uint8_t byte);

// A code point as UTF-8.
void appendUTF8(std::string& text, char32_t codePoint);
