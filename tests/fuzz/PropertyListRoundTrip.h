#pragma once

#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/foundation/NSError.h"
#include "platform/foundation/PropertyList.h"
#include "tests/fuzz/FuzzInput.h"

namespace fuzz {

// Whether XML carries the value unchanged: a NaN equals nothing, and XML
// keeps dates to the whole second.
inline bool xmlKeepsExactly(const PropertyList& value) {
    if (const auto real = value.real(); real && value.type() == PropertyList::Type::real)
        return !std::isnan(*real);
    if (const auto date = value.date())
        return date->timeIntervalSinceReferenceDate == std::floor(date->timeIntervalSinceReferenceDate);
    if (const auto* array = value.array()) {
        for (const auto& member : *array)
            if (!xmlKeepsExactly(member)) return false;
    }
    if (const auto* dictionary = value.dictionary()) {
        for (const auto& [key, member] : *dictionary)
            if (!xmlKeepsExactly(member)) return false;
    }
    return true;
}

inline std::vector<std::uint8_t> writeXML(const PropertyList& value) {
    return PropertyListSerialization::data(value, PropertyListFormat::xml);
}

// Parse, write, parse again: what reads writes as XML (unless XML cannot carry
// it), reads back as XML to an equal value, and writes the same bytes again.
inline void roundTrip(std::span<const std::uint8_t> bytes) {
    PropertyListFormat format = PropertyListFormat::xml;
    PropertyList value;
    try {
        value = PropertyListSerialization::propertyList(bytes, format);
    } catch (const NSError&) {
        return;
    }
    std::vector<std::uint8_t> written;
    try {
        written = writeXML(value);
    } catch (const NSError&) {
        return; // text XML cannot carry, a date out of its years, nesting too deep
    }
    PropertyListFormat again = PropertyListFormat::binary;
    PropertyList reread;
    try {
        reread = PropertyListSerialization::propertyList(std::span<const std::uint8_t>(written), again);
    } catch (const NSError& error) {
        fail(error.what());
    }
    check(again == PropertyListFormat::xml, "written XML reads as another format");
    if (xmlKeepsExactly(value)) check(reread == value, "the value read back differs");
    try {
        check(writeXML(reread) == written, "the value read back writes other XML");
    } catch (const NSError& error) {
        fail(error.what());
    }
}

} // namespace fuzz
