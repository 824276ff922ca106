// Thin stand-ins for the operating-system calls the engine makes, under their Win32 names.
// Every OS-facing call of the library goes through this file (and cfile.cpp), so that a
// Windows build can swap in the real functions. Paths are native POSIX paths; splitting
// recognises both "/" and "\\".
#pragma once

#include "mimeengine/platform/types.h"

#include <cstddef>
#include <cstdint>

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
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u

#define KEY_READ 0x20019u
#define REG_SZ 1u
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000000u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u)))

struct WIN32_FIND_DATAA
{
    DWORD dwFileAttributes;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    char cFileName[MAX_PATH];
};

// Temporary directory (TMPDIR, else /tmp), ending with "/"; 0 on failure or when it does not fit.
DWORD GetTempPathA(DWORD nBufferLength, char* lpBuffer);
// Creates an empty unique file "<dir>/<prefix>XXXX.TMP"; returns the unique number, 0 on failure.
UINT GetTempFileNameA(const char* lpPathName, const char* lpPrefixString, UINT uUnique, char* lpTempFileName);
BOOL CreateDirectoryA(const char* lpPathName, void* lpSecurityAttributes);
BOOL RemoveDirectoryA(const char* lpPathName);
BOOL DeleteFileA(const char* lpFileName);
// Renames a file. Like the Win32 call it never replaces an existing target: FALSE when
// lpNewFileName exists (or the rename fails otherwise).
BOOL MoveFileA(const char* lpExistingFileName, const char* lpNewFileName);
// Only OPEN_EXISTING is supported; a directory does not open.
HANDLE CreateFileA(const char* lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, void* lpSecurityAttributes,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
DWORD GetFileSize(HANDLE hFile, DWORD* lpFileSizeHigh);
BOOL ReadFile(HANDLE hFile, void* lpBuffer, DWORD nNumberOfBytesToRead, DWORD* lpNumberOfBytesRead, void* lpOverlapped);
BOOL CloseHandle(HANDLE hObject);
// Pattern: a directory path followed by "/*.*", "\\*.*" or "/*"; lists every entry but "." and "..".
HANDLE FindFirstFileA(const char* lpFileName, WIN32_FIND_DATAA* lpFindFileData);
BOOL FindNextFileA(HANDLE hFindFile, WIN32_FIND_DATAA* lpFindFileData);
BOOL FindClose(HANDLE hFindFile);

// Creates a new directory "<dir><prefix>XXXXXX" atomically with mode 0700 (mkdtemp); the
// name is written to lpResult (MAX_PATH bytes). FALSE on failure.
BOOL CreatePrivateTempDirectoryA(const char* lpPathName, const char* lpPrefixString, char* lpResult);

// Registry stand-in: read-only, backed by a MIME database in mime.types format (see registry.cpp).
LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LONG RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved, DWORD* lpType, BYTE* lpData,
                      DWORD* lpcbData);
LONG RegCloseKey(HKEY hKey);
// Replaces the MIME database with the given mime.types text (null: no database).
void RegistrySetMimeTypesForTesting(const char* pszMimeTypesText);
// Forgets the database so that the next lookup loads it from the environment again.
void RegistryResetForTesting();

// ANSI code page: MIMEENGINE_ACP, else the locale environment's codeset, else 1252.
UINT GetACP();
// Fixes the code page for this process (0 restores the environment's).
void SetACPForTesting(UINT nCodePage);
// One character forward: a double-byte character in code pages 932, 936, 949 and 950; never past the NUL.
char* CharNextA(const char* lpsz);
// sprintf into a buffer of at least 1025 bytes; output is cut at 1024 characters.
int wsprintfA(char* lpOut, const char* lpFmt, ...) __attribute__((format(printf, 2, 3)));

// Splits a path into drive ("C:"), directory (through the last "/" or "\\"), file name and
// extension (from the last "."). Each output may be null; outputs are cut to their _MAX_ size.
void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext);
int _strnicmp(const char* a, const char* b, size_t n);
int _stricmp(const char* a, const char* b);
// Case-insensitive comparison that steps over double-byte characters as units.
int _mbsicmp(const unsigned char* a, const unsigned char* b);
inline int _mbsicmp(const char* a, const char* b)
{
    return _mbsicmp(reinterpret_cast<const unsigned char*>(a), reinterpret_cast<const unsigned char*>(b));
}
int _unlink(const char* path);
