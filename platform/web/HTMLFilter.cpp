#include "platform/web/HTMLFilter.h"

#include <gumbo.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <vector>

#include "platform/foundation/Sanitizers.h"
#include "platform/web/ProcessorTimeBudget.h"

namespace {

constexpr std::size_t kMaximumBytes = std::size_t(1) << 20;
constexpr int kMaximumAttributes = 32;  // per element
constexpr int kMaximumElements = 10000;
constexpr int kMaximumDepth = 64;
// The layout engine makes an element of each word and of each space.
constexpr long kMaximumWords = 50000;
// Style sheets of a page, together: the engine tries each selector against
// each element. The largest style frameworks take less.
constexpr std::size_t kMaximumStyleBytes = std::size_t(256) << 10;
constexpr double kMaximumLength = 10000;  // px, %, or any other CSS number
constexpr double kMaximumFontSize = 200;  // px or pt; 400 %
constexpr double kMaximumFontScale = 4;   // em, rem, ex, ch, vw, vh
constexpr double kMaximumEms = 25;        // other lengths: 10,000 px in the largest font (400 px)
constexpr long kMaximumSpan = 64;
constexpr long kMaximumListNumber = 100000;
constexpr int kMaximumBraces = 3;  // @media { rule { } } and one more

// What one parse may take of memory (counted gross: blocks are freed only
// with the tree) and of the thread's processor time (a sanitizer's build is
// given its slowdown). A page of 1 MiB takes 12 MB (text and markup) to
// 52 MB (nothing but short elements) and 0.1 to 0.3 s on a busy machine;
// the parser's worst cases grow with the square of the input or worse:
// formatting elements opened again in every block take memory, attributes
// compared with all before them take time.
constexpr std::size_t kParseBytes = std::size_t(96) << 20;
constexpr auto kParseTime =
    std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::milliseconds(500) * kSanitizerSlowdown);

// The parser's memory: bump allocated from large blocks, all freed at once
// with the arena. A parse that spends the budget is left by longjmp() from
// allocate(): no C++ frame lies between it and the setjmp() that started
// the parse.
class ParseArena {
public:
    ParseArena(std::size_t budget, std::chrono::nanoseconds time) : budget_(budget), time_(time, kClockEvery) {}
    ~ParseArena() {
        while (blocks_) {
            Block* next = blocks_->next;
            std::free(blocks_);
            blocks_ = next;
        }
    }
    ParseArena(const ParseArena&) = delete;
    ParseArena& operator=(const ParseArena&) = delete;

    static void* allocate(void* userdata, std::size_t size) {
        auto& arena = *static_cast<ParseArena*>(userdata);
        void* memory = arena.take(size);
        if (!memory)
            std::longjmp(arena.jump, 1);
        return memory;
    }
    static void deallocate(void*, void*) {}

    std::jmp_buf jump;
    std::optional<PageBudget> spent;

private:
    struct Block {
        Block* next;
        std::size_t size, used;
    };
    static constexpr std::size_t kAlignment = alignof(std::max_align_t);
    static constexpr std::size_t kHeader = (sizeof(Block) + kAlignment - 1) / kAlignment * kAlignment;
    static constexpr std::size_t kBlockSize = std::size_t(1) << 20;
    static constexpr unsigned kClockEvery = 256;  // allocations between looks at the clock

    void* take(std::size_t size) {
        size = (std::max<std::size_t>(size, 1) + kAlignment - 1) / kAlignment * kAlignment;
        taken_ += size;
        if (taken_ > budget_) {
            spent = PageBudget::parserMemory;
            return nullptr;
        }
        if (time_.spent()) {
            spent = PageBudget::parserTime;
            return nullptr;
        }
        if (!blocks_ || blocks_->size - blocks_->used < size) {
            const std::size_t capacity = std::max(size, kBlockSize);
            auto* block = static_cast<Block*>(std::malloc(kHeader + capacity));
            if (!block) {
                spent = PageBudget::parserMemory;
                return nullptr;
            }
            *block = {blocks_, capacity, 0};
            blocks_ = block;
        }
        void* memory = reinterpret_cast<char*>(blocks_) + kHeader + blocks_->used;
        blocks_->used += size;
        return memory;
    }

