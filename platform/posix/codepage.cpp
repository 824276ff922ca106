// The ANSI code page of a POSIX system: the codeset of the locale environment, mapped to the
// Windows code page of the same character set.
#include "platform/chartable.h"
#include "platform/win32.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace
{

UINT CodePageFromCodeset(const char* locale)
{
    const char* dot = std::strchr(locale, '.');
    if (dot == nullptr)
        return 0;
    std::string codeset;
    for (const char* p = dot + 1; *p != '\0' && *p != '@'; ++p)
        if (*p != '-' && *p != '_')
            codeset += platform::AsciiUpper(*p);
    if (codeset == "UTF8")
        return 65001;
    if (codeset.compare(0, 7, "ISO8859") == 0)
    {
        int n = std::atoi(codeset.c_str() + 7);
        if (n >= 1 && n <= 9)
            return 28590 + static_cast<UINT>(n);
        if (n == 15)
            return 28605;
        return 0;
    }
    if (codeset == "EUCJP")
        return 51932;
    if (codeset == "SJIS" || codeset == "SHIFTJIS")
        return 932;
    if (codeset == "GB2312" || codeset == "GBK")
        return 936;
    if (codeset == "BIG5")
        return 950;
    if (codeset == "EUCKR")
        return 949;
    if (codeset == "KOI8R")
        return 20866;
    return 0;
}

UINT CodePageOfLocale()
{
    for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"})
    {
        const char* value = std::getenv(var);
        if (value != nullptr && *value != '\0')
        {
            UINT cp = CodePageFromCodeset(value);
            return cp != 0 ? cp : 1252;
        }
    }
    return 1252;
}

} // namespace

// The locale environment's codeset, else 1252.
UINT SystemACP()
{
    return CodePageOfLocale();
}

char* CharNextA(const char* lpsz)
{
    return NextCharacterInCodePage(GetACP(), lpsz);
}
