#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <ctime>
#include <limits>
#include <locale>
#include <random>
#include <type_traits>

#include "PropertyListTestSupport.h"

namespace {

using namespace plisttest;
using Dictionary = PropertyList::Dictionary;
using Array = PropertyList::Array;

constexpr std::string_view prologue = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                                      "<plist version=\"1.0\">\n";

std::string document(std::string_view body) {
    return std::string(prologue) + std::string(body) + "</plist>\n";
}

// Seconds from 2001-01-01 by the C library's calendar.
double referenceSeconds(int year, int month, int day, int hour, int minute, int second) {
    std::tm fields{};
    fields.tm_year = year - 1900, fields.tm_mon = month - 1, fields.tm_mday = day;
    fields.tm_hour = hour, fields.tm_min = minute, fields.tm_sec = second;
    return static_cast<double>(timegm(&fields)) - 978307200.0;
}

TEST(PropertyListXML, WritesTheToolsLayout) {
    const PropertyList value = Dictionary{
        {"name", "A & <B>\r"},
        {"Zeta", 0.1},
        {"array", Array{std::int64_t{-42}, true, false, "", Dictionary{}, Array{}}},
        {"data", PropertyList::Data{0, 1, 2, 255}},
        {"empty data", PropertyList::Data{}},
        {"date", Date{referenceSeconds(2026, 12, 8, 19, 29, 22)}},
        {"nested", Dictionary{{"big", PropertyList::Data(50, 0xFF)}}},
    };
    EXPECT_EQ(xml(value), document("<dict>\n"
                                   "\t<key>Zeta</key>\n"
                                   "\t<real>0.1</real>\n"
                                   "\t<key>array</key>\n"
                                   "\t<array>\n"
                                   "\t\t<integer>-42</integer>\n"
                                   "\t\t<true/>\n"
                                   "\t\t<false/>\n"
                                   "\t\t<string></string>\n"
                                   "\t\t<dict/>\n"
                                   "\t\t<array/>\n"
                                   "\t</array>\n"
                                   "\t<key>data</key>\n"
                                   "\t<data>\n"
                                   "\tAAEC/w==\n"
                                   "\t</data>\n"
                                   "\t<key>date</key>\n"
                                   "\t<date>2026-12-08T19:29:22Z</date>\n"
                                   "\t<key>empty data</key>\n"
                                   "\t<data>\n"
                                   "\t</data>\n"
                                   "\t<key>name</key>\n"
                                   "\t<string>A &amp; &lt;B&gt;&#13;</string>\n"
                                   "\t<key>nested</key>\n"
                                   "\t<dict>\n"
                                   "\t\t<key>big</key>\n"
                                   "\t\t<data>\n"
                                   "\t\t////////////////////////////////////////////////////////////\n"
                                   "\t\t//////8=\n"
                                   "\t\t</data>\n"
                                   "\t</dict>\n"
                                   "</dict>\n"));
    EXPECT_EQ(xml(std::int64_t{7}), document("<integer>7</integer>\n")) << "any value may be the root";
    EXPECT_EQ(xml(std::uint32_t{0xFFFFFFFF}), document("<integer>4294967295</integer>\n"));
    EXPECT_EQ(xml(short{-3}), document("<integer>-3</integer>\n"));
    static_assert(!std::is_constructible_v<PropertyList, std::uint64_t>, "would wrap above 2^63");
    EXPECT_EQ(read(bytesOf(xml(value))), value);
}

TEST(PropertyListXML, KeysAreSortedByUTF16Units) {
    const std::vector<std::string> keys = {"b",      "a",          "B",  "",      "\u00E9",
                                           "\uE000", "\U0001F600", "ab", "\uFFFD"};
    Dictionary entries;
    for (const std::string& key : keys) entries[key] = true;
    std::vector<std::string> order;
    for (const auto& entry : entries) order.push_back(entry.first);
    // Characters above the surrogates sort after those written with surrogate pairs.
    EXPECT_EQ(order, (std::vector<std::string>{"", "B", "a", "ab", "b", "\u00E9", "\U0001F600", "\uE000",
                                               "\uFFFD"}));
    EXPECT_NE(entries.find(std::string_view("ab")), entries.end());
}

TEST(PropertyListXML, EveryTypeRoundTripsAndRealsKeepTheirBits) {
    std::mt19937_64 random(1234);
    Array reals = {0.0,
                   -0.0,
                   0.1,
                   1.0 / 3.0,
                   static_cast<double>(0.8f),
                   1e20,
                   -1e-300,
                   std::numeric_limits<double>::max(),
                   std::numeric_limits<double>::denorm_min(),
                   std::numeric_limits<double>::infinity(),
                   -std::numeric_limits<double>::infinity()};
    while (reals.size() < 2000) {
        const double value = std::bit_cast<double>(random());
        if (std::isfinite(value)) reals.push_back(value);
    }
    const PropertyList back = read(bytesOf(xml(reals)));
    ASSERT_TRUE(back.array());
    ASSERT_EQ(back.array()->size(), reals.size());
    for (std::size_t i = 0; i < reals.size(); ++i)
        ASSERT_EQ(std::bit_cast<std::uint64_t>(*(*back.array())[i].real()),
                  std::bit_cast<std::uint64_t>(*reals[i].real()))
            << i;

    const PropertyList nan = read(bytesOf(xml(std::nan(""))));
    EXPECT_TRUE(nan.real() && std::isnan(*nan.real()));

    const PropertyList everything = Dictionary{
        {"integers",
         Array{std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(), 0}},
        {"text", "  spaced \t\n line\r\nbreaks, \u00E9t\u00E9 \U0001F3B5 & \"quotes\" ]]> "},
        {"bytes", PropertyList::Data{0, 0xFF, 0x80, 0x7F, 10, 13}},
        {"dates",
         Array{Date{0}, Date{-978307200}, Date{referenceSeconds(9999, 12, 31, 23, 59, 59)},
               Date{referenceSeconds(0, 1, 1, 0, 0, 0)}, Date{referenceSeconds(2024, 2, 29, 12, 0, 0)}}},
        {"nested", Array{Array{Dictionary{{"k", Array{false}}}}}},
    };
    EXPECT_EQ(read(bytesOf(xml(everything))), everything);
}

TEST(PropertyListXML, DatesFollowTheCalendar) {
    std::mt19937 random(99);
    std::uniform_int_distribution<int> year(1, 9999), month(1, 12), day(1, 28), hour(0, 23), sixty(0, 59);
    for (int i = 0; i < 500; ++i) {
        const int y = year(random), mo = month(random), d = day(random), h = hour(random), mi = sixty(random),
                  s = sixty(random);
        char text[32];
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", y, mo, d, h, mi, s);
        const PropertyList date = read(bytesOf(document("<date>" + std::string(text) + "</date>\n")));
        ASSERT_EQ(date.date(), Date{referenceSeconds(y, mo, d, h, mi, s)}) << text;
        ASSERT_EQ(xml(date), document("<date>" + std::string(text) + "</date>\n"));
    }
    EXPECT_EQ(xml(Date{-0.5}), document("<date>2000-12-31T23:59:59Z</date>\n"))
        << "rounded down, not to zero";
}

TEST(PropertyListXML, ReadsWhatOtherWritersMayProduce) {
    const std::string text = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                             "<!-- a comment -->\r\n"
                             "<plist version=\"1.0\"><dict>"
                             "<key>i</key><integer> +7 </integer>"
                             "<key>r</key><real>\n1E3\n</real>"
                             "<key>inf</key><real>+infinity</real>"
                             "<key>s</key><string><![CDATA[<raw>]]> &#x263A; &amp;</string>"
                             "<key>d</key><data>AAE\n  C/w</data>"
                             "<key>i</key><integer>-9223372036854775808</integer>"
                             "<key>t</key><true></true>"
                             "</dict></plist>";
    PropertyListFormat format = PropertyListFormat::binary;
    const PropertyList value = read(bytesOf(text), &format);
    EXPECT_EQ(format, PropertyListFormat::xml);
    EXPECT_EQ(value, PropertyList(Dictionary{
                         {"i", std::numeric_limits<std::int64_t>::min()},
                         {"r", 1000.0},
                         {"inf", std::numeric_limits<double>::infinity()},
                         {"s", "<raw> \u263A &"},
                         {"d", PropertyList::Data{0, 1, 2, 255}},
                         {"t", true},
                     }))
        << "a repeated key keeps its last value";

    // The same document in UTF-16, as the encoding declaration allows.
    const std::string utf8 = document("<string>\u00E9\U0001F600</string>\n");
    std::u16string units =
        u"\uFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?><plist><string>\u00E9\U0001F600</string></plist>";
    Bytes utf16;
    for (const char16_t unit : units) utf16.push_back(unit & 0xFF), utf16.push_back(unit >> 8);
    EXPECT_EQ(read(utf16), read(bytesOf(utf8)));
}

TEST(PropertyListXML, NumbersIgnoreTheProcessLocale) {
    struct CommaDecimal : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
        char do_thousands_sep() const override { return '.'; }
        std::string do_grouping() const override { return "\3"; }
    };
    const std::string savedC = std::setlocale(LC_ALL, nullptr);
    const std::locale savedCxx = std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
    // A real comma-decimal locale for the C library too, where the machine has one.
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE", "fr_FR"})
        if (std::setlocale(LC_ALL, name)) break;

