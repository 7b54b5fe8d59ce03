#include <gtest/gtest.h>

#include <gumbo.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/web/HTMLDocument.h"
#include "platform/web/HTMLFilter.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/HostilePages.h"

namespace {

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// What the layout engine's parser builds from a page: elements, their
// nesting and the most attributes on one.
struct Tree {
    std::size_t elements = 0, attributes = 0;
    int depth = 0;
};

Tree parsed(const std::string& html) {
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, html.data(), html.size());
    Tree tree;
    std::vector<std::pair<const GumboNode*, int>> pending{{output->root, 1}};
    while (!pending.empty()) {
        const auto [node, depth] = pending.back();
        pending.pop_back();
        if (node->type != GUMBO_NODE_ELEMENT)
            continue;
        const GumboElement& element = node->v.element;
        tree.elements += 1;
        tree.attributes = std::max<std::size_t>(tree.attributes, element.attributes.length);
        tree.depth = std::max(tree.depth, depth);
        for (unsigned i = 0; i < element.children.length; ++i)
            pending.emplace_back(static_cast<const GumboNode*>(element.children.data[i]), depth + 1);
    }
    gumbo_destroy_output(&kGumboDefaultOptions, output);
    return tree;
}

std::string repeated(const std::string& part, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += part;
    return out;
}

}  // namespace

