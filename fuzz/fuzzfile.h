// Scratch files of the fuzz targets: one private directory per process, removed at exit.
#pragma once

#include <cstdio>
#include <filesystem>
#include <stdlib.h>
#include <string>
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
        atexit([] { std::filesystem::remove_all(Directory()); });
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

} // namespace fuzzfile
