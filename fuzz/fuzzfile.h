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

// Calls visit(entry) for each entry of the directory open as fd but "." and "..", reading it
// from its start with getdents64 into a buffer on the stack: no allocation, and for a
// directory of a few entries three system calls.
template <typename Visit> void ForEachEntry(int fd, Visit visit)
{
    alignas(8) char buffer[4096];
    if (lseek(fd, 0, SEEK_SET) != 0)
        return;
    for (ssize_t got; (got = getdents64(fd, buffer, sizeof buffer)) > 0;)
        for (ssize_t at = 0; at < got;)
        {
            const dirent64* e = reinterpret_cast<const dirent64*>(buffer + at);
            at += e->d_reclen;
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                visit(*e);
        }
}

// Removes everything inside the directory open as fd (not the directory itself), entering
// real subdirectories only; links are removed, never followed.
inline void EmptyAt(int fd)
{
    ForEachEntry(fd, [fd](const dirent64& e) {
        struct stat st;
        const bool isDir =
            e.d_type == DT_DIR ||
            (e.d_type == DT_UNKNOWN && fstatat(fd, e.d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode));
        if (!isDir)
        {
            unlinkat(fd, e.d_name, 0);
            return;
        }
        const int sub = openat(fd, e.d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub >= 0)
        {
            EmptyAt(sub);
            close(sub);
        }
        unlinkat(fd, e.d_name, AT_REMOVEDIR);
    });
}

// Removes everything inside dir (not dir itself).
inline void Empty(const std::string& dir)
{
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0)
    {
        EmptyAt(fd);
        close(fd);
    }
}

// A directory of the private directory, kept open for the life of the process.
inline int KeptOpen(const std::string& dir)
{
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        abort();
    return fd;
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

// The work directory, emptied through a descriptor kept open: each call gives a clean one.
inline const std::string& FreshWork()
{
    static const std::string work = Directory() + "/w/x/y/work";
    static const int fd = KeptOpen(work);
    EmptyAt(fd);
    return work;
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
    bool operator!=(const Stamp& o) const { return !(*this == o); }
};
inline Stamp StampOf(const struct stat& st)
{
    return {(unsigned long long)st.st_dev,
            (unsigned long long)st.st_ino,
            (unsigned long long)st.st_size,
            (unsigned long long)st.st_nlink,
            (unsigned long long)st.st_mtim.tv_sec * 1000000000ull + st.st_mtim.tv_nsec,
            (unsigned long long)st.st_ctim.tv_sec * 1000000000ull + st.st_ctim.tv_nsec};
}
inline Stamp StampOf(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? StampOf(st) : Stamp();
}

// What the guard watches outside the work directory: the private directory, the directories
// between it and the work directory, and every file that Write() made, each with the stamp
// it had after the last run (or, for a file, after Write() wrote it).
struct Watch
{
    std::string path;
    Stamp stamp;
    bool directory;
};
inline std::vector<Watch>& Watched()
{
    static std::vector<Watch> watched = [] {
        std::vector<Watch> dirs;
        for (const char* sub : {"", "/w", "/w/x", "/w/x/y"})
            dirs.push_back({Directory() + sub, StampOf(Directory() + sub), true});
        return dirs;
    }();
    return watched;
}

// Writes bytes to the file at path, replacing what it held, and returns its stat.
inline struct stat WriteFile(const std::string& path, const void* data, size_t size)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    struct stat st;
    for (size_t done = 0; fd >= 0 && done < size;)
    {
        const ssize_t n = write(fd, static_cast<const char*>(data) + done, size - done);
        if (n <= 0)
            abort();
        done += static_cast<size_t>(n);
    }
    if (fd < 0 || fstat(fd, &st) != 0 || close(fd) != 0)
        abort();
    return st;
}

// Writes bytes to a file of the private directory, which the guard then watches, and
// returns its path.
inline std::string Write(const char* name, const void* data, size_t size)
{
    const std::string path = Directory() + "/" + name;
    const struct stat st = WriteFile(path, data, size);
    std::vector<Watch>& watched = Watched();
    auto file = std::find_if(watched.begin(), watched.end(), [&](const Watch& w) { return w.path == path; });
    if (file != watched.end())
        file->stamp = StampOf(st);
    else
    {
        watched.push_back({path, StampOf(st), false});
        watched.front().stamp = StampOf(Directory()); // the new entry changed the private directory
    }
    return path;
}
inline std::string Write(const char* name, const std::string& s)
{
    return Write(name, s.data(), s.size());
}

// The names in one directory but "." and "..", sorted; links are listed, never followed.
inline std::vector<std::string> Names(const std::string& dir)
{
    std::vector<std::string> names;
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0)
    {
        ForEachEntry(fd, [&](const dirent64& e) { names.push_back(e.d_name); });
        close(fd);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The number of entries in the directory open as fd, "." and ".." not counted.
inline int Entries(int fd)
{
    int count = 0;
    ForEachEntry(fd, [&count](const dirent64&) { ++count; });
    return count;
}

// Runs run() and aborts (so that the fuzzer reports the input) when it created, removed,
// renamed or wrote an entry outside the work directory (see Watched()), or left a file open.
// The library may use TMPDIR, but must leave it empty.
//
// A run that passes leaves every watched stamp and the number of open descriptors as they
// were, so these are taken once and then only compared after each run: a few stat calls a
// run. The names of a directory are read only when something changed, to say what.
template <typename Run> void Guarded(Run run)
{
    static const std::string tmp = Directory() + "/tmp";
    static const int tmpFd = KeptOpen(tmp);
    static Stamp tmpStamp = StampOf(tmp);
    // Counted through a descriptor kept open, so that a count allocates nothing.
    static const int fdFd = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    static const int files = fdFd < 0 ? -1 : Entries(fdFd);
    std::vector<Watch>& watched = Watched();
    run();
    bool changed = false;
    if (fdFd >= 0 && Entries(fdFd) != files)
    {
        changed = true;
        fprintf(stderr, "open files: %d before, %d after\n", files, Entries(fdFd));
    }
    for (const Watch& w : watched)
    {
        if (StampOf(w.path) == w.stamp)
            continue;
        changed = true;
        fprintf(stderr, "outside the work directory, changed: %s\n", w.path.c_str());
        if (w.directory)
            for (const std::string& name : Names(w.path))
                fprintf(stderr, "  it now holds: %s\n", name.c_str());
    }
    const Stamp tmpNow = StampOf(tmp);
    if (tmpNow != tmpStamp && Entries(tmpFd) != 0)
    {
        changed = true;
        for (const std::string& name : Names(tmp))
            fprintf(stderr, "left in TMPDIR: %s/%s\n", tmp.c_str(), name.c_str());
    }
    tmpStamp = tmpNow;
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
