// Choosing a free name for a decoded file in the work directory.
#include "extract/outputnames.h"

#include "mimeengine/unpack/unpacker.h"
#include "platform/fileutilities.h"
#include "platform/pathparts.h"
#include "platform/win32.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace
{

// A file of that name, also one reached through a symbolic link, is in the way: the name
// gets a number. A directory, or a link that leads nowhere, is no file: the name is kept,
// and moving a file there fails.
bool NameTaken(const char* path)
{
    return g_FileUtilities.FileExists(path) != FALSE;
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
    return NumberFreePath(unpacker, path, result, [](const char* candidate) {
        return NameTaken(candidate) ? NameClaim::Taken : NameClaim::Claimed;
    });
}

BOOL NumberFreePath(CUnpacker& unpacker, const char* path, CString& result,
                    const std::function<NameClaim(const char* candidate)>& claim)
{
    result = path;
    // A name this run has given out or found taken is not tried again: many files of one
    // name cost one call each, not three.
    const auto [known, fresh] = unpacker.m_NextCollisionNumber.try_emplace(path, 2);
    if (fresh)
    {
        NameClaim first = claim(path);
        if (first == NameClaim::Refused)
            unpacker.m_NextCollisionNumber.erase(known);
        if (first != NameClaim::Taken)
            return first == NameClaim::Claimed;
    }
    const int stemLength = static_cast<int>(SplitPathParts(path).extStart);
    const char* ext = path + stemLength;
    int& next = known->second;
    for (;; ++next)
    {
        char numbered[MAX_PATH + 64];
        int n = snprintf(numbered, sizeof numbered, "%.*s (%d)%s", stemLength, path, next, ext);
        if (n < 0 || n >= MAX_PATH)
            return FALSE;
        NameClaim got = claim(numbered);
        if (got != NameClaim::Taken)
        {
            ++next;
            result = numbered;
            return got == NameClaim::Claimed;
        }
    }
}