    const std::size_t budget_;
    ProcessorTimeBudget time_;
    std::size_t taken_ = 0;
    Block* blocks_ = nullptr;
};

bool isLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

std::string lowercase(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return lower;
}

bool isOneOf(std::string_view name, std::initializer_list<std::string_view> names) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

void appendEscaped(std::string& out, std::string_view text, bool attribute) {
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += attribute ? "&quot;" : "\""; break;
        case '\0': break;
        default: out += c;
        }
    }
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// The start of `text` that holds at most `words` more words; `words` is
// left less those.
std::string_view wordsOf(std::string_view text, long& words) {
    bool inWord = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool space = isSpace(text[i]);
        if (!space && !inWord) {
            if (words == 0)
                return text.substr(0, i);
            --words;
        }
        inWord = !space;
    }
    return text;
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

// The whole number in an attribute such as colspan="3", held to a range;
// text that holds no number takes the low end.
std::string clampedInteger(std::string_view text, long low, long high) {
    const std::string copy(text);
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    if (end == copy.c_str() || !std::isfinite(value))
        return std::to_string(low);
    return std::to_string(long(std::clamp<double>(value, double(low), double(high))));
}

// A length attribute ("120", "50%"): its number held to the range, the rest kept.
std::string clampedLength(std::string_view text) {
    const std::string copy(text);
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    if (end == copy.c_str() || !std::isfinite(value))
        return "";
    return number(std::clamp(value, 0.0, kMaximumLength)) + (*end == '%' ? "%" : "");
}

bool droppedWithContent(GumboTag tag) {
    switch (tag) {
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_NOSCRIPT:
    case GUMBO_TAG_NOEMBED:
    case GUMBO_TAG_NOFRAMES:
    case GUMBO_TAG_XMP:
    case GUMBO_TAG_PLAINTEXT:
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_FRAME:
    case GUMBO_TAG_FRAMESET:
    case GUMBO_TAG_OBJECT:
    case GUMBO_TAG_EMBED:
    case GUMBO_TAG_APPLET:
    case GUMBO_TAG_TEMPLATE:
    case GUMBO_TAG_BASE:
    case GUMBO_TAG_LINK:
    case GUMBO_TAG_META:
    case GUMBO_TAG_UNKNOWN: return true;
    default: return false;
    }
}

bool isVoid(GumboTag tag) {
    switch (tag) {
    case GUMBO_TAG_AREA:
    case GUMBO_TAG_BR:
    case GUMBO_TAG_COL:
    case GUMBO_TAG_HR:
    case GUMBO_TAG_IMG:
    case GUMBO_TAG_INPUT:
    case GUMBO_TAG_PARAM:
    case GUMBO_TAG_SOURCE:
    case GUMBO_TAG_TRACK:
    case GUMBO_TAG_WBR: return true;
    default: return false;
    }
}

void appendAttribute(std::string& out, const GumboAttribute& attribute) {
    const std::string name = lowercase(attribute.name);
    std::string_view value = attribute.value ? attribute.value : "";
    std::string kept;
    if (name.empty() || name.starts_with("on") || !std::all_of(name.begin(), name.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == ':';
        }))
        return;
    if (name == "colspan" || name == "rowspan")
        kept = clampedInteger(value, 1, kMaximumSpan);
    else if (name == "start" || name == "value")
        kept = clampedInteger(value, -kMaximumListNumber, kMaximumListNumber);
    else if (name == "width" || name == "height" || name == "border" || name == "cellpadding" ||
             name == "cellspacing" || name == "hspace" || name == "vspace")
        kept = clampedLength(value);
    else if (name == "size")
        kept = clampedInteger(value, -7, 7);
    else if (name == "style")
        kept = filterCSS(value);
    else
        kept = std::string(value);
    out += ' ';
    out += name;
    out += "=\"";
    appendEscaped(out, kept, true);
    out += '"';
}

