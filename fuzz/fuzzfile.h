// Scaffolding of the fuzz targets: one private scratch directory per process (removed at
// exit) with the input files, the line pair of the header readers, a work directory emptied
// between inputs, and a guard that aborts when a run changed anything outside it or left a
// file open. All is set up once per process, so that a run costs few calls beyond the library's.
#pragma once

#include "mimeengine/engine/engine.h"
#include "mimeengine/unpack/parseutilities.h"

#if defined(_WIN32)
#error "fuzzfile.h works on Linux directories (getdents64, inotify, poll); the fuzz targets are not built for Windows"
#else
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <bitset>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace fuzzfile
{

// Calls visit(entry) for each entry but "." and ".." of the directory open as fd, read from
// its start by getdents64 into a stack buffer (three calls for a few entries, no allocation).
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
        if (e.d_type != DT_DIR &&
            (e.d_type != DT_UNKNOWN || fstatat(fd, e.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode)))
            unlinkat(fd, e.d_name, 0);
        else if (const int sub = openat(fd, e.d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); sub >= 0)
        {
            EmptyAt(sub);
            close(sub);
            unlinkat(fd, e.d_name, AT_REMOVEDIR);
        }
    });
}

// Removes the private directory with everything in it.
inline void RemovePrivate(const std::string& dir)
{
    if (const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); fd >= 0)
    {
        EmptyAt(fd);
        close(fd);
    }
    rmdir(dir.c_str());
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
// /tmp. It holds the input files, "tmp" (the process's TMPDIR from the first call on),
// "data" (input files a target keeps from input to input) and the work directory
// "w/x/y/work", three levels down so that a "../" escape lands in a directory the guard
// watches.
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
        for (const char* sub : {"/tmp", "/data", "/w", "/w/x", "/w/x/y", "/w/x/y/work"})
            if (mkdir((pattern + sub).c_str(), 0700) != 0)
                abort();
        if (setenv("TMPDIR", (pattern + "/tmp").c_str(), 1) != 0)
            abort();
        atexit([] { RemovePrivate(Directory()); });
        return new std::string(pattern);
    }();
    return *dir;
}

// Removes the private directory and aborts, so that the fuzzer reports the input.
[[noreturn]] inline void Abort()
{
    RemovePrivate(Directory());
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

// The guard's inotify watches on the private directory, the directories down to the work
// directory, "data", TMPDIR and every file Write() made: an entry created, removed, renamed,
// written or changed in its attributes queues an event as it happens. Reading is no event,
// nor is the close after a write (raised when the last reference goes, which may be after
// the close).
struct Watches
{
    int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    std::vector<std::string> paths; // by watch descriptor
    int tmp = -1;
    int Add(const std::string& path)
    {
        const int wd = inotify_add_watch(fd, path.c_str(),
                                         IN_ATTRIB | IN_CREATE | IN_DELETE | IN_DELETE_SELF | IN_MODIFY | IN_MOVE_SELF |
                                             IN_MOVED_FROM | IN_MOVED_TO);
        if (wd < 0)
            abort();
        paths.resize(std::max(paths.size(), static_cast<size_t>(wd) + 1));
        paths[static_cast<size_t>(wd)] = path;
        return wd;
    }
};
inline Watches& Watched()
{
    static Watches* watches = [] {
        Watches* w = new Watches;
        for (const char* sub : {"", "/data", "/w", "/w/x", "/w/x/y"})
            w->Add(Directory() + sub);
        w->tmp = w->Add(Directory() + "/tmp");
        return w;
    }();
    return *watches;
}

// Reads the events queued since the last call (none: one call that finds the queue empty),
// calls changed(path, event) for each but TMPDIR's, and tells whether TMPDIR had any.
template <typename Changed> bool ReadEvents(Changed changed)
{
    alignas(inotify_event) static char buffer[16384];
    const Watches& w = Watched();
    bool tmpTouched = false;
    for (ssize_t got; (got = read(w.fd, buffer, sizeof buffer)) > 0;)
        for (ssize_t at = 0; at < got;)
        {
            const inotify_event* e = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            if (e->wd == w.tmp)
                tmpTouched = true;
            else
                changed(w.paths.at(static_cast<size_t>(e->wd)), *e);
        }
    return tmpTouched;
}

// Writes bytes to the file at path, replacing what it held.
inline void WriteFile(const std::string& path, const void* data, size_t size)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    for (size_t done = 0; fd >= 0 && done < size;)
    {
        const ssize_t n = write(fd, static_cast<const char*>(data) + done, size - done);
        if (n <= 0)
            abort();
        done += static_cast<size_t>(n);
    }
    if (fd < 0 || close(fd) != 0)
        abort();
}

// Writes bytes to a file of the private directory, which the guard then watches, and
// returns its path.
inline std::string Write(const char* name, const void* data, size_t size)
{
    const std::string path = Directory() + "/" + name;
    WriteFile(path, data, size);
    Watches& w = Watched();
    if (std::find(w.paths.begin(), w.paths.end(), path) == w.paths.end())
        w.Add(path);
    ReadEvents([](const std::string&, const inotify_event&) {}); // this write is no run's doing
    return path;
}
inline std::string Write(const char* name, const std::string& s)
{
    return Write(name, s.data(), s.size());
}

// Which descriptors are open: poll() marks each closed one POLLNVAL. The process's limit is
// set to kDescriptors on the first call, so that one call sees every descriptor a run could
// have left open.
constexpr int kDescriptors = 256;
inline std::bitset<kDescriptors> OpenDescriptors()
{
    static pollfd fds[kDescriptors];
    static const bool limited = [] {
        rlimit limit;
        getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = kDescriptors;
        for (int i = 0; i < kDescriptors; ++i)
            fds[i].fd = i;
        return limit.rlim_max >= kDescriptors && setrlimit(RLIMIT_NOFILE, &limit) == 0;
    }();
    if (!limited || poll(fds, kDescriptors, 0) < 0)
        abort();
    std::bitset<kDescriptors> open;
    for (int i = 0; i < kDescriptors; ++i)
        open[i] = (fds[i].revents & POLLNVAL) == 0;
    return open;
}

// Runs run() and aborts (so that the fuzzer reports the input) when it created, removed,
// renamed or wrote an entry outside the work directory (see Watches), or left a file open;
// TMPDIR may be used but must be left empty. Three calls when all is well: a poll of the
// descriptors before and after (the fuzzer's leak check keeps some open between runs) and
// one read of the events.
template <typename Run> void Guarded(Run run)
{
    static const std::string tmp = Directory() + "/tmp";
    static const int tmpFd = KeptOpen(tmp);
    Watched();
    const std::bitset<kDescriptors> files = OpenDescriptors();
    run();
    bool changed = false;
    const std::bitset<kDescriptors> now = OpenDescriptors();
    for (int i = 0; i < kDescriptors; ++i)
        if (now[i] != files[i])
        {
            changed = true;
            fprintf(stderr, "descriptor %d: %s before the run, %s after\n", i, files[i] ? "open" : "closed",
                    now[i] ? "open" : "closed");
        }
    const bool tmpTouched = ReadEvents([&](const std::string& path, const inotify_event& e) {
        changed = true;
        fprintf(stderr, "outside the work directory, changed: %s %s (event %#x)\n", path.c_str(),
                e.len > 0 ? e.name : "", e.mask);
    });
    if (tmpTouched)
        ForEachEntry(tmpFd, [&](const dirent64& e) {
            changed = true;
            fprintf(stderr, "left in TMPDIR: %s/%s\n", tmp.c_str(), e.d_name);
        });
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
