// Writes the seed corpus of every fuzz target below the folder it is given,
// from the test fixtures: the Hall preset in both forms, a unit's full state,
// property lists with every kind of value, short programs, and audio files:
// loops as the generator writes them and streams that change their layout or
// rate midway.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Orvo_Halden_Extension/Orvo_Halden_Extension_AudioUnit.h"
#include "platform/audio/AVAudioFile.h"
#include "tests/Orvo_Halden_Extension/HallPreset.h"
#include "tests/platform/foundation/PropertyListTestSupport.h"
#include "tests/support/EncodedAudio.h"
#include "tests/support/Signals.h"

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

namespace {

void write(const fs::path& folder, const std::string& name, const Bytes& bytes) {
    fs::create_directories(folder);
    std::ofstream(folder / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes xml(const PropertyList& value) { return PropertyListSerialization::data(value, PropertyListFormat::xml); }

Bytes hallBinary() { return Bytes(std::begin(testkit::kHallBinaryBytes), std::end(testkit::kHallBinaryBytes)); }

// One value of every kind, nested.
PropertyList everyKind() {
    return PropertyList::Dictionary{
        {"text", "Hall \xE2\x80\x94 \xF0\x9F\x8E\xB5 & <more>"},
        {"integer", std::int64_t{-9007199254740993}},
        {"real", 0.1},
        {"yes", true},
        {"no", false},
        {"data", PropertyList::Data{0, 1, 2, 0xFE, 0xFF}},
        {"date", Date{-978307200.0}},
        {"list", PropertyList::Array{1, 2.5, "three", PropertyList::Array{}, PropertyList::Dictionary{}}},
    };
}

// The same kinds as binary objects, with a string in UTF-16 and a 32-bit real.
Bytes everyKindBinary() {
    plisttest::BinaryPlistBuilder b;
    const auto keys = {b.ascii("text"), b.ascii("integer"), b.ascii("real"), b.ascii("yes"),
                       b.ascii("data"), b.ascii("date"),    b.ascii("list")};
    const std::vector<std::size_t> values = {
        b.utf16(u"Hall \u2014"), b.integer(-5),        b.real32(0.5f),
        b.boolean(true),        b.data({0, 1, 0xFF}), b.date(3.5),
        b.array({b.integer(1), b.real(2.5), b.ascii("three")})};
    std::vector<std::pair<std::size_t, std::size_t>> entries;
    auto value = values.begin();
    for (const std::size_t key : keys) entries.emplace_back(key, *value++);
    const std::size_t top = b.dictionary(entries);
    return b.build(top);
}

// A fiftieth of a second of tones at `rate`, written as the loop generator writes loops.
void writeLoop(const fs::path& folder, double rate, AVAudioChannelCount channels) {
    fs::create_directories(folder);
    const auto frames = static_cast<AVAudioFrameCount>(rate / 50);
    AVAudioPCMBuffer buffer(AVAudioFormat::standardFormat(rate, channels), frames);
    for (AVAudioChannelCount c = 0; c < channels; ++c) {
        const auto samples = testkit::sine(440.0 * (c + 1), rate, frames, 0.5f);
        std::copy(samples.begin(), samples.end(), buffer.channelData(c));
    }
    buffer.setFrameLength(frames);
    const std::string name =
        "loop-" + std::to_string(static_cast<int>(rate)) + "-" + std::to_string(channels) + ".m4a";
    AVAudioFile::writeLossless(URL::fileURLWithPath((folder / name).string()), buffer);
}

Bytes randomBytes(std::uint32_t seed, std::size_t n) {
    std::mt19937 random(seed);
    Bytes out(n);
    for (auto& byte : out) byte = static_cast<std::uint8_t>(random());
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];

    auto unit = Orvo_Halden_Extension_AudioUnit::make(Orvo_Halden_Extension_AudioUnit::kComponentDescription);
    const Bytes defaultState = xml(*unit->fullState());
    unit->setParameter(46, 4.0f);
    unit->setParameter(3, 0.25f);
    const Bytes changedState = xml(*unit->fullState());
    const Bytes hallXML = plisttest::bytesOf(testkit::kHallXML);

    for (const char* target : {"preset_fuzzer", "full_state_fuzzer"}) {
        write(root / target, "hall.xml", hallXML);
        write(root / target, "hall.bplist", hallBinary());
        write(root / target, "default-state.xml", defaultState);
        write(root / target, "changed-state.xml", changedState);
    }

    write(root / "propertylist_xml_fuzzer", "hall.xml", hallXML);
    write(root / "propertylist_xml_fuzzer", "state.xml", defaultState);
    write(root / "propertylist_xml_fuzzer", "every-kind.xml", xml(everyKind()));
    write(root / "propertylist_xml_fuzzer", "entities.xml",
          plisttest::bytesOf("<plist><array><string>&lt;&#x41;&#66;&amp;</string><data>AAEC/w==</data>"
                             "<date>2001-01-01T00:00:00Z</date><real>-1e-300</real><true/></array></plist>"));

    write(root / "propertylist_binary_fuzzer", "hall.bplist", hallBinary());
    write(root / "propertylist_binary_fuzzer", "every-kind.bplist", everyKindBinary());

    for (std::uint32_t seed = 1; seed <= 4; ++seed)
        write(root / "render_fuzzer", "random-" + std::to_string(seed), randomBytes(seed, 64u * seed));
    write(root / "render_fuzzer", "zeros", Bytes(64, 0));

    for (std::uint32_t seed = 1; seed <= 4; ++seed)
        write(root / "kbx_string_fuzzer", "random-" + std::to_string(seed), randomBytes(seed, 48u * seed));
    write(root / "kbx_string_fuzzer", "text", plisttest::bytesOf("a,b,,c;  Hello World  ;0x1F;-3.5e2;<&>"));

    // Pages: an ordinary one, and what litehtml alone cannot take: a span of
    // zero, nesting thousands deep, and sizes and numbers past any int.
    const std::string html = "html_fuzzer";
    write(root / html, "page.html",
          plisttest::bytesOf("<!DOCTYPE html><html><head><title>T</title><style>body{font:14px sans-serif}"
                             "h1{border-bottom:1px solid #999}</style></head><body><h1>Head</h1><p>Text "
                             "<a href='x.pdf'>link</a> <b>bold</b> <i>it</i></p><ul><li>one<li>two</ul>"
                             "<ol start=3><li>three</ol><table border=1><tr><td>a<td>b</table>"
                             "<img src='p.png' width=10 height=10></body></html>"));
    write(root / html, "colspan-zero.html",
          plisttest::bytesOf("<table><tr><td colspan=0>a</td><td rowspan=0>b</td></tr>"
                             "<tr><td colspan=0 rowspan=0>c</td></tr></table>"));
    std::string deep;
    for (int i = 0; i < 5000; ++i)
        deep += "<div>";
    write(root / html, "nested-5000.html", plisttest::bytesOf(deep + "deep"));
    write(root / html, "huge-numbers.html",
          plisttest::bytesOf("<div style='font-size:99999999999px;width:1e30px;margin-left:-2147483648px'>x"
                             "<span style='font-size:1000000em'>y<span style='font-size:1000000%'>z</span></span>"
                             "</div><ol start=2147483647><li>a<li>b</ol><ol start=-2147483648><li>c</ol>"
                             "<table width=99999999999 cellpadding=2147483647><tr><td width=4294967296>w</table>"
                             "<p style='line-height:1e9;letter-spacing:1e9px;border:2147483647px solid'>q</p>"));
    // Small pages that held the layout for minutes or took gigabytes: tables
    // made by a style sheet, formatting elements left open and opened again
    // in every paragraph, a tag of 100,000 attributes, numbers parted by a
    // comment, font sizes compounding, and addresses that look like numbers.
    std::string tables = "<style>.t{display:table}.r{display:table-row}.c{display:table-cell}</style>";
    for (int i = 0; i < 21; ++i)
        tables += "<div class=t><div class=r><div class=c>";
    write(root / html, "css-tables-21.html", plisttest::bytesOf(tables + "cell"));
    std::string formatting = "<p>";
    for (int i = 0; i < 3000; ++i)
        formatting += "<b id=b" + std::to_string(i) + ">";
    formatting += "</p>";
    for (int i = 0; i < 3000; ++i)
        formatting += "<p>x</p>";
    write(root / html, "open-formatting-3000.html", plisttest::bytesOf(formatting));
    std::string attributes = "<p";
    for (int i = 0; i < 100000; ++i)
        attributes += " a" + std::to_string(i) + "=x";
    write(root / html, "attributes-100000.html", plisttest::bytesOf(attributes + ">text</p>"));
    write(root / html, "comment-in-number.html",
          plisttest::bytesOf("<style>p{margin-top:10000/**/10000px}</style><p>a</p>"
                             "<div style='margin-top:10000/**/10000px'>b</div>"));
    std::string fonts = "<style>div{font-size:4em}</style>";
    for (int i = 0; i < 16; ++i)
        fonts += "<div>";
    write(root / html, "font-4em-16-deep.html", plisttest::bytesOf(fonts + "big"));
    // What the parser reads otherwise than a guess at its states would:
    // comments ended by "<!-->" and "<!--->", raw-text tags that are no raw
    // text inside <svg>, <math> or <select>, "</scriptx>", each in front of
    // thousands of formatting elements opened again in every paragraph; and
    // tables made by a bare attribute selector or by display:inherit.
    const auto reopened = [](const std::string& prefix) {
        std::string page = prefix + "<p>";
        for (int i = 0; i < 2500; ++i)
            page += "<b id=b" + std::to_string(i) + ">";
        page += "</p>";
        for (int i = 0; i < 2500; ++i)
            page += "<p>x</p>";
        return page;
    };
    const std::pair<const char*, const char*> early[] = {
        {"comment-short-open.html", "<!-->"},          {"comment-short-dash.html", "<!--->"},
        {"style-in-svg.html", "<svg><style>"},         {"xmp-in-math.html", "<math><xmp></math>"},
        {"title-in-select.html", "<select><title></select>"}, {"scriptx.html", "<script></scriptx></script>"},
    };
    for (const auto& [name, prefix] : early)
        write(root / html, name, plisttest::bytesOf(reopened(prefix)));
    std::string attributeTables = "<style>[t]{display:table}[r]{display:table-row}[c]{display:table-cell}</style>";
    std::string inherited = "<div style='display:table'>";
    for (int i = 0; i < 18; ++i) {
        attributeTables += "<div t><div r><div c>";
        inherited += "<div style='display:inherit'>";
    }
    write(root / html, "attribute-tables-18.html", plisttest::bytesOf(attributeTables + "cell"));
    write(root / html, "inherit-tables-18.html", plisttest::bytesOf(inherited + "cell"));
    write(root / html, "addresses.html",
          plisttest::bytesOf("<style>b{background:url(2024.png)}i{background:url('img/12.5.png')}</style>"
                             "<p style='background:url(img/12.5.png)'><b>x</b><i>y</i></p>"));

    const fs::path audio = root / "audio_file_fuzzer";
    for (const auto& [rate, channels] : {std::pair{48000.0, 2u}, {8000.0, 1u}, {192000.0, 2u}})
        writeLoop(audio, rate, channels);
    using testkit::EncodedPart;
    const std::vector<EncodedPart> stereoThenMono = {{2, 48000, 4800}, {1, 48000, 4800}};
    write(audio, "stereo-then-mono.mp2", testkit::encodedAudio("mp2", "mp2", stereoThenMono));
    write(audio, "mono-then-stereo.mp2",
          testkit::encodedAudio("mp2", "mp2", {{1, 48000, 4800}, {2, 48000, 4800}}));
    write(audio, "stereo-then-mono.aac", testkit::encodedAudio("adts", "aac", stereoThenMono));
    write(audio, "rate-halved.mp2",
          testkit::encodedAudio("mp2", "mp2", {{2, 48000, 4800}, {2, 24000, 2400}}));
    // Silence, which FLAC keeps in a few bytes a block: the shape of a bomb, short enough to run often.
    write(audio, "silence.flac", testkit::encodedAudio("flac", "flac", {{2, 48000, 480000, 0.0f}}));
    return 0;
}
