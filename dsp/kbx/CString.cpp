#include "dsp/kbx/CString.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace KBX {

CString CString::tempstr;
int CString::count = 0;
char CString::nirvana = 0;
int CString::splitCount = 0;

namespace {
// Large enough for any "%d" or "%f" rendering (the largest double has 309 digits).
using NumberText = char[400];

int format(NumberText& out, int value) { return std::snprintf(out, sizeof out, "%d", value); }
int format(NumberText& out, double value) { return std::snprintf(out, sizeof out, "%f", value); }

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }
} // namespace

CString::CString() {
    className = "CString";
    ++count;
}

CString::CString(const char* text) : CString() { setText(text, StrLen(text)); }

CString::CString(const CString& other) : CString() { setText(other.data, other.length); }

CString::~CString() { --count; }

bool CString::concat(CString& target, const char* a, int na, const char* b, int nb) {
    na = na > 0 && a ? na : 0;
    nb = nb > 0 && b ? nb : 0;
    if (na > INT_MAX - 8 - nb) return false;
    const int n = na + nb;
    if (n == 0) {
        target.Clear();
        return true;
    }
    char* buffer = allocText(n);
    if (!buffer) return false;
    if (na) std::memcpy(buffer, a, static_cast<std::size_t>(na));
    if (nb) std::memcpy(buffer + na, b, static_cast<std::size_t>(nb));
    target.adopt(buffer, n);
    return true;
}

void CString::setText(const char* text, int n) {
    if (!concat(*this, text, n, nullptr, 0)) Clear();
}

void CString::reassign(int n) {
    Clear();
    adopt(allocText(n), n);
}

const char* CString::XML(int indent) {
    return xmlElement(indent, "<CString encoding='UTF8'>\n\t", c_str(), "</CString>\n");
}

int CString::operator=(const CString& other) {
    if (&other != this) setText(other.data, other.length);
    return 0;
}

int CString::operator=(char* text) {
    setText(text, StrLen(text));
    return 0;
}

int CString::operator=(const char* text) {
    setText(text, StrLen(text));
    return length;
}

int CString::operator=(int value) {
    NumberText text;
    setText(text, format(text, value));
    return 0;
}

int CString::operator=(double value) {
    NumberText text;
    setText(text, format(text, value));
    return 0;
}

char& CString::operator[](int i) {
    if (i >= 0 && i < length) return data[i];
    nirvana = 0;
    return nirvana;
}

bool CString::operator==(const char* text) const { return text && std::strcmp(data, text) == 0; }
bool CString::operator!=(const char* text) const { return !(*this == text); }
bool CString::operator==(const CString& other) const { return std::strcmp(data, other.data) == 0; }
bool CString::operator!=(const CString& other) const { return std::strcmp(data, other.data) != 0; }
bool CString::operator<(const CString& other) const { return std::strcmp(data, other.data) < 0; }
bool CString::operator>(const CString& other) const { return std::strcmp(data, other.data) > 0; }
bool CString::operator<=(const CString& other) const { return std::strcmp(data, other.data) <= 0; }
bool CString::operator>=(const CString& other) const { return std::strcmp(data, other.data) >= 0; }

CString& CString::operator+=(const CString& other) {
    concat(*this, data, length, other.data, other.length);
    return *this;
}

CString& CString::operator+=(const char* text) {
    concat(*this, data, length, text, StrLen(text));
    return *this;
}

CString& CString::operator+=(char c) {
    concat(*this, data, length, &c, 1);
    return *this;
}

CString& CString::operator+=(int value) {
    NumberText text;
    concat(*this, data, length, text, format(text, value));
    return *this;
}

CString& CString::operator+=(double value) {
    NumberText text;
    concat(*this, data, length, text, format(text, value));
    return *this;
}

CString& CString::operator-=(const char* text) {
    Replace(text, nullptr, 0, true);
    return *this;
}

CString& CString::operator-=(int n) {
    if (n < 1) return *this;
    if (n < length)
        concat(*this, data, length - n, nullptr, 0);
    else
        Clear();
    return *this;
}

CString& CString::operator+(const CString& other) {
    if (other.length == 0) return *this;
    concat(tempstr, data, length, other.data, other.length);
    return tempstr;
}

CString& CString::operator+(const char* text) {
    if (StrLen(text) == 0) return *this;
    concat(tempstr, data, length, text, StrLen(text));
    return tempstr;
}

