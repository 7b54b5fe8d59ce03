#pragma once

#include <bit>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/NSError.h"
#include "platform/foundation/PropertyList.h"

// Test failures show values as their XML.
inline void PrintTo(const PropertyList& value, std::ostream* out) {
    try {
        const auto text = PropertyListSerialization::data(value, PropertyListFormat::xml);
        *out << std::string(text.begin(), text.end());
    } catch (const NSError& error) {
        *out << "<" << error.what() << ">";
    }
}

namespace plisttest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }
inline std::string textOf(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

inline PropertyList read(const Bytes& bytes, PropertyListFormat* found = nullptr) {
    PropertyListFormat format = PropertyListFormat::xml;
    PropertyList value = PropertyListSerialization::propertyList(bytes, format);
    if (found) *found = format;
    return value;
}

inline std::string xml(const PropertyList& value) {
    return textOf(PropertyListSerialization::data(value, PropertyListFormat::xml));
}

// The NSError that `action` throws, or none.
template <typename Action> std::optional<NSError> failure(Action&& action) {
    try {
        action();
    } catch (const NSError& error) {
        return error;
    }
    return std::nullopt;
}

inline std::optional<NSError> readFailure(const Bytes& bytes) {
    return failure([&] { read(bytes); });
}

// Assembles "bplist00" data object by object; objects name each other by
// their index, which `add` and the typed helpers answer.
class BinaryPlistBuilder {
public:
    std::size_t add(Bytes object) {
        objects_.push_back(std::move(object));
        return objects_.size() - 1;
    }
    std::size_t raw(std::uint8_t marker, const Bytes& payload) {
        Bytes object{marker};
        object.insert(object.end(), payload.begin(), payload.end());
        return add(object);
    }
    std::size_t boolean(bool value) { return add({static_cast<std::uint8_t>(value ? 0x09 : 0x08)}); }
    std::size_t integer(std::int64_t value) {
        const auto u = static_cast<std::uint64_t>(value);
        if (value < 0 || u > 0xFFFFFFFFu) return raw(0x13, bigEndian(u, 8));
        if (u > 0xFFFF) return raw(0x12, bigEndian(u, 4));
        if (u > 0xFF) return raw(0x11, bigEndian(u, 2));
        return raw(0x10, bigEndian(u, 1));
    }
    std::size_t real(double value) { return raw(0x23, bigEndian(std::bit_cast<std::uint64_t>(value), 8)); }
    std::size_t real32(float value) { return raw(0x22, bigEndian(std::bit_cast<std::uint32_t>(value), 4)); }
    std::size_t date(double seconds) {
        return raw(0x33, bigEndian(std::bit_cast<std::uint64_t>(seconds), 8));
    }
    std::size_t data(const Bytes& bytes) { return withCount(0x40, bytes.size(), bytes); }
    std::size_t ascii(std::string_view text) { return withCount(0x50, text.size(), bytesOf(text)); }
    std::size_t utf16(std::u16string_view text) {
        Bytes payload;
        for (const char16_t unit : text) {
            const Bytes two = bigEndian(unit, 2);
            payload.insert(payload.end(), two.begin(), two.end());
        }
        return withCount(0x60, text.size(), payload);
    }
    std::size_t array(const std::vector<std::size_t>& members) {
        return withCount(0xA0, members.size(), refs(members));
    }
    std::size_t dictionary(const std::vector<std::pair<std::size_t, std::size_t>>& entries) {
        std::vector<std::size_t> all;
        for (const auto& entry : entries) all.push_back(entry.first);
        for (const auto& entry : entries) all.push_back(entry.second);
        return withCount(0xD0, entries.size(), refs(all));
    }

    // Header, objects, offset table (each offset in as few bytes as fit) and trailer.
    Bytes build(std::size_t top) const {
        Bytes out = bytesOf("bplist00");
        std::vector<std::size_t> offsets;
        for (const Bytes& object : objects_) {
            offsets.push_back(out.size());
            out.insert(out.end(), object.begin(), object.end());
        }
        const std::size_t tableStart = out.size();
        const std::size_t offsetSize = out.size() > 0xFFFF ? 4 : out.size() > 0xFF ? 2 : 1;
        for (const std::size_t offset : offsets) append(out, bigEndian(offset, offsetSize));
        append(out, Bytes(6, 0));
        out.push_back(static_cast<std::uint8_t>(offsetSize));
        out.push_back(static_cast<std::uint8_t>(refSize));
        append(out, bigEndian(objects_.size(), 8));
        append(out, bigEndian(top, 8));
        append(out, bigEndian(tableStart, 8));
        return out;
    }

    std::size_t refSize = 1;

    static Bytes bigEndian(std::uint64_t value, std::size_t size) {
        Bytes out(size);
        for (std::size_t i = 0; i < size; ++i)
            out[size - 1 - i] = static_cast<std::uint8_t>(value >> (8 * i));
        return out;
    }

private:
    static void append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

    Bytes refs(const std::vector<std::size_t>& indices) const {
        Bytes out;
        for (const std::size_t index : indices) append(out, bigEndian(index, refSize));
        return out;
    }

    // Counts from 15 on follow the marker as an integer object.
    std::size_t withCount(std::uint8_t marker, std::size_t count, const Bytes& payload) {
        Bytes object;
        if (count < 15) {
            object.push_back(static_cast<std::uint8_t>(marker | count));
        } else {
            object = {static_cast<std::uint8_t>(marker | 0xF), 0x13};
            append(object, bigEndian(count, 8));
        }
        append(object, payload);
        return add(object);
    }

    std::vector<Bytes> objects_;
};

} // namespace plisttest
