#include "mimeengine/platform/cstring.h"

#include "platform/chartable.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

CString::CString(const char* psz)
{
    if (psz != nullptr)
        m_str = psz;
}

CString::CString(const char* pch, int nLength)
{
    if (pch != nullptr && nLength > 0)
        m_str.assign(pch, static_cast<size_t>(nLength));
}

CString::CString(char ch, int nRepeat)
{
    if (nRepeat > 0)
        m_str.assign(static_cast<size_t>(nRepeat), ch);
}

CString& CString::operator=(const char* psz)
{
    if (psz == nullptr)
        m_str.clear();
    else
        m_str = psz;
    return *this;
}

CString& CString::operator=(char ch)
{
    m_str.assign(1, ch);
    return *this;
}

CString& CString::operator+=(const CString& s)
{
    m_str += s.m_str;
    return *this;
}

CString& CString::operator+=(const char* psz)
{
    if (psz != nullptr)
        m_str += psz;
    return *this;
}

CString& CString::operator+=(char ch)
{
    m_str += ch;
    return *this;
}

CString operator+(const CString& a, const CString& b)
{
    return CString(a.m_str + b.m_str);
}

CString operator+(const CString& a, const char* b)
{
    CString r(a);
    r += b;
    return r;
}

CString operator+(const char* a, const CString& b)
{
    CString r(a);
    r += b;
    return r;
}

CString operator+(const CString& a, char b)
{
    CString r(a);
    r += b;
    return r;
}

int CString::Compare(const char* psz) const
{
    return std::strcmp(m_str.c_str(), psz != nullptr ? psz : "");
}

int CString::CompareNoCase(const char* psz) const
{
    const unsigned char* a = reinterpret_cast<const unsigned char*>(m_str.c_str());
    const unsigned char* b = reinterpret_cast<const unsigned char*>(psz != nullptr ? psz : "");
    for (;; ++a, ++b)
    {
        int ca = static_cast<unsigned char>(platform::AsciiLower(static_cast<char>(*a)));
        int cb = static_cast<unsigned char>(platform::AsciiLower(static_cast<char>(*b)));
        if (ca != cb || ca == 0)
            return ca - cb;
    }
}

CString CString::Left(int nCount) const
{
    if (nCount <= 0)
        return CString();
    return CString(m_str.substr(0, static_cast<size_t>(nCount)));
}

CString CString::Mid(int nFirst) const
{
    return Mid(nFirst, GetLength() - (nFirst < 0 ? 0 : nFirst));
}

CString CString::Mid(int nFirst, int nCount) const
{
    if (nFirst < 0)
        nFirst = 0;
    if (nCount <= 0 || nFirst >= GetLength())
        return CString();
    return CString(m_str.substr(static_cast<size_t>(nFirst), static_cast<size_t>(nCount)));
}

CString CString::Right(int nCount) const
{
    if (nCount <= 0)
        return CString();
    if (nCount >= GetLength())
        return *this;
    return CString(m_str.substr(m_str.size() - static_cast<size_t>(nCount)));
}

int CString::Find(char ch, int nStart) const
{
    if (nStart < 0 || nStart >= GetLength())
        return -1;
    size_t p = m_str.find(ch, static_cast<size_t>(nStart));
    return p == std::string::npos ? -1 : static_cast<int>(p);
}

int CString::Find(const char* pszSub, int nStart) const
{
    if (pszSub == nullptr || nStart < 0 || nStart > GetLength())
        return -1;
    size_t p = m_str.find(pszSub, static_cast<size_t>(nStart));
    return p == std::string::npos ? -1 : static_cast<int>(p);
}

int CString::ReverseFind(char ch) const
{
    size_t p = m_str.rfind(ch);
    return p == std::string::npos ? -1 : static_cast<int>(p);
}

int CString::FindOneOf(const char* pszCharSet) const
{
    if (pszCharSet == nullptr)
        return -1;
    size_t p = m_str.find_first_of(pszCharSet);
    return p == std::string::npos ? -1 : static_cast<int>(p);
}

CString& CString::TrimLeft()
{
    size_t i = 0;
    while (i < m_str.size() && platform::IsSpace(static_cast<unsigned char>(m_str[i])))
        ++i;
    m_str.erase(0, i);
    return *this;
}

CString& CString::TrimRight()
{
    size_t n = m_str.size();
    while (n > 0 && platform::IsSpace(static_cast<unsigned char>(m_str[n - 1])))
        --n;
    m_str.resize(n);
    return *this;
}

CString& CString::Trim()
{
    return TrimRight().TrimLeft();
}

CString& CString::TrimLeft(char chTarget)
{
    size_t i = 0;
    while (i < m_str.size() && m_str[i] == chTarget)
        ++i;
    m_str.erase(0, i);
    return *this;
}

CString& CString::TrimRight(char chTarget)
{
    size_t n = m_str.size();
    while (n > 0 && m_str[n - 1] == chTarget)
        --n;
    m_str.resize(n);
    return *this;
}

CString& CString::MakeUpper()
{
    for (char& c : m_str)
        c = platform::AsciiUpper(c);
    return *this;
}

CString& CString::MakeLower()
{
    for (char& c : m_str)
        c = platform::AsciiLower(c);
    return *this;
}

int CString::Replace(char chOld, char chNew)
{
    int n = 0;
    for (char& c : m_str)
        if (c == chOld)
        {
            c = chNew;
            ++n;
        }
    return n;
}

int CString::Replace(const char* pszOld, const char* pszNew)
{
    if (pszOld == nullptr || *pszOld == '\0')
        return 0;
    std::string with = pszNew != nullptr ? pszNew : "";
    size_t oldLen = std::strlen(pszOld);
    int n = 0;
    std::string out;
    size_t pos = 0;
    for (size_t hit; (hit = m_str.find(pszOld, pos)) != std::string::npos; pos = hit + oldLen)
    {
        out.append(m_str, pos, hit - pos);
        out += with;
        ++n;
    }
    out.append(m_str, pos, std::string::npos);
    m_str.swap(out);
    return n;
}

void CString::Format(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, pszFormat, copy);
    va_end(copy);
    if (n < 0)
    {
        m_str.clear();
    }
    else
    {
        std::string out(static_cast<size_t>(n) + 1, '\0');
        std::vsnprintf(&out[0], out.size(), pszFormat, args);
        out.resize(static_cast<size_t>(n));
        m_str.swap(out);
    }
    va_end(args);
}

BOOL CString::LoadString(UINT nID)
{
    const char* text = AfxLookupStringResource(nID);
    if (text == nullptr)
    {
        m_str.clear();
        return FALSE;
    }
    m_str = text;
    return TRUE;
}

char* CString::GetBuffer(int nMinBufLength)
{
    if (nMinBufLength > GetLength())
        m_str.resize(static_cast<size_t>(nMinBufLength), '\0');
    return &m_str[0];
}

void CString::ReleaseBuffer(int nNewLength)
{
    if (nNewLength < 0)
        nNewLength = static_cast<int>(std::strlen(m_str.c_str()));
    m_str.resize(static_cast<size_t>(nNewLength));
}
