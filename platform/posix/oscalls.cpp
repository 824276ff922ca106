// The calls under CFile and CTime on POSIX systems.
#include "platform/oscalls.h"

#include "platform/win32.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform
{

int FailWith(long fault)
{
    errno = static_cast<int>(fault);
    return -1;
}

int OpenCounted(const char* path, int flags, unsigned mode)
{
    for (;;)
    {
        const long fault = CountCall(OsCall::Open);
        const int fd = fault != 0 ? FailWith(fault) : ::open(path, flags, static_cast<mode_t>(mode));
        if (fd >= 0 || errno != EINTR)
            return fd;
    }
}

const long kErrorClosedFile = EBADF;
const long kErrorInvalidArgument = EINVAL;
const long kErrorNotFound = ENOENT;
const long kErrorExists = EEXIST;

int CauseOfOsError(long error)
{
    switch (error)
    {
        case 0:
            return CFileException::none;
        case ENOENT:
            return CFileException::fileNotFound;
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            return CFileException::badPath;
        case EMFILE:
        case ENFILE:
            return CFileException::tooManyOpenFiles;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
        case EEXIST:
            return CFileException::accessDenied;
        case EBADF:
            return CFileException::invalidFile;
        case ESPIPE:
        case EINVAL:
            return CFileException::badSeek;
        case EIO:
            return CFileException::hardIO;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return CFileException::diskFull;
        default:
            return CFileException::generic;
    }
}

long OpenRegularFile(const char* path, UINT nOpenFlags, intptr_t& handle, ULONGLONG& size)
{
    size = 0;
    int oflags = O_CLOEXEC | O_NONBLOCK;
    switch (nOpenFlags & 0x3)
    {
        case CFile::modeRead:
            oflags |= O_RDONLY;
            break;
        case CFile::modeWrite:
            oflags |= O_WRONLY;
            break;
        case CFile::modeReadWrite:
            oflags |= O_RDWR;
            break;
        default:
            return EINVAL;
    }
    if (nOpenFlags & CFile::modeCreate)
    {
        // A file this call creates is a regular file of ours: nothing can be in the way and
        // nothing needs checking. O_EXCL also refuses a symbolic link at the name.
        int fd = OpenCounted(path, (oflags & ~O_NONBLOCK) | O_CREAT | O_EXCL, 0666);
        if (fd >= 0)
        {
            handle = fd;
            return 0;
        }
        if (errno != EEXIST || (nOpenFlags & CFile::modeCreateNew))
            return errno;
        // Something is there: it is opened as an existing file below, never through a link
        // at the last component.
        oflags |= O_CREAT | O_NOFOLLOW;
        if (!(nOpenFlags & CFile::modeNoTruncate))
            oflags |= O_TRUNC;
    }

    // An existing file. O_NONBLOCK keeps a FIFO from blocking the open itself; it is then
    // refused, like a directory or a device. On a regular file O_NONBLOCK changes nothing,
    // so it stays set.
    int fd = OpenCounted(path, oflags, 0666);
    if (fd < 0)
        return errno;
    struct stat st;
    CountCall(OsCall::Stat);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    {
        long err = S_ISDIR(st.st_mode) ? EISDIR : EACCES;
        CountCall(OsCall::Close);
        ::close(fd);
        return err;
    }
    handle = fd;
    size = static_cast<ULONGLONG>(st.st_size);
    return 0;
}

long ReadSome(intptr_t handle, void* buffer, size_t n, size_t& got)
{
    ssize_t r;
    do
    {
        const long fault = CountCall(OsCall::Read);
        r = fault != 0 ? FailWith(fault) : ::read(static_cast<int>(handle), buffer, n);
    } while (r < 0 && errno == EINTR);
    if (r < 0)
        return errno;
    got = static_cast<size_t>(r);
    return 0;
}

long WriteAll(intptr_t handle, const void* buffer, size_t n)
{
    const char* p = static_cast<const char*>(buffer);
    while (n > 0)
    {
        const long fault = CountCall(OsCall::Write);
        ssize_t put = fault != 0 ? FailWith(fault) : ::write(static_cast<int>(handle), p, n);
        if (put < 0)
        {
            if (errno == EINTR)
                continue;
            return errno;
        }
        p += put;
        n -= static_cast<size_t>(put);
    }
    return 0;
}

long SeekTo(intptr_t handle, ULONGLONG offset)
{
    CountCall(OsCall::Seek);
    return ::lseek(static_cast<int>(handle), static_cast<off_t>(offset), SEEK_SET) < 0 ? errno : 0;
}

long Truncate(intptr_t handle, ULONGLONG length)
{
    CountCall(OsCall::Other);
    return ::ftruncate(static_cast<int>(handle), static_cast<off_t>(length)) != 0 ? errno : 0;
}

long SizeOf(intptr_t handle, ULONGLONG& size)
{
    struct stat st;
    CountCall(OsCall::Stat);
    if (::fstat(static_cast<int>(handle), &st) != 0)
        return errno;
    size = static_cast<ULONGLONG>(st.st_size);
    return 0;
}

long CloseFile(intptr_t handle)
{
    // The descriptor is released whatever close answers, so it is never closed twice; an
    // interrupted close has nothing left that a second one could do.
    const long fault = CountCall(OsCall::Close);
    long err = ::close(static_cast<int>(handle)) != 0 ? errno : 0;
    err = fault != 0 ? fault : err;
    return err == EINTR ? 0 : err;
}

bool StatusOfPath(const char* path, CFileStatus& status)
{
    struct stat st;
    // lstat: a symbolic link, even a dangling one, is something that exists at that name.
    CountCall(OsCall::Stat);
    if (::lstat(path, &st) != 0)
        return false;
    status.m_size = static_cast<ULONGLONG>(st.st_size);
    status.m_mtime = static_cast<long long>(st.st_mtime);
    status.m_attribute = S_ISDIR(st.st_mode) ? 0x10 : 0;
    return true;
}

bool OpensAsExistingFile(const char* path)
{
    // An open without access rights succeeds on every regular file there is, and the open
    // of the file layer takes regular files only: a stat says the same in one call.
    struct stat st;
    CountCall(OsCall::Stat);
    return ::stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

long RemoveFile(const char* path)
{
    CountCall(OsCall::Other);
    return ::unlink(path) != 0 ? errno : 0;
}

long RenameFile(const char* oldPath, const char* newPath)
{
    if (const long fault = CountCall(OsCall::Rename))
        return fault;
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, oldPath, AT_FDCWD, newPath, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
#endif
    // Without an atomic no-replace rename: a hard link fails when the target exists.
    if (::link(oldPath, newPath) == 0)
    {
        ::unlink(oldPath);
        return 0;
    }
    if (errno == EEXIST)
        return errno;
    // File systems without hard links: test, then rename (not atomic).
    struct stat st;
    if (::lstat(newPath, &st) == 0)
        return EEXIST;
    if (errno != ENOENT)
        return errno;
    return ::rename(oldPath, newPath) != 0 ? errno : 0;
}

long ListDirectory(const char* directory, bool (*visit)(void* context, const char* name, bool isDirectory),
                   void* context)
{
    CountCall(OsCall::Other);
    DIR* dir = ::opendir(directory);
    if (dir == nullptr)
        return errno;
    for (;;)
    {
        CountCall(OsCall::Other);
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr)
            break;
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        // The entry's type comes with it on most file systems; only where it does not is the
        // entry looked at, without following a link. A link is no directory either way.
        bool isDirectory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN)
        {
            struct stat st;
            CountCall(OsCall::Stat);
            isDirectory = ::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        if (!visit(context, name, isDirectory))
            break;
    }
    CountCall(OsCall::Other);
    ::closedir(dir);
    return 0;
}

long RemoveEmptyDirectory(const char* path)
{
    CountCall(OsCall::Other);
    return ::rmdir(path) != 0 ? errno : 0;
}

bool MakePrivateDirectory(const char* directory, const char* prefix, char* result)
{
    char pattern[MAX_PATH];
    const size_t length = std::strlen(directory);
    const char* separator = length == 0 || directory[length - 1] == '/' || directory[length - 1] == '\\' ? "" : "/";
    const int n = std::snprintf(pattern, sizeof pattern, "%s%s%sXXXXXX", directory, separator, prefix);
    if (n < 0 || n >= static_cast<int>(sizeof pattern))
        return false;
    CountCall(OsCall::Other);
    if (::mkdtemp(pattern) == nullptr)
        return false;
    std::memcpy(result, pattern, static_cast<size_t>(n) + 1);
    return true;
}

// A 32-bit build is made with a 64-bit time_t (_TIME_BITS=64): these checks hold it there.
static_assert(sizeof(time_t) == 8, "time_t of 64 bits");

std::int64_t CurrentTime()
{
    return ::time(nullptr);
}

struct tm LocalTime(std::int64_t t)
{
    struct tm result = {};
    const time_t value = static_cast<time_t>(t);
    ::localtime_r(&value, &result);
    return result;
}

std::int64_t MakeLocalTime(struct tm& local)
{
    return ::mktime(&local);
}

} // namespace platform
