// Whole files or none: temporary names put in place by a rename, cleaning up after an
// interrupt, and the body a failed unpack left cut short.
#include "wholefiles.h"

#include "cli.h"
#include "portability.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

#if !defined(_WIN32)
#include <sys/mman.h>
#include <sys/wait.h>
#endif

namespace cli
{
namespace
{

namespace fs = std::filesystem;

// The pending slots: on POSIX systems a shared page, which the process waiting in
// GuardInterrupts still reads after the command's own process has ended.
char* Slots()
{
    static char* slots = [] {
        const size_t size = kPendingSlots * kPendingPathSize;
#if !defined(_WIN32)
        void* page = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (page != MAP_FAILED)
            return static_cast<char*>(page);
#endif
        static std::vector<char> local(size, '\0');
        return local.data();
    }();
    return slots;
}

std::vector<std::string> g_guardedDirectories;

// Removes what the pending slots name and the guarded directories.
void RemovePending()
{
    for (int slot = 0; slot < kPendingSlots; ++slot)
        if (PendingPath(slot)[0] != '\0')
            std::remove(PendingPath(slot));
    std::error_code ignored;
    for (const std::string& directory : g_guardedDirectories)
        fs::remove_all(fs::u8path(directory), ignored);
}

// Writes what the system holds of the file to the disk, so that the name it is renamed to
// never stands for a file whose data a crash could lose.
bool SyncFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | kOpenFlags);
    if (fd < 0)
        return false;
#if defined(_WIN32)
    const bool synced = ::_commit(fd) == 0;
#else
    const bool synced = ::fsync(fd) == 0;
#endif
    const int failure = errno;
    ::close(fd);
    errno = failure;
    return synced;
}

std::string Partial(const std::string& path)
{
    return path + ".partial";
}

} // namespace

char* PendingPath(int slot)
{
    return Slots() + slot * kPendingPathSize;
}

TemporaryFile::~TemporaryFile()
{
    if (!m_path.empty())
        std::remove(m_path.c_str());
    PendingPath(m_slot)[0] = '\0';
}

bool TemporaryFile::Create(const std::string& dir, std::string& error, int* fd)
{
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        char name[32];
        std::snprintf(name, sizeof name, ".mimeengine-%06x.partial", static_cast<unsigned>(random() & 0xFFFFFF));
        const std::string path = dir + kPathSeparators[0] + name;
        if (path.size() >= kPendingPathSize)
        {
            errno = ENAMETOOLONG;
            break;
        }
        // Noted first, so that no interrupt can come between the file and its note (a file
        // of this name that is there already is one of these as well).
        std::memcpy(PendingPath(m_slot), path.c_str(), path.size() + 1);
        const int made = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | kCreateFlags, 0666);
        if (made < 0)
            PendingPath(m_slot)[0] = '\0';
        if (made < 0 && errno == EEXIST)
            continue;
        if (made < 0)
            break;
        m_path = path;
        if (fd != nullptr)
            *fd = made;
        else
            ::close(made);
        return true;
    }
    error = "cannot create a temporary file in '" + dir + "': " + std::strerror(errno);
    return false;
}

