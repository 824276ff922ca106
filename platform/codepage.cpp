// The ANSI code page as the engine sees it, and the double-byte-aware helpers built on it.
#include "platform/chartable.h"
#include "platform/win32.h"

#include <atomic>
#include <cstdlib>

namespace
{

std::atomic<UINT> g_acp{0};       // the code page in use; 0 until first asked
std::atomic<bool> g_fixed{false}; // fixed by a test or by MIMEENGINE_ACP

UINT CodePageFromEnvironment()
{
    const char* acp = std::getenv("MIMEENGINE_ACP");
    if (acp == nullptr || *acp == '\0')
        return 0;
    long n = std::strtol(acp, nullptr, 10);
    return (n > 0 && n < 100000) ? static_cast<UINT>(n) : 0;
}

bool IsLeadByte(UINT cp, unsigned char c)
{
    switch (cp)
    {
        case 932:
            return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
        case 936:
        case 949:
        case 950:
            return c >= 0x81 && c <= 0xFE;
        default:
            return false;
    }
}

} // namespace

UINT GetACP()
{
    UINT cp = g_acp.load();
    if (cp == 0)
    {
        UINT fixed = CodePageFromEnvironment();
        g_fixed.store(fixed != 0);
        cp = fixed != 0 ? fixed : SystemACP();
        g_acp.store(cp);
    }
    return cp;
}

bool ACPIsFixed()
{
    GetACP();
    return g_fixed.load();
}

void SetACPForTesting(UINT nCodePage)
{
    g_fixed.store(nCodePage != 0);
    g_acp.store(nCodePage);
}

char* NextCharacterInCodePage(UINT cp, const char* lpsz)
{
    if (lpsz == nullptr)
        return nullptr;
    if (*lpsz == '\0')
        return const_cast<char*>(lpsz);
    if (IsLeadByte(cp, static_cast<unsigned char>(*lpsz)) && lpsz[1] != '\0')
        return const_cast<char*>(lpsz + 2);
    return const_cast<char*>(lpsz + 1);
}

int _mbsicmp(const unsigned char* a, const unsigned char* b)
{
    UINT cp = GetACP();
    for (;;)
    {
        if (IsLeadByte(cp, *a) && a[1] != 0)
        {
            // A double-byte character compares as its two bytes, without case folding.
            if (*a != *b)
                return *a - *b;
            if (a[1] != b[1])
                return a[1] - b[1];
            a += 2;
            b += 2;
            continue;
        }
        int ca = static_cast<unsigned char>(platform::AsciiLower(static_cast<char>(*a)));
        int cb = static_cast<unsigned char>(platform::AsciiLower(static_cast<char>(*b)));
        if (ca != cb || ca == 0)
            return ca - cb;
        ++a;
        ++b;
    }
}
