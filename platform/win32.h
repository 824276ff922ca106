// The operating-system calls the engine makes, under their Win32 names.
//
// On Windows they are the system's own (<windows.h> and the C runtime), except for the
// calls whose answers tests need to fix: the ANSI code page (GetACP, CharNextA, _mbsicmp)
// and the registry (RegOpenKeyExA and the rest). Those go through a seam that asks the real
// system unless a test has fixed the answer (platform/windows/seam.cpp).
//
// On POSIX systems every call is a stand-in of ours (platform/posix/), with paths in native
// form; splitting recognises both "/" and "\\". The file calls among them hand the work to
// the calls of oscalls.h, the one layer that touches files; the shared code lists, renames
// and makes private directories through oscalls.h alone.
//
// Files directly in platform/ are shared by both systems; platform/posix/ and
// platform/windows/ hold the rest, and the build takes exactly one of the two.
#pragma once

#include "mimeengine/platform/types.h"

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// Names of the framework classes' members that <windows.h> turns into macros.
#undef GetCurrentTime
#undef LoadString

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// The seam's versions of the calls tests can fix (see the top of this file). Every file of
// the library that includes this header calls these under the Win32 names; only the seam
// itself, which defines MIMEENGINE_REAL_WIN32_CALLS, reaches the system's own.
UINT PlatformGetACP();
char* PlatformCharNextA(const char* lpsz);
int PlatformMbsicmp(const unsigned char* a, const unsigned char* b);
LONG PlatformRegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LONG PlatformRegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved, DWORD* lpType, BYTE* lpData,
                              DWORD* lpcbData);
LONG PlatformRegCloseKey(HKEY hKey);
#ifndef MIMEENGINE_REAL_WIN32_CALLS
#undef CharNext
#undef RegOpenKeyEx
#undef RegQueryValueEx
#define GetACP PlatformGetACP
#define CharNextA PlatformCharNextA
#define _mbsicmp PlatformMbsicmp
#define RegOpenKeyExA PlatformRegOpenKeyExA
#define RegQueryValueExA PlatformRegQueryValueExA
#define RegCloseKey PlatformRegCloseKey
#endif

#else // POSIX

typedef uint32_t DWORD;
typedef void* HANDLE;
typedef long LONG;
typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;

#define MAX_PATH 260
#define _MAX_DRIVE 3
#define _MAX_DIR 256
#define _MAX_FNAME 256
#define _MAX_EXT 256

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define INVALID_FILE_SIZE (static_cast<DWORD>(0xFFFFFFFF))

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_MORE_DATA 234L

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u

#define KEY_READ 0x20019u
#define REG_SZ 1u
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000000u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u)))

// Temporary directory (TMPDIR, else /tmp), ending with "/"; 0 on failure or when it does not fit.
DWORD GetTempPathA(DWORD nBufferLength, char* lpBuffer);
// Creates an empty unique file "<dir>/<prefix>XXXX.TMP"; returns the unique number, 0 on failure.
UINT GetTempFileNameA(const char* lpPathName, const char* lpPrefixString, UINT uUnique, char* lpTempFileName);
BOOL CreateDirectoryA(const char* lpPathName, void* lpSecurityAttributes);
BOOL RemoveDirectoryA(const char* lpPathName);
BOOL DeleteFileA(const char* lpFileName);
// Only OPEN_EXISTING with read or write access is supported; what is no regular file does
// not open.
HANDLE CreateFileA(const char* lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, void* lpSecurityAttributes,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
DWORD GetFileSize(HANDLE hFile, DWORD* lpFileSizeHigh);
BOOL ReadFile(HANDLE hFile, void* lpBuffer, DWORD nNumberOfBytesToRead, DWORD* lpNumberOfBytesRead, void* lpOverlapped);
BOOL CloseHandle(HANDLE hObject);

// The registry: read-only, answered by the MIME database of registry.cpp.
LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LONG RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved, DWORD* lpType, BYTE* lpData,
                      DWORD* lpcbData);
