// The C runtime's string and path helpers that POSIX lacks: wsprintfA, _splitpath and the
// case-insensitive comparisons.
#include "platform/chartable.h"
#include "platform/win32.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace
{

// Copies src into dst of n bytes, cut to fit.
void CopyCut(char* dst, size_t n, const char* src, size_t len)
{
    len = len < n ? len : n - 1;
    std::memcpy(dst, src, len);
    dst[len] = '\0';
}

} // namespace

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
