// The Windows side of the seam for the calls whose answers tests fix: the code page and the
// registry go to the system unless a test (or MIMEENGINE_ACP, MIMEENGINE_MIME_TYPES) has
// fixed them. Also the Windows forms of the few calls the system lacks.
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

BOOL CreatePrivateTempDirectoryA(const char* lpPathName, const char* lpPrefixString, char* lpResult)
{
    if (lpResult == nullptr)
        return FALSE;
    std::string directory = lpPathName != nullptr ? lpPathName : "";
    if (!directory.empty() && directory.back() != '\\' && directory.back() != '/')
        directory += '\\';
    directory += lpPrefixString != nullptr ? lpPrefixString : "";
    // CreateDirectoryA fails when the name exists, so the first name it creates is ours.
    unsigned seed = static_cast<unsigned>(::GetCurrentProcessId()) ^ static_cast<unsigned>(PlatformTime()) ^
                    static_cast<unsigned>(::GetTickCount());
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 1000; ++attempt)
    {
        std::string candidate = directory;
        for (int i = 0; i < 6; ++i)
        {
            seed = seed * 1103515245u + 12345u;
            candidate += kLetters[(seed >> 16) % (sizeof(kLetters) - 1)];
        }
        if (candidate.size() >= MAX_PATH)
            return FALSE;
        if (::CreateDirectoryA(candidate.c_str(), nullptr))
        {
            std::memcpy(lpResult, candidate.c_str(), candidate.size() + 1);
            return TRUE;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
            return FALSE;
    }
    return FALSE;
}
