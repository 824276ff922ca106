// The Win32 file-system calls the engine names, on POSIX: temporary names and directories
// of their own, the rest handed to the calls of oscalls.h, which count them and heed planted
// faults.
#include "platform/crt.h"
#include "platform/oscalls.h"
#include "platform/win32.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

HANDLE FdToHandle(intptr_t fd)
{
    return reinterpret_cast<HANDLE>(fd);
}

intptr_t HandleToFd(HANDLE h)
{
    return reinterpret_cast<intptr_t>(h);
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
    std::string directory = lpPathName != nullptr ? lpPathName : "";
    if (!directory.empty() && directory.back() != '/' && directory.back() != '\\')
        directory += '/';
    std::string prefix = lpPrefixString != nullptr ? std::string(lpPrefixString).substr(0, 3) : "";
    UINT start = uUnique != 0 ? uUnique : (static_cast<UINT>(::getpid()) ^ static_cast<UINT>(PlatformTime()));
    for (UINT attempt = 0; attempt < 0x10000; ++attempt)
    {
        UINT number = (start + attempt) & 0xFFFF;
        if (number == 0)
            continue;
        char name[32];
        std::snprintf(name, sizeof(name), "%s%X.TMP", prefix.c_str(), number);
        std::string path = directory + name;
        if (path.size() >= MAX_PATH)
            return 0;
        if (uUnique != 0)
        {
            std::memcpy(lpTempFileName, path.c_str(), path.size() + 1);
            return uUnique;
        }
        int fd = platform::OpenCounted(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0)
        {
            platform::CountCall(platform::OsCall::Close);
            ::close(fd);
            std::memcpy(lpTempFileName, path.c_str(), path.size() + 1);
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
    return lpPathName != nullptr && platform::RemoveEmptyDirectory(lpPathName) == 0;
}

BOOL DeleteFileA(const char* lpFileName)
{
    // unlink refuses a directory itself (EISDIR on Linux, EPERM elsewhere).
    return lpFileName != nullptr && platform::RemoveFile(lpFileName) == 0;
}

int _unlink(const char* path)
{
    const long err = platform::RemoveFile(path);
    errno = static_cast<int>(err);
    return err != 0 ? -1 : 0;
}

HANDLE CreateFileA(const char* lpFileName, DWORD dwDesiredAccess, DWORD, void*, DWORD dwCreationDisposition, DWORD,
                   HANDLE)
{
    const UINT access = (dwDesiredAccess & GENERIC_WRITE) == 0  ? CFile::modeRead
                        : (dwDesiredAccess & GENERIC_READ) != 0 ? CFile::modeReadWrite
                                                                : CFile::modeWrite;
    intptr_t fd = -1;
    ULONGLONG size = 0;
    if (lpFileName == nullptr || dwCreationDisposition != OPEN_EXISTING || dwDesiredAccess == 0 ||
        platform::OpenRegularFile(lpFileName, access, fd, size) != 0)
        return INVALID_HANDLE_VALUE;
    return FdToHandle(fd);
}

DWORD GetFileSize(HANDLE hFile, DWORD* lpFileSizeHigh)
{
    ULONGLONG size = 0;
    if (hFile == INVALID_HANDLE_VALUE || platform::SizeOf(HandleToFd(hFile), size) != 0)
        return INVALID_FILE_SIZE;
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
    for (size_t got = 1; done < nNumberOfBytesToRead && got != 0; done += static_cast<DWORD>(got))
        if (platform::ReadSome(HandleToFd(hFile), out + done, nNumberOfBytesToRead - done, got) != 0)
            return FALSE;
    if (lpNumberOfBytesRead != nullptr)
        *lpNumberOfBytesRead = done;
    return TRUE;
}

BOOL CloseHandle(HANDLE hObject)
{
    return hObject != INVALID_HANDLE_VALUE && platform::CloseFile(HandleToFd(hObject)) == 0;
}