CString& CString::operator+(int value) {
    NumberText text;
    concat(tempstr, data, length, text, format(text, value));
    return tempstr;
}

CString& CString::operator+(double value) {
    NumberText text;
    concat(tempstr, data, length, text, format(text, value));
    return tempstr;
}

CString& CString::operator*(int n) {
    if (n < 2) return *this;
    if (length > (INT_MAX - 8) / n) return tempstr;
    char* buffer = length ? allocText(length * n) : nullptr;
    if (length && !buffer) return tempstr;
    for (int i = 0; i < n && buffer; ++i)
        std::memcpy(buffer + i * length, data, static_cast<std::size_t>(length));
    tempstr.adopt(buffer, length * n);
    return tempstr;
}

CString& CString::operator-(int n) {
    if (n < 1) return *this;
    if (n < length)
        concat(tempstr, data, length - n, nullptr, 0);
    else
        tempstr.Clear();
    return tempstr;
}

CString& CString::operator-(const char* text) {
    if (!text) return *this;
    if (&tempstr != this && !concat(tempstr, data, length, nullptr, 0)) return tempstr;
    tempstr.Replace(text, nullptr, 0, true);
    return tempstr;
}

void CString::operator>>(int times) {
    if (length == 0) return;
    for (int i = 0; i < times; ++i) std::printf("%s", data);
}

int CString::operator<<(const char* path) {
    if (!path) return 0;
    Clear();
    std::FILE* file = std::fopen(path, "rb");
    if (!file) {
        std::printf("\nERROR: File '%s' could not be opened for loading.", path);
        return 0;
    }
    // A size that cannot be had (a directory, a pipe) or that no buffer can hold is a read error.
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    if (size < 0 || size > INT_MAX - 8 || std::fseek(file, 0, SEEK_SET) != 0) {
        std::printf("\nERROR: While reading file.");
        std::fclose(file);
        return 0;
    }
    char* buffer = size > 0 ? allocText(static_cast<int>(size)) : nullptr;
    if (buffer) {
        const std::size_t got = std::fread(buffer, 1, static_cast<std::size_t>(size), file);
        if (got != static_cast<std::size_t>(size)) std::printf("\nERROR: While reading file.");
        // Only what was read is kept: a short read must not pass zeros off as file contents.
        adopt(buffer, static_cast<int>(got));
    }
    std::fclose(file);
    return length;
}

int CString::operator>>(const char* path) {
    if (!path) return 0;
    if (length == 0) {
        std::printf("\nError: String object is empty.");
        return 0;
    }
    std::FILE* file = std::fopen(path, "wb");
    if (!file) {
        std::printf("\nERROR: File '%s' could not be opened for saving.", path);
        return 0;
    }
    if (std::fwrite(data, 1, static_cast<std::size_t>(length), file) != static_cast<std::size_t>(length))
        std::printf("\nERROR: While writing file.");
    std::fclose(file);
    return 0;
}

char CString::At(int i) { return i >= 0 && i < length ? data[i] : 0; }

int CString::Find(const char* text, int start) {
    const int n = StrLen(text);
    if (length == 0 || n == 0 || start >= length) return -1;
    if (start < 0) start = 0;
    for (int i = start; i <= length - n; ++i)
        if (std::memcmp(data + i, text, static_cast<std::size_t>(n)) == 0) return i;
    return -1;
}

bool CString::Replace(const char* search, const char* replace, int start, bool all) {
    if (length == 0 || !search) return false;
    if (replace && std::strcmp(replace, search) == 0) return false;
    int pos = Find(search, start);
    if (pos < 0) return false;
    // One pass over the old text: the search continues behind each inserted text,
    // and search or replace may point into this string.
    const int ns = StrLen(search);
    std::string result;
    int from = 0;
    while (pos >= 0) {
        result.append(data + from, static_cast<std::size_t>(pos - from));
        if (replace) result.append(replace);
        from = pos + ns;
        pos = all ? Find(search, from) : -1;
    }
    result.append(data + from, static_cast<std::size_t>(length - from));
    if (result.size() > INT_MAX - 8) return false;
    return concat(*this, result.data(), static_cast<int>(result.size()), nullptr, 0);
}

