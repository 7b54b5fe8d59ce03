#include "dsp/kbx/CPrinTable.h"

#include <cstdio>

namespace KBX {

namespace {
constexpr const char* kControlNames[32] = {
    "<NUL>", "<SOH>", "<STX>", "<ETX>", "<EOT>", "<ENQ>", "<ACK>", "<BEL>", "<BS>",  "\t",    "\n",
    "<VT>",  "<FF>",  "\r",    "<SO>",  "<SI>",  "<DLE>", "<DC1>", "<DC2>", "<DC3>", "<DC4>", "<NAK>",
    "<SYN>", "<ETB>", "<CAN>", "<EM>",  "<SUB>", "<ESC>", "<FS>",  "<GS>",  "<RS>",  "<US>"};

// One-character texts of the printable codes 32..126.
struct Printables {
    char text[95][2] = {};
    constexpr Printables() {
        for (int c = 32; c < 127; ++c) text[c - 32][0] = static_cast<char>(c);
    }
};
constexpr Printables kPrintables;

char sharedDigits[128];
char failed = 0;
} // namespace

CPrinTable::CPrinTable() {
    for (int code = 0; code < 128; ++code) {
        const char* name = code < 32    ? kControlNames[code]
                           : code < 127 ? kPrintables.text[code - 32]
                                        : "<DEL>";
        entries[128 + code] = name;
        entries[code] = reinterpret_cast<const char*>(&entries[128 + code]);
    }
}

const char* itoa(int value, char* buffer, int size) {
    if (!buffer) {
        buffer = sharedDigits;
        size = sizeof sharedDigits;
    }
    if (size < 1) return &failed;
    const int n = std::snprintf(buffer, static_cast<std::size_t>(size), "%d", value);
    if (n < 0 || n >= size) {
        // A cut-off number would read as a different value.
        buffer[0] = 0;
        failed = 0;
        return &failed;
    }
    return buffer;
}

} // namespace KBX
