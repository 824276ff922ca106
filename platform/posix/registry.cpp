// The registry of a POSIX system: the stand-in over the MIME database (platform/registry.cpp),
// by default the system's /etc/mime.types.
#include "platform/win32.h"

const char* DefaultMimeTypesPath()
{
    return "/etc/mime.types";
}

LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD, REGSAM, PHKEY phkResult)
{
    return StandInRegOpenKey(hKey, lpSubKey, phkResult);
}

LONG RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD*, DWORD* lpType, BYTE* lpData, DWORD* lpcbData)
{
    return StandInRegQueryValue(hKey, lpValueName, lpType, lpData, lpcbData);
}

LONG RegCloseKey(HKEY hKey)
{
    return StandInRegCloseKey(hKey);
}
