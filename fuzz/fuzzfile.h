// Scaffolding of the fuzz targets: one private scratch directory per process (removed at
// exit), input files in it, the line pair of the header readers, a work directory that is
// emptied between inputs, and a guard that aborts when a run changed anything outside it or
// left a file open.
//
// Everything is set up once per process and only emptied between inputs, so that a run costs
// a few system calls beyond the library's own: the fuzzer then spends its time in the parser.
#pragma once

#include "mimeengine/engine/engine.h"
#include "mimeengine/unpack/parseutilities.h"

#if defined(_WIN32)
#error                                                                                                                 \
    "fuzzfile.h works on POSIX directories (dirent, mkdtemp, /proc/self/fd); the fuzz targets are not built for Windows"
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace fuzzfile
{

// Removes everything inside dir (not dir itself), entering real subdirectories only; links
// are removed, never followed. One pass of readdir per directory.
inline void Empty(const std::string& dir)
{
    DIR* d = opendir(dir.c_str());
    if (d == nullptr)
        return;
    while (const dirent* e = readdir(d))
    {
        if (e->d_name[0] == '.' && (e->d_name[1] == '\0' || (e->d_name[1] == '.' && e->d_name[2] == '\0')))
            continue;
        const std::string path = dir + "/" + e->d_name;
        bool isDir = e->d_type == DT_DIR;
        struct stat st;
        if (e->d_type == DT_UNKNOWN && lstat(path.c_str(), &st) == 0)
            isDir = S_ISDIR(st.st_mode);
        if (isDir)
        {
            Empty(path);
            rmdir(path.c_str());
        }
        else
            unlink(path.c_str());
    }
    closedir(d);
}

// The private directory of the process, on tmpfs when /dev/shm is there, else in TMPDIR or
// /tmp. It holds the input files, "tmp" (the process's TMPDIR from the first call on) and
// the work directory "w/x/y/work", three levels down so that a "../" escape lands in a
// directory the guard watches.
inline const std::string& Directory()
{
    // Never destroyed, so that the exit handler that removes the directory can still use it.
    static const std::string* dir = [] {
        struct stat st;
        const char* env = getenv("TMPDIR");
        std::string base = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK) == 0
                               ? "/dev/shm"
                           : env != nullptr && env[0] != '\0' ? env
                                                              : "/tmp";
        std::string pattern = base + "/mimeengine-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr)
            abort();
        for (const char* sub : {"/tmp", "/w", "/w/x", "/w/x/y", "/w/x/y/work"})
            if (mkdir((pattern + sub).c_str(), 0700) != 0)
                abort();
        if (setenv("TMPDIR", (pattern + "/tmp").c_str(), 1) != 0)
            abort();
        atexit([] {
            Empty(Directory());
            rmdir(Directory().c_str());
        });
        return new std::string(pattern);
    }();
    return *dir;
}

// Removes the private directory and aborts, so that the fuzzer reports the input.
[[noreturn]] inline void Abort()
{
    Empty(Directory());
    rmdir(Directory().c_str());
    abort();
}

// The work directory, emptied: each call gives a clean one.
inline const std::string& FreshWork()
{
    static const std::string work = Directory() + "/w/x/y/work";
    Empty(work);
    return work;
}

// The files written by Write(), by path: the guard watches them too.
inline std::vector<std::string>& Written()
{
    static std::vector<std::string> paths;
    return paths;
}

// Writes bytes to a file of the private directory and returns its path.
inline std::string Write(const char* name, const void* data, size_t size)
{
    const std::string path = Directory() + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr)
        abort();
    fwrite(data, 1, size, f);
    fclose(f);
    if (std::find(Written().begin(), Written().end(), path) == Written().end())
        Written().push_back(path);
    return path;
}
inline std::string Write(const char* name, const std::string& s)
{
    return Write(name, s.data(), s.size());
}

// The input as a NUL-terminated string (cut at its first NUL by string functions).
inline std::vector<char> Text(const uint8_t* data, size_t size)
{
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    return text;
}

// The two line buffers of the header readers, each of exactly LINE_BUFFER_SIZE bytes.
struct LinePair
{
    std::vector<char> a = std::vector<char>(LINE_BUFFER_SIZE), b = std::vector<char>(LINE_BUFFER_SIZE);
    char* line = a.data();
    char* readAhead = b.data();
};

