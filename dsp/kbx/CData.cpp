#include "dsp/kbx/CData.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace KBX {

char CData::marker[8] = "(null*)";
int CData::count = 0;
char* CData::temp = nullptr;
wchar_t* CData::wtemp = nullptr;
char* CData::err = nullptr;

namespace {
constexpr const char* kOutOfMemory = "(out of memory)";
constexpr const char* kUndefinedXml = "<CData>\n\tundefined</CData>";

char* append(char* out, const char* text) {
    const std::size_t n = std::strlen(text);
    std::memcpy(out, text, n);
    return out + n;
}

char* appendTabs(char* out, int n) {
    for (int i = 0; i < n; ++i) *out++ = '\t';
    return out;
}
} // namespace

CData::CData() { ++count; }

CData::~CData() {
    Clear();
    if (--count == 0) {
        std::free(temp);
        std::free(wtemp);
        std::free(err);
        temp = nullptr;
        wtemp = nullptr;
        err = nullptr;
    }
}

void CData::Clear() {
    if (owns()) std::free(data);
    data = marker;
    length = 0;
}

int CData::Padding(int n) {
    if (n < 1 || n > INT_MAX - 4) return 0;
    return (n + 1 + 3) / 4 * 4;
}

void* CData::CAlloc(int n, int size) {
    if (n < 1 || size < 1 || n > INT_MAX / size) return nullptr;
    return std::calloc(static_cast<std::size_t>(n), static_cast<std::size_t>(size));
}

int CData::StrLen(const char* text) {
    if (!text) return 0;
    const std::size_t n = std::strlen(text);
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

void CData::adopt(char* buffer, int n) {
    char* old = owns() ? data : nullptr;
    if (buffer && n > 0) {
        data = buffer;
        length = n;
    } else {
        std::free(buffer);
        data = marker;
        length = 0;
    }
    std::free(old);
}

const char* CData::setTemp(char* fresh) {
    if (!fresh) return kOutOfMemory;
    std::free(temp);
    temp = fresh;
    return temp;
}

const char* CData::hexRendering(const char* lead, const char* perByte, bool blanks, const char* whenEmpty) {
    if (length == 0) {
        char* out = allocText(StrLen(whenEmpty));
        if (out) std::strcpy(out, whenEmpty);
        return setTemp(out);
    }
    const long long perByteLength = std::strlen(perByte) + 2 + (blanks ? 1 : 0);
    const long long total =
        static_cast<long long>(std::strlen(lead)) + perByteLength * length - (blanks ? 1 : 0);
    if (total > INT_MAX - 8) return kOutOfMemory;
    char* out = allocText(static_cast<int>(total));
    if (!out) return kOutOfMemory;
    char* p = append(out, lead);
    for (int i = 0; i < length; ++i) {
        if (blanks && i > 0) *p++ = ' ';
        p = append(p, perByte);
        const unsigned b = static_cast<unsigned char>(data[i]);
        *p++ = hextable[2 * b];
        *p++ = hextable[2 * b + 1];
    }
    return setTemp(out);
}

const char* CData::Hex2() { return hexRendering("", "", false, "00"); }
const char* CData::Hex3() { return hexRendering("", "", true, "00"); }
const char* CData::Hex4() { return hexRendering("", "#", true, "#00"); }
const char* CData::Hex5() { return hexRendering("", "0x", true, "0x00"); }
const char* CData::ColorRGB() { return hexRendering("#", "", false, "#000000"); }

const char* CData::XML(int indent) {
    if (length == 0) return kUndefinedXml;
    return xmlElement(indent, "<CData encoding='HEX5'>\n\t", Hex5(), "</CData>\n");
}

const char* CData::xmlElement(int indent, const char* openTag, const char* content, const char* closeTag) {
    if (length == 0) return kUndefinedXml;
    if (indent < 0) indent = 0;
    const long long total = 3LL * indent + StrLen(openTag) + StrLen(content) + 1 + StrLen(closeTag);
    if (total > INT_MAX - 8) return kOutOfMemory;
    char* out = allocText(static_cast<int>(total));
    if (!out) return kOutOfMemory;
    char* p = appendTabs(out, indent);
    p = append(p, openTag);
    p = appendTabs(p, indent);
    p = append(p, content);
    *p++ = '\n';
    p = appendTabs(p, indent);
    append(p, closeTag);
    // content may be the current shared text: it is released only now.
    return setTemp(out);
}

} // namespace KBX