    const PropertyList value = Array{1.5, -0.25, 1e-7, std::int64_t{1234567}, Date{86400.0}};
    const std::string written = xml(value);
    const PropertyList back =
        read(bytesOf(document("<array><real>2.5</real><integer>1234567</integer></array>")));

    std::setlocale(LC_ALL, savedC.c_str());
    std::locale::global(savedCxx);
    EXPECT_EQ(written, document("<array>\n"
                                "\t<real>1.5</real>\n"
                                "\t<real>-0.25</real>\n"
                                "\t<real>1e-07</real>\n"
                                "\t<integer>1234567</integer>\n"
                                "\t<date>2001-01-02T00:00:00Z</date>\n"
                                "</array>\n"));
    EXPECT_EQ(back, PropertyList(Array{2.5, std::int64_t{1234567}}));
}

TEST(PropertyListXML, MalformedDocumentsFailWithAReason) {
    const std::vector<std::string> bad = {
        "",
        "garbage",
        "<plist version=\"1.0\"><dict>",
        "<array/>",
        "<plist/>",
        "<plist>text</plist>",
        "<plist><string>a</string><string>b</string></plist>",
        "<plist><string>a</string></plist><plist/>",
        "<plist><foo/></plist>",
        "<plist><integer>12a</integer></plist>",
        "<plist><integer></integer></plist>",
        "<plist><integer>1.5</integer></plist>",
        "<plist><integer>+-1</integer></plist>",
        "<plist><integer>9223372036854775808</integer></plist>",
        "<plist><integer>-9223372036854775809</integer></plist>",
        "<plist><integer>99999999999999999999999999</integer></plist>",
        "<plist><real>1,5</real></plist>",
        "<plist><real>abc</real></plist>",
        "<plist><real>1e999</real></plist>",
        "<plist><real>0x10</real></plist>",
        "<plist><dict><key>a</key></dict></plist>",
        "<plist><dict><string>x</string></dict></plist>",
        "<plist><dict>text<key>a</key><true/></dict></plist>",
        "<plist><array>text</array></plist>",
        "<plist><true>x</true></plist>",
        "<plist><string><b/></string></plist>",
        "<plist><data>AB$C</data></plist>",
        "<plist><data>A</data></plist>",
        "<plist><data>AA==AA</data></plist>",
        "<plist><date>2026-13-01T00:00:00Z</date></plist>",
        "<plist><date>2026-02-29T00:00:00Z</date></plist>",
        "<plist><date>2026-02-01 00:00:00</date></plist>",
        "<plist><string>&#1;</string></plist>",
        "<plist><string>\xC3</string></plist>",
    };
    for (const std::string& text : bad) {
        const auto error = readFailure(bytesOf(text));
        ASSERT_TRUE(error) << text;
        EXPECT_EQ(error->code(), NSPropertyListReadCorruptError) << text;
        EXPECT_FALSE(error->localizedDescription().empty());
    }
    const auto unknown = readFailure(bytesOf("<plist>\n\n<integer>x</integer></plist>"));
    ASSERT_TRUE(unknown);
    EXPECT_NE(unknown->localizedDescription().find("line 3"), std::string::npos)
        << unknown->localizedDescription();
}

