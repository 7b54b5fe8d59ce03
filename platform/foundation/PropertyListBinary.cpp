// The binary property-list format, "bplist00": objects, then a table of their
// offsets, then a 32-byte trailer that says where the table is and which
// object is the top one. Containers name their members by index in the table.

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "platform/foundation/NSError.h"
#include "platform/foundation/PropertyListInternal.h"
#include "platform/foundation/StringEncoding.h"

namespace plist {
namespace {

constexpr std::size_t headerSize = 8;
constexpr std::size_t trailerSize = 32;

// Shared objects are copied out once per reference, so a small file could
// name an enormous tree; these bound what one read may build. A file that
// shares no containers yields at most one value per reference, so fewer
// values than bytes; the rest is slack for some sharing.
constexpr std::size_t valuesPerByte = 16;
constexpr std::size_t minimumValueBudget = std::size_t{1} << 16;
constexpr std::size_t maximumPayloadBytes = std::size_t{64} << 20;

enum Marker : std::uint8_t {
    singleton = 0x0,
    integerMarker = 0x1,
    realMarker = 0x2,
    dateMarker = 0x3,
    dataMarker = 0x4,
    asciiString = 0x5,
    utf16String = 0x6,
    uid = 0x8,
    arrayMarker = 0xA,
    setMarker = 0xC,
    dictionaryMarker = 0xD,
};

class BinaryReader {
public:
    explicit BinaryReader(std::span<const std::uint8_t> data)
        : data_(data), maximumValues_(std::max(data.size() * valuesPerByte, minimumValueBudget)) {}

    PropertyList read() {
        if (data_.size() < headerSize + trailerSize) throwCorrupt("binary data too short for its trailer");
        if (std::memcmp(data_.data(), "bplist00", headerSize) != 0)
            throw NSError(NSPropertyListReadUnknownVersionError,
                          "The binary property list has an unknown version.");
        readTrailer();
        onPath_.assign(objectCount_, false);
        return object(topObject_, 0);
    }

private:
    std::uint64_t unsignedAt(std::size_t pos, std::size_t size) const {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < size; ++i) value = (value << 8) | data_[pos + i];
        return value;
    }

    void readTrailer() {
        const std::size_t trailer = data_.size() - trailerSize;
        offsetSize_ = data_[trailer + 6];
        refSize_ = data_[trailer + 7];
        objectCount_ = unsignedAt(trailer + 8, 8);
        topObject_ = unsignedAt(trailer + 16, 8);
        const std::uint64_t table = unsignedAt(trailer + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8)
            throwCorrupt("bad integer sizes in the trailer");
        if (table <= headerSize || table > trailer) throwCorrupt("the offset table lies outside the data");
        tableStart_ = static_cast<std::size_t>(table);
        if (objectCount_ == 0 || objectCount_ > (trailer - tableStart_) / offsetSize_)
            throwCorrupt("the object count does not fit the offset table");
        if (topObject_ >= objectCount_) throwCorrupt("the top object is not in the table");
    }

    // Objects live between the header and the offset table.
    void need(std::size_t pos, std::uint64_t bytes) const {
        if (pos > tableStart_ || bytes > tableStart_ - pos) throwCorrupt("an object runs past its data");
    }

    std::size_t offsetOf(std::uint64_t ref) const {
        if (ref >= objectCount_) throwCorrupt("object reference " + std::to_string(ref) + " is out of range");
        const std::uint64_t offset =
            unsignedAt(tableStart_ + static_cast<std::size_t>(ref) * offsetSize_, offsetSize_);
        if (offset < headerSize || offset >= tableStart_) throwCorrupt("an object offset is out of range");
        return static_cast<std::size_t>(offset);
    }

    // The count in a marker's low nibble, or (at 0xF) in the integer after it.
    std::uint64_t count(std::uint8_t info, std::size_t& pos) const {
        if (info != 0xF) return info;
        need(pos, 1);
        const std::uint8_t marker = data_[pos++];
        const unsigned size = 1u << (marker & 0xF);
        if (marker >> 4 != integerMarker || size > 8) throwCorrupt("a bad length field");
        need(pos, size);
        const std::uint64_t value = unsignedAt(pos, size);
        pos += size;
        return value;
    }

    void spend(std::size_t payloadBytes) {
        if (valuesMade_ >= maximumValues_ || payloadBytes > maximumPayloadBytes - payloadMade_)
            throwCorrupt("the objects expand to more than can be read");
        ++valuesMade_;
        payloadMade_ += payloadBytes;
    }

