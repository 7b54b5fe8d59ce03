#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "dsp/kbx/CString.h"

using KBX::CString;

namespace {

// A raw byte block, filled through the protected buffer hand-over.
struct Bytes : KBX::CData {
    Bytes(std::initializer_list<unsigned char> bytes) {
        char* buffer = static_cast<char*>(CAlloc(Padding(static_cast<int>(bytes.size())), 1));
        int i = 0;
        for (unsigned char b : bytes) buffer[i++] = static_cast<char>(b);
        adopt(buffer, i);
    }
};

std::string text(CString& s) { return std::string(s.c_str(), static_cast<std::size_t>(s.Length())); }

std::filesystem::path scratchFile(const char* name) {
    return std::filesystem::temp_directory_path() / ("kbx_" + std::to_string(::getpid()) + "_" + name);
}

} // namespace

TEST(KbxData, HexRenderingsOfBytesAndOfNothing) {
    Bytes two{0x0A, 0xFF};
    EXPECT_STREQ(two.Hex2(), "0AFF");
    EXPECT_STREQ(two.Hex3(), "0A FF");
    EXPECT_STREQ(two.Hex4(), "#0A #FF");
    EXPECT_STREQ(two.Hex5(), "0x0A 0xFF");
    EXPECT_STREQ(two.String(), "0x0A 0xFF");
    Bytes rgb{0x12, 0xAB, 0x00};
    EXPECT_STREQ(rgb.ColorRGB(), "#12AB00");

    KBX::CData none;
    EXPECT_TRUE(none.Empty());
    EXPECT_STREQ(none.Hex2(), "00");
    EXPECT_STREQ(none.Hex3(), "00");
    EXPECT_STREQ(none.Hex4(), "#00");
    EXPECT_STREQ(none.Hex5(), "0x00");
    EXPECT_STREQ(none.ColorRGB(), "#000000");
    EXPECT_STREQ(none.XML(2), "<CData>\n\tundefined</CData>");
}

TEST(KbxData, XmlElementsIndentAndCarryTheirText) {
    Bytes two{0x0A, 0xFF};
    EXPECT_STREQ(two.XML(1), "\t<CData encoding='HEX5'>\n\t\t0x0A 0xFF\n\t</CData>\n");
    EXPECT_STREQ(two.XML(-3), "<CData encoding='HEX5'>\n\t0x0A 0xFF\n</CData>\n");
    CString hello("hi <you>");
    EXPECT_STREQ(hello.XML(0), "<CString encoding='UTF8'>\n\thi <you>\n</CString>\n");
    CString none;
    EXPECT_STREQ(none.XML(0), "<CData>\n\tundefined</CData>");
}

TEST(KbxData, BufferRuleRefusesNothingAndOverflow) {
    EXPECT_EQ(KBX::CData::Padding(-7), 0);
    EXPECT_EQ(KBX::CData::Padding(3), 4);
    EXPECT_EQ(KBX::CData::Padding(4), 8);
    EXPECT_EQ(KBX::CData::CAlloc(-1, 4), nullptr);
    EXPECT_EQ(KBX::CData::CAlloc(1 << 20, 1 << 20), nullptr);
    EXPECT_EQ(CString("hello").DataSize(), 8);
    CString s("abc");
    s.reassign(3);
    EXPECT_EQ(s.Length(), 3);
    EXPECT_EQ(s[0], 0);
    s.reassign(-4);
    EXPECT_EQ(s.Length(), 0);
}

TEST(KbxData, LiveObjectsAreCounted) {
    KBX::CData base;
    CString probe;
    const int data = base.ClassCount();
    const int strings = probe.ClassCount();
    {
        CString a("x");
        KBX::CData b;
        EXPECT_EQ(base.ClassCount(), data + 2);
        EXPECT_EQ(probe.ClassCount(), strings + 1);
    }
    EXPECT_EQ(base.ClassCount(), data);
    EXPECT_EQ(probe.ClassCount(), strings);
}

TEST(KbxString, EmptyStringsShowTheMarkerAndCompareAsIt) {
    CString none, fromEmpty("");
    EXPECT_STREQ(none.c_str(), "(null*)");
    EXPECT_EQ(fromEmpty.Length(), 0);
    EXPECT_TRUE(none == "(null*)");
    CString a("abc"), b("abd");
    EXPECT_TRUE(a < b && b > a && a <= a && a != b && !(b <= a));
    EXPECT_FALSE(a == static_cast<const char*>(nullptr));
}

