// Choosing a free name for a decoded file in the work directory.
#include "extract/outputnames.h"

#include <cstring>

#include "extract/fileutilities.h"
#include "platform/win32.h"

namespace
{

// Numbers tried before giving up on a name.
constexpr int kMaxCollisionNumber = 100000;

}  // namespace

BOOL PickFreeOutputPath(const CString& workDirectory, const char* name, CString& result)
{
    if (name == nullptr || name[0] == '\0')
        return FALSE;
    CString joined;
    g_FileUtilities.JoinPath(workDirectory, name, joined);
    char path[MAX_PATH];
    if (joined.GetLength() >= MAX_PATH)
        return FALSE;
    memcpy(path, joined.GetString(), static_cast<size_t>(joined.GetLength()) + 1);
    g_FileUtilities.CleanFileName(path);
    if (path[0] == '\0')
        return FALSE;
    if (!g_FileUtilities.FileExists(path))
    {
        result = path;
        return TRUE;
    }

    char drive[_MAX_DRIVE], dir[_MAX_DIR], fname[_MAX_FNAME], ext[_MAX_EXT];
    _splitpath(path, drive, dir, fname, ext);
    for (int n = 2; n <= kMaxCollisionNumber; ++n)
    {
        CString candidate;
        candidate.Format("%s%s%s (%d)%s", drive, dir, fname, n, ext);
        if (candidate.GetLength() >= MAX_PATH)
            return FALSE;
        if (!g_FileUtilities.FileExists(candidate))
        {
            result = candidate;
            return TRUE;
        }
    }
    return FALSE;
}
