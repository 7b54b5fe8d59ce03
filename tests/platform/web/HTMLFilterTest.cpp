#include <gtest/gtest.h>

#include <gumbo.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "platform/web/HTMLDocument.h"
#include "platform/web/HTMLFilter.h"

namespace {

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// What the layout engine's parser builds from a page: elements, their
// nesting, the most attributes on one, and tables nested in tables, where
// a table is a <table> or (in the pages here) an element with a class or
// a style that names a table display.
struct Tree {
    std::size_t elements = 0, attributes = 0;
    int depth = 0, tables = 0;
};

Tree parsed(const std::string& html) {
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, html.data(), html.size());
    Tree tree;
    std::vector<std::tuple<const GumboNode*, int, int>> pending{{output->root, 1, 0}};
    while (!pending.empty()) {
        const auto [node, depth, around] = pending.back();
        pending.pop_back();
        if (node->type != GUMBO_NODE_ELEMENT)
            continue;
        const GumboElement& element = node->v.element;
        const GumboAttribute* style = gumbo_get_attribute(&element.attributes, "style");
        const bool table = element.tag == GUMBO_TAG_TABLE ||
                           gumbo_get_attribute(&element.attributes, "class") ||
                           (style && std::string(style->value).find("table") != std::string::npos);
        const int tables = around + (table ? 1 : 0);
        tree.elements += 1;
        tree.attributes = std::max<std::size_t>(tree.attributes, element.attributes.length);
        tree.depth = std::max(tree.depth, depth);
        tree.tables = std::max(tree.tables, tables);
        for (unsigned i = 0; i < element.children.length; ++i)
            pending.emplace_back(static_cast<const GumboNode*>(element.children.data[i]), depth + 1, tables);
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
        const std::string out = filterHTML(c.html);
        for (const std::string& part : c.kept)
            EXPECT_NE(out.find(part), std::string::npos) << out;
        for (const std::string& part : c.dropped)
            EXPECT_EQ(out.find(part), std::string::npos) << out;
    }
}

TEST(HTMLFilter, BoundsNestingTagsAndBytesButKeepsTheText) {
    std::string deep;
    for (int i = 0; i < 5000; ++i)
        deep += "<div>";
    const std::string nested = filterHTML(deep + "deep text");
    EXPECT_EQ(count(nested, "<div>"), 64u - 2);  // with <html> and <body>
    EXPECT_NE(nested.find("deep text"), std::string::npos);
    // A style sheet that deep loses its tag, so its text goes too: it would be read as markup.
    EXPECT_EQ(filterHTML(deep + "<style>b{}</style><i>x</i>").find("b{}"), std::string::npos);

    // Tables lay out their cells more than once: time doubles with each nested one.
    std::string tables;
    for (int i = 0; i < 6; ++i)
        tables += "<table><tr><td>cell " + std::to_string(i);
    const std::string flat = filterHTML(tables);
    EXPECT_EQ(count(flat, "<table>"), 3u);
    EXPECT_NE(flat.find("cell 5"), std::string::npos);

    std::string many;
    for (int i = 0; i < 20000; ++i)
        many += "<b>" + std::to_string(i) + "</b>";
    const std::string cut = filterHTML(many);
    EXPECT_NE(cut.find(">3998<"), std::string::npos);
    EXPECT_EQ(cut.find(">4001<"), std::string::npos);  // 8,000 tags: 4,000 elements

    const std::string big = filterHTML("<p>" + std::string(3 << 20, 'x') + "</p>");
    EXPECT_LT(big.size(), (1u << 20) + 100);
}

// Small pages that cost the layout engine minutes or gigabytes: what reaches
// it stays within the element, nesting, attribute and size budgets.
TEST(HTMLFilter, HostilePagesReachTheLayoutEngineWithinBounds) {
    std::string formatting = "<p>";
    for (int i = 0; i < 3000; ++i)
        formatting += "<b id=b" + std::to_string(i) + ">";
    formatting += "</p>" + repeated("<p>x</p>", 3000);
    std::string attributes = "<p";
    for (int i = 0; i < 100000; ++i)
        attributes += " a" + std::to_string(i) + "=x";
    attributes += ">text</p>";
    const std::string cells = "<style>.t{display:table}.r{display:table-row}.c{display:table-cell}</style>" +
                              repeated("<div class=t><div class=r><div class=c>", 21) + "cell";
    const std::string styledCells = repeated("<div style='display: table-cell'>", 40) + "cell";
    const std::string sheetByTag = "<style>@media screen { span { display:inline-table } }</style>" +
                                   repeated("<span class=s>", 40) + "cell";
    const std::string pages[] = {
        formatting,
        attributes,
        cells,
        styledCells,
        sheetByTag,
        "<style>p{margin-top:10000/**/10000px}</style><p>a</p>"
        "<div style='margin-top:10000/* */10000px'>b</div>",
        "<style>p{margin-top:10000em;font-size:200px}</style><p>a</p><p>b</p>",
        "<style>div{font-size:4em}</style>" + repeated("<div>", 16) + "big",
        repeated("<div style='font-size:400%'>", 16) + "big",
    };
    for (const std::string& page : pages) {
        SCOPED_TRACE(page.substr(0, 120));
        const Tree tree = parsed(filterHTML(page));
        EXPECT_LE(tree.elements, 10200u);
        EXPECT_LE(tree.attributes, 32u);
        EXPECT_LE(tree.depth, 64);
        EXPECT_LE(tree.tables, 3);
        // Laid out only within the counts: beyond them it would take minutes.
        if (!HasFailure() && page.size() < 4096) {
            HTMLDocument document(page, URL::string("http://127.0.0.1/page.html"), true);
            document.layout(400);
            EXPECT_LT(document.height(), 40000);  // margins of 10,000 px, text of 400 px
        }
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
        filterHTML("<p style='background:url(2024.png)'>x</p><style>b{content:'1.5.'}</style>");
    EXPECT_NE(page.find("url(2024.png)"), std::string::npos) << page;
    EXPECT_NE(page.find("'1.5.'"), std::string::npos) << page;
}