TEST(KbxString, AssignmentFormsAndResults) {
    CString s;
    EXPECT_EQ(s = "abc", 3);
    char buffer[] = "xyz!";
    EXPECT_EQ(s = buffer, 0);
    EXPECT_EQ(text(s), "xyz!");
    s = -42;
    EXPECT_EQ(text(s), "-42");
    s = 1.5;
    EXPECT_EQ(text(s), "1.500000");
    s = static_cast<const char*>(nullptr);
    EXPECT_EQ(s.Length(), 0);
    CString copy("abc");
    CString other(copy);
    EXPECT_TRUE(other == copy);
}

TEST(KbxString, SelfAssignmentAndAliasingKeepTheData) {
    CString a("ab");
    const CString& same = a;
    a = same;
    EXPECT_EQ(text(a), "ab");
    a = a + a;
    EXPECT_EQ(text(a), "abab");
    a += a;
    EXPECT_EQ(text(a), "abababab");
    a = a.c_str();
    EXPECT_EQ(text(a), "abababab");
    a = a.SubStr(2, 3);
    EXPECT_EQ(text(a), "aba");
    a += a.c_str();
    EXPECT_EQ(text(a), "abaaba");
    a.Insert(1, a.c_str());
    EXPECT_EQ(text(a), "aabaababaaba");
    a -= a.SubStr(0, 2);
    EXPECT_EQ(text(a), "bbabba");

    // Operators on the shared result itself.
    CString b("x"), c("y");
    CString& chained = (b + c) + c;
    EXPECT_EQ(text(chained), "xyy");
    CString& doubled = chained + chained;
    EXPECT_EQ(text(doubled), "xyyxyy");
    EXPECT_EQ(text(doubled * 2), "xyyxyyxyyxyy");
    EXPECT_EQ(text(CString::tempstr - "yy"), "xxxx");
}

TEST(KbxString, TwoOperandOperatorsShareOneResult) {
    CString ab("ab");
    CString none;
    EXPECT_EQ(&(ab + none), &ab);
    EXPECT_EQ(&(ab + static_cast<const char*>(nullptr)), &ab);
    EXPECT_EQ(&(ab + ""), &ab);
    EXPECT_EQ(&(ab + "c"), &CString::tempstr);
    EXPECT_EQ(text(ab + 7), "ab7");
    EXPECT_EQ(text(ab + 0.25), "ab0.250000");
    EXPECT_EQ(&(ab * 1), &ab);
    EXPECT_EQ(&(ab * -4), &ab);
    EXPECT_EQ(text(ab * 3), "ababab");
    EXPECT_EQ(ab.Length(), 2);
    EXPECT_EQ(&(ab - 0), &ab);
    EXPECT_EQ(&(ab - -3), &ab);
    EXPECT_EQ(text(ab - 1), "a");
    EXPECT_EQ((ab - 2).Length(), 0);
    EXPECT_EQ(&(ab - static_cast<const char*>(nullptr)), &ab);
    CString abcab("abcab");
    EXPECT_EQ(text(abcab - "b"), "aca");
    EXPECT_EQ(text(abcab), "abcab");
}

TEST(KbxString, AppendAndShorten) {
    CString s("a");
    s += CString();
    s += static_cast<const char*>(nullptr);
    s += "";
    EXPECT_EQ(text(s), "a");
    s += 'b';
    s += 12;
    s += 0.5;
    EXPECT_EQ(text(s), "ab120.500000");
    s -= 0;
    s -= -2;
    EXPECT_EQ(s.Length(), 12);
    s -= 9;
    EXPECT_EQ(text(s), "ab1");
    s -= 5;
    EXPECT_EQ(s.Length(), 0);
    CString hello("hello world hello");
    hello -= "hello";
    EXPECT_EQ(text(hello), " world ");
}

TEST(KbxString, IndexingOutsideTheTextGoesNowhere) {
    CString s("abc");
    s[1] = 'X';
    EXPECT_EQ(text(s), "aXc");
    s[3] = 'Q';
    s[-1] = 'Q';
    EXPECT_EQ(text(s), "aXc");
    EXPECT_EQ(s.Last(), 'c');
    EXPECT_EQ(s.At(3), 0);
    EXPECT_EQ(s.At(-1), 0);
}

