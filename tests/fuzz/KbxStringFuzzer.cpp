// The KBX strings: a program of string operations read from the bytes, run on
// two strings that may alias each other and the shared operator result.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "dsp/kbx/CString.h"
#include "tests/fuzz/FuzzInput.h"

using KBX::CString;
using KBX::CStringList;

namespace {

// Keeps repetition from growing a string without end: searches are linear in
// the text for every place tried, which is fine for text and slow for megabytes.
constexpr std::size_t kLongest = 4096;

void bound(CString& s) {
    if (static_cast<std::size_t>(s.Length()) > kLongest) s = "";
}

void step(fuzz::Input& in, CString& s, CString& other) {
    const std::string arg = in.text(16);
    const char* text = arg.c_str();
    const int n = in.inRange(-4, 64);
    const int at = in.inRange(-8, 80);
    switch (in.inRange(0, 23)) {
    case 0: s = text; break;
    case 1: s += text; break;
    case 2: s += text[0]; break;
    case 3: s += n; break;
    case 4: s += in.value<double>(); break;
    case 5: s -= text; break;
    case 6: s -= n; break;
    case 7: {
        const int found = s.Find(text, at);
        fuzz::check(found < 0 || (found >= std::max(at, 0) &&
                                  std::memcmp(s.c_str() + found, text, std::strlen(text)) == 0),
                    "Find answers a place where the text is not");
        break;
    }
    case 8: s.Replace(text, in.text(8).c_str(), at, in.flag()); break;
    case 9: s.Insert(at, text); break;
    case 10: s.SubStr(at, n); break;
    case 11: s.Trim(), s.TrimLeft(), s.TrimRight(); break;
    case 12: {
        CStringList list;
        s.Split(text, &list, n, at);
        for (int i = 0; i < list.Count(); ++i) fuzz::check(list.At(i) != nullptr, "a listed piece is null");
        break;
    }
    case 13: s.Uppercase(), s.Lowercase(), s.Revertcase(); break;
    case 14: (void)s.Integer(), (void)s.HexToInt(), (void)s.Float(), (void)s.Double(); break;
    case 15: s.Unicode(); break;
    case 16: s.Encode(); break;
    case 17: (void)s.IsASCII(), (void)s.IsKeyword(); break;
    case 18: other = s + text; break;
    case 19: other = s * n; break;
    case 20: (void)s.At(at), (void)s[at], (void)s.First(), (void)s.Last(); break;
    case 21: (void)s.XML(n); break;
    case 22:
        (void)(s == other), (void)(s != other), (void)(s < other), (void)(s > other), (void)(s <= other),
            (void)(s >= other), (void)(s == text);
        break;
    default:
        // Operands that alias the string itself and the shared result.
        s = s + s;
        other += other;
        s = CString::tempstr - text;
        break;
    }
    bound(s);
    bound(other);
    bound(CString::tempstr);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    // The shared result outlives every input: each starts it empty.
    CString::tempstr = "";
    CString a, b;
    for (int steps = 0; steps < 64 && !in.empty(); ++steps) {
        if (in.flag())
            step(in, a, b);
        else
            step(in, b, a);
    }
    return 0;
}