// The text of a <style> element.
std::string styleText(const GumboElement& element) {
    std::string css;
    for (unsigned i = 0; i < element.children.length; ++i) {
        const auto* child = static_cast<const GumboNode*>(element.children.data[i]);
        if (child->type == GUMBO_NODE_TEXT || child->type == GUMBO_NODE_WHITESPACE)
            css += child->v.text.text;
    }
    return css;
}

// The rules of a filtered style sheet that fit `bytes`, whole; `bytes` is
// left less those.
std::string_view rulesOf(std::string_view css, std::size_t& bytes) {
    if (css.size() <= bytes) {
        bytes -= css.size();
        return css;
    }
    std::size_t end = 0;
    int depth = 0;
    for (std::size_t i = 0; i < bytes; ++i) {
        depth += css[i] == '{' ? 1 : css[i] == '}' ? -1 : 0;
        if (css[i] == '}' && depth == 0)
            end = i + 1;
    }
    bytes = 0;
    return css.substr(0, end);
}

// The tree written out again, depth first without recursion: the parser
// nests as deep as the input does. The page is cut where it reaches the
// element or the word limit; elements nested too deep give up their tags
// but keep their text.
std::string serialize(const GumboNode* root) {
    int elements = 0;
    long words = kMaximumWords;
    std::size_t styleBytes = kMaximumStyleBytes;
    bool cut = false;
    std::string out;
    struct Step {
        const GumboNode* node;
        int depth;
        bool closing;
    };
    std::vector<Step> pending{{root, 0, false}};
    while (!pending.empty()) {
        const Step step = pending.back();
        pending.pop_back();
        const GumboNode* node = step.node;
        if (node->type == GUMBO_NODE_DOCUMENT) {
            const GumboVector& children = node->v.document.children;
            for (unsigned i = children.length; i-- > 0;)
                pending.push_back({static_cast<const GumboNode*>(children.data[i]), 0, false});
            continue;
        }
        if (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_WHITESPACE || node->type == GUMBO_NODE_CDATA) {
            const std::string_view text = cut ? "" : node->v.text.text;
            const std::string_view kept = wordsOf(text, words);
            appendEscaped(out, kept, false);
            cut = cut || kept.size() < text.size();
            continue;
        }
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE)
            continue;  // comments
        const GumboElement& element = node->v.element;
        if (element.tag_namespace != GUMBO_NAMESPACE_HTML || droppedWithContent(element.tag))
            continue;
        const char* name = gumbo_normalized_tagname(element.tag);
        if (step.closing) {
            out += "</";
            out += name;
            out += '>';
            continue;
        }
        cut = cut || (step.depth < kMaximumDepth && elements == kMaximumElements);
        if (cut)
            continue;
        const bool written = step.depth < kMaximumDepth;
        elements += written ? 1 : 0;
        if (written) {
            out += '<';
            out += name;
            for (unsigned i = 0; i < std::min<unsigned>(element.attributes.length, kMaximumAttributes); ++i)
                appendAttribute(out, *static_cast<const GumboAttribute*>(element.attributes.data[i]));
            out += '>';
        }
        if (element.tag == GUMBO_TAG_STYLE) {
            // Its text is CSS, written as it stands once filtered; without
            // its tag (too deep) it would be read as markup, so it goes.
            if (!written)
                continue;
            // "</" would end the element early; escaped in one pass, as a
            // sheet may hold thousands.
            const std::string css = filterCSS(styleText(element));
            const std::string_view rules = rulesOf(css, styleBytes);
            for (std::size_t at = 0; at < rules.size(); ++at) {
                out += rules[at];
                if (rules[at] == '<' && at + 1 < rules.size() && rules[at + 1] == '/')
                    out += '\\';
            }
            out += "</style>";
            continue;
        }
        if (written && isVoid(element.tag))
            continue;
        if (written)
            pending.push_back({node, step.depth, true});
        const int depth = written ? step.depth + 1 : step.depth;
        for (unsigned i = element.children.length; i-- > 0;)
            pending.push_back({static_cast<const GumboNode*>(element.children.data[i]), depth, false});
    }
    return out;
}