TEST(KbxString, FindStartsAndMisses) {
    CString hello("hello");
    EXPECT_EQ(hello.Find("lo", 0), 3);
    EXPECT_EQ(hello.Find("l", 3), 3);
    EXPECT_EQ(hello.Find("l", -10), 2);
    EXPECT_EQ(hello.Find("", 0), -1);
    EXPECT_EQ(hello.Find(nullptr, 0), -1);
    EXPECT_EQ(hello.Find("o", 5), -1);
    EXPECT_EQ(hello.Find("hello!", 0), -1);
    EXPECT_EQ(CString().Find("a", 0), -1);
}

TEST(KbxString, ReplaceContinuesBehindTheInsertedText) {
    CString s("aba");
    EXPECT_TRUE(s.Replace("a", "aa", 0, true));
    EXPECT_EQ(text(s), "aabaa");
    EXPECT_FALSE(s.Replace("b", "b", 0, true));
    EXPECT_FALSE(s.Replace("z", "y", 0, true));
    EXPECT_FALSE(s.Replace(nullptr, "y", 0, true));
    EXPECT_TRUE(s.Replace("a", "-", 2, false));
    EXPECT_EQ(text(s), "aab-a");
    EXPECT_TRUE(s.Replace("a", nullptr, 0, true));
    EXPECT_EQ(text(s), "b-");
    EXPECT_TRUE(s.Replace("b-", nullptr, 0, true));
    EXPECT_EQ(s.Length(), 0);
}

TEST(KbxString, InsertAndSubStrStayInside) {
    CString s("hello");
    s.Insert(0, ">");
    s.Insert(3, "--");
    EXPECT_EQ(text(s), ">he--llo");
    s.Insert(8, "end");
    s.Insert(-1, "x");
    s.Insert(2, "");
    s.Insert(2, nullptr);
    EXPECT_EQ(text(s), ">he--llo");

    CString five("abcde");
    EXPECT_STREQ(five.SubStr(1, 100), "bcde");
    EXPECT_STREQ(five.SubStr(0, 2), "ab");
    EXPECT_EQ(five.SubStr(5, 1), nullptr);
    EXPECT_EQ(five.SubStr(-1, 2), nullptr);
    EXPECT_EQ(five.SubStr(1, 0), nullptr);
    EXPECT_EQ(five.SubStr(1, -3), nullptr);
    EXPECT_EQ(five.SubStr(2, 2147483647)[0], 'c');
    EXPECT_EQ(CString().SubStr(0, 1), nullptr);
}

TEST(KbxString, TrimDropsBlanksTabsAndLineEnds) {
    CString s(" \t\r\nmid dle\n \t");
    s.TrimLeft();
    EXPECT_EQ(text(s), "mid dle\n \t");
    s.TrimRight();
    EXPECT_EQ(text(s), "mid dle");
    CString blank(" \t \n");
    blank.Trim();
    EXPECT_EQ(blank.Length(), 0);
    CString none;
    none.Trim();
    EXPECT_EQ(none.Length(), 0);
}

TEST(KbxString, SplitSkipsEmptyPiecesAndStopsAtMax) {
    KBX::CStringList list;
    CString s("a,,b,");
    EXPECT_EQ(s.Split(",", &list, 0, 0), 2);
    EXPECT_STREQ(list.At(0), "a");
    EXPECT_STREQ(list.At(1), "b");
    EXPECT_EQ(s.Split(",", &list, 1, 0), 1);
    EXPECT_STREQ(list.At(0), "a");
    CString words("one::two::three");
    EXPECT_EQ(words.Split("::", &list, -1, 0), 3);
    EXPECT_STREQ(list.At(2), "three");
    EXPECT_EQ(words.Split(nullptr, &list, 0, 0), -1);
    EXPECT_EQ(words.Split(",", nullptr, 0, 0), -1);
    EXPECT_EQ(CString().Split(",", &list, 0, 0), -1);
    EXPECT_EQ(words.Split("|", &list, 0, 0), 1);
    EXPECT_STREQ(list.At(0), "one::two::three");
    // Many pieces: the walk must not grow the stack per piece.
    CString many(std::string(200000, ',').append("x").c_str());
    EXPECT_EQ(many.Split(",", &list, 0, 0), 1);
    // A negative start counts from the first byte, as Find does.
    EXPECT_EQ(CString("ab").Split(",", &list, 0, -1), 1);
    EXPECT_STREQ(list.At(0), "ab");
    EXPECT_EQ(CString("a,b").Split(",", &list, 0, -5), 2);
    EXPECT_STREQ(list.At(0), "a");
    EXPECT_STREQ(list.At(1), "b");
}

