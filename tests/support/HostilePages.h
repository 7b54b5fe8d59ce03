#pragma once

#include <string>

namespace testkit {

// Pages whose work grows out of all proportion to their bytes, where the
// layout engine spends it, and an ordinary page of a common style
// framework's size beside them.

// 600 structural pseudo-class rules over 9,000 sibling paragraphs: each rule
// walks all siblings of every paragraph.
inline std::string structuralSiblings() {
    std::string page = "<style>";
    for (int i = 1; i <= 300; ++i)
        page += "p:nth-child(" + std::to_string(i) + "n+1){color:#123} p:nth-last-of-type(" + std::to_string(i) +
                "n){margin:1px}\n";
    page += "</style>";
    for (int i = 0; i < 9000; ++i)
        page += "<p>x</p>";
    return page;
}

// Small floats, placed in time that grows with the cube of their count.
inline std::string floats(int count) {
    std::string page;
    for (int i = 0; i < count; ++i)
        page += "<span style='float:left'>x" + std::to_string(i) + "</span>";
    return page;
}

// Every word of a `::before` text becomes an element of the engine's own.
inline std::string contentBefore(int words, int elements) {
    std::string page = "<style>b::before{content:\"";
    for (int i = 0; i < words; ++i)
        page += "a ";
    page += "\"}</style>";
    for (int i = 0; i < elements; ++i)
        page += "<b></b>";
    return page;
}

// 4,000 class rules and 1,000 elements: shown.
inline std::string framework(const std::string& title) {
    std::string page = "<title>" + title + "</title><style>";
    for (int i = 0; i < 4000; ++i)
        page += ".c" + std::to_string(i) + " {margin:" + std::to_string(i % 7) + "px; color:#345}\n";
    page += "</style>";
    for (int i = 0; i < 1000; ++i)
        page += "<div class='c" + std::to_string(i * 3 % 4000) + " c" + std::to_string(i * 7 % 4000) + "'>item " +
                std::to_string(i) + "</div>";
    return page;
}

// A style sheet as large frameworks write them, `rules` rules of descendant
// and child combinators and :hover, over `elements` nested elements: shown.
inline std::string combinators(const std::string& title, int rules, int elements) {
    std::string page = "<title>" + title + "</title><style>";
    for (int i = 0; i < rules; ++i) {
        const std::string n = std::to_string(i), m = std::to_string(i * 7 % 97);
        page += ".n" + m + " .c" + n + " > a:hover, .n" + m + " ul .c" + n + " span{color:#" +
                std::to_string(100 + i % 800) + ";padding:" + std::to_string(i % 5) + "px}\n";
    }
    page += "</style>";
    for (int i = 0; i < elements; i += 4)
        page += "<div class='n" + std::to_string(i % 97) + "'><ul><li class='c" + std::to_string(i * 13 % rules) +
                "'><a href='#" + std::to_string(i) + "'>item</a> <span>" + std::to_string(i) + "</span></li></ul></div>";
    return page;
}

// Ordinary at a wide view; at a narrow one, a rule makes every word of a
// `::before` text an element of the engine's own.
inline std::string narrowRules(const std::string& title) {
    std::string page = "<title>" + title + "</title><style>@media (max-width: 600px) { b::before{content:\"";
    for (int i = 0; i < 500; ++i)
        page += "a ";
    page += "\"} }</style><p>Wide enough</p>";
    for (int i = 0; i < 2000; ++i)
        page += "<b></b>";
    return page;
}

}  // namespace testkit
