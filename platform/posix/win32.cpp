// File-system, code-page and runtime stand-ins under their Win32 names (POSIX underneath).
#include "platform/win32.h"

#include "platform/chartable.h"
#include "platform/crt.h"
#include "platform/oscalls.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// Copies src into dst of n bytes, cut to fit; returns FALSE when it was cut.
bool CopyCut(char* dst, size_t n, const char* src, size_t len)
{
    if (dst == nullptr || n == 0)
        return false;
    bool fits = len < n;
    if (!fits)
        len = n - 1;
    std::memcpy(dst, src, len);
    dst[len] = '\0';
    return fits;
}

std::string JoinDir(const char* dir, const std::string& name)
{
    std::string path = dir != nullptr ? dir : "";
    if (!path.empty() && path.back() != '/' && path.back() != '\\')
        path += '/';
    return path + name;
}

HANDLE FdToHandle(int fd)
{
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

int HandleToFd(HANDLE h)
{
    return static_cast<int>(reinterpret_cast<intptr_t>(h));
}

struct FindState
{
    DIR* dir;
    std::string directory;
    std::string mask;
};

bool NextMatch(FindState* state, WIN32_FIND_DATAA* data)
{
    using platform::CountCall;
    using platform::OsCall;
    for (;;)
    {
        CountCall(OsCall::Other);
        dirent* entry = ::readdir(state->dir);
        if (entry == nullptr)
            break;
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        if (state->mask != "*" && state->mask != "*.*" && ::fnmatch(state->mask.c_str(), name, 0) != 0)
            continue;
        std::memset(data, 0, sizeof(*data));
        CopyCut(data->cFileName, sizeof(data->cFileName), name, std::strlen(name));
        // The entry's type comes with it on most file systems; only where it does not is the
        // entry looked at, without following a link. A link is no directory either way.
        bool directory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN)
        {
            struct stat st;
            CountCall(OsCall::Stat);
            directory = ::lstat(JoinDir(state->directory.c_str(), name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        data->dwFileAttributes = directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
        return true;
    }
    return false;
}

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

DWORD GetTempPathA(DWORD nBufferLength, char* lpBuffer)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string path = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
    if (path.back() != '/')
        path += '/';
    if (lpBuffer == nullptr || path.size() >= nBufferLength)
        return 0;
    std::memcpy(lpBuffer, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

UINT GetTempFileNameA(const char* lpPathName, const char* lpPrefixString, UINT uUnique, char* lpTempFileName)
{
    std::string prefix = lpPrefixString != nullptr ? std::string(lpPrefixString).substr(0, 3) : "";
    UINT start = uUnique != 0 ? uUnique : (static_cast<UINT>(::getpid()) ^ static_cast<UINT>(PlatformTime()));
    for (UINT attempt = 0; attempt < 0x10000; ++attempt)
    {
        UINT number = (start + attempt) & 0xFFFF;
        if (number == 0)
            continue;
        char name[32];
        std::snprintf(name, sizeof(name), "%s%X.TMP", prefix.c_str(), number);
        std::string path = JoinDir(lpPathName, name);
        if (path.size() >= MAX_PATH)
            return 0;
        if (uUnique != 0)
        {
            CopyCut(lpTempFileName, MAX_PATH, path.c_str(), path.size());
            return uUnique;
        }
        int fd = platform::OpenCounted(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0)
        {
            platform::CountCall(platform::OsCall::Close);
            ::close(fd);
            CopyCut(lpTempFileName, MAX_PATH, path.c_str(), path.size());
            return number;
        }
        if (errno != EEXIST)
            return 0;
    }
    return 0;
}

BOOL CreateDirectoryA(const char* lpPathName, void*)
{
    platform::CountCall(platform::OsCall::Other);
    return lpPathName != nullptr && ::mkdir(lpPathName, 0777) == 0;
}

BOOL RemoveDirectoryA(const char* lpPathName)
{
    platform::CountCall(platform::OsCall::Other);
    return lpPathName != nullptr && ::rmdir(lpPathName) == 0;
}

BOOL DeleteFileA(const char* lpFileName)
{
    if (lpFileName == nullptr)
        return FALSE;
    // unlink refuses a directory itself (EISDIR on Linux, EPERM elsewhere).
    platform::CountCall(platform::OsCall::Other);
    return ::unlink(lpFileName) == 0;
}

HANDLE CreateFileA(const char* lpFileName, DWORD dwDesiredAccess, DWORD, void*, DWORD dwCreationDisposition, DWORD,
                   HANDLE)
{
    if (lpFileName == nullptr || dwCreationDisposition != OPEN_EXISTING)
        return INVALID_HANDLE_VALUE;
    int flags = O_CLOEXEC | O_NONBLOCK;
    if (dwDesiredAccess == 0)
        flags |= O_PATH; // no access rights asked: existence only
    else if ((dwDesiredAccess & GENERIC_READ) && (dwDesiredAccess & GENERIC_WRITE))
        flags |= O_RDWR;
    else if (dwDesiredAccess & GENERIC_WRITE)
        flags |= O_WRONLY;
    else
        flags |= O_RDONLY;
    int fd = platform::OpenCounted(lpFileName, flags, 0);
    if (fd < 0)
        return INVALID_HANDLE_VALUE;
    // A FIFO cannot block the open (O_NONBLOCK) and is refused here with anything else that
    // is not a regular file; on a regular file O_NONBLOCK changes nothing, so it stays set.
    struct stat st;
    platform::CountCall(platform::OsCall::Stat);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    {
        platform::CountCall(platform::OsCall::Close);
        ::close(fd);
        return INVALID_HANDLE_VALUE;
    }
    return FdToHandle(fd);
}

DWORD GetFileSize(HANDLE hFile, DWORD* lpFileSizeHigh)
{
    struct stat st;
    platform::CountCall(platform::OsCall::Stat);
    if (hFile == INVALID_HANDLE_VALUE || ::fstat(HandleToFd(hFile), &st) != 0)
        return INVALID_FILE_SIZE;
    unsigned long long size = static_cast<unsigned long long>(st.st_size);
    if (lpFileSizeHigh != nullptr)
        *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    else if (size >> 32)
        return INVALID_FILE_SIZE;
    return static_cast<DWORD>(size);
}

BOOL ReadFile(HANDLE hFile, void* lpBuffer, DWORD nNumberOfBytesToRead, DWORD* lpNumberOfBytesRead, void*)
{
    if (hFile == INVALID_HANDLE_VALUE)
        return FALSE;
    char* out = static_cast<char*>(lpBuffer);
    DWORD done = 0;
    while (done < nNumberOfBytesToRead)
    {
        const long fault = platform::CountCall(platform::OsCall::Read);
        ssize_t got =
            fault != 0 ? platform::FailWith(fault) : ::read(HandleToFd(hFile), out + done, nNumberOfBytesToRead - done);
        if (got < 0)
        {
            if (errno == EINTR)
                continue;
            return FALSE;
        }
        if (got == 0)
            break;
        done += static_cast<DWORD>(got);
    }
    if (lpNumberOfBytesRead != nullptr)
        *lpNumberOfBytesRead = done;
    return TRUE;
}

BOOL CloseHandle(HANDLE hObject)
{
    if (hObject == INVALID_HANDLE_VALUE)
        return FALSE;
    const long fault = platform::CountCall(platform::OsCall::Close);
    return ::close(HandleToFd(hObject)) == 0 && fault == 0;
}

HANDLE FindFirstFileA(const char* lpFileName, WIN32_FIND_DATAA* lpFindFileData)
{
    if (lpFileName == nullptr || lpFindFileData == nullptr)
        return INVALID_HANDLE_VALUE;
    std::string pattern = lpFileName;
    size_t sep = pattern.find_last_of("/\\");
    std::string directory = sep == std::string::npos ? "." : pattern.substr(0, sep);
    std::string mask = sep == std::string::npos ? pattern : pattern.substr(sep + 1);
    if (directory.empty())
        directory = "/";
    platform::CountCall(platform::OsCall::Other);
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr)
        return INVALID_HANDLE_VALUE;
    FindState* state = new FindState{dir, directory, mask};
    if (!NextMatch(state, lpFindFileData))
    {
        platform::CountCall(platform::OsCall::Other);
        ::closedir(dir);
        delete state;
        return INVALID_HANDLE_VALUE;
    }
    return state;
}

BOOL FindNextFileA(HANDLE hFindFile, WIN32_FIND_DATAA* lpFindFileData)
{
    if (hFindFile == INVALID_HANDLE_VALUE || hFindFile == nullptr)
        return FALSE;
    return NextMatch(static_cast<FindState*>(hFindFile), lpFindFileData);
}

BOOL FindClose(HANDLE hFindFile)
{
    if (hFindFile == INVALID_HANDLE_VALUE || hFindFile == nullptr)
        return FALSE;
    FindState* state = static_cast<FindState*>(hFindFile);
    platform::CountCall(platform::OsCall::Other);
    ::closedir(state->dir);
    delete state;
    return TRUE;
}

BOOL CreatePrivateTempDirectoryA(const char* lpPathName, const char* lpPrefixString, char* lpResult)
{
    if (lpResult == nullptr)
        return FALSE;
    std::string pattern = JoinDir(lpPathName, std::string(lpPrefixString != nullptr ? lpPrefixString : "") + "XXXXXX");
    if (pattern.size() >= MAX_PATH)
        return FALSE;
    char buf[MAX_PATH];
    std::memcpy(buf, pattern.c_str(), pattern.size() + 1);
    platform::CountCall(platform::OsCall::Other);
    if (::mkdtemp(buf) == nullptr)
        return FALSE;
    std::memcpy(lpResult, buf, std::strlen(buf) + 1);
    return TRUE;
}

// The locale environment's codeset, else 1252.
UINT SystemACP()
{
    return CodePageOfLocale();
}

char* CharNextA(const char* lpsz)
{
    return NextCharacterInCodePage(GetACP(), lpsz);
}

int wsprintfA(char* lpOut, const char* lpFmt, ...)
{
    va_list args;
    va_start(args, lpFmt);
    int n = std::vsnprintf(lpOut, 1025, lpFmt, args);
    va_end(args);
    if (n < 0)
    {
        lpOut[0] = '\0';
        return 0;
    }
    return n > 1024 ? 1024 : n;
}

void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext)
{
    if (path == nullptr)
        path = "";
    const char* p = path;
    size_t driveLen = 0;
    if (((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':')
        driveLen = 2;
    if (drive != nullptr)
        CopyCut(drive, _MAX_DRIVE, p, driveLen);
    p += driveLen;

    const char* lastSep = nullptr;
    for (const char* q = p; *q != '\0'; ++q)
        if (*q == '/' || *q == '\\')
            lastSep = q;
    const char* name = lastSep != nullptr ? lastSep + 1 : p;
    if (dir != nullptr)
        CopyCut(dir, _MAX_DIR, p, static_cast<size_t>(name - p));

    const char* dot = std::strrchr(name, '.');
    const char* nameEnd = dot != nullptr ? dot : name + std::strlen(name);
    if (fname != nullptr)
        CopyCut(fname, _MAX_FNAME, name, static_cast<size_t>(nameEnd - name));
    if (ext != nullptr)
        CopyCut(ext, _MAX_EXT, nameEnd, std::strlen(nameEnd));
}

int _strnicmp(const char* a, const char* b, size_t n)
{
    for (size_t i = 0; i < n; ++i)
    {
        int ca = static_cast<unsigned char>(platform::AsciiLower(a[i]));
        int cb = static_cast<unsigned char>(platform::AsciiLower(b[i]));
        if (ca != cb || ca == 0)
            return ca - cb;
    }
    return 0;
}

int _stricmp(const char* a, const char* b)
{
    for (size_t i = 0;; ++i)
    {
        int ca = static_cast<unsigned char>(platform::AsciiLower(a[i]));
        int cb = static_cast<unsigned char>(platform::AsciiLower(b[i]));
        if (ca != cb || ca == 0)
            return ca - cb;
    }
}

int _unlink(const char* path)
{
    platform::CountCall(platform::OsCall::Other);
    return ::unlink(path);
}