bool TakeFreeName(std::string& name, bool extension, int limit, const std::function<bool(const std::string&)>& take)
{
    const size_t dot = extension ? name.find_last_of('.') : std::string::npos;
    const bool split = dot != std::string::npos && dot != 0;
    const std::string stem = split ? name.substr(0, dot) : name;
    const std::string ext = split ? name.substr(dot) : "";
    for (int n = 1; n <= limit; ++n)
    {
        name = n == 1 ? stem + ext : stem + "-" + std::to_string(n) + ext;
        if (take(name))
            return true;
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool TemporaryFile::PutInPlace(const std::string& target, bool replace, std::string& error)
{
    if (!SyncFile(m_path))
    {
        error = "cannot write '" + target + "': " + std::strerror(errno);
        return false;
    }
    bool moved;
    std::string why;
    if (replace)
    {
#if !defined(_WIN32)
        // An existing file keeps its permissions: a private message stays private.
        struct stat existing;
        if (::stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
            ::chmod(m_path.c_str(), existing.st_mode & 07777);
#endif
        std::error_code ec;
        fs::rename(fs::u8path(m_path), fs::u8path(target), ec);
        moved = !ec;
        why = ec.message();
    }
    else
    {
        moved = RenameNoReplace(m_path, target) == 0;
        why = std::strerror(errno);
    }
    if (!moved)
    {
        const int failure = errno;
        error = "cannot rename '" + m_path + "' to '" + target + "': " + why;
        errno = failure;
        return false;
    }
    m_path.clear();
    PendingPath(m_slot)[0] = '\0';
    return true;
}

void GuardInterrupts(const std::vector<std::string>& directories)
{
    Slots();
    g_guardedDirectories = directories;
#if defined(_WIN32)
    for (int sig : {SIGINT, SIGTERM})
        std::signal(sig, [](int caught) {
            RemovePending();
            std::_Exit(128 + caught);
        });
#else
    std::fflush(nullptr); // nothing buffered is written twice
    // This process only waits; what is sent to it goes to the command. The signals wait
    // until the handlers that pass them on are in place.
    static const int kForwarded[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    sigset_t forwarded, mask;
    sigemptyset(&forwarded);
    for (int sig : kForwarded)
        sigaddset(&forwarded, sig);
    ::sigprocmask(SIG_BLOCK, &forwarded, &mask);
    static volatile sig_atomic_t child = 0;
    const pid_t made = ::fork();
    if (made <= 0)
    {
        ::sigprocmask(SIG_SETMASK, &mask, nullptr);
        return;
    }
    child = made;
    for (int sig : kForwarded)
    {
        struct sigaction forward = {}, previous = {};
        forward.sa_handler = [](int caught) { ::kill(child, caught); };
        sigemptyset(&forward.sa_mask);
        if (::sigaction(sig, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN)
            ::sigaction(sig, &forward, nullptr);
    }
    ::sigprocmask(SIG_SETMASK, &mask, nullptr);
    int status = 0;
    while (::waitpid(made, &status, 0) < 0 && errno == EINTR)
    {
    }
    if (!WIFSIGNALED(status))
        ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
    RemovePending();
    const int sig = WTERMSIG(status);
    // Ended by a signal that does not dump a core: so is this process, as a shell expects.
    if (sig == SIGINT || sig == SIGTERM || sig == SIGHUP || sig == SIGPIPE || sig == SIGKILL)
    {
        std::signal(sig, SIG_DFL);
        sigset_t unblock;
        sigemptyset(&unblock);
        sigaddset(&unblock, sig);
        ::sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
        ::raise(sig);
    }
    ::_exit(128 + sig);
#endif
}

int RenameNoReplace(const std::string& from, const std::string& to)
{
#if defined(_WIN32)
    // The Windows runtime's rename refuses an existing name itself; the test first only
    // gives the refusal its POSIX error.
    std::error_code ec;
    if (fs::exists(fs::symlink_status(fs::u8path(to), ec)))
    {
        errno = EEXIST;
        return -1;
    }
    return std::rename(from.c_str(), to.c_str());
#else
#if defined(RENAME_NOREPLACE)
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return -1;
#endif
    // A hard link fails when the name is taken, whatever is there.
    if (::link(from.c_str(), to.c_str()) != 0)
        return -1;
    ::unlink(from.c_str());
    return 0;
#endif
}

std::set<std::string> EntryNames(const std::string& dir)
{
    std::set<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(fs::u8path(dir), ec), end; !ec && it != end; it.increment(ec))
        names.insert(it->path().filename().u8string());
    return names;
}

std::string SetAsideIncomplete(const std::string& dir, const std::string& failedFile,
                               const std::set<std::string>& before, nlohmann::json& json)
{
    json = nlohmann::json::array();
    if (failedFile.empty())
        return "; the files written in " + dir + " are complete";
    std::error_code ec;
    std::vector<std::string> cut;
    const fs::path failed = fs::u8path(failedFile);
    if (fs::equivalent(failed.parent_path().empty() ? "." : failed.parent_path(), fs::u8path(dir), ec))
    {
        cut.push_back(failedFile);
    }
    else
    {
        // The library writes one file at a time, and the one it was writing when the message
        // could no longer be read is the last one written to.
        fs::file_time_type last = fs::file_time_type::min();
        for (fs::directory_iterator it(fs::u8path(dir), ec), end; !ec && it != end; it.increment(ec))
        {
            const std::string name = it->path().filename().u8string();
            const fs::file_time_type written = it->last_write_time(ec);
            if (ec || before.count(name) != 0 || !it->is_regular_file(ec) || written < last)
                continue;
            if (written > last)
                cut.clear();
            last = written;
            cut.push_back(dir + kPathSeparators[0] + name);
        }
    }
    std::string told;
    for (const std::string& path : cut)
    {
        const bool kept = RenameNoReplace(path, Partial(path)) == 0;
        const bool removed = !kept && std::remove(path.c_str()) == 0;
        json.push_back({{"file", path},
                        {"kept_as", removed ? nlohmann::json(nullptr) : nlohmann::json(kept ? Partial(path) : path)}});
        told += "; " + path + " is cut short" +
                (kept      ? ", kept as " + Partial(path)
                 : removed ? " and was removed"
                           : " (it could not be set aside)");
    }
    return told + "; the other files written in " + dir + " are complete";
}

} // namespace cli
