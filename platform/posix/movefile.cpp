// MoveFileA: renaming that refuses to replace an existing file.
#include "platform/oscalls.h"
#include "platform/win32.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

BOOL MoveFileA(const char* lpExistingFileName, const char* lpNewFileName)
{
    if (lpExistingFileName == nullptr || lpNewFileName == nullptr)
        return FALSE;
    if (const long fault = platform::CountCall(platform::OsCall::Rename))
    {
        errno = static_cast<int>(fault);
        return FALSE;
    }
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, lpExistingFileName, AT_FDCWD, lpNewFileName, RENAME_NOREPLACE) == 0)
        return TRUE;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return FALSE;
#endif
    // Without an atomic no-replace rename: a hard link fails when the target exists.
    if (link(lpExistingFileName, lpNewFileName) == 0)
    {
        unlink(lpExistingFileName);
        return TRUE;
    }
    if (errno == EEXIST)
        return FALSE;
    // File systems without hard links: test, then rename (not atomic).
    struct stat st;
    if (lstat(lpNewFileName, &st) == 0 || errno != ENOENT)
        return FALSE;
    return rename(lpExistingFileName, lpNewFileName) == 0 ? TRUE : FALSE;
}
