#include <gtest/gtest.h>

#include <iconv.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/StringEncoding.h"

namespace {

std::string decoded(std::vector<std::uint8_t> bytes) { return decodeMacOSRoman(bytes).value_or("<none>"); }

// The C library's own table for the same character set, as an independent witness.
std::string viaIconv(std::uint8_t byte) {
    iconv_t cd = iconv_open("UTF-8", "MACINTOSH");
    if (cd == reinterpret_cast<iconv_t>(-1)) return "<no iconv>";
    char in[1] = {static_cast<char>(byte)};
    char out[8] = {};
    char* inPtr = in;
    char* outPtr = out;
    std::size_t inLeft = 1, outLeft = sizeof out;
    const std::size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (result == static_cast<std::size_t>(-1)) return "<fail>";
    return std::string(out, sizeof out - outLeft);
}

TEST(MacOSRoman, AsciiPassesThroughAndHighBytesBecomeTheirCharacters) {
    EXPECT_EQ(decoded({'a', 'u', 'm', 'f'}), "aumf");
    EXPECT_EQ(decoded({}), "");
    EXPECT_EQ(decoded({0x80, 0x8E, 0xA5, 0xDB}), "\u00C4\u00E9\u2022\u20AC");
    EXPECT_EQ(decoded({0xF0}), "\uF8FF");
    EXPECT_EQ(decoded({0xFF}), "\u02C7");
    EXPECT_EQ(decoded({0x00}), std::string(1, '\0'));
}

TEST(MacOSRoman, EveryByteMatchesTheSystemTable) {
    // Two bytes where the C library's older table differs: the maker's logo (it
    // picks another private-use point) and the increment sign (it gives capital delta).
    EXPECT_EQ(decoded({0xC6}), "\u2206");
    for (int byte = 0; byte < 256; ++byte) {
        if (byte == 0xF0 || byte == 0xC6) continue;
        EXPECT_EQ(decoded({static_cast<std::uint8_t>(byte)}), viaIconv(static_cast<std::uint8_t>(byte)))
            << "byte " << byte;
    }
}

TEST(MacOSRoman, EveryByteHasItsOwnCharacter) {
    std::set<char32_t> seen;
    for (int byte = 0; byte < 256; ++byte) seen.insert(macOSRomanCodePoint(static_cast<std::uint8_t>(byte)));
    EXPECT_EQ(seen.size(), 256u);
}

TEST(MacOSRoman, Utf8CoversEveryLength) {
    std::string text;
    for (char32_t c : {U'A', U'\u00E9', U'\u20AC', U'\U0001F3B5'}) appendUTF8(text, c);
    EXPECT_EQ(text, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5");
}

} // namespace
