// Scratch files of the fuzz targets: one private directory per process, removed at exit.
#pragma once

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdlib.h>
#include <string>
#include <system_error>
#include <unistd.h>

namespace fuzzfile
{

inline const std::string& Directory()
{
    // Never destroyed, so that the exit handler that removes the directory can still use it.
    static const std::string* dir = [] {
        std::string pattern = std::filesystem::temp_directory_path().string() + "/mimeengine-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr)
            abort();
        auto* made = new std::string(pattern);
        atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(Directory(), ignored);
        });
        return made;
    }();
    return *dir;
}

// Writes the input to a file of the private directory and returns its path.
inline std::string Write(const char* name, const uint8_t* data, size_t size)
{
    const std::string path = Directory() + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr)
        abort();
    fwrite(data, 1, size, f);
    fclose(f);
    return path;
}

// A fresh work directory three levels below the private directory, for one input. Check()
// compares everything outside the work directory with how it was before the run, aborts
// (so that the fuzzer reports the input) when anything was created, removed, renamed or
// changed in size there, and then removes the work directory.
//
// The temporary directory of the process is moved into the private directory too, so that
// a file the library puts there counts as an escape as well.
class WorkArea
{
public:
    WorkArea() : m_top(Directory() + "/w"), m_work(m_top + "/x/y/work")
    {
        static const bool tempMoved = [] {
            const std::string temp = Directory() + "/tmp";
            std::filesystem::create_directory(temp);
            setenv("TMPDIR", temp.c_str(), 1);
            return true;
        }();
        (void)tempMoved;
        std::error_code ignored;
        std::filesystem::remove_all(m_top, ignored);
        std::filesystem::create_directories(m_work);
        m_before = Snapshot();
    }
    WorkArea(const WorkArea&) = delete;
    WorkArea& operator=(const WorkArea&) = delete;
    ~WorkArea()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_top, ignored);
    }

    const std::string& Path() const { return m_work; }

    void Check() const
    {
        const Listing after = Snapshot();
        if (after == m_before)
            return;
        for (const auto& [path, size] : m_before)
            if (after.count(path) == 0 || after.at(path) != size)
                fprintf(stderr, "outside the work directory, removed or changed: %s\n", path.c_str());
        for (const auto& [path, size] : after)
            if (m_before.count(path) == 0)
                fprintf(stderr, "outside the work directory, created: %s (%lld bytes)\n", path.c_str(), size);
        abort();
    }

private:
    // Path and size (-1 for directories and other non-regular files) of every entry of the
    // private directory outside the work directory; links are listed, never followed.
    using Listing = std::map<std::string, long long>;

    Listing Snapshot() const
    {
        Listing listing;
        namespace fs = std::filesystem;
        for (auto it = fs::recursive_directory_iterator(Directory()); it != fs::recursive_directory_iterator(); ++it)
        {
            const std::string path = it->path().string();
            if (path == m_work)
            {
                it.disable_recursion_pending();
                continue;
            }
            const fs::file_status status = it->symlink_status();
            listing[path] = fs::is_regular_file(status) ? static_cast<long long>(it->file_size()) : -1;
        }
        return listing;
    }

    std::string m_top;
    std::string m_work;
    Listing m_before;
};

} // namespace fuzzfile