// The end of the string or url() token that starts at `at`, or `at` when
// none does. A string ends at its quote or at the end of its line.
std::size_t quotedEnd(std::string_view css, std::size_t at) {
    const auto stringEnd = [&](std::size_t from) {
        std::size_t p = from + 1;
        while (p < css.size() && css[p] != css[from] && css[p] != '\n')
            p += css[p] == '\\' ? 2 : 1;
        return std::min(p + 1, css.size());
    };
    if (css[at] == '"' || css[at] == '\'')
        return stringEnd(at);
    const bool word = at > 0 && (std::isalnum(static_cast<unsigned char>(css[at - 1])) ||
                                 css[at - 1] == '-' || css[at - 1] == '_' || css[at - 1] == '\\');
    if (word || lowercase(css.substr(at, 4)) != "url(")
        return at;
    std::size_t p = at + 4;
    while (p < css.size() && css[p] != ')')
        p = css[p] == '"' || css[p] == '\'' ? stringEnd(p) : p + 1;
    return std::min(p + 1, css.size());
}

// A string or an address as it stands, but for what litehtml's reading
// would take for braces or a comment even there.
void appendQuoted(std::string& out, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '{')
            out += "%7B";
        else if (c == '}')
            out += "%7D";
        else if (c == '*' && i > 0 && text[i - 1] == '/')
            out += "%2A";
        else if (c != '\0')
            out += c;
    }
}

// Whether a declaration's name, as read up to its colon, is one whose
// sizes compound from parent to child.
bool isFontProperty(std::string_view property) {
    const std::size_t first = property.find_first_not_of(" \t\r\n"), last = property.find_last_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return false;
    return isOneOf(property.substr(first, last - first + 1), {"font-size", "font", "line-height"});
}

}  // namespace

