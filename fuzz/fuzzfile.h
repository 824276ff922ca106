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

// Writes bytes to a file of the private directory and returns its path.
inline std::string Write(const char* name, const void* data, size_t size)
{
    const std::string path = Directory() + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr)
        abort();
    fwrite(data, 1, size, f);
    fclose(f);
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

// Name and size (-1 for anything but a regular file) of every entry of one directory,
// sorted; links are listed, never followed.
using Listing = std::vector<std::pair<std::string, long long>>;
inline Listing List(const std::string& dir)
{
    Listing listing;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr)
        return listing;
    while (const dirent* e = readdir(d))
    {
        struct stat st;
        const bool regular = fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
        listing.emplace_back(e->d_name, regular ? (long long)st.st_size : -1);
    }
    closedir(d);
    std::sort(listing.begin(), listing.end());
    return listing;
}

// Open descriptors of the process (-1 when /proc is not there).
inline int OpenFiles()
{
    DIR* d = opendir("/proc/self/fd");
    if (d == nullptr)
        return -1;
    int count = 0;
    while (readdir(d) != nullptr)
        ++count;
    closedir(d);
    return count;
}

// Runs run() and aborts (so that the fuzzer reports the input) when it created, removed,
// renamed or resized an entry outside the work directory: in the private directory, in the
// directories between it and the work directory, or in TMPDIR; or when it left a file open.
// TMPDIR must be empty again afterwards: whatever the library puts there it must remove.
template <typename Run> void Guarded(Run run)
{
    const std::string& top = Directory();
    static const std::string watched[] = {top, top + "/w", top + "/w/x", top + "/w/x/y", top + "/tmp"};
    std::vector<Listing> before;
    for (const std::string& dir : watched)
        before.push_back(List(dir));
    const int files = OpenFiles();
    run();
    bool changed = OpenFiles() != files;
    if (changed)
        fprintf(stderr, "open files: %d before, %d after\n", files, OpenFiles());
    for (size_t i = 0; i < before.size(); ++i)
    {
        const Listing after = List(watched[i]);
        if (after == before[i])
            continue;
        changed = true;
        for (const auto& entry : before[i])
            if (std::find(after.begin(), after.end(), entry) == after.end())
                fprintf(stderr, "outside the work directory, removed or changed: %s/%s\n", watched[i].c_str(),
                        entry.first.c_str());
        for (const auto& entry : after)
            if (std::find(before[i].begin(), before[i].end(), entry) == before[i].end())
                fprintf(stderr, "outside the work directory, created: %s/%s (%lld bytes)\n", watched[i].c_str(),
                        entry.first.c_str(), entry.second);
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
