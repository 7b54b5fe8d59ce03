#include "platform/web/HTMLFilter.h"

#include <gumbo.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <map>
#include <set>
#include <vector>

namespace {

constexpr std::size_t kMaximumBytes = std::size_t(1) << 20;
constexpr int kMaximumTags = 8000;
constexpr int kMaximumAttributes = 32;     // per tag
constexpr int kMaximumOpenFormatting = 16;  // <b>, <i>, <font> ... not closed
constexpr int kMaximumElements = 10000;
constexpr int kMaximumDepth = 64;
constexpr double kMaximumLength = 10000;  // px, %, or any other CSS number
constexpr double kMaximumFontSize = 200;  // px or pt; 400 %
constexpr double kMaximumFontScale = 4;   // em, rem, ex, ch, vw, vh
constexpr double kMaximumEms = 25;        // other lengths: 10,000 px in the largest font (400 px)
constexpr long kMaximumSpan = 64;
constexpr long kMaximumListNumber = 100000;
constexpr int kMaximumBraces = 3;  // @media { rule { } } and one more
constexpr int kMaximumTables = 3;  // tables nested in tables

bool isLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

std::string lowercase(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return lower;
}

bool isOneOf(std::string_view name, std::initializer_list<std::string_view> names) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The parser opens every formatting element still open again in each new
// block, so a few thousand unclosed ones make millions of elements.
bool isFormatting(std::string_view name) {
    return isOneOf(name, {"a", "b", "big", "code", "em", "font", "i", "nobr", "s", "small", "strike",
                          "strong", "tt", "u"});
}

// Elements whose text the parser reads as text up to their end tag.
bool holdsRawText(std::string_view name) {
    return isOneOf(name, {"script", "style", "xmp", "iframe", "noembed", "noframes", "textarea", "title"});
}

// The end of the tag that starts at `at` (past its '>'), splitting the
// attributes as the parser's tokenizer does; those past the limit are left
// out of `tag`, since the tokenizer compares each with all before it.
std::size_t readTag(std::string_view bytes, std::size_t at, std::size_t nameEnd, std::string& tag) {
    tag.assign(bytes.substr(at, nameEnd - at));
    std::size_t p = nameEnd;
    int attributes = 0;
    while (p < bytes.size() && bytes[p] != '>') {
        if (isSpace(bytes[p]) || bytes[p] == '/') {
            tag += bytes[p++];
            continue;
        }
        const std::size_t start = p++;  // a name may begin with '='
        while (p < bytes.size() && !isSpace(bytes[p]) && bytes[p] != '/' && bytes[p] != '>' &&
               bytes[p] != '=')
            ++p;
        std::size_t equals = p;
        while (equals < bytes.size() && isSpace(bytes[equals]))
            ++equals;
        if (equals < bytes.size() && bytes[equals] == '=') {
            p = equals + 1;
            while (p < bytes.size() && isSpace(bytes[p]))
                ++p;
            if (p < bytes.size() && (bytes[p] == '"' || bytes[p] == '\'')) {
                const std::size_t close = bytes.find(bytes[p], p + 1);
                p = close == std::string_view::npos ? bytes.size() : close + 1;
            } else {
                while (p < bytes.size() && !isSpace(bytes[p]) && bytes[p] != '>')
                    ++p;
            }
        }
        if (++attributes <= kMaximumAttributes)
            tag.append(bytes.substr(start, p - start));
    }
    if (p < bytes.size())
        tag += bytes[p++];
    return p;
}

// The input as the parser gets it, cut after the byte limit and after the
// tag limit, with attributes past the limit of a tag and formatting
// elements past the limit of open ones left out: what the parser's own work
// grows with, beyond the bytes.
std::string bounded(std::string_view bytes) {
    bytes = bytes.substr(0, kMaximumBytes);
    std::string out, tag;
    out.reserve(bytes.size());
    std::map<std::string, int, std::less<>> open;  // formatting elements by name
    int opened = 0, tags = 0;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t lt = std::min(bytes.find('<', i), bytes.size());
        out.append(bytes.substr(i, lt - i));
        i = lt;
        if (i == bytes.size())
            break;
        if (bytes.substr(i, 4) == "<!--") {
            const std::size_t end = bytes.find("-->", i + 4);
            const std::size_t next = end == std::string_view::npos ? bytes.size() : end + 3;
            out.append(bytes.substr(i, next - i));
            i = next;
            continue;
        }
        const bool closing = i + 1 < bytes.size() && bytes[i + 1] == '/';
        const std::size_t nameStart = i + (closing ? 2 : 1);
        if (nameStart >= bytes.size() || !isLetter(bytes[nameStart])) {
            out += bytes[i++];
            continue;
        }
        if (++tags > kMaximumTags)
            break;
        std::size_t nameEnd = nameStart;
        while (nameEnd < bytes.size() && !isSpace(bytes[nameEnd]) && bytes[nameEnd] != '/' &&
               bytes[nameEnd] != '>')
            ++nameEnd;
        const std::string name = lowercase(bytes.substr(nameStart, nameEnd - nameStart));
        const std::size_t next = readTag(bytes, i, nameEnd, tag);
        i = next;
        if (isFormatting(name)) {
            int& count = open[name];
            // A second <a> or <nobr> closes the first.
            const bool single = name == "a" || name == "nobr";
            if (closing && count > 0) {
                --count, --opened;
            } else if (!closing && !(single && count > 0)) {
                if (opened == kMaximumOpenFormatting)
                    continue;
                ++count, ++opened;
            }
        }
        out += tag;
        if (closing || !holdsRawText(name))
            continue;
        // Its text up to its end tag, as it stands.
        std::size_t end = i;
        while ((end = bytes.find("</", end)) != std::string_view::npos &&
               lowercase(bytes.substr(end + 2, name.size())) != name)
            end += 2;
        end = std::min(end, bytes.size());
        out.append(bytes.substr(i, end - i));
        i = end;
    }
    return out;
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
    const std::string rest(end);
    return number(std::clamp(value, 0.0, kMaximumLength)) + (rest.starts_with("%") ? "%" : "");
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

bool isTablePart(GumboTag tag) {
    switch (tag) {
    case GUMBO_TAG_TABLE:
    case GUMBO_TAG_CAPTION:
    case GUMBO_TAG_COLGROUP:
    case GUMBO_TAG_COL:
    case GUMBO_TAG_THEAD:
    case GUMBO_TAG_TBODY:
    case GUMBO_TAG_TFOOT:
    case GUMBO_TAG_TR:
    case GUMBO_TAG_TD:
    case GUMBO_TAG_TH: return true;
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

// `filteredStyle`, when given, is the attribute's value already through filterCSS.
void appendAttribute(std::string& out, const GumboAttribute& attribute, const std::string* filteredStyle) {
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
        kept = filteredStyle ? *filteredStyle : filterCSS(value);
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

// True when CSS declarations (filtered) give a table display of any kind.
bool setsTableDisplay(std::string_view declarations) {
    const std::string text = lowercase(declarations);
    for (std::size_t at = text.find("display"); at != std::string::npos; at = text.find("display", at + 1)) {
        if (at > 0 && !isSpace(text[at - 1]) && text[at - 1] != ';' && text[at - 1] != '{')
            continue;
        std::size_t p = at + 7;
        while (p < text.size() && isSpace(text[p]))
            ++p;
        if (p == text.size() || text[p++] != ':')
            continue;
        while (p < text.size() && isSpace(text[p]))
            ++p;
        const std::string_view value = std::string_view(text).substr(p);
        if (value.starts_with("table") || value.starts_with("inline-table"))
            return true;
    }
    return false;
}

// The elements the page's style sheets may give a table display, told by
// one mark of each selector's last part: its id, a class or its tag. Any
// one mark counts, so that no element they match is missed.
class TableSelectors {
public:
    explicit TableSelectors(const GumboNode* root) {
        std::vector<const GumboNode*> pending{root};
        while (!pending.empty()) {
            const GumboNode* node = pending.back();
            pending.pop_back();
            const GumboVector* children =
                node->type == GUMBO_NODE_DOCUMENT ? &node->v.document.children
                : node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE
                    ? &node->v.element.children
                    : nullptr;
            if (node->type == GUMBO_NODE_ELEMENT && node->v.element.tag == GUMBO_TAG_STYLE)
                addSheet(sheets_[&node->v.element] = filterCSS(styleText(node->v.element)));
            else if (children)
                for (unsigned i = 0; i < children->length; ++i)
                    pending.push_back(static_cast<const GumboNode*>(children->data[i]));
        }
    }

    bool match(const GumboElement& element) const {
        if (any_ || tags_.contains(gumbo_normalized_tagname(element.tag)))
            return true;
        const GumboAttribute* id = gumbo_get_attribute(&element.attributes, "id");
        if (id && ids_.contains(lowercase(id->value)))
            return true;
        const GumboAttribute* classes = gumbo_get_attribute(&element.attributes, "class");
        const std::string names = classes ? lowercase(classes->value) : "";
        for (std::size_t at = 0; at < names.size();) {
            const std::size_t end = std::min(names.find_first_of(" \t\n\r\f", at), names.size());
            if (end > at && classes_.contains(names.substr(at, end - at)))
                return true;
            at = end + 1;
        }
        return false;
    }

    // A <style> element's text, filtered once here for the page as well.
    std::string sheet(const GumboElement& style) const {
        const auto found = sheets_.find(&style);
        return found != sheets_.end() ? found->second : filterCSS(styleText(style));
    }

private:
    void addSheet(std::string_view css) {
        std::size_t prelude = 0;
        for (std::size_t i = 0; i < css.size(); ++i) {
            if (css[i] == '}' || css[i] == ';') {
                prelude = i + 1;
            } else if (css[i] == '{') {
                const std::size_t end = std::min(css.find_first_of("{}", i + 1), css.size());
                if (setsTableDisplay(css.substr(i + 1, end - i - 1)))
                    addSelectors(lowercase(css.substr(prelude, i - prelude)));
                prelude = i + 1;
            }
        }
    }

    void addSelectors(std::string_view list) {
        for (std::size_t start = 0; start <= list.size();) {
            const std::size_t end = std::min(list.find(',', start), list.size());
            addSubject(list.substr(start, end - start));
            start = end + 1;
        }
    }

    // The last compound of a selector: what the rule's declarations land on.
    void addSubject(std::string_view selector) {
        std::size_t last = 0;
        int brackets = 0;
        for (std::size_t i = 0; i < selector.size(); ++i) {
            const char c = selector[i];
            brackets += c == '[' || c == '(' ? 1 : c == ']' || c == ')' ? -1 : 0;
            if (brackets == 0 && (isSpace(c) || c == '>' || c == '+' || c == '~') &&
                i + 1 < selector.size() && !isSpace(selector[i + 1]) && selector[i + 1] != '>' &&
                selector[i + 1] != '+' && selector[i + 1] != '~')
                last = i + 1;
        }
        // Without what brackets hold: [href$=".pdf"] names no class.
        std::string subject;
        brackets = 0;
        for (const char c : selector.substr(last)) {
            brackets += c == '[' || c == '(' ? 1 : 0;
            if (brackets == 0 && !isSpace(c))
                subject += c;
            brackets -= (c == ']' || c == ')') && brackets > 0 ? 1 : 0;
        }
        // A table made by ::before or ::after holds no elements to nest.
        if (subject.empty() || subject.find(":before") != std::string::npos ||
            subject.find(":after") != std::string::npos)
            return;
        const auto name = [&](std::size_t at) {
            std::size_t end = at;
            while (end < subject.size() && (std::isalnum(static_cast<unsigned char>(subject[end])) ||
                                            subject[end] == '-' || subject[end] == '_'))
                ++end;
            return std::string(subject.substr(at, end - at));
        };
        const std::size_t hash = subject.find('#'), dot = subject.find('.');
        if (hash != std::string::npos && !name(hash + 1).empty())
            ids_.insert(name(hash + 1));
        else if (dot != std::string::npos && !name(dot + 1).empty())
            classes_.insert(name(dot + 1));
        else if (!name(0).empty())
            tags_.insert(name(0));
        else
            any_ = true;
    }

    bool any_ = false;
    std::set<std::string, std::less<>> ids_, classes_, tags_;
    std::map<const GumboElement*, std::string> sheets_;
};

// The tree written out again, depth first without recursion: the parser
// nests as deep as the input does.
std::string serialize(const GumboNode* root) {
    const TableSelectors tableSelectors(root);
    int elements = 0;
    std::string out;
    struct Step {
        const GumboNode* node;
        int depth;
        bool closing;
        int tables = 0;  // tables around it
    };
    std::vector<Step> pending{{root, 0, false, 0}};
    while (!pending.empty()) {
        const Step step = pending.back();
        pending.pop_back();
        const GumboNode* node = step.node;
        if (node->type == GUMBO_NODE_DOCUMENT) {
            const GumboVector& children = node->v.document.children;
            for (unsigned i = children.length; i-- > 0;)
                pending.push_back({static_cast<const GumboNode*>(children.data[i]), 0, false, 0});
            continue;
        }
        if (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_WHITESPACE || node->type == GUMBO_NODE_CDATA) {
            appendEscaped(out, node->v.text.text, false);
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
        // Each table lays its cells out more than once: nested tables cost
        // time exponential in their depth, so deep ones lose their table
        // tags, and so do elements that CSS may make tables, rows or cells
        // (each may be wrapped in a table of its own).
        const GumboAttribute* style = gumbo_get_attribute(&element.attributes, "style");
        const std::string filteredStyle = style ? filterCSS(style->value) : std::string();
        const bool styledTable = element.tag != GUMBO_TAG_TABLE &&
                                 (setsTableDisplay(filteredStyle) || tableSelectors.match(element));
        const int tables = step.tables + (element.tag == GUMBO_TAG_TABLE || styledTable ? 1 : 0);
        const bool written = step.depth < kMaximumDepth && elements < kMaximumElements &&
                             !((isTablePart(element.tag) || styledTable) && tables > kMaximumTables);
        elements += written ? 1 : 0;
        if (written) {
            out += '<';
            out += name;
            for (unsigned i = 0; i < element.attributes.length; ++i) {
                const auto* attribute = static_cast<const GumboAttribute*>(element.attributes.data[i]);
                appendAttribute(out, *attribute, attribute == style ? &filteredStyle : nullptr);
            }
            out += '>';
        }
        if (element.tag == GUMBO_TAG_STYLE) {
            // Its text is CSS, written as it stands once filtered; without
            // its tag (too deep) it would be read as markup, so it goes.
            if (!written)
                continue;
            std::string css = tableSelectors.sheet(element);
            for (std::size_t at = css.find("</"); at != std::string::npos; at = css.find("</", at))
                css.replace(at, 2, "<\\/");
            out += css;
            out += "</style>";
            continue;
        }
        if (written && isVoid(element.tag))
            continue;
        if (written)
            pending.push_back({node, step.depth, true, 0});
        const int depth = written ? step.depth + 1 : step.depth;
        for (unsigned i = element.children.length; i-- > 0;)
            pending.push_back({static_cast<const GumboNode*>(element.children.data[i]), depth, false, tables});
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

}  // namespace

std::string filterCSS(std::string_view css) {
    std::string out;
    out.reserve(css.size());
    std::string property;  // the declaration being read, up to its colon
    bool inValue = false;
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
        std::size_t unitEnd = end;
        while (unitEnd < css.size() && (isLetter(css[unitEnd]) || css[unitEnd] == '%'))
            ++unitEnd;
        const std::string unit = lowercase(css.substr(end, unitEnd - end));
        double most = kMaximumLength;
        // Font sizes compound from parent to child: held tighter.
        const std::size_t first = property.find_first_not_of(" \t\r\n"), last = property.find_last_not_of(" \t\r\n");
        const std::string name = first == std::string::npos ? "" : property.substr(first, last - first + 1);
        if ((name == "font-size" || name == "font" || name == "line-height") && !unit.empty()) {
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

std::string filterHTML(std::string_view bytes) {
    const std::string input(bounded(bytes));
    GumboOptions options = kGumboDefaultOptions;
    options.max_errors = 0;
    GumboOutput* output = gumbo_parse_with_options(&options, input.data(), input.size());
    if (!output)
        return "";
    std::string out = serialize(output->document);
    gumbo_destroy_output(&options, output);
    return out;
}