TEST(HTMLFilter, ClampsWhatTheLayoutEngineCannotTakeAndKeepsTheRest) {
    struct Case {
        std::string html;
        std::vector<std::string> kept, dropped;
    };
    const Case cases[] = {
        {"<table><tr><td colspan=0 rowspan=999>a</td><td colspan=x>b</td></tr></table>",
         {"colspan=\"1\" rowspan=\"64\">a", "colspan=\"1\">b"}, {"999"}},
        {"<ol start=2147483647><li value=-9999999>a</ol>", {"start=\"100000\"", "value=\"-100000\""}, {"2147483647"}},
        {"<div style='font-size:1e9px;width:99999999px;margin:-5000000px;font-weight:700;color:#123456'>x</div>",
         {"font-size:200px", "width:10000px", "margin:-10000px", "font-weight:700", "color:#123456"}, {"1e9"}},
        {"<style>p { font-size: 40em } h-1 { line-height: 9000% }</style><p>t</p>",
         {"font-size: 4em", "h-1", "line-height: 400%"}, {"40em"}},
        {"<table width=99999999999 cellpadding=-3><tr><td>w</td></tr></table>",
         {"width=\"10000\"", "cellpadding=\"0\""}, {"99999999999"}},
        {"<script>alert(1)</script><p onclick='x()' title='a\"b'>t</p><iframe src=x></iframe><svg><circle/></svg>",
         {"<p title=\"a&quot;b\">t</p>"}, {"script", "alert", "onclick", "iframe", "circle"}},
        {"<p>a &lt; b &amp; c</p><!-- note -->", {"<p>a &lt; b &amp; c</p>"}, {"note"}},
        // Stray and deep braces cost litehtml seconds a page.
        {"<style>}}}a{b{c{d{e{color:red}</style>", {"<style>a{b{c{decolor:red}}}</style>"}, {"}}}a", "d{", "e{"}},
        // Raw text would be escaped anew on every pass.
        {"<xmp><b>x</b></xmp><noembed>inner</noembed><p>z</p>", {"<p>z</p>"}, {"xmp", "&lt;b", "noembed", "inner"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.html);
        const std::string out = filterHTML(c.html).html;
        for (const std::string& part : c.kept)
            EXPECT_NE(out.find(part), std::string::npos) << out;
        for (const std::string& part : c.dropped)
            EXPECT_EQ(out.find(part), std::string::npos) << out;
    }
}

TEST(HTMLFilter, BoundsNestingElementsWordsAndBytesButKeepsTheText) {
    const std::string deep = repeated("<div>", 5000);
    const std::string nested = filterHTML(deep + "deep text").html;
    EXPECT_EQ(count(nested, "<div>"), 64u - 2);  // with <html> and <body>
    EXPECT_NE(nested.find("deep text"), std::string::npos);
    // A style sheet that deep loses its tag, so its text goes too: it would be read as markup.
    EXPECT_EQ(filterHTML(deep + "<style>b{}</style><i>x</i>").html.find("b{}"), std::string::npos);

    // The page is cut after 10,000 elements (<html>, <head> and <body> among them) ...
    std::string many;
    for (int i = 0; i < 20000; ++i)
        many += "<b>" + std::to_string(i) + "</b>";
    const std::string cut = filterHTML(many).html;
    EXPECT_NE(cut.find(">9996<"), std::string::npos);
    EXPECT_EQ(cut.find(">9997<"), std::string::npos);
    EXPECT_EQ(cut.find(">19999<"), std::string::npos);

    // ... and after 50,000 words, each an element of the layout engine.
    const std::string words = filterHTML("<p>" + repeated("word ", 60000) + "</p><p>after</p>").html;
    EXPECT_EQ(count(words, "word"), 50000u);
    EXPECT_EQ(words.find("after"), std::string::npos);

    // Style sheets hold 256 KiB together, in whole rules.
    const std::string sheets =
        filterHTML("<style>" + repeated("p.a { color: red }\n", 20000) + "</style><style>i{color:blue}</style>").html;
    EXPECT_LE(count(sheets, "color: red"), (256u << 10) / 19);
    EXPECT_GT(count(sheets, "color: red"), (256u << 10) / 19 - 2);
    EXPECT_EQ(count(sheets, "{"), count(sheets, "}"));
    EXPECT_EQ(sheets.find("blue"), std::string::npos);

    const std::string big = filterHTML("<p>" + std::string(3 << 20, 'x') + "</p>").html;
    EXPECT_LT(big.size(), (1u << 20) + 100);
}

// Pages that cost the parser gigabytes or the layout minutes: each is either
// laid out within the bounds (a few thousand elements, tables at most three
// deep on the computed style, its text kept) or shown as a message that it
// was over its budget, never both.
TEST(HTMLFilter, HostilePagesAreLaidOutWithinBoundsOrReportedOverBudget) {
    enum class Outcome { laidOut, overParserBudget };
    // Formatting elements left open, which the parser opens again in every
    // paragraph, behind what ends a comment or raw text early or late.
    const auto reopened = [](const std::string& prefix, int times) {
        std::string page = prefix + "<p>";
        for (int i = 0; i < times; ++i)
            page += "<b id=b" + std::to_string(i) + ">";
        return page + "</p>" + repeated("<p>x</p>", times);
    };
    std::string attributes = "<p";
    for (int i = 0; i < 100000; ++i)
        attributes += " a" + std::to_string(i) + "=x";
    attributes += ">text</p>";
    struct Case {
        std::string name, page;
        Outcome outcome;
    };
    const Case cases[] = {
        {"formatting reopened", reopened("", 3000), Outcome::overParserBudget},
        {"comment ended by <!-->", reopened("<!-->", 3000), Outcome::overParserBudget},
        {"comment ended by <!--->", reopened("<!--->", 3000), Outcome::overParserBudget},
        {"<style> in <svg>", reopened("<svg><style>", 3000), Outcome::overParserBudget},
        {"<xmp> in <math>", reopened("<math><xmp>", 3000), Outcome::overParserBudget},
        {"<title> in <select>", reopened("<select><title></select>", 3000), Outcome::overParserBudget},
        {"</scriptx>", reopened("<script></scriptx></script>", 3000), Outcome::overParserBudget},
        {"100,000 attributes", attributes, Outcome::overParserBudget},
        {"tables by [attr]",
         "<style>[t]{display:table}[r]{display:table-row}[c]{display:table-cell}</style>" +
             repeated("<div t><div r><div c>", 18) + "cell",
         Outcome::laidOut},
        {"cells by [attr]", "<style>[c]{display:table-cell}</style>" + repeated("<div c>", 18) + "cell",
         Outcome::laidOut},
        {"tables by inherit", "<div style='display:table'>" + repeated("<div style='display:inherit'>", 18) + "cell",
         Outcome::laidOut},
        {"rows by inherit",
         "<style>.t{display:table}.r{display:table-row}</style><div class=t><div class=r>" +
             repeated("<div style='display:inherit'>", 60) + "cell",
         Outcome::laidOut},
        {"list items as cells", "<style>li{display:table-cell}</style>" + repeated("<ul><li>", 18) + "cell",
         Outcome::laidOut},
        {"tables by class",
         "<style>.t{display:table}.r{display:table-row}.c{display:table-cell}</style>" +
             repeated("<div class=t><div class=r><div class=c>", 21) + "cell",
         Outcome::laidOut},
        {"table tags", repeated("<table><tr><td>", 30) + "cell", Outcome::laidOut},
        {"inline blocks", repeated("<div style='display:inline-block'>", 62) + "cell", Outcome::laidOut},
        {"floats", repeated("<div style='float:left'>", 62) + "cell", Outcome::laidOut},
        {"absolute", repeated("<div style='position:absolute;width:50%;left:1px;right:1px'>", 62) + "cell",
         Outcome::laidOut},
        {"numbers parted by comments",
         "<style>p{margin-top:10000/**/10000px}</style><p>a</p><div style='margin-top:10000/* */10000px'>b</div>",
         Outcome::laidOut},
        {"font sizes compounding", "<style>div{font-size:4em}</style>" + repeated("<div>", 16) + "big",
         Outcome::laidOut},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HTMLDocument document(c.page, URL::string("http://127.0.0.1/page.html"), true);
        document.layout(400);
        if (c.outcome == Outcome::overParserBudget) {
            ASSERT_TRUE(document.overBudget());
            EXPECT_TRUE(*document.overBudget() == PageBudget::parserMemory ||
                        *document.overBudget() == PageBudget::parserTime);
            EXPECT_EQ(document.title(), "Cannot show the page");
            continue;
        }
        EXPECT_FALSE(document.overBudget());
        EXPECT_LE(document.nestedTables(), 3);
        EXPECT_GT(document.height(), 10);
        EXPECT_LT(document.height(), 40000);  // margins of 10,000 px, text of 400 px
        const Tree tree = parsed(filterHTML(c.page).html);
        EXPECT_LE(tree.elements, 10000u);
        EXPECT_LE(tree.depth, 64);
        EXPECT_LE(tree.attributes, 32u);
    }
}

// Ordinary pages, however large, pass the filter and are laid out whole, and
// so is a style sheet of a common framework's size.
TEST(HTMLFilter, OrdinaryPagesPassAndAreLaidOutWhole) {
    std::string ordinary = "<style>p{margin:4px} a:hover{color:red} li{color:#333}</style>";
    for (int i = 0; ordinary.size() < (256u << 10); ++i)
        ordinary += "<h2>Part " + std::to_string(i) + "</h2><p>Text <a href='#" + std::to_string(i) +
                    "'>link</a> <b>bold</b> more text.</p><ul><li>one<li>two</ul><table><tr><td>a<td>b</table>";
    for (const std::string& shown : {ordinary, testkit::framework("Framework")}) {
        HTMLDocument page(shown, URL::string("http://127.0.0.1/page.html"), true);
        page.layout(400);
        EXPECT_FALSE(page.overBudget());
        EXPECT_GT(page.height(), 10000);
    }
}

// Numbers in CSS are held, but not those in addresses or strings.
TEST(HTMLFilter, KeepsAddressesAndStringsInCSSWhole) {
    struct Case {
        std::string css, kept;
    };
    const Case cases[] = {
        {"a{background:url(2024.png)}", "url(2024.png)"},
        {"a{background:url(img/12.5.png) no-repeat}", "url(img/12.5.png)"},
        {"a{background:URL( '../99999999/1e9.png' )}", "URL( '../99999999/1e9.png' )"},
        {"a{background-image:url(\"x;12.5e3).png\")}", "url(\"x;12.5e3).png\")"},
        {"a{font-family:'Face 2024.5', \"Other 1e9\"}", "'Face 2024.5', \"Other 1e9\""},
        // What litehtml would read as a comment or a brace even there is escaped.
        {"a{background:url(a/*b{c}.png)}", "url(a/%2Ab%7Bc%7D.png)"},
        // A comment between numbers parts them; they are held one by one.
        {"p{margin-top:10000/**/99999px}", "margin-top:10000 10000px"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.css);
        EXPECT_NE(filterCSS(c.css).find(c.kept), std::string::npos) << filterCSS(c.css);
    }
    const std::string page =
        filterHTML("<p style='background:url(2024.png)'>x</p><style>b{content:'1.5.'}</style>").html;
    EXPECT_NE(page.find("url(2024.png)"), std::string::npos) << page;
    EXPECT_NE(page.find("'1.5.'"), std::string::npos) << page;
}

// Each number in CSS costs its own length, not that of the text before it:
// a name copied for each number would make a style of 300 KB take a second.
TEST(HTMLFilter, NumbersInCSSCostNoCopyOfTheNameBeforeThem) {
    const std::string name(4000, 'n');
    struct Case {
        std::string before, after;  // around the numbers
        bool page;                  // filtered as a page, or as CSS
    };
    const Case cases[] = {
        {"a{" + name + ":", "}", false},
        {"<p style='" + name + ":", "'>x</p>", true},
        {"<style>p{" + name + ":", "}</style>", true},
    };
    const auto allocations = [](const Case& c, int numbers) {
        const std::string text = c.before + repeated(" 1px", numbers) + c.after;
        const testkit::AllocationCounter counter;
        if (c.page)
            filterHTML(text);
        else
            filterCSS(text);
        return counter.count();
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before.substr(0, 12));
        EXPECT_LT(allocations(c, 1000), allocations(c, 10) + 10);  // not one a number
    }
}