LONG RegCloseKey(HKEY hKey);

// ANSI code page: fixed by a test or MIMEENGINE_ACP, else the locale environment's codeset, else 1252.
UINT GetACP();
// One character forward: a double-byte character in code pages 932, 936, 949 and 950; never past the NUL.
char* CharNextA(const char* lpsz);
// sprintf into a buffer of at least 1025 bytes; output is cut at 1024 characters.
int wsprintfA(char* lpOut, const char* lpFmt, ...) __attribute__((format(printf, 2, 3)));

// Splits a path into drive ("C:"), directory (through the last "/" or "\\"), file name and
// extension (from the last "."). Each output may be null; outputs are cut to their _MAX_ size.
void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext);
int _strnicmp(const char* a, const char* b, size_t n);
int _stricmp(const char* a, const char* b);
int _unlink(const char* path);

#endif // POSIX

// Shared by both systems.

// The separator the library puts between a directory and a name; either is recognised
// when paths are split.
#if defined(_WIN32)
#define PATH_SEPARATOR_STRING "\\"
#else
#define PATH_SEPARATOR_STRING "/"
#endif
constexpr char kPathSeparator = PATH_SEPARATOR_STRING[0];

// The registry stand-in (registry.cpp): a read-only registry over a MIME database in
// mime.types format. It answers two kinds of key:
//   HKEY_CLASSES_ROOT\.ext                             value "Content Type";
//   HKEY_CLASSES_ROOT\MIME\Database\Content Type\type/sub  value "Extension".
// It is active when a test installed a database, when MIMEENGINE_MIME_TYPES is set (empty:
// no database), and, on POSIX only, with /etc/mime.types as the default database; on Windows
// the real registry answers otherwise.
bool StandInRegistryActive();
// The database the stand-in reads when MIMEENGINE_MIME_TYPES is not set; null for none.
const char* DefaultMimeTypesPath();
bool StandInRegistryOwns(HKEY hKey);
LONG StandInRegOpenKey(HKEY hKey, const char* lpSubKey, PHKEY phkResult);
LONG StandInRegQueryValue(HKEY hKey, const char* lpValueName, DWORD* lpType, BYTE* lpData, DWORD* lpcbData);
LONG StandInRegCloseKey(HKEY hKey);
// Replaces the MIME database with the given mime.types text (null: no database).
void RegistrySetMimeTypesForTesting(const char* pszMimeTypesText);
// Forgets the database so that the next lookup loads it from the environment again.
void RegistryResetForTesting();

// Code page (codepage.cpp). GetACP gives the code page fixed by SetACPForTesting or by
// MIMEENGINE_ACP when either is set, else the system's (SystemACP).
UINT SystemACP();
bool ACPIsFixed();
// Fixes the code page for this process (0 restores the environment's).
void SetACPForTesting(UINT nCodePage);
// One character forward in code page cp: a lead byte of 932, 936, 949 or 950 and its
// trail byte are one character; never past the NUL.
char* NextCharacterInCodePage(UINT cp, const char* lpsz);
// CharNextA, answered without the call for a byte below 0x80: that is a character of its
// own in every code page, since only a higher byte can lead a double-byte character.
inline const char* NextCharacter(const char* p)
{
    return static_cast<unsigned char>(*p) < 0x80 ? (*p != '\0' ? p + 1 : p) : CharNextA(p);
}
inline char* NextCharacter(char* p)
{
    return const_cast<char*>(NextCharacter(static_cast<const char*>(p)));
}
// Case-insensitive comparison that steps over double-byte characters as units.
int _mbsicmp(const unsigned char* a, const unsigned char* b);
inline int _mbsicmp(const char* a, const char* b)
{
    return _mbsicmp(reinterpret_cast<const unsigned char*>(a), reinterpret_cast<const unsigned char*>(b));
}