std::string nested(int depth) {
    std::string text = "<plist>";
    for (int i = 0; i < depth; ++i) text += "<array>";
    for (int i = 0; i < depth; ++i) text += "</array>";
    return text + "</plist>";
}

PropertyList nestedValue(int depth) {
    PropertyList value = Array{};
    for (int i = 1; i < depth; ++i) value = Array{std::move(value)};
    return value;
}

TEST(PropertyListXML, NestingIsBoundedBothWays) {
    const int limit = PropertyListSerialization::maximumDepth;
    EXPECT_EQ(read(bytesOf(nested(limit + 1))), nestedValue(limit + 1));
    EXPECT_TRUE(readFailure(bytesOf(nested(limit + 2))));
    EXPECT_TRUE(readFailure(bytesOf(nested(200000)))) << "no stack overflow on a very deep document";
    EXPECT_NO_THROW(xml(nestedValue(limit + 1)));
    const auto tooDeep = failure([&] { xml(nestedValue(limit + 2)); });
    ASSERT_TRUE(tooDeep);
    EXPECT_EQ(tooDeep->code(), NSPropertyListWriteInvalidError);
}

TEST(PropertyListXML, ValuesXMLCannotCarryAreRefusedOnWriting) {
    const std::vector<PropertyList> refused = {
        "bell\a",
        "cut \xC3",
        "overlong \xC0\xAF",
        "surrogate \xED\xA0\x80",
        Dictionary{{"key\x01", 1}},
        Date{1e300},
        Date{std::nan("")},
        Date{referenceSeconds(10000, 1, 1, 0, 0, 0)},
    };
    for (const PropertyList& value : refused) {
        const auto error = failure([&] { xml(value); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), NSPropertyListWriteInvalidError);
    }
    const auto binary = failure([] { PropertyListSerialization::data(1, PropertyListFormat::binary); });
    ASSERT_TRUE(binary);
    EXPECT_EQ(binary->code(), NSPropertyListWriteInvalidError);
}

} // namespace
