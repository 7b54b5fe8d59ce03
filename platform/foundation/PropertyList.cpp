#include "platform/foundation/PropertyList.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/foundation/NSError.h"
#include "platform/foundation/PropertyListInternal.h"

namespace {
// Lead bytes of U+E000-U+FFFF (EE, EF) sort after those of U+10000 and up
// (F0-F4), as their UTF-16 units do after surrogates. A byte permutation, so
// any byte strings stay totally ordered.
unsigned keyRank(unsigned char byte) {
    if (byte >= 0xF0 && byte <= 0xF4) return byte - 2;
    if (byte == 0xEE || byte == 0xEF) return byte + 5;
    return byte;
}

// Days from 1970-01-01 to a day of the proleptic Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

struct CivilDay {
    std::int64_t year;
    unsigned month, day;
};

CivilDay civilFromDays(std::int64_t days) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    const unsigned month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    return {static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2), month, day};
}

constexpr std::int64_t secondsPerDay = 86400;
const std::int64_t referenceDay = daysFromCivil(2001, 1, 1);

bool isLeapYear(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned daysInMonth(std::int64_t year, unsigned month) {
    static constexpr unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

// The decimal number of exactly `text.size()` digits.
std::optional<unsigned> digits(std::string_view text) {
    unsigned value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value;
}

// Length of the UTF-8 sequence at `text[i]` and its code point, or 0 when malformed.
std::size_t decodeUTF8(std::string_view text, std::size_t i, char32_t& codePoint) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    std::size_t length = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, minimum = 0x80, codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, minimum = 0x800, codePoint = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, minimum = 0x10000, codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() - i < length) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) return 0;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    return codePoint < minimum || codePoint > 0x10FFFF || surrogate ? 0 : length;
}

bool isXMLCharacter(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           c >= 0x10000;
}
} // namespace

bool PropertyListKeyOrder::operator()(std::string_view a, std::string_view b) const {
    const auto [endA, endB] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    if (endB == b.end()) return false;
    if (endA == a.end()) return true;
    return keyRank(static_cast<unsigned char>(*endA)) < keyRank(static_cast<unsigned char>(*endB));
}

std::optional<std::int64_t> PropertyList::integer() const {
    if (const auto* value = std::get_if<std::int64_t>(&value_)) return *value;
    return std::nullopt;
}

std::optional<double> PropertyList::real() const {
    if (const auto* value = std::get_if<double>(&value_)) return *value;
    return std::nullopt;
}

std::optional<bool> PropertyList::boolean() const {
    if (const auto* value = std::get_if<bool>(&value_)) return *value;
    return std::nullopt;
}

std::optional<Date> PropertyList::date() const {
    if (const auto* value = std::get_if<Date>(&value_)) return *value;
    return std::nullopt;
}

const PropertyList* PropertyList::find(std::string_view key) const {
    const Dictionary* entries = dictionary();
    if (!entries) return nullptr;
    const auto found = entries->find(key);
    return found == entries->end() ? nullptr : &found->second;
}

std::string_view description(PropertyListFormat format) {
    return format == PropertyListFormat::binary ? "binary" : "xml";
}

std::vector<std::uint8_t> PropertyListSerialization::data(const PropertyList& value,
                                                          PropertyListFormat format) {
    if (format != PropertyListFormat::xml) plist::throwInvalid("only the XML format is written");
    return plist::writeXML(value);
}

PropertyList PropertyListSerialization::propertyList(std::span<const std::uint8_t> data,
                                                     PropertyListFormat& format) {
    if (plist::isBinary(data)) {
        PropertyList value = plist::readBinary(data);
        format = PropertyListFormat::binary;
        return value;
    }
    PropertyList value = plist::readXML(data);
    format = PropertyListFormat::xml;
    return value;
}

PropertyList PropertyListSerialization::propertyList(std::string_view text, PropertyListFormat& format) {
    return propertyList(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), format);
}

namespace plist {

void throwCorrupt(const std::string& detail) {
    throw NSError(NSPropertyListReadCorruptError,
                  "The data couldn\u2019t be read because it isn\u2019t in the correct format (" + detail +
                      ").");
}

void throwInvalid(const std::string& detail) {
    throw NSError(NSPropertyListWriteInvalidError,
                  "The property list is invalid for the format (" + detail + ").");
}

bool isXMLText(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = 0;
        const std::size_t length = decodeUTF8(text, i, c);
        if (length == 0 || !isXMLCharacter(c)) return false;
        i += length;
    }
    return true;
}

std::optional<std::string> iso8601(Date date) {
    const double seconds = std::floor(date.timeIntervalSinceReferenceDate);
    constexpr double limit = 1.0e12; // beyond the years 0000-9999 either way
    if (!(std::abs(seconds) < limit)) return std::nullopt;
    const auto total = static_cast<std::int64_t>(seconds);
    std::int64_t days = total / secondsPerDay;
    std::int64_t inDay = total % secondsPerDay;
    if (inDay < 0) inDay += secondsPerDay, --days;
    const CivilDay civil = civilFromDays(days + referenceDay);
    if (civil.year < 0 || civil.year > 9999) return std::nullopt;
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(civil.year),
                  civil.month, civil.day, static_cast<int>(inDay / 3600), static_cast<int>(inDay / 60 % 60),
                  static_cast<int>(inDay % 60));
    return std::string(text);
}

std::optional<Date> parseISO8601(std::string_view text) {
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != 'Z')
        return std::nullopt;
    const auto year = digits(text.substr(0, 4)), month = digits(text.substr(5, 2)),
               day = digits(text.substr(8, 2)), hour = digits(text.substr(11, 2)),
               minute = digits(text.substr(14, 2)), second = digits(text.substr(17, 2));
    if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
    if (*month < 1 || *month > 12 || *day < 1 || *day > daysInMonth(*year, *month) || *hour > 23 ||
        *minute > 59 || *second > 59)
        return std::nullopt;
    const std::int64_t days = daysFromCivil(*year, *month, *day) - referenceDay;
    const std::int64_t seconds = days * secondsPerDay + *hour * 3600 + *minute * 60 + *second;
    return Date{static_cast<double>(seconds)};
}

} // namespace plist
