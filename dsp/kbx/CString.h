#pragma once

#include <string>
#include <vector>

#include "dsp/kbx/CData.h"

namespace KBX {

// The pieces Split produces; each piece is copied in and released with the list.
class CStringList {
public:
    void Clear() { pieces.clear(); }
    void Add(const char* text) { pieces.emplace_back(text ? text : ""); }
    int Count() const { return static_cast<int>(pieces.size()); }
    const char* At(int i) const {
        return i >= 0 && i < Count() ? pieces[static_cast<std::size_t>(i)].c_str() : nullptr;
    }

private:
    std::vector<std::string> pieces;
};

// A byte string with operators, searching, trimming, conversions and file I/O.
// The two-operand operators return one shared result string (`tempstr`), valid
// until the next such operator. Every mutator builds its new buffer before it
// releases the old one, so an operand may alias the string itself.
class CString : public CData {
public:
    CString();
    explicit CString(const char* text);
    CString(const CString& other);
    ~CString() override;

    const char* Data() { return c_str(); }
    void reassign(int n);

    int ClassCount() override { return count; }
    const char* String() override { return c_str(); }
    const char* XML(int indent) override;

    virtual int operator=(const CString& other);
    virtual int operator=(char* text);
    virtual int operator=(const char* text);
    virtual int operator=(int value);
    virtual int operator=(double value);
    virtual char& operator[](int i);
    virtual bool operator==(const char* text) const;
    virtual bool operator==(const CString& other) const;
    virtual bool operator!=(const CString& other) const;
    virtual bool operator!=(const char* text) const;
    virtual bool operator<(const CString& other) const;
    virtual bool operator>(const CString& other) const;
    virtual bool operator<=(const CString& other) const;
    virtual bool operator>=(const CString& other) const;
    virtual CString& operator+=(const CString& other);
    virtual CString& operator+=(const char* text);
    virtual CString& operator+=(char c);
    virtual CString& operator+=(int value);
    virtual CString& operator+=(double value);
    virtual CString& operator-=(const char* text);
    virtual CString& operator-=(int n);
    virtual CString& operator+(const CString& other);
    virtual CString& operator+(const char* text);
    virtual CString& operator+(int value);
    virtual CString& operator+(double value);
    virtual CString& operator*(int n);
    virtual CString& operator-(int n);
    virtual CString& operator-(const char* text);
    virtual void operator>>(int times);
    // Loads the file at path; returns the new length.
    virtual int operator<<(const char* path);
    // Saves to the file at path; returns 0.
    virtual int operator>>(const char* path);
    virtual char At(int i);
    virtual char First() { return At(0); }
    virtual char Last() { return At(length - 1); }
    virtual int Find(const char* text, int start = 0);
    virtual bool Replace(const char* search, const char* replace, int start = 0, bool all = false);
    virtual void Insert(int pos, const char* text);
    virtual const char* SubStr(int start, int count);
    virtual void Trim();
    virtual void TrimLeft();
    virtual void TrimRight();
    virtual int Split(const char* separator, CStringList* list, int max = 0, int start = 0);
    virtual void Uppercase();
    virtual void Lowercase();
    virtual void Revertcase();
    virtual int Integer();
    virtual int HexToInt();
    virtual float Float();
    virtual double Double();
    virtual bool ToBool() { return length != 0; }
    virtual const wchar_t* Unicode();
    virtual void Decode() {}
    virtual void Encode();
    virtual bool IsASCII();
    virtual bool IsKeyword();
    virtual const char* c_str() const { return length > 0 ? data : marker; }

    static CString tempstr;

private:
    // Builds a ++ b into target; on failure target is left as it was.
    static bool concat(CString& target, const char* a, int na, const char* b, int nb);
    void setText(const char* text, int n);
    void keepRange(int from, int to);
    template <class Transform> void mapBytes(Transform transform);

    static int count;
    static char nirvana;
    static int splitCount;
};

} // namespace KBX