void CString::Insert(int pos, const char* text) {
    const int n = StrLen(text);
    if (n == 0 || pos < 0 || pos >= length) return;
    if (n > INT_MAX - 8 - length) return;
    char* buffer = allocText(length + n);
    if (!buffer) return;
    std::memcpy(buffer, data, static_cast<std::size_t>(pos));
    std::memcpy(buffer + pos, text, static_cast<std::size_t>(n));
    std::memcpy(buffer + pos + n, data + pos, static_cast<std::size_t>(length - pos));
    adopt(buffer, length + n);
}

const char* CString::SubStr(int start, int n) {
    if (length == 0 || start < 0 || start >= length) return nullptr;
    if (n > length - start) n = length - start;
    if (n < 1) return nullptr;
    char* buffer = allocText(n);
    if (!buffer) return nullptr;
    std::memcpy(buffer, data + start, static_cast<std::size_t>(n));
    return setTemp(buffer);
}

void CString::keepRange(int from, int to) {
    if (from == 0 && to == length) return;
    if (!concat(*this, data + from, to - from, nullptr, 0)) Clear();
}

void CString::Trim() {
    TrimLeft();
    TrimRight();
}

void CString::TrimLeft() {
    int from = 0;
    while (from < length && isBlank(data[from])) ++from;
    keepRange(from, length);
}

void CString::TrimRight() {
    int to = length;
    while (to > 0 && isBlank(data[to - 1])) --to;
    keepRange(0, to);
}

int CString::Split(const char* separator, CStringList* list, int max, int start) {
    if (!separator || !list || length == 0) return -1;
    // The pieces are cut from data + start: a negative start counts from the
    // first byte, as Find takes it.
    if (start < 0) start = 0;
    if (start == 0) {
        list->Clear();
        splitCount = 0;
    }
    const int ns = StrLen(separator);
    while (true) {
        const int pos = Find(separator, start);
        if (pos < 0) {
            if (start < length)
                list->Add(std::string(data + start, static_cast<std::size_t>(length - start)).c_str());
            splitCount = list->Count();
            break;
        }
        if (pos > start) {
            list->Add(std::string(data + start, static_cast<std::size_t>(pos - start)).c_str());
            splitCount = list->Count();
            if (max >= 1 && splitCount >= max) return splitCount;
        }
        start = pos + ns;
    }
    return list->Count();
}

template <class Transform> void CString::mapBytes(Transform transform) {
    for (int i = 0; i < length; ++i)
        data[i] = static_cast<char>(transform(static_cast<unsigned char>(data[i])));
}

void CString::Uppercase() {
    mapBytes([](unsigned char c) { return std::islower(c) ? std::toupper(c) : c; });
}

void CString::Lowercase() {
    mapBytes([](unsigned char c) { return std::isupper(c) ? std::tolower(c) : c; });
}

void CString::Revertcase() {
    mapBytes([](unsigned char c) {
        if (std::islower(c)) return std::toupper(c);
        if (std::isupper(c)) return std::tolower(c);
        return static_cast<int>(c);
    });
}

int CString::Integer() { return length ? std::atoi(data) : 0; }
int CString::HexToInt() { return length ? static_cast<int>(std::strtol(data, nullptr, 16)) : 0; }
float CString::Float() { return length ? static_cast<float>(std::atof(data)) : 0.0f; }
double CString::Double() { return length ? std::atof(data) : 0.0; }

const wchar_t* CString::Unicode() {
    if (length == 0) return nullptr;
    auto* units = static_cast<wchar_t*>(CAlloc(Padding(length), static_cast<int>(sizeof(wchar_t))));
    if (!units) return nullptr;
    for (int i = 0; i < length; ++i) units[i] = static_cast<wchar_t>(static_cast<signed char>(data[i]));
    std::free(wtemp);
    wtemp = units;
    return wtemp;
}

void CString::Encode() {
    if (length == 0) return;
    const char* hex = Hex2();
    if (hex == temp) *this = const_cast<char*>(hex);
}

bool CString::IsASCII() {
    for (const char* p = data; *p; ++p)
        if (static_cast<unsigned char>(*p) & 0x80u) return false;
    return true;
}

bool CString::IsKeyword() {
    for (int i = 0; i < length; ++i) {
        const char c = data[i];
        if (!isAsciiLetter(c) && !(i > 0 && isAsciiDigit(c))) return false;
    }
    return true;
}

} // namespace KBX