TEST(KbxString, CaseKeywordsAndAscii) {
    CString s("Hello, World 1\xE9");
    s.Uppercase();
    EXPECT_EQ(text(s), "HELLO, WORLD 1\xE9");
    s.Lowercase();
    EXPECT_EQ(text(s), "hello, world 1\xE9");
    s.Revertcase();
    EXPECT_EQ(text(s), "HELLO, WORLD 1\xE9");
    EXPECT_FALSE(s.IsASCII());
    EXPECT_TRUE(CString("plain text").IsASCII());

    EXPECT_TRUE(CString("abc123").IsKeyword());
    EXPECT_TRUE(CString("a1b2").IsKeyword());
    EXPECT_TRUE(CString().IsKeyword());
    EXPECT_FALSE(CString("1abc").IsKeyword());
    EXPECT_FALSE(CString("ab_c").IsKeyword());
    EXPECT_FALSE(CString("ab c").IsKeyword());
}

TEST(KbxString, NumberConversionsAndUnicode) {
    EXPECT_EQ(CString("-17xyz").Integer(), -17);
    EXPECT_EQ(CString("ff").HexToInt(), 255);
    EXPECT_FLOAT_EQ(CString("2.5").Float(), 2.5f);
    EXPECT_DOUBLE_EQ(CString("-0.125").Double(), -0.125);
    CString none;
    EXPECT_EQ(none.Integer(), 0);
    EXPECT_EQ(none.HexToInt(), 0);
    EXPECT_EQ(none.Float(), 0.0f);
    EXPECT_EQ(none.Unicode(), nullptr);

    CString s("A\xE9");
    const wchar_t* units = s.Unicode();
    ASSERT_NE(units, nullptr);
    EXPECT_EQ(units[0], L'A');
    EXPECT_EQ(static_cast<int>(units[1]), -23);
    EXPECT_EQ(units[2], 0);
    s.Encode();
    EXPECT_EQ(text(s), "41E9");
}

TEST(KbxString, BinarySafeFileRoundTrip) {
    const auto path = scratchFile("roundtrip.bin");
    CString out;
    out.reassign(5);
    out[0] = 'a';
    out[2] = static_cast<char>(0xFF);
    out[4] = 'z';
    EXPECT_EQ(out >> path.c_str(), 0);
    CString in("old");
    EXPECT_EQ(in << path.c_str(), 5);
    ASSERT_EQ(in.Length(), 5);
    EXPECT_EQ(std::memcmp(in.c_str(), "a\0\xFF\0z", 5), 0);
    std::filesystem::remove(path);
}

TEST(KbxString, FileErrorsLeaveTheStringEmpty) {
    CString s("keep");
    testing::internal::CaptureStdout();
    EXPECT_EQ(s << "/nonexistent/dir/file.txt", 0);
    EXPECT_EQ(s.Length(), 0);
    EXPECT_EQ(s << nullptr, 0);
    CString none;
    EXPECT_EQ(none >> scratchFile("never.txt").c_str(), 0);
    EXPECT_FALSE(std::filesystem::exists(scratchFile("never.txt")));
    CString full("x");
    EXPECT_EQ(full >> "/nonexistent/dir/out.txt", 0);
    // A directory opens but has no usable size.
    EXPECT_EQ(full << std::filesystem::temp_directory_path().c_str(), 0);
    EXPECT_EQ(full.Length(), 0);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("\nERROR: File '/nonexistent/dir/file.txt' could not be opened for loading."),
              std::string::npos);
    EXPECT_NE(printed.find("\nError: String object is empty."), std::string::npos);
    EXPECT_NE(printed.find("\nERROR: File '/nonexistent/dir/out.txt' could not be opened for saving."),
              std::string::npos);
}
