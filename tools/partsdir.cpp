// Parts directories: a new one per message, or one that replaces an earlier one whole.
#include "partsdir.h"

#include "portability.h"
#include "wholefiles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace cli
{
namespace
{

namespace fs = std::filesystem;

// Makes a new directory next to nothing that exists: base, base-2, base-3, ... An existing
// directory is never reused, so earlier results are never mixed with new ones.
bool MakeFreshDirectory(const std::string& base, std::string& made, std::string& error)
{
    made = base;
    if (TakeFreeName(made, false, 9999, [](const std::string& name) { return MakeDirectory(name, 0777) == 0; }))
        return true;
    error = errno != EEXIST ? "cannot create directory '" + made + "': " + std::strerror(errno)
                            : "no free directory name for '" + base + "'";
    return false;
}

bool Exists(const std::string& path)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(fs::u8path(path), ec));
}

void RemoveTree(const std::string& path)
{
    std::error_code ignored;
    fs::remove_all(fs::u8path(path), ignored);
}

std::string InSameDirectory(const std::string& path, const std::string& leaf)
{
    const size_t slash = path.find_last_of(kPathSeparators);
    return slash == std::string::npos ? leaf : path.substr(0, slash + 1) + leaf;
}

} // namespace

bool UseNamedDirectory(const std::string& dir, std::string& error)
{
    if (MakeDirectory(dir, 0777) == 0)
        return true;
    struct stat info;
    if (errno == EEXIST && ::stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        return true;
    error = "cannot use directory '" + dir + "': " + std::strerror(errno == EEXIST ? ENOTDIR : errno);
    return false;
}

bool PartsDirectory::Open(const std::string& path, bool parents, std::string& error)
{
    m_path = path;
    if (parents)
    {
        std::error_code ec;
        const fs::path above = fs::u8path(path).parent_path();
        if (!above.empty() && !fs::create_directories(above, ec) && ec)
        {
            error = "cannot create directory '" + above.u8string() + "': " + ec.message();
            return false;
        }
    }
    switch (m_mode)
    {
        case Mode::kGiven:
            m_work = path;
            return true;
        case Mode::kFresh:
            return MakeFreshDirectory(path, m_work, error);
        case Mode::kReplace:
            return OpenReplacing(error);
    }
    return false;
}

bool PartsDirectory::Close(bool keep, std::string& error)
{
    if (m_mode == Mode::kFresh)
    {
        m_path = m_work;
        // A directory left empty by a failure is not worth keeping.
        if (!keep && ::rmdir(m_work.c_str()) == 0)
            m_path.clear();
        return true;
    }
    if (m_mode == Mode::kGiven)
        return true;
    if (keep)
        return PutInPlace(error);
    RemoveTree(m_work);
    ::rmdir(m_container.c_str());
    m_path.clear();
    return true;
}

// Every attempt at a message builds in a directory of its own inside the container
// .NAME.parts.tmp, and removes what it finds there: what attempts that were killed left
// behind, and the directory of an older attempt still under way, which then fails. An entry
// is first moved into a new directory of this attempt's, so that an attempt whose directory
// was taken cannot put it in place, and no two attempts remove the same files.
bool PartsDirectory::OpenReplacing(std::string& error)
{
    const size_t slash = m_path.find_last_of(kPathSeparators);
    m_container = InSameDirectory(m_path, "." + m_path.substr(slash == std::string::npos ? 0 : slash + 1) + ".tmp");
    for (int attempt = 0; attempt < 3; ++attempt)
    {
        if (MakeDirectory(m_container, 0777) != 0 && errno != EEXIST)
            break;
        ClearContainer();
        m_work = MakeTemporaryDirectory(m_container + kPathSeparators[0] + "XXXXXX", 0777);
        if (!m_work.empty())
            return true;
        if (errno != ENOENT)
            break; // else another attempt removed the container in between: make it again
    }
    error = "cannot create a directory in '" + m_container + "': " + std::strerror(errno);
    return false;
}

void PartsDirectory::ClearContainer()
{
    std::error_code ec;
    std::vector<std::string> entries;
    for (fs::directory_iterator it(fs::u8path(m_container), ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(it->path().u8string());
    for (const std::string& entry : entries)
    {
        const std::string taken = MakeTemporaryDirectory(m_container + kPathSeparators[0] + "XXXXXX");
        if (taken.empty())
            return;
        std::rename(entry.c_str(), (taken + kPathSeparators[0] + "x").c_str());
        RemoveTree(taken);
    }
}

// Renames the work directory to NAME.parts. An earlier NAME.parts is first moved into the
// container and removed with it afterwards; should the work directory have been taken by a
// later attempt meanwhile, the earlier one goes back.
bool PartsDirectory::PutInPlace(std::string& error)
{
    std::vector<std::string> aside;
    bool placed = false;
    int failure = 0;
    for (int attempt = 0; attempt < 3 && !placed; ++attempt)
    {
        placed = std::rename(m_work.c_str(), m_path.c_str()) == 0;
        failure = errno;
        if (placed || !Exists(m_path))
            break;
        const std::string holder = MakeTemporaryDirectory(m_container + kPathSeparators[0] + "XXXXXX");
        if (holder.empty())
            break;
        aside.push_back(holder);
        std::rename(m_path.c_str(), (holder + kPathSeparators[0] + "old").c_str());
    }
    if (!placed && !aside.empty() && !Exists(m_path))
        std::rename((aside.back() + kPathSeparators[0] + "old").c_str(), m_path.c_str());
    for (const std::string& holder : aside)
        RemoveTree(holder);
    if (!placed)
    {
        error = "cannot put '" + m_work + "' in place of '" + m_path + "': " + std::strerror(failure);
        RemoveTree(m_work);
        m_path.clear();
    }
    ::rmdir(m_container.c_str()); // fails while another attempt works in it
    return placed;
}

} // namespace cli