std::string filterCSS(std::string_view css) {
    std::string out;
    out.reserve(css.size());
    // The declaration being read, up to its colon; whether it is a font's is
    // settled there, once: its name may be as long as the sheet.
    std::string property;
    bool inValue = false, fontProperty = false;
    // Braces are balanced and nest at most kMaximumBraces deep: litehtml
    // takes seconds over a few kilobytes of stray ones.
    int depth = 0, skipped = 0;
    for (std::size_t i = 0; i < css.size();) {
        // Comments go first: litehtml drops them, joining the numbers on
        // either side ("10000/**/10000px") after they were held.
        if (css.substr(i, 2) == "/*") {
            const std::size_t end = css.find("*/", i + 2);
            i = end == std::string_view::npos ? css.size() : end + 2;
            out += ' ';
            continue;
        }
        // Strings and addresses hold no numbers: url(2024.png) stays.
        if (const std::size_t end = quotedEnd(css, i); end > i) {
            appendQuoted(out, css.substr(i, end - i));
            i = end;
            continue;
        }
        const char c = css[i];
        if (c == '{' && (depth == kMaximumBraces || skipped > 0)) {
            ++skipped;
            ++i;
            continue;
        }
        if (c == '}' && (skipped > 0 || depth == 0)) {
            skipped = std::max(0, skipped - 1);
            ++i;
            continue;
        }
        depth += c == '{' ? 1 : c == '}' ? -1 : 0;
        if (c == ';' || c == '{' || c == '}') {
            property.clear();
            inValue = false;
        } else if (c == ':' && !inValue) {
            inValue = true;
            fontProperty = isFontProperty(property);
        } else if (!inValue && c != '\0') {
            property += char(std::tolower(static_cast<unsigned char>(c)));
        }
        const bool startsNumber = std::isdigit(static_cast<unsigned char>(c)) ||
                                  (c == '.' && i + 1 < css.size() && std::isdigit(static_cast<unsigned char>(css[i + 1])));
        // Digits of a name or a colour are no number; a minus after a name
        // joins it ("h-1"), any other minus is a sign and the magnitude is held.
        const auto wordChar = [&](std::size_t at) {
            return std::isalnum(static_cast<unsigned char>(css[at])) || css[at] == '#' || css[at] == '_' || css[at] == '.';
        };
        const bool insideWord = i > 0 && (wordChar(i - 1) || (css[i - 1] == '-' && i > 1 && wordChar(i - 2)));
        if (!inValue || !startsNumber || insideWord) {
            if (c != '\0')
                out += c;
            ++i;
            continue;
        }
        // A number in a value: digits, a fraction, perhaps an exponent.
        std::size_t end = i;
        while (end < css.size() && (std::isdigit(static_cast<unsigned char>(css[end])) || css[end] == '.'))
            ++end;
        if (end + 1 < css.size() && (css[end] == 'e' || css[end] == 'E') &&
            (std::isdigit(static_cast<unsigned char>(css[end + 1])) || css[end + 1] == '+' || css[end + 1] == '-')) {
            ++end;
            if (css[end] == '+' || css[end] == '-')
                ++end;
            while (end < css.size() && std::isdigit(static_cast<unsigned char>(css[end])))
                ++end;
        }
        const std::string digits(css.substr(i, end - i));
        double value = std::strtod(digits.c_str(), nullptr);
        // The unit's letters are read again as text: a unit longer than any
        // known one is told from them by its first five.
        std::size_t unitEnd = end;
        while (unitEnd < css.size() && unitEnd - end < 5 && (isLetter(css[unitEnd]) || css[unitEnd] == '%'))
            ++unitEnd;
        const std::string unit = lowercase(css.substr(end, unitEnd - end));
        double most = kMaximumLength;
        // Font sizes compound from parent to child: held tighter.
        if (fontProperty && !unit.empty()) {
            const bool scale = isOneOf(unit, {"em", "rem", "ex", "ch", "vw", "vh", "vmin", "vmax"});
            most = scale ? kMaximumFontScale : unit == "%" ? 100 * kMaximumFontScale : kMaximumFontSize;
        } else if (isOneOf(unit, {"em", "rem", "ex", "ch"})) {
            most = kMaximumEms;
        }
        if (!std::isfinite(value))
            value = most;
        out += number(std::min(value, most));
        i = end;
    }
    out.append(std::size_t(depth), '}');
    return out;
}

FilteredHTML filterHTML(std::string_view bytes) {
    bytes = bytes.substr(0, kMaximumBytes);
    // longjmp() leaves indeterminate any local of this frame changed since
    // setjmp(): the arena, which the parse changes, lives on the heap behind
    // a pointer that does not change.
    const auto arena = std::make_unique<ParseArena>(kParseBytes, kParseTime);
    GumboOptions options = kGumboDefaultOptions;
    options.max_errors = 0;
    options.allocator = ParseArena::allocate;
    options.deallocator = ParseArena::deallocate;
    options.userdata = arena.get();
    // Only gumbo's own frames and the arena's allocate() lie between here
    // and the longjmp() that leaves a parse over budget; the arena then
    // frees its blocks, the tree with them.
    if (setjmp(arena->jump) != 0)
        return {{}, arena->spent};
    GumboOutput* output = gumbo_parse_with_options(&options, bytes.data(), bytes.size());
    return {serialize(output->document), std::nullopt};
}

std::string overBudgetReason(PageBudget budget, const std::string& what) {
    const char* const work = budget == PageBudget::parserMemory    ? "parser memory"
                             : budget == PageBudget::parserTime    ? "parser time"
                             : budget == PageBudget::processorTime ? "processor time"
                                                                   : "memory";
    return std::string("it needs more ") + work + " than " + what + " may take";
}
