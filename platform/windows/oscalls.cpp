// The calls under CFile and CTime on Windows.
#include "platform/oscalls.h"

#include "platform/crt.h"
#include "platform/win32.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace platform
{
namespace
{

HANDLE AsHandle(intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

long LastError()
{
    return static_cast<long>(::GetLastError());
}

// Read and write calls move at most this much at once, so that a count always fits a DWORD.
const size_t kMaxTransfer = 1u << 30;

} // namespace

const long kErrorClosedFile = ERROR_INVALID_HANDLE;
const long kErrorInvalidArgument = ERROR_INVALID_PARAMETER;
const long kErrorNotFound = ERROR_FILE_NOT_FOUND;
const long kErrorExists = ERROR_FILE_EXISTS;

int CauseOfOsError(long error)
{
    switch (error)
    {
        case NO_ERROR:
            return CFileException::none;
        case ERROR_FILE_NOT_FOUND:
            return CFileException::fileNotFound;
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE:
        case ERROR_INVALID_DRIVE:
        case ERROR_DIRECTORY:
            return CFileException::badPath;
        case ERROR_TOO_MANY_OPEN_FILES:
            return CFileException::tooManyOpenFiles;
        case ERROR_ACCESS_DENIED:
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
        case ERROR_WRITE_PROTECT:
        case ERROR_CANNOT_MAKE:
            return CFileException::accessDenied;
        case ERROR_INVALID_HANDLE:
            return CFileException::invalidFile;
        case ERROR_CURRENT_DIRECTORY:
            return CFileException::removeCurrentDir;
        case ERROR_NEGATIVE_SEEK:
        case ERROR_SEEK_ON_DEVICE:
        case ERROR_INVALID_PARAMETER:
            return CFileException::badSeek;
        case ERROR_CRC:
        case ERROR_READ_FAULT:
        case ERROR_WRITE_FAULT:
        case ERROR_GEN_FAILURE:
            return CFileException::hardIO;
        case ERROR_SHARING_VIOLATION:
            return CFileException::sharingViolation;
        case ERROR_LOCK_VIOLATION:
            return CFileException::lockViolation;
        case ERROR_HANDLE_DISK_FULL:
        case ERROR_DISK_FULL:
            return CFileException::diskFull;
        case ERROR_HANDLE_EOF:
            return CFileException::endOfFile;
        default:
            return CFileException::generic;
    }
}

long OpenRegularFile(const char* path, UINT nOpenFlags, intptr_t& handle, ULONGLONG& size)
{
    size = 0;
    DWORD access;
    switch (nOpenFlags & 0x3)
    {
        case CFile::modeRead:
            access = GENERIC_READ;
            break;
        case CFile::modeWrite:
            access = GENERIC_WRITE;
            break;
        case CFile::modeReadWrite:
            access = GENERIC_READ | GENERIC_WRITE;
            break;
        default:
            return ERROR_INVALID_PARAMETER;
    }
    DWORD disposition = OPEN_EXISTING;
    DWORD flags = FILE_ATTRIBUTE_NORMAL;
    if (nOpenFlags & CFile::modeCreate)
    {
        if (nOpenFlags & CFile::modeCreateNew)
            disposition = CREATE_NEW;
        else
            disposition = (nOpenFlags & CFile::modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
        // Opens a link itself rather than its target; it is refused below.
        flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    }
    if (const long fault = CountCall(OsCall::Open))
        return fault;
    // Share flags are not enforced: other openers may read, write and delete.
    HANDLE h = ::CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                             flags, nullptr);
    if (h == INVALID_HANDLE_VALUE)
    {
        long err = LastError();
        // Whatever is in the way of a new file, the caller hears one "exists" error.
        return (err == ERROR_ALREADY_EXISTS && disposition == CREATE_NEW) ? ERROR_FILE_EXISTS : err;
    }
    // Only regular files on disk are files here: not a device ("CON", "NUL", a pipe) and not
    // a directory or a link.
    BY_HANDLE_FILE_INFORMATION info;
    if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
    {
        ::CloseHandle(h);
        return ERROR_ACCESS_DENIED;
    }
    handle = reinterpret_cast<intptr_t>(h);
    size = (static_cast<ULONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return 0;
}

long ReadSome(intptr_t handle, void* buffer, size_t n, size_t& got)
{
    DWORD read = 0;
    DWORD ask = static_cast<DWORD>(n < kMaxTransfer ? n : kMaxTransfer);
    if (const long fault = CountCall(OsCall::Read))
        return fault;
    if (!::ReadFile(AsHandle(handle), buffer, ask, &read, nullptr))
    {
        long err = LastError();
        if (err != ERROR_HANDLE_EOF && err != ERROR_BROKEN_PIPE)
            return err;
        read = 0;
    }
    got = read;
    return 0;
}

long WriteAll(intptr_t handle, const void* buffer, size_t n)
{
    const char* p = static_cast<const char*>(buffer);
    while (n > 0)
    {
        DWORD put = 0;
        DWORD ask = static_cast<DWORD>(n < kMaxTransfer ? n : kMaxTransfer);
        if (const long fault = CountCall(OsCall::Write))
            return fault;
        if (!::WriteFile(AsHandle(handle), p, ask, &put, nullptr))
            return LastError();
        if (put == 0)
            return ERROR_WRITE_FAULT;
        p += put;
        n -= put;
    }
    return 0;
}

long SeekTo(intptr_t handle, ULONGLONG offset)
{
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    CountCall(OsCall::Seek);
    return ::SetFilePointerEx(AsHandle(handle), to, nullptr, FILE_BEGIN) ? 0 : LastError();
}

long Truncate(intptr_t handle, ULONGLONG length)
{
    if (long err = SeekTo(handle, length))
        return err;
    CountCall(OsCall::Other);
    return ::SetEndOfFile(AsHandle(handle)) ? 0 : LastError();
}

long SizeOf(intptr_t handle, ULONGLONG& size)
{
    LARGE_INTEGER value;
    CountCall(OsCall::Stat);
    if (!::GetFileSizeEx(AsHandle(handle), &value))
        return LastError();
    size = static_cast<ULONGLONG>(value.QuadPart);
    return 0;
}

long CloseFile(intptr_t handle)
{
    // The handle is released whatever the fault: it is never closed twice.
    const long fault = CountCall(OsCall::Close);
    const long err = ::CloseHandle(AsHandle(handle)) ? 0 : LastError();
    return fault != 0 ? fault : err;
}

bool StatusOfPath(const char* path, CFileStatus& status)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    CountCall(OsCall::Stat);
    if (!::GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return false;
    status.m_size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    // FILETIME counts 100 ns steps from 1601; the status holds seconds from 1970.
    ULONGLONG ticks =
        (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    status.m_mtime = static_cast<long long>(ticks / 10000000ULL) - 11644473600LL;
    status.m_attribute = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 0x10 : 0;
    return true;
}

bool OpensAsExistingFile(const char* path)
{
    CountCall(OsCall::Stat);
    HANDLE h = ::CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(h);
    return true;
}

long RemoveFile(const char* path)
{
    CountCall(OsCall::Other);
    return ::DeleteFileA(path) ? 0 : LastError();
}

// MoveFileA never replaces an existing file.
long RenameFile(const char* oldPath, const char* newPath)
{
    if (const long fault = CountCall(OsCall::Rename))
        return fault;
    return ::MoveFileA(oldPath, newPath) ? 0 : LastError();
}

long ListDirectory(const char* directory, bool (*visit)(void* context, const char* name, bool isDirectory),
                   void* context)
{
    char pattern[MAX_PATH + 4];
    if (std::snprintf(pattern, sizeof pattern, "%s\\*.*", directory) >= static_cast<int>(sizeof pattern))
        return ERROR_FILENAME_EXCED_RANGE;
    WIN32_FIND_DATAA entry;
    CountCall(OsCall::Other);
    HANDLE find = ::FindFirstFileA(pattern, &entry);
    if (find == INVALID_HANDLE_VALUE)
        return LastError();
    do
    {
        if (std::strcmp(entry.cFileName, ".") != 0 && std::strcmp(entry.cFileName, "..") != 0 &&
            !visit(context, entry.cFileName, (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0))
            break;
        CountCall(OsCall::Other);
    } while (::FindNextFileA(find, &entry));
    ::FindClose(find);
    return 0;
}

long RemoveEmptyDirectory(const char* path)
{
    CountCall(OsCall::Other);
    return ::RemoveDirectoryA(path) ? 0 : LastError();
}

bool MakePrivateDirectory(const char* directoryPath, const char* prefix, char* result)
{
    std::string directory = directoryPath;
    if (!directory.empty() && directory.back() != '\\' && directory.back() != '/')
        directory += '\\';
    directory += prefix;
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
            return false;
        CountCall(OsCall::Other);
        if (::CreateDirectoryA(candidate.c_str(), nullptr))
        {
            std::memcpy(result, candidate.c_str(), candidate.size() + 1);
            return true;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return false;
}

// The runtime's 64-bit calls: its plain time(), mktime and localtime_s take a 32-bit time_t
// on 32-bit Windows and stop in January 2038.
std::int64_t CurrentTime()
{
    return ::_time64(nullptr);
}

struct tm LocalTime(std::int64_t t)
{
    struct tm result = {};
    const __time64_t value = t;
    ::_localtime64_s(&result, &value);
    return result;
}

std::int64_t MakeLocalTime(struct tm& local)
{
    return ::_mktime64(&local);
}

} // namespace platform
