// The XML property-list format: written by hand to lay it out exactly as the
// platform's tools do, read with pugixml.

#include <pugixml.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>

#include "platform/foundation/PropertyListInternal.h"

namespace plist {
namespace {

constexpr std::string_view header = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                                    "<plist version=\"1.0\">\n";

constexpr std::string_view base64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool isXMLSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isXMLSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isXMLSpace(text.back())) text.remove_suffix(1);
    return text;
}

std::string base64(const PropertyList::Data& bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = std::uint32_t{bytes[i]} << 16;
        if (n > 1) group |= std::uint32_t{bytes[i + 1]} << 8;
        if (n > 2) group |= bytes[i + 2];
        for (std::size_t k = 0; k < 4; ++k)
            text += k <= n ? base64Alphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
    }
    return text;
}

// Whitespace anywhere is skipped; padding is optional but ends the text.
std::optional<PropertyList::Data> fromBase64(std::string_view text) {
    PropertyList::Data bytes;
    std::uint32_t group = 0;
    int filled = 0;
    bool padded = false;
    for (const char c : text) {
        if (isXMLSpace(c)) continue;
        if (c == '=') {
            padded = true;
            continue;
        }
        const std::size_t digit = base64Alphabet.find(c);
        if (digit == std::string_view::npos || padded) return std::nullopt;
        group = (group << 6) | static_cast<std::uint32_t>(digit);
        if (++filled == 4) {
            for (int shift = 16; shift >= 0; shift -= 8)
                bytes.push_back(static_cast<std::uint8_t>(group >> shift));
            group = 0, filled = 0;
        }
    }
    if (filled == 1) return std::nullopt;
    if (filled > 1) {
        group <<= 6 * (4 - filled);
        for (int k = 0; k < filled - 1; ++k)
            bytes.push_back(static_cast<std::uint8_t>(group >> (16 - 8 * k)));
    }
    return bytes;
}

// The shortest text that reads back as the same double; infinities and NaN
// by the names the format uses.
std::string realText(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "+infinity" : "-infinity";
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

// A leading "+" is allowed, as the format's writers put one before infinity.
std::string_view withoutPlus(std::string_view text) {
    if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+') text.remove_prefix(1);
    return text;
}

template <typename Number> std::optional<Number> parseNumber(std::string_view text) {
    text = withoutPlus(trimmed(text));
    Number value{};
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size())
        return std::nullopt;
    return value;
}

class Writer {
public:
    std::string text{header};

    void write(const PropertyList& value, int depth) {
        if (depth > PropertyListSerialization::maximumDepth) throwInvalid("nested too deeply");
        switch (value.type()) {
        case PropertyList::Type::dictionary:
            return writeDictionary(*value.dictionary(), depth);
        case PropertyList::Type::array:
            return writeArray(*value.array(), depth);
        case PropertyList::Type::string:
            return line(depth, "string", escaped(*value.string()));
        case PropertyList::Type::integer:
            return line(depth, "integer", std::to_string(*value.integer()));
        case PropertyList::Type::real:
            return line(depth, "real", realText(*value.real()));
        case PropertyList::Type::boolean:
            return line(depth, *value.boolean() ? "<true/>" : "<false/>");
        case PropertyList::Type::data:
            return writeData(*value.data(), depth);
        case PropertyList::Type::date:
            return writeDate(*value.date(), depth);
        }
    }

private:
    void indent(int depth) { text.append(static_cast<std::size_t>(depth), '\t'); }

    void line(int depth, std::string_view content) {
        indent(depth);
        text += content;
        text += '\n';
    }

    void line(int depth, std::string_view tag, std::string_view content) {
        line(depth, "<" + std::string(tag) + ">" + std::string(content) + "</" + std::string(tag) + ">");
    }

    // "&", "<" and ">" as entities; a carriage return too, as a reader would
    // otherwise turn it into a line feed.
    static std::string escaped(std::string_view raw) {
        if (!isXMLText(raw)) throwInvalid("a string is not text that XML can hold");
        std::string result;
        result.reserve(raw.size());
        for (const char c : raw) {
            switch (c) {
            case '&':
                result += "&amp;";
                break;
            case '<':
                result += "&lt;";
                break;
            case '>':
                result += "&gt;";
                break;
            case '\r':
                result += "&#13;";
                break;
            default:
                result += c;
            }
        }
        return result;
    }

    void writeDictionary(const PropertyList::Dictionary& entries, int depth) {
        if (entries.empty()) return line(depth, "<dict/>");
        line(depth, "<dict>");
        for (const auto& [key, value] : entries) {
            line(depth + 1, "key", escaped(key));
            write(value, depth + 1);
        }
        line(depth, "</dict>");
    }

    void writeArray(const PropertyList::Array& items, int depth) {
        if (items.empty()) return line(depth, "<array/>");
        line(depth, "<array>");
        for (const PropertyList& item : items) write(item, depth + 1);
        line(depth, "</array>");
    }

    // Base64 lines that fit 76 columns with tabs counted as 8.
    void writeData(const PropertyList::Data& bytes, int depth) {
        const std::string encoded = base64(bytes);
        const std::size_t width = static_cast<std::size_t>(std::max(76 - 8 * depth, 4));
        line(depth, "<data>");
        for (std::size_t i = 0; i < encoded.size(); i += width)
            line(depth, std::string_view(encoded).substr(i, width));
        line(depth, "</data>");
    }

