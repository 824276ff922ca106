// The few file-system calls of the program whose form differs between POSIX systems and
// Windows.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>

#if defined(_WIN32)
#include <direct.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace cli
{

#if defined(_WIN32)

// Files are opened in binary mode, so that no CR is added or taken away, and handles are
// not inherited by child processes. Windows has no symbolic links that open() would
// follow into a planted target.
constexpr int kOpenFlags = O_BINARY | O_NOINHERIT;
constexpr int kCreateFlags = kOpenFlags;
// Both separators end a directory name on Windows.
constexpr const char* kPathSeparators = "/\\";

// Windows directories have no mode bits.
inline int MakeDirectory(const std::string& path, int)
{
    return ::_mkdir(path.c_str());
}

inline bool IsTerminal(std::FILE* stream)
{
    return ::_isatty(::_fileno(stream)) != 0;
}

// Where the library and the program make their temporary files from now on.
inline void SetTemporaryDirectory(const std::string& path)
{
    ::_putenv_s("TMP", path.c_str());
}

#else

constexpr int kOpenFlags = O_CLOEXEC;
// A new file is never made through a symbolic link planted at its name.
constexpr int kCreateFlags = O_NOFOLLOW | O_CLOEXEC;
constexpr const char* kPathSeparators = "/";

inline int MakeDirectory(const std::string& path, int mode)
{
    return ::mkdir(path.c_str(), static_cast<mode_t>(mode));
}

inline bool IsTerminal(std::FILE* stream)
{
    return ::isatty(::fileno(stream)) != 0;
}

inline void SetTemporaryDirectory(const std::string& path)
{
    ::setenv("TMPDIR", path.c_str(), 1);
}

#endif

// True for a path that does not depend on the current directory (on Windows also one that
// names a drive, "C:..."), which is not put below another directory.
inline bool IsRooted(const std::string& path)
{
    const bool drive = kPathSeparators[1] != '\0' && path.size() > 1 && path[1] == ':';
    return drive || (!path.empty() && std::string(kPathSeparators).find(path[0]) != std::string::npos);
}

// A new directory whose name is pattern with its last six characters ("XXXXXX") replaced by
// random ones, made with mode (0700: private); the name, or empty with errno set.
std::string MakeTemporaryDirectory(const std::string& pattern, int mode = 0700);

// What tells a directory from every other one on the machine, however it is reached.
struct FileKey
{
    unsigned long long device = 0;
    unsigned long long index = 0;
    bool operator<(const FileKey& other) const
    {
        return device != other.device ? device < other.device : index < other.index;
    }
};
// The key of the file or directory at path (symbolic links followed); false when there is none.
bool GetFileKey(const std::string& path, FileKey& key);

} // namespace cli
