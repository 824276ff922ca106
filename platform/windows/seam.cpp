// The Windows side of the seam for the calls whose answers tests fix: the code page and the
// registry go to the system unless a test (or MIMEENGINE_ACP, MIMEENGINE_MIME_TYPES) has
// fixed them.
#define MIMEENGINE_REAL_WIN32_CALLS
#include "platform/crt.h"
#include "platform/win32.h"

#include <cstdio>
#include <cstring>
#include <string>

UINT SystemACP()
{
    return ::GetACP();
}

char* PlatformCharNextA(const char* lpsz)
{
    if (lpsz == nullptr)
        return nullptr;
    if (ACPIsFixed())
        return NextCharacterInCodePage(PlatformGetACP(), lpsz);
    return ::CharNextA(lpsz);
}

const char* DefaultMimeTypesPath()
{
    return nullptr;
}

LONG PlatformRegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult)
{
    if (StandInRegistryActive())
        return StandInRegOpenKey(hKey, lpSubKey, phkResult);
    return ::RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult);
}

LONG PlatformRegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved, DWORD* lpType, BYTE* lpData,
                              DWORD* lpcbData)
{
    if (StandInRegistryOwns(hKey))
        return StandInRegQueryValue(hKey, lpValueName, lpType, lpData, lpcbData);
    return ::RegQueryValueExA(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
}

LONG PlatformRegCloseKey(HKEY hKey)
{
    if (StandInRegistryOwns(hKey))
        return StandInRegCloseKey(hKey);
    return ::RegCloseKey(hKey);
}
