// CString: an 8-bit, NUL-terminated string on top of std::string.
#pragma once

#include "mimeengine/export.h"
#include "mimeengine/platform/types.h"

#include <string>
#include <utility>

class MIMEENGINE_API CString
{
public:
    CString() = default;
    CString(const char* psz); // null gives the empty string
    CString(const char* pch, int nLength);
    CString(char ch, int nRepeat = 1);
    CString(const std::string& s) : m_str(s) {}
    CString(std::string&& s) : m_str(std::move(s)) {}

    int GetLength() const { return static_cast<int>(m_str.size()); }
    BOOL IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }

    char GetAt(int nIndex) const { return m_str[static_cast<size_t>(nIndex)]; }
    char operator[](int nIndex) const { return GetAt(nIndex); }
    void SetAt(int nIndex, char ch) { m_str[static_cast<size_t>(nIndex)] = ch; }

    operator const char*() const { return m_str.c_str(); }
    const char* GetString() const { return m_str.c_str(); }
    const std::string& str() const { return m_str; }

    CString& operator=(const char* psz);
    CString& operator=(char ch);
    CString& operator+=(const CString& s);
    CString& operator+=(const char* psz);
    CString& operator+=(char ch);

    friend MIMEENGINE_API CString operator+(const CString& a, const CString& b);
    friend MIMEENGINE_API CString operator+(const CString& a, const char* b);
    friend MIMEENGINE_API CString operator+(const char* a, const CString& b);
    friend MIMEENGINE_API CString operator+(const CString& a, char b);

    friend bool operator==(const CString& a, const CString& b) { return a.m_str == b.m_str; }
    friend bool operator==(const CString& a, const char* b) { return a.Compare(b) == 0; }
    friend bool operator==(const char* a, const CString& b) { return b.Compare(a) == 0; }
    friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
    friend bool operator!=(const CString& a, const char* b) { return !(a == b); }
    friend bool operator!=(const char* a, const CString& b) { return !(a == b); }
    friend bool operator<(const CString& a, const CString& b) { return a.m_str < b.m_str; }

    // strcmp-style comparisons; CompareNoCase folds ASCII letters only.
    int Compare(const char* psz) const;
    int CompareNoCase(const char* psz) const;

    CString Left(int nCount) const;
    CString Mid(int nFirst) const;
    CString Mid(int nFirst, int nCount) const;
    CString Right(int nCount) const;

    // Index of the first match at or after nStart, or -1.
    int Find(char ch, int nStart = 0) const;
    int Find(const char* pszSub, int nStart = 0) const;
    int ReverseFind(char ch) const;
    int FindOneOf(const char* pszCharSet) const;

    // Trimming removes white space (space, tab, LF, VT, FF, CR).
    CString& TrimLeft();
    CString& TrimRight();
    CString& Trim();
    CString& TrimLeft(char chTarget);
    CString& TrimRight(char chTarget);

    CString& MakeUpper();
    CString& MakeLower();
    int Replace(char chOld, char chNew);
    int Replace(const char* pszOld, const char* pszNew);

    // printf-style formatting; %s arguments must be const char*, never CString.
    void Format(const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));

    // Replaces the text with the library string numbered nID; FALSE (and empty) if none.
    BOOL LoadString(UINT nID);

    // Raw access for code that writes C strings into the buffer.
    char* GetBuffer(int nMinBufLength);
    void ReleaseBuffer(int nNewLength = -1);

private:
    std::string m_str;
};

// Library string table lookup, provided by the library's resources; null when unknown.
MIMEENGINE_API const char* AfxLookupStringResource(UINT nID);
