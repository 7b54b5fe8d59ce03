#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "PropertyListTestSupport.h"

namespace {

using namespace plisttest;
using Dictionary = PropertyList::Dictionary;
using Array = PropertyList::Array;

// A preset-like list with every object kind, keys and numbers shared as the
// platform's writer shares them.
Bytes binaryFixture() {
    BinaryPlistBuilder b;
    const std::size_t one = b.integer(1), count = b.ascii("count"), identifier = b.ascii("identifier"),
                      address = b.ascii("address"), value = b.ascii("value");
    const auto param = [&](std::int64_t where, std::string_view key, std::size_t real) {
        return b.dictionary({{address, b.integer(where)}, {identifier, b.ascii(key)}, {value, real}});
    };
    const std::size_t param0 = param(0, "kVolumeIn", b.real32(0.8f));
    const std::size_t param1 = param(300, "kMix", b.real(0.25));
    const std::size_t group = b.dictionary({{identifier, b.ascii("kGlobalParameters")},
                                            {count, b.integer(2)},
                                            {b.ascii("param 0"), param0},
                                            {b.ascii("param 1"), param1}});
    const std::size_t extras = b.dictionary({
        {b.ascii("created"), b.date(818450962.0)},
        {b.ascii("flags"),
         b.array({b.boolean(true), b.boolean(false), b.integer(-5), b.integer(5000000000)})},
        {b.ascii("long"), b.ascii("twenty characters!!!")},
        {b.ascii("bytes"), b.data({0xDE, 0xAD, 0xBE, 0xEF})},
    });
    const std::size_t root = b.dictionary({
        {b.ascii("version"), one},
        {b.ascii("type"), b.integer(0x61756D66)},
        {b.ascii("manufacturer"), b.integer(0x564C4D52)},
        {b.ascii("subtype"), b.integer(0x6F68646E)},
        {b.ascii("number"), b.integer(0)},
        {b.ascii("name"), b.utf16(u"Pr\u00E9set \u266A \U0001F3B5")},
        {b.ascii("data"), b.data({})},
        {count, one},
        {b.ascii("group 0"), group},
        {b.ascii("extras"), extras},
        {b.ascii("link"), b.ascii("")},
    });
    return b.build(root);
}

// The same list as the platform's tools write it in XML.
const std::string xmlTwin = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                            "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                            "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                            "<plist version=\"1.0\">\n"
                            "<dict>\n"
                            "\t<key>count</key>\n"
                            "\t<integer>1</integer>\n"
                            "\t<key>data</key>\n"
                            "\t<data>\n"
                            "\t</data>\n"
                            "\t<key>extras</key>\n"
                            "\t<dict>\n"
                            "\t\t<key>bytes</key>\n"
                            "\t\t<data>\n"
                            "\t\t3q2+7w==\n"
                            "\t\t</data>\n"
                            "\t\t<key>created</key>\n"
                            "\t\t<date>2026-12-08T19:29:22Z</date>\n"
                            "\t\t<key>flags</key>\n"
                            "\t\t<array>\n"
                            "\t\t\t<true/>\n"
                            "\t\t\t<false/>\n"
                            "\t\t\t<integer>-5</integer>\n"
                            "\t\t\t<integer>5000000000</integer>\n"
                            "\t\t</array>\n"
                            "\t\t<key>long</key>\n"
                            "\t\t<string>twenty characters!!!</string>\n"
                            "\t</dict>\n"
                            "\t<key>group 0</key>\n"
                            "\t<dict>\n"
                            "\t\t<key>count</key>\n"
                            "\t\t<integer>2</integer>\n"
                            "\t\t<key>identifier</key>\n"
                            "\t\t<string>kGlobalParameters</string>\n"
                            "\t\t<key>param 0</key>\n"
                            "\t\t<dict>\n"
                            "\t\t\t<key>address</key>\n"
                            "\t\t\t<integer>0</integer>\n"
                            "\t\t\t<key>identifier</key>\n"
                            "\t\t\t<string>kVolumeIn</string>\n"
                            "\t\t\t<key>value</key>\n"
                            "\t\t\t<real>0.800000011920929</real>\n"
                            "\t\t</dict>\n"
                            "\t\t<key>param 1</key>\n"
                            "\t\t<dict>\n"
                            "\t\t\t<key>address</key>\n"
                            "\t\t\t<integer>300</integer>\n"
                            "\t\t\t<key>identifier</key>\n"
                            "\t\t\t<string>kMix</string>\n"
                            "\t\t\t<key>value</key>\n"
                            "\t\t\t<real>0.25</real>\n"
                            "\t\t</dict>\n"
                            "\t</dict>\n"
                            "\t<key>link</key>\n"
                            "\t<string></string>\n"
                            "\t<key>manufacturer</key>\n"
                            "\t<integer>1447841106</integer>\n"
                            "\t<key>name</key>\n"
                            "\t<string>Pr\u00E9set \u266A \U0001F3B5</string>\n"
                            "\t<key>number</key>\n"
                            "\t<integer>0</integer>\n"
                            "\t<key>subtype</key>\n"
                            "\t<integer>1869112430</integer>\n"
                            "\t<key>type</key>\n"
                            "\t<integer>1635085670</integer>\n"
                            "\t<key>version</key>\n"
                            "\t<integer>1</integer>\n"
                            "</dict>\n"
                            "</plist>\n";

TEST(PropertyListBinary, FixtureReadsLikeItsXMLTwin) {
    PropertyListFormat binaryFormat = PropertyListFormat::xml, xmlFormat = PropertyListFormat::binary;
    const PropertyList fromBinary = read(binaryFixture(), &binaryFormat);
    const PropertyList fromXML = read(bytesOf(xmlTwin), &xmlFormat);
    EXPECT_EQ(binaryFormat, PropertyListFormat::binary);
    EXPECT_EQ(xmlFormat, PropertyListFormat::xml);
    EXPECT_EQ(description(binaryFormat), "binary");
    EXPECT_EQ(fromBinary, fromXML);
    EXPECT_EQ(xml(fromBinary), xmlTwin);

    const PropertyList* value = fromBinary.find("group 0")->find("param 0")->find("value");
    ASSERT_TRUE(value && value->real());
    EXPECT_EQ(static_cast<float>(*value->real()), 0.8f) << "a 4-byte real widens exactly";
}

TEST(PropertyListBinary, WideReferencesOffsetsAndIntegers) {
    BinaryPlistBuilder b;
    b.refSize = 2;
    std::vector<std::size_t> members;
    Array expected;
    for (int i = 0; i < 300; ++i) {
        members.push_back(
            b.ascii("item " + std::to_string(i) + std::string(static_cast<std::size_t>(i % 7), 'x')));
        expected.push_back("item " + std::to_string(i) + std::string(static_cast<std::size_t>(i % 7), 'x'));
    }
    using Marker = std::pair<std::uint8_t, Bytes>;
    const std::vector<std::pair<Marker, std::int64_t>> integers = {
        {{0x10, {0xFF}}, 255},
        {{0x11, {0xFF, 0xFF}}, 65535},
        {{0x12, {0xFF, 0xFF, 0xFF, 0xFF}}, 4294967295},
        {{0x13, Bytes(8, 0xFF)}, -1},
        {{0x14, Bytes(16, 0)}, 0},
        {{0x14,
          [] {
              Bytes v(8, 0);
              v.insert(v.end(), {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
              return v;
          }()},
         std::numeric_limits<std::int64_t>::max()},
        {{0x14,
          [] {
              Bytes v(8, 0xFF);
              v.insert(v.end(), {0x80, 0, 0, 0, 0, 0, 0, 0});
              return v;
          }()},
         std::numeric_limits<std::int64_t>::min()},
    };
    for (const auto& [marker, number] : integers) {
        members.push_back(b.raw(marker.first, marker.second));
        expected.push_back(number);
    }
    const Bytes data = b.build(b.array(members));
    ASSERT_GT(data.size(), 0x1000u) << "offsets need two bytes";
    EXPECT_EQ(read(data), PropertyList(expected));
}

Bytes withTrailerByte(Bytes data, std::size_t fromEnd, std::uint8_t value) {
    data[data.size() - fromEnd] = value;
    return data;
}

TEST(PropertyListBinary, BrokenStructureFailsCleanly) {
    const Bytes good = binaryFixture();
    for (std::size_t size = 0; size < good.size(); ++size) {
        const auto error = readFailure(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size)));
        ASSERT_TRUE(error) << "truncated to " << size;
    }
    Bytes newer = good;
    newer[7] = '1';
    const auto version = readFailure(newer);
    ASSERT_TRUE(version);
    EXPECT_EQ(version->code(), NSPropertyListReadUnknownVersionError);

    EXPECT_TRUE(readFailure(withTrailerByte(good, 26, 0))) << "offset size 0";
    EXPECT_TRUE(readFailure(withTrailerByte(good, 25, 9))) << "reference size 9";
    EXPECT_TRUE(readFailure(withTrailerByte(good, 9, 0xFF))) << "top object out of range";
    EXPECT_TRUE(readFailure(withTrailerByte(good, 17, 0xFF))) << "object count beyond the table";
    EXPECT_TRUE(readFailure(withTrailerByte(good, 1, 0xFF))) << "offset table past the trailer";
    EXPECT_TRUE(readFailure(withTrailerByte(good, 1, 3))) << "offset table inside the header";

    const auto single = [](std::uint8_t marker, const Bytes& payload) {
        BinaryPlistBuilder b;
        return b.build(b.raw(marker, payload));
    };
    EXPECT_TRUE(readFailure(single(0x00, {}))) << "null";
    EXPECT_TRUE(readFailure(single(0x0F, {}))) << "fill";
    EXPECT_TRUE(readFailure(single(0x14, Bytes(16, 0x12)))) << "beyond 64 bits";
    EXPECT_TRUE(readFailure(single(0x14,
                                   [] {
                                       Bytes v(8, 0);
                                       v.insert(v.end(), {0x80, 0, 0, 0, 0, 0, 0, 0});
                                       return v;
                                   }())))
        << "2^63 does not fit";
    EXPECT_TRUE(readFailure(single(0x15, Bytes(32, 0)))) << "32-byte integer";
    EXPECT_TRUE(readFailure(single(0x21, {0, 0}))) << "2-byte real";
    EXPECT_TRUE(readFailure(single(0x32, {0, 0, 0, 0}))) << "4-byte date";
    EXPECT_TRUE(readFailure(single(0x53, {'a', 0x80, 'b'}))) << "non-ASCII in an ASCII string";
    EXPECT_TRUE(readFailure(single(0x61, {0xD8, 0x3D}))) << "unpaired high surrogate";
    EXPECT_TRUE(readFailure(single(0x62, {0xDE, 0x00, 0x00, 0x41}))) << "lone low surrogate";
    EXPECT_TRUE(readFailure(single(0x4F, {0x13, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})))
        << "huge length";
    EXPECT_TRUE(readFailure(single(0x6F, {0x13, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})))
        << "huge UTF-16";
    EXPECT_TRUE(readFailure(single(0xAF, {0x13, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})))
        << "huge array";
    EXPECT_TRUE(readFailure(single(0x4F, {0x24, 0, 0}))) << "a real as a length";
    EXPECT_TRUE(readFailure(single(0x80, {0}))) << "uid";
    EXPECT_TRUE(readFailure(single(0xC0, {}))) << "set";
    EXPECT_TRUE(readFailure(single(0x70, {}))) << "unknown kind";
    EXPECT_TRUE(readFailure(single(0xA1, {5}))) << "reference out of range";
}

TEST(PropertyListBinary, CyclesSharingAndDepthAreBounded) {
    {
        BinaryPlistBuilder b;
        b.add({0xA1, 0}); // an array holding itself
        const auto error = readFailure(b.build(0));
        ASSERT_TRUE(error);
        EXPECT_NE(error->localizedDescription().find("itself"), std::string::npos) << "told apart from mere depth";
    }
    {
        BinaryPlistBuilder b; // a dictionary whose value is its grandparent
        const std::size_t key = b.ascii("k");
        b.add({0xD1, static_cast<std::uint8_t>(key), 2});
        b.add({0xA1, 1});
        EXPECT_TRUE(readFailure(b.build(2)));
    }
    {
        BinaryPlistBuilder b; // a key that is no string
        const std::size_t number = b.integer(1);
        EXPECT_TRUE(readFailure(b.build(b.dictionary({{number, number}}))));
    }
    {
        BinaryPlistBuilder b; // sharing is fine while it stays small...
        const std::size_t leaf = b.ascii("shared");
        const std::size_t pair = b.array({leaf, leaf});
        EXPECT_EQ(read(b.build(b.array({pair, pair}))),
                  PropertyList(Array{Array{"shared", "shared"}, Array{"shared", "shared"}}));
    }
    {
        BinaryPlistBuilder b; // ...but 2^40 copies of a leaf from 41 objects is refused
        std::size_t level = b.ascii("leaf");
        for (int i = 0; i < 40; ++i) level = b.array({level, level});
        EXPECT_TRUE(readFailure(b.build(level)));
    }
    const auto chain = [](int depth) {
        BinaryPlistBuilder b;
        b.refSize = 2;
        std::size_t level = b.array({});
        for (int i = 1; i < depth; ++i) level = b.array({level});
        return b.build(level);
    };
    const int limit = PropertyListSerialization::maximumDepth;
    EXPECT_NO_THROW(read(chain(limit + 1)));
    EXPECT_TRUE(readFailure(chain(limit + 2)));
    EXPECT_TRUE(readFailure(chain(60000)));
}

// Whatever the readers accept must write and read back to the same text;
// everything else must fail with an NSError, never crash or throw otherwise.
TEST(PropertyListFuzz, RandomAndMutatedInputsFailCleanlyOrRoundTrip) {
    std::mt19937 random(20261208);
    const std::vector<Bytes> seeds = {binaryFixture(), bytesOf(xmlTwin)};
    const auto byte = [&] { return static_cast<std::uint8_t>(random()); };
    const auto below = [&](std::size_t n) { return n == 0 ? 0 : random() % n; };
    int accepted = 0, refused = 0;
    for (int i = 0; i < 4000; ++i) {
        Bytes input;
        if (i % 4 < 2) {
            input = seeds[static_cast<std::size_t>(i % 2)];
            const std::size_t edits = 1 + below(4);
            for (std::size_t e = 0; e < edits && !input.empty(); ++e) {
                const std::size_t at = below(input.size());
                switch (random() % 4) {
                case 0:
                    input[at] = byte();
                    break;
                case 1:
                    input[at] ^= static_cast<std::uint8_t>(1u << below(8));
                    break;
                case 2:
                    input.erase(input.begin() + static_cast<std::ptrdiff_t>(at));
                    break;
                default:
                    input.insert(input.begin() + static_cast<std::ptrdiff_t>(at), byte());
                }
            }
        } else {
            if (i % 4 == 2) input = bytesOf("bplist00");
            const std::size_t size = below(120);
            for (std::size_t k = 0; k < size; ++k) input.push_back(byte());
        }
        try {
            const std::string written = xml(read(input));
            ++accepted;
            EXPECT_EQ(xml(read(bytesOf(written))), written);
        } catch (const NSError& error) {
            ++refused;
            EXPECT_TRUE(error.code() == NSPropertyListReadCorruptError ||
                        error.code() == NSPropertyListReadUnknownVersionError ||
                        error.code() == NSPropertyListWriteInvalidError);
        }
    }
    EXPECT_GT(accepted, 0) << "some mutations stay valid";
    EXPECT_GT(refused, 0);
}

} // namespace