// What the guard compares of a path, without following a link: identity, size, link count
// and both change times. A directory's times and size change whenever an entry is created,
// removed or renamed in it; a file's whenever it is written. All zero when nothing is there.
struct Stamp
{
    unsigned long long dev = 0, ino = 0, size = 0, links = 0, mtime = 0, ctime = 0;
    bool operator==(const Stamp& o) const
    {
        return dev == o.dev && ino == o.ino && size == o.size && links == o.links && mtime == o.mtime &&
               ctime == o.ctime;
    }
};
inline Stamp StampOf(const std::string& path)
{
    Stamp stamp;
    struct stat st;
    if (lstat(path.c_str(), &st) == 0)
        stamp = {(unsigned long long)st.st_dev,
                 (unsigned long long)st.st_ino,
                 (unsigned long long)st.st_size,
                 (unsigned long long)st.st_nlink,
                 (unsigned long long)st.st_mtim.tv_sec * 1000000000ull + st.st_mtim.tv_nsec,
                 (unsigned long long)st.st_ctim.tv_sec * 1000000000ull + st.st_ctim.tv_nsec};
    return stamp;
}

// The names in one directory but "." and "..", sorted; links are listed, never followed.
inline std::vector<std::string> Names(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str()))
    {
        while (const dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Open descriptors of the process (-1 when /proc is not there), counted through one
// descriptor kept open and a fixed buffer, so that a count allocates nothing.
inline int OpenFiles()
{
    static const int fd = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    alignas(8) static char buffer[16384];
    if (fd < 0 || lseek(fd, 0, SEEK_SET) != 0)
        return -1;
    int count = 0;
    for (ssize_t got; (got = getdents64(fd, buffer, sizeof buffer)) > 0;)
        for (ssize_t at = 0; at < got; at += reinterpret_cast<const dirent64*>(buffer + at)->d_reclen)
            ++count;
    return count;
}

// Runs run() and aborts (so that the fuzzer reports the input) when it created, removed,
// renamed or wrote an entry outside the work directory: in the private directory, in the
// directories between it and the work directory, or in a file that Write() made; or when it
// left a file open. The library may use TMPDIR, but must leave it empty.
//
// Each watched path is compared by its stamp, a few stat calls a run; the names are read only
// when something changed, to say what.
template <typename Run> void Guarded(Run run)
{
    const std::string& top = Directory();
    static const std::string tmp = top + "/tmp";
    static const std::vector<std::string> dirs = {top, top + "/w", top + "/w/x", top + "/w/x/y"};
    static std::vector<Stamp> before;
    before.clear();
    for (const std::string& dir : dirs)
        before.push_back(StampOf(dir));
    for (const std::string& file : Written())
        before.push_back(StampOf(file));
    const Stamp tmpBefore = StampOf(tmp);
    const int files = OpenFiles();
    run();
    bool changed = false;
    if (OpenFiles() != files)
    {
        changed = true;
        fprintf(stderr, "open files: %d before, %d after\n", files, OpenFiles());
    }
    for (size_t i = 0; i < before.size(); ++i)
    {
        const std::string& path = i < dirs.size() ? dirs[i] : Written()[i - dirs.size()];
        if (StampOf(path) == before[i])
            continue;
        changed = true;
        fprintf(stderr, "outside the work directory, changed: %s\n", path.c_str());
        if (i < dirs.size())
            for (const std::string& name : Names(path))
                fprintf(stderr, "  it now holds: %s\n", name.c_str());
    }
    if (!(StampOf(tmp) == tmpBefore))
        for (const std::string& name : Names(tmp))
        {
            changed = true;
            fprintf(stderr, "left in TMPDIR: %s/%s\n", tmp.c_str(), name.c_str());
        }
    if (changed)
        Abort();
}

// Unpacks the message (or bare multipart body) into the emptied work directory under the
// guard.
inline void UnpackConfined(const std::string& message, bool body, BOOL extract)
{
    const std::string path = Write("message.eml", message);
    const std::string& work = FreshWork();
    Guarded([&] {
        CMIMEEngine engine;
        CString source(path.c_str());
        _CME_RC rc = CME_SUCCESS;
        COutputBlock* root = body ? engine.UnpackBody(source, work.c_str(), extract, rc)
                                  : engine.Unpack(source, work.c_str(), extract, rc);
        engine.FreeBlocks(root);
    });
}

} // namespace fuzzfile
