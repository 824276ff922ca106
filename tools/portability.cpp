// The program's file-system calls whose form differs between POSIX systems and Windows.
#include "portability.h"

#include <cerrno>
#include <cstdio>
#include <random>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace cli
{

std::string MakeTemporaryDirectory(const std::string& pattern, int mode)
{
    // Random names are tried until a new directory is made: mkdir never takes an existing
    // name, whatever is there, and unlike mkdtemp this takes a mode and works on Windows.
    thread_local std::mt19937 random{std::random_device{}()};
    const std::string stem = pattern.substr(0, pattern.size() - 6);
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%06x", static_cast<unsigned>(random() & 0xFFFFFF));
        if (MakeDirectory(stem + suffix, mode) == 0)
            return stem + suffix;
        if (errno != EEXIST)
            return "";
    }
    errno = EEXIST;
    return "";
}

bool GetFileKey(const std::string& path, FileKey& key)
{
#if defined(_WIN32)
    // The volume and the file index; stat's st_ino is always 0 on Windows.
    HANDLE handle = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = ::GetFileInformationByHandle(handle, &info) != 0;
    ::CloseHandle(handle);
    key.device = info.dwVolumeSerialNumber;
    key.index = (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return known;
#else
    struct stat info;
    if (::stat(path.c_str(), &info) != 0)
        return false;
    key.device = static_cast<unsigned long long>(info.st_dev);
    key.index = static_cast<unsigned long long>(info.st_ino);
    return true;
#endif
}

} // namespace cli
