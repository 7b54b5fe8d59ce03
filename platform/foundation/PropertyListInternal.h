#pragma once

// What the property-list readers and writer share; not for callers.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/PropertyList.h"

namespace plist {

[[noreturn]] void throwCorrupt(const std::string& detail);
[[noreturn]] void throwInvalid(const std::string& detail);

// Well-formed UTF-8 made only of characters an XML 1.0 document may hold.
bool isXMLText(std::string_view text);

// "2001-01-01T00:00:00Z" form (whole seconds, rounded down); none for dates
// outside the years 0000-9999 or not finite.
std::optional<std::string> iso8601(Date date);
std::optional<Date> parseISO8601(std::string_view text);

PropertyList readXML(std::span<const std::uint8_t> data);
std::vector<std::uint8_t> writeXML(const PropertyList& value);
PropertyList readBinary(std::span<const std::uint8_t> data);

bool isBinary(std::span<const std::uint8_t> data);

} // namespace plist
