// The calls under CFile and CTime on POSIX systems.
#include "platform/oscalls.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform
{

const long kErrorClosedFile = EBADF;
const long kErrorInvalidArgument = EINVAL;
const long kErrorNotFound = ENOENT;

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

long OpenRegularFile(const char* path, UINT nOpenFlags, intptr_t& handle)
{
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
        oflags |= O_CREAT | O_NOFOLLOW;
        if (!(nOpenFlags & CFile::modeNoTruncate))
            oflags |= O_TRUNC;
    }

    int fd = ::open(path, oflags, 0666);
    if (fd < 0)
        return errno;
    // O_NONBLOCK above keeps a FIFO from blocking the open itself; it is refused here.
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    {
        long err = S_ISDIR(st.st_mode) ? EISDIR : EACCES;
        ::close(fd);
        return err;
    }
    int fl = ::fcntl(fd, F_GETFL);
    if (fl >= 0)
        ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    handle = fd;
    return 0;
}

long ReadSome(intptr_t handle, void* buffer, size_t n, size_t& got)
{
    ssize_t r;
    do
        r = ::read(static_cast<int>(handle), buffer, n);
    while (r < 0 && errno == EINTR);
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
        ssize_t put = ::write(static_cast<int>(handle), p, n);
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
    return ::lseek(static_cast<int>(handle), static_cast<off_t>(offset), SEEK_SET) < 0 ? errno : 0;
}

long Truncate(intptr_t handle, ULONGLONG length)
{
    return ::ftruncate(static_cast<int>(handle), static_cast<off_t>(length)) != 0 ? errno : 0;
}

long SizeOf(intptr_t handle, ULONGLONG& size)
{
    struct stat st;
    if (::fstat(static_cast<int>(handle), &st) != 0)
        return errno;
    size = static_cast<ULONGLONG>(st.st_size);
    return 0;
}

long CloseFile(intptr_t handle)
{
    return ::close(static_cast<int>(handle)) != 0 ? errno : 0;
}

bool StatusOfPath(const char* path, CFileStatus& status)
{
    struct stat st;
    // lstat: a symbolic link, even a dangling one, is something that exists at that name.
    if (::lstat(path, &st) != 0)
        return false;
    status.m_size = static_cast<ULONGLONG>(st.st_size);
    status.m_mtime = static_cast<long long>(st.st_mtime);
    status.m_attribute = S_ISDIR(st.st_mode) ? 0x10 : 0;
    return true;
}

long RemoveFile(const char* path)
{
    return ::unlink(path) != 0 ? errno : 0;
}

long RenameFile(const char* oldPath, const char* newPath)
{
    return ::rename(oldPath, newPath) != 0 ? errno : 0;
}

struct tm LocalTime(time_t t)
{
    struct tm result = {};
    ::localtime_r(&t, &result);
    return result;
}

} // namespace platform
