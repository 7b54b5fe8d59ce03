#pragma once

#include "dsp/kbx/CString.h"

namespace KBX {

// Display names of the 128 ASCII codes. Entries 128..255 hold the names of codes
// 0..127; entry i below 128 holds the address of entry 128 + i.
class CPrinTable {
public:
    CPrinTable();

    // Entry i, or null outside 0..255.
    const char* operator[](int i) const { return i >= 0 && i < 256 ? entries[i] : nullptr; }
    // Display name of an ASCII code, or null outside 0..127.
    const char* Name(int code) const { return code >= 0 && code < 128 ? entries[128 + code] : nullptr; }

    const char* entries[256];
};

// Decimal text of value in buffer (at most size bytes with the terminator), or in a
// shared 128-byte buffer when buffer is null. When the text does not fit, the result
// is an empty text and nothing is written past the buffer.
const char* itoa(int value, char* buffer, int size);

// Each translation unit that includes this header gets its own copies.
[[maybe_unused]] static const CPrinTable PrinTable;
[[maybe_unused]] static CString invalid("null");
[[maybe_unused]] static CString empty("");

} // namespace KBX