    void writeDate(Date date, int depth) {
        const std::optional<std::string> textForm = iso8601(date);
        if (!textForm) throwInvalid("a date lies outside the years 0000-9999");
        line(depth, "date", *textForm);
    }
};

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}

    PropertyList read() {
        if (data_.empty()) throwCorrupt("the data is empty");
        const unsigned options = pugi::parse_default | pugi::parse_ws_pcdata;
        const pugi::xml_parse_result parsed = document_.load_buffer(data_.data(), data_.size(), options);
        if (!parsed) fail(static_cast<std::ptrdiff_t>(parsed.offset), parsed.description());
        const pugi::xml_node root = onlyElement(document_);
        if (!root) throwCorrupt("no root element");
        if (std::string_view(root.name()) != "plist")
            fail(root, "the root element is <" + name(root) + ">, not <plist>");
        const pugi::xml_node top = onlyElement(root);
        if (!top) fail(root, "<plist> holds no value");
        return value(top, 0);
    }

private:
    static std::string name(pugi::xml_node node) { return node.name(); }

    [[noreturn]] void fail(std::ptrdiff_t offset, const std::string& what) const {
        const auto end = data_.begin() + std::clamp<std::ptrdiff_t>(offset, 0, std::ssize(data_));
        throwCorrupt("line " + std::to_string(std::count(data_.begin(), end, '\n') + 1) + ": " + what);
    }
    [[noreturn]] void fail(pugi::xml_node node, const std::string& what) const {
        fail(node.offset_debug(), what);
    }

    static bool isBlank(pugi::xml_node node) {
        const auto type = node.type();
        return (type != pugi::node_pcdata && type != pugi::node_cdata) || trimmed(node.value()).empty();
    }

    // The one element among `parent`'s children, with nothing but white space
    // around it; a null node when there is none.
    pugi::xml_node onlyElement(pugi::xml_node parent) const {
        pugi::xml_node found;
        for (const pugi::xml_node child : parent.children()) {
            if (child.type() == pugi::node_element) {
                if (found) fail(child, "<" + name(parent) + "> holds more than one value");
                found = child;
            } else if (!isBlank(child)) {
                fail(child, "text where an element belongs");
            }
        }
        return found;
    }

    // The text of a leaf element: character data only, no child elements.
    std::string text(pugi::xml_node node) const {
        std::string result;
        for (const pugi::xml_node child : node.children()) {
            if (child.type() == pugi::node_element) fail(child, "<" + name(node) + "> holds an element");
            if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
                result += child.value();
        }
        if (!isXMLText(result)) fail(node, "<" + name(node) + "> holds characters XML does not allow");
        return result;
    }

    PropertyList value(pugi::xml_node node, int depth) const {
        if (depth > PropertyListSerialization::maximumDepth) fail(node, "nested too deeply");
        const std::string_view tag = node.name();
        if (tag == "dict") return dictionary(node, depth);
        if (tag == "array") return array(node, depth);
        if (tag == "string") return text(node);
        if (tag == "integer") return leaf(node, parseNumber<std::int64_t>(text(node)), "a 64-bit integer");
        if (tag == "real") return leaf(node, parseNumber<double>(text(node)), "a real number");
        if (tag == "true" || tag == "false") return boolean(node, tag == "true");
        if (tag == "data") return leaf(node, fromBase64(text(node)), "base64 data");
        if (tag == "date") return leaf(node, parseISO8601(trimmed(text(node))), "a date");
        fail(node, "unknown element <" + std::string(tag) + ">");
    }

    template <typename T>
    PropertyList leaf(pugi::xml_node node, std::optional<T> parsed, const char* what) const {
        if (!parsed) fail(node, "<" + name(node) + "> does not hold " + what);
        return PropertyList(std::move(*parsed));
    }

    PropertyList boolean(pugi::xml_node node, bool value) const {
        if (!trimmed(text(node)).empty()) fail(node, "<" + name(node) + "/> is not empty");
        return value;
    }

    PropertyList array(pugi::xml_node node, int depth) const {
        PropertyList::Array items;
        for (const pugi::xml_node child : node.children()) {
            if (child.type() == pugi::node_element)
                items.push_back(value(child, depth + 1));
            else if (!isBlank(child))
                fail(child, "text where an element belongs");
        }
        return items;
    }

    // <key> and value alternate; a later key replaces an earlier equal one.
    PropertyList dictionary(pugi::xml_node node, int depth) const {
        PropertyList::Dictionary entries;
        std::optional<std::string> key;
        for (const pugi::xml_node child : node.children()) {
            if (child.type() != pugi::node_element) {
                if (!isBlank(child)) fail(child, "text where an element belongs");
            } else if (!key) {
                if (std::string_view(child.name()) != "key")
                    fail(child, "<" + name(child) + "> where a <key> belongs");
                key = text(child);
            } else {
                entries.insert_or_assign(std::move(*key), value(child, depth + 1));
                key.reset();
            }
        }
        if (key) fail(node, "the key \"" + *key + "\" has no value");
        return entries;
    }

    std::span<const std::uint8_t> data_;
    pugi::xml_document document_;
};

} // namespace

PropertyList readXML(std::span<const std::uint8_t> data) { return Reader(data).read(); }

std::vector<std::uint8_t> writeXML(const PropertyList& value) {
    Writer writer;
    writer.write(value, 0);
    writer.text += "</plist>\n";
    return {writer.text.begin(), writer.text.end()};
}

} // namespace plist