    PropertyList object(std::uint64_t ref, int depth) {
        if (depth > PropertyListSerialization::maximumDepth) throwCorrupt("nested too deeply");
        std::size_t pos = offsetOf(ref);
        const std::uint8_t marker = data_[pos++];
        const std::uint8_t info = marker & 0xF;
        const unsigned kind = marker >> 4;
        const bool sized = kind == dataMarker || kind == asciiString || kind == utf16String ||
                           kind == arrayMarker || kind == dictionaryMarker;
        const std::uint64_t size = sized ? count(info, pos) : 0; // moves pos to the payload
        spend(0);
        switch (kind) {
        case singleton:
            if (info == 0x8 || info == 0x9) return info == 0x9;
            throwCorrupt("an unsupported null or fill object");
        case integerMarker:
            return integer(info, pos);
        case realMarker:
            return real(info, pos);
        case dateMarker:
            if (info != 0x3) throwCorrupt("a bad date size");
            return Date{real(info, pos)};
        case dataMarker:
            return data(size, pos);
        case asciiString:
            return ascii(size, pos);
        case utf16String:
            return utf16(size, pos);
        case arrayMarker:
        case dictionaryMarker:
            return container(ref, kind, size, pos, depth);
        case uid:
        case setMarker:
            throwCorrupt("an unsupported uid or set object");
        default:
            throwCorrupt("an unknown object type");
        }
    }

    // 1, 2 and 4 bytes unsigned, 8 signed; 16 only when the value fits 64 bits.
    PropertyList integer(std::uint8_t info, std::size_t pos) const {
        if (info > 4) throwCorrupt("a bad integer size");
        const std::size_t size = std::size_t{1} << info;
        need(pos, size);
        if (size < 8) return static_cast<std::int64_t>(unsignedAt(pos, size));
        const std::uint64_t high = size == 16 ? unsignedAt(pos, 8) : 0;
        const auto low = static_cast<std::int64_t>(unsignedAt(pos + size - 8, 8));
        const bool fits = size == 8 || (high == 0 && low >= 0) || (high == ~std::uint64_t{0} && low < 0);
        if (!fits) throwCorrupt("an integer beyond 64 bits");
        return low;
    }

    double real(std::uint8_t info, std::size_t pos) const {
        if (info == 2) {
            need(pos, 4);
            return std::bit_cast<float>(static_cast<std::uint32_t>(unsignedAt(pos, 4)));
        }
        if (info != 3) throwCorrupt("a bad real size");
        need(pos, 8);
        return std::bit_cast<double>(unsignedAt(pos, 8));
    }

    PropertyList data(std::uint64_t size, std::size_t pos) {
        need(pos, size);
        spend(size);
        return PropertyList::Data(data_.begin() + pos, data_.begin() + pos + size);
    }

    PropertyList ascii(std::uint64_t size, std::size_t pos) {
        need(pos, size);
        spend(size);
        std::string text(data_.begin() + pos, data_.begin() + pos + size);
        for (const char c : text)
            if (static_cast<unsigned char>(c) >= 0x80) throwCorrupt("an ASCII string holds a byte above 127");
        return text;
    }

    PropertyList utf16(std::uint64_t units, std::size_t pos) {
        if (units > tableStart_ / 2) throwCorrupt("an object runs past its data");
        need(pos, units * 2);
        spend(units * 3);
        std::string text;
        for (std::size_t i = 0; i < units; ++i) {
            char32_t c = static_cast<char32_t>(unsignedAt(pos + 2 * i, 2));
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units) {
                const auto low = static_cast<char32_t>(unsignedAt(pos + 2 * i + 2, 2));
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
            if (c >= 0xD800 && c <= 0xDFFF) throwCorrupt("a UTF-16 string holds an unpaired surrogate");
            appendUTF8(text, c);
        }
        return text;
    }

    // An array's member references, or a dictionary's key references followed
    // by as many value references.
    PropertyList container(std::uint64_t ref, unsigned kind, std::uint64_t size, std::size_t pos, int depth) {
        const std::uint64_t refs = kind == dictionaryMarker ? 2 : 1;
        if (size > (tableStart_ - std::min(pos, tableStart_)) / refSize_ / refs)
            throwCorrupt("a container runs past its data");
        if (onPath_[ref]) throwCorrupt("a container contains itself");
        onPath_[ref] = true;
        const auto member = [&](std::uint64_t i) {
            return object(unsignedAt(pos + static_cast<std::size_t>(i) * refSize_, refSize_), depth + 1);
        };
        PropertyList result;
        if (kind == arrayMarker) {
            PropertyList::Array items;
            for (std::uint64_t i = 0; i < size; ++i) items.push_back(member(i));
            result = std::move(items);
        } else {
            PropertyList::Dictionary entries;
            for (std::uint64_t i = 0; i < size; ++i) {
                PropertyList key = member(i);
                if (!key.string()) throwCorrupt("a dictionary key is not a string");
                entries.insert_or_assign(*key.string(), member(size + i));
            }
            result = std::move(entries);
        }
        onPath_[ref] = false;
        return result;
    }

    std::span<const std::uint8_t> data_;
    std::size_t offsetSize_ = 0, refSize_ = 0, tableStart_ = 0;
    std::uint64_t objectCount_ = 0, topObject_ = 0;
    std::vector<bool> onPath_;
    std::size_t maximumValues_;
    std::size_t valuesMade_ = 0, payloadMade_ = 0;
};

} // namespace

bool isBinary(std::span<const std::uint8_t> data) {
    return data.size() >= 6 && std::memcmp(data.data(), "bplist", 6) == 0;
}

PropertyList readBinary(std::span<const std::uint8_t> data) { return BinaryReader(data).read(); }

} // namespace plist
