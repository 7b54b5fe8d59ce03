#pragma once

#include <concepts>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

// A moment as property lists keep it: seconds since 2001-01-01 00:00:00 UTC.
struct Date {
    double timeIntervalSinceReferenceDate = 0.0;

    bool operator==(const Date&) const = default;
};

// Dictionary keys in the order the platform's tools write them: by UTF-16
// code units, which differs from UTF-8 byte order only above U+DFFF.
struct PropertyListKeyOrder {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};

// One property-list value: a dictionary with text keys, an array, text
// (UTF-8), a 64-bit integer, a real, a boolean, bytes or a date.
class PropertyList {
public:
    using Dictionary = std::map<std::string, PropertyList, PropertyListKeyOrder>;
    using Array = std::vector<PropertyList>;
    using Data = std::vector<std::uint8_t>;
    enum class Type { dictionary, array, string, integer, real, boolean, data, date };

    PropertyList() : value_(Dictionary{}) {}
    PropertyList(Dictionary value) : value_(std::move(value)) {}
    PropertyList(Array value) : value_(std::move(value)) {}
    PropertyList(std::string value) : value_(std::move(value)) {}
    PropertyList(std::string_view value) : value_(std::string(value)) {}
    PropertyList(const char* value) : value_(std::string(value)) {}
    // Any integer whose every value fits 64 signed bits (so not std::uint64_t).
    template <std::integral Integer>
    requires(!std::same_as<Integer, bool> && (std::is_signed_v<Integer> || sizeof(Integer) < 8))
        PropertyList(Integer value)
        : value_(static_cast<std::int64_t>(value)) {}
    PropertyList(double value) : value_(value) {}
    PropertyList(bool value) : value_(value) {}
    PropertyList(Data value) : value_(std::move(value)) {}
    PropertyList(Date value) : value_(value) {}

    Type type() const { return static_cast<Type>(value_.index()); }

    // The value when it has that type, else null.
    const Dictionary* dictionary() const { return std::get_if<Dictionary>(&value_); }
    Dictionary* dictionary() { return std::get_if<Dictionary>(&value_); }
    const Array* array() const { return std::get_if<Array>(&value_); }
    Array* array() { return std::get_if<Array>(&value_); }
    const std::string* string() const { return std::get_if<std::string>(&value_); }
    const Data* data() const { return std::get_if<Data>(&value_); }
    std::optional<std::int64_t> integer() const;
    std::optional<double> real() const;
    std::optional<bool> boolean() const;
    std::optional<Date> date() const;

    // The entry of a dictionary, or null (also when this is no dictionary).
    const PropertyList* find(std::string_view key) const;

    // Equal types and equal values (a NaN real equals nothing).
    bool operator==(const PropertyList&) const = default;

private:
    // Alternatives in the order of Type.
    std::variant<Dictionary, Array, std::string, std::int64_t, double, bool, Data, Date> value_;
};

// The platform's error codes for property lists.
inline constexpr int NSPropertyListReadCorruptError = 3840;
inline constexpr int NSPropertyListReadUnknownVersionError = 3841;
inline constexpr int NSPropertyListWriteInvalidError = 3852;

enum class PropertyListFormat { xml = 100, binary = 200 };

std::string_view description(PropertyListFormat format);

// Turns values into bytes and back. Errors are thrown as NSError with one of
// the codes above and a sentence that says what and where.
class PropertyListSerialization {
public:
    // How many containers deep below the root a value may nest, read or written.
    static constexpr int maximumDepth = 512;

    // The XML property-list file the platform's tools write (tab indented,
    // keys sorted). Only XML is written. Fails on text that XML cannot carry
    // (invalid UTF-8, control characters), on dates outside the years
    // 0000-9999, and on nesting beyond maximumDepth.
    static std::vector<std::uint8_t> data(const PropertyList& value, PropertyListFormat format);

    // Reads XML or binary ("bplist00") data; `format` is set to the one found
    // (and left alone when the data is neither).
    static PropertyList propertyList(std::span<const std::uint8_t> data, PropertyListFormat& format);
    static PropertyList propertyList(std::string_view text, PropertyListFormat& format);
};
