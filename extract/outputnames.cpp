// Choosing a free name for a decoded file in the work directory.
#include "extract/outputnames.h"

#include "extract/fileutilities.h"
#include "mimeengine/unpack/unpacker.h"
#include "platform/win32.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace
{

// A file or a directory of that name is in the way.
bool NameTaken(const char* path)
{
    CFileStatus status;
    return CFile::GetStatus(path, status) != FALSE;
}

} // namespace

BOOL PickFreeOutputPath(CUnpacker& unpacker, const char* name, CString& result)
{
    if (name == nullptr || name[0] == '\0')
        return FALSE;
    CString joined;
    g_FileUtilities.JoinPath(unpacker.m_WorkDirectory, name, joined);
    char path[MAX_PATH];
    if (joined.GetLength() >= MAX_PATH)
        return FALSE;
    memcpy(path, joined.GetString(), static_cast<size_t>(joined.GetLength()) + 1);
    g_FileUtilities.CleanFileName(path);
    if (path[0] == '\0')
        return FALSE;
    if (!NameTaken(path))
    {
        result = path;
        return TRUE;
    }

    // The next number to try is shared with the output files of leaf bodies, so that many
    // files of one name do not rescan the numbers already used.
    char drive[_MAX_DRIVE], dir[_MAX_DIR], fname[_MAX_FNAME], ext[_MAX_EXT];
    _splitpath(path, drive, dir, fname, ext);
    std::string stem = std::string(drive) + dir + fname;
    int& next = unpacker.m_NextCollisionNumber[path];
    if (next < 2)
        next = 2;
    for (;; ++next)
    {
        char numbered[MAX_PATH + 64];
        int n = snprintf(numbered, sizeof numbered, "%s (%d)%s", stem.c_str(), next, ext);
        if (n < 0 || n >= MAX_PATH)
            return FALSE;
        if (!NameTaken(numbered))
        {
            ++next;
            result = numbered;
            return TRUE;
        }
    }
}
