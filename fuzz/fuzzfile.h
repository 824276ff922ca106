// Scaffolding of the fuzz targets: one private scratch directory per process (removed at
// exit), input files in it, the line pair of the header readers, and a confined unpack.
#pragma once

#include "mimeengine/engine/engine.h"
#include "mimeengine/unpack/parseutilities.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <stdlib.h>
#include <string>
#include <vector>

namespace fuzzfile
{
namespace fs = std::filesystem;

inline const std::string& Directory()
{
    // Never destroyed, so that the exit handler that removes the directory can still use it.
    static const std::string* dir = [] {
        std::string pattern = fs::temp_directory_path().string() + "/mimeengine-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr)
            abort();
        atexit([] {
            std::error_code ignored;
            fs::remove_all(Directory(), ignored);
        });
        return new std::string(pattern);
    }();
    return *dir;
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

// Path and size (-1 for directories and other non-regular files) of every entry of the
// private directory except the inside of `work`; links are listed, never followed.
inline std::map<std::string, long long> Snapshot(const std::string& work)
{
    std::map<std::string, long long> listing;
    for (auto it = fs::recursive_directory_iterator(Directory()); it != fs::recursive_directory_iterator(); ++it)
    {
        if (it->path() == work)
            it.disable_recursion_pending();
        else
            listing[it->path().string()] = fs::is_regular_file(it->symlink_status()) ? (long long)it->file_size() : -1;
    }
    return listing;
}

// Unpacks the message (or bare multipart body) into a fresh work directory three levels
// below the private directory, and aborts (so that the fuzzer reports the input) when
// anything outside the work directory was created, removed, renamed or changed in size.
// The process's temporary directory is moved into the private directory too, so that a
// file the library puts there counts as an escape as well.
inline void UnpackConfined(const std::string& message, bool body, BOOL extract)
{
    static const bool tempMoved = [] {
        fs::create_directory(Directory() + "/tmp");
        return setenv("TMPDIR", (Directory() + "/tmp").c_str(), 1) == 0;
    }();
    (void)tempMoved;
    const std::string path = Write("message.eml", message), top = Directory() + "/w", work = top + "/x/y/work";
    std::error_code ignored;
    fs::remove_all(top, ignored);
    fs::create_directories(work);
    const auto before = Snapshot(work);
    {
        CMIMEEngine engine;
        CString source(path.c_str());
        _CME_RC rc = CME_SUCCESS;
        COutputBlock* root = body ? engine.UnpackBody(source, work.c_str(), extract, rc)
                                  : engine.Unpack(source, work.c_str(), extract, rc);
        engine.FreeBlocks(root);
    }
    const auto after = Snapshot(work);
    fs::remove_all(top, ignored);
    if (after == before)
        return;
    for (const auto& [entry, size] : before)
        if (after.count(entry) == 0 || after.at(entry) != size)
            fprintf(stderr, "outside the work directory, removed or changed: %s\n", entry.c_str());
    for (const auto& [entry, size] : after)
        if (before.count(entry) == 0)
            fprintf(stderr, "outside the work directory, created: %s (%lld bytes)\n", entry.c_str(), size);
    abort();
}

} // namespace fuzzfile
