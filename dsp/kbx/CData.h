#pragma once

#include <array>
#include <cstdint>

namespace KBX {

namespace detail {
constexpr std::array<char, 513> makeHexTable() {
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<char, 513> table{};
    for (int b = 0; b < 256; ++b) {
        table[static_cast<std::size_t>(2 * b)] = digits[b >> 4];
        table[static_cast<std::size_t>(2 * b + 1)] = digits[b & 15];
    }
    table[512] = '-';
    return table;
}
} // namespace detail

// Two uppercase hex digits for every byte value, then a minus sign.
static constexpr std::array<char, 513> hextable = detail::makeHexTable();

// A byte block that can render itself as hexadecimal text or as an XML element.
// Renderings live in one shared buffer: a returned text is valid until the next
// rendering of any object.
class CData {
public:
    CData();
    virtual ~CData();
    CData(const CData&) = delete;
    CData& operator=(const CData&) = delete;

    void Clear();

    virtual const char* ClassName() { return className; }
    virtual int ClassCount() { return count; }
    virtual int Length() { return length; }
    virtual bool Empty() { return length == 0; }
    virtual int DataSize() { return Padding(length); }
    virtual int ObjectSize() { return 32; }
    virtual const char* String() { return Hex5(); }
    virtual const char* Hex2();
    virtual const char* ColorRGB();
    virtual const char* Hex3();
    virtual const char* Hex4();
    virtual const char* Hex5();
    virtual const char* XML(int indent);

    // Buffer size for n bytes: n + 1 rounded up to a multiple of 4 (0 for n < 1).
    static int Padding(int n);
    // Zero-filled block, or null when either factor is below 1 or the product overflows.
    static void* CAlloc(int count, int size);
    static int StrLen(const char* text);

protected:
    // The shared read-only text an empty object points at; never released.
    static char marker[8];

    bool owns() const { return data != marker; }
    // Takes ownership of a CAlloc'ed buffer holding n bytes; the old one is released
    // afterwards, so the new contents may be built from the old.
    void adopt(char* buffer, int n);
    // Replaces the shared text result with a fresh buffer (released old one last).
    static const char* setTemp(char* fresh);
    static char* allocText(int n) { return static_cast<char*>(CAlloc(Padding(n), 1)); }
    const char* xmlElement(int indent, const char* openTag, const char* content, const char* closeTag);

    const char* className = "CData";
    char* data = marker;
    std::int32_t length = 0;

    static int count;
    static char* temp;
    static wchar_t* wtemp;
    static char* err;

private:
    const char* hexRendering(const char* lead, const char* perByte, bool blanks, const char* whenEmpty);
};

} // namespace KBX
