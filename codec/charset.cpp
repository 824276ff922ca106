// The charset vocabulary: names recognised in "charset=" parameters, and the library's
// default charset chosen from the ANSI code page.
#include "codec/charset.h"

#include "platform/win32.h"

#include <cstring>

char g_szDefaultCharset[64] = "US-ASCII";
BOOL g_bNeedsEncoding = FALSE;

namespace
{

struct CharsetName
{
    const char* name;
    CMIMEPart::_CHAR_TYPE type;
};

// "iso-8859-" is handled apart: the digit after it is the value.
constexpr const char kIso8859[] = "iso-8859-";

constexpr CharsetName kCharsets[] = {
    {"US-ASCII", CMIMEPart::CHAR_US_ASCII},
    {"ibm852", CMIMEPart::CHAR_IBM852},
    {"cp866", CMIMEPart::CHAR_CP866},
    {"windows-874", CMIMEPart::CHAR_WINDOWS_874},
    {"iso-2022-jp", CMIMEPart::CHAR_ISO_2022_JP},
    {"gb2312", CMIMEPart::CHAR_GB2312},
    {"euc-kr", CMIMEPart::CHAR_EUC_KR},
    {"big5", CMIMEPart::CHAR_BIG5},
    {"unicode", CMIMEPart::CHAR_UNICODE},
    {"unicodeFEFF", CMIMEPart::CHAR_UNICODE_FEFF},
    {"windows-1258", CMIMEPart::CHAR_WINDOWS_1258},
    {"irv", CMIMEPart::CHAR_IRV},
    {"DIN_66003", CMIMEPart::CHAR_DIN_66003},
    {"SEN_850200_B", CMIMEPart::CHAR_SEN_850200_B},
    {"NS_4551-1", CMIMEPart::CHAR_NS_4551_1},
    {"koi8-r", CMIMEPart::CHAR_KOI8_R},
    {"koi8-ru", CMIMEPart::CHAR_KOI8_RU},
    {"x-user-defined", CMIMEPart::CHAR_X_USER_DEFINED},
    {"_iso-2022-jp$ESC", CMIMEPart::CHAR_ISO_2022_JP_ESC},
    {"_iso-2022-jp$SIO", CMIMEPart::CHAR_ISO_2022_JP_SIO},
    {"iso-2022-kr", CMIMEPart::CHAR_ISO_2022_KR},
    {"_autodetect", CMIMEPart::CHAR_AUTODETECT},
    {"_autodetect_kr", CMIMEPart::CHAR_AUTODETECT_KR},
    {"euc-jp", CMIMEPart::CHAR_EUC_JP},
    {"hz-gb-2312", CMIMEPart::CHAR_HZ_GB_2312},
    {"utf-7", CMIMEPart::CHAR_UTF_7},
    {"utf-8", CMIMEPart::CHAR_UTF_8},
};

struct CodePageCharset
{
    unsigned int codePage;
    const char* name;
};

constexpr CodePageCharset kDefaultCharsets[] = {
    {852, "ibm852"},
    {866, "cp866"},
    {874, "windows-874"},
    {932, "iso-2022-jp"},
    {936, "gb2312"},
    {949, "euc-kr"},
    {950, "big5"},
    {1200, "unicode"},
    {1201, "unicodeFEFF"},
    {1250, "iso-8859-2"},
    {1251, "koi8-r"},
    {1252, "iso-8859-1"},
    {1253, "iso-8859-7"},
    {1254, "iso-8859-9"},
    {1255, "iso-8859-8"},
    {1256, "iso-8859-6"},
    {1257, "iso-8859-4"},
    {1258, "windows-1258"},
    {20105, "irv"},
    {20106, "DIN_66003"},
    {20107, "SEN_850200_B"},
    {20108, "NS_4551-1"},
    {20866, "koi8-r"},
    {21866, "koi8-ru"},
    {28591, "iso-8859-1"},
    {28592, "iso-8859-2"},
    {28593, "iso-8859-3"},
    {28594, "iso-8859-4"},
    {28595, "iso-8859-5"},
    {28596, "iso-8859-6"},
    {28597, "iso-8859-7"},
    {28598, "iso-8859-8"},
    {50000, "x-user-defined"},
    {50220, "iso-2022-jp"},
    {50221, "_iso-2022-jp$ESC"},
    {50222, "_iso-2022-jp$SIO"},
    {50225, "iso-2022-kr"},
    {50932, "_autodetect"},
    {50949, "_autodetect_kr"},
    {51932, "euc-jp"},
    {51949, "euc-kr"},
    {52936, "hz-gb-2312"},
    {65000, "utf-7"},
    {65001, "utf-8"},
};

// Code pages whose mail is sent in a 7-bit form of a Japanese charset.
constexpr unsigned int kNeedsEncoding[] = {932, 50220, 50221, 50222, 51932};

} // namespace

CMIMEPart::_CHAR_TYPE LookupCharType(const char* value, BOOL* recognised, BOOL* invalidIso)
{
    if (recognised != nullptr)
        *recognised = TRUE;
    if (invalidIso != nullptr)
        *invalidIso = FALSE;
    if (value == nullptr)
        value = "";

    const size_t isoLength = sizeof(kIso8859) - 1;
    if (_strnicmp(value, kIso8859, isoLength) == 0)
    {
        // Only one digit is read: "iso-8859-15" is part 1.
        char digit = value[isoLength];
        if (digit >= '1' && digit <= '9')
            return static_cast<CMIMEPart::_CHAR_TYPE>(digit - '0');
        if (invalidIso != nullptr)
            *invalidIso = TRUE;
        return CMIMEPart::CHAR_UNKNOWN;
    }

    // The longest name the value begins with decides ("koi8-ru" over "koi8-r").
    const CharsetName* best = nullptr;
    size_t bestLength = 0;
    for (const CharsetName& entry : kCharsets)
    {
        size_t length = strlen(entry.name);
        if (length > bestLength && _strnicmp(value, entry.name, length) == 0)
        {
            best = &entry;
            bestLength = length;
        }
    }
    if (best != nullptr)
        return best->type;
    if (recognised != nullptr)
        *recognised = FALSE;
    return CMIMEPart::CHAR_UNKNOWN;
}

void SelectDefaultCharset(unsigned int codePage, char* buffer)
{
    if (buffer == nullptr)
        return;
    strcpy(buffer, "US-ASCII");
    g_bNeedsEncoding = FALSE;
    for (const CodePageCharset& entry : kDefaultCharsets)
    {
        if (entry.codePage != codePage)
            continue;
        strcpy(buffer, entry.name);
        for (unsigned int cp : kNeedsEncoding)
            if (cp == codePage)
                g_bNeedsEncoding = TRUE;
        break;
    }
}
