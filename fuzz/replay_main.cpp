// Replays saved fuzz inputs without libFuzzer: linked with one target, it runs the target's
// entry point over every file named on the command line and every file of every directory
// named there (in name order, not recursing), so that ordinary test runs repeat the corpus.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    bool ok = argc > 1;
    for (int i = 1; i < argc; ++i)
    {
        std::error_code error;
        if (fs::is_directory(argv[i], error))
        {
            std::vector<fs::path> found;
            for (const fs::directory_entry& entry : fs::directory_iterator(argv[i]))
                if (entry.is_regular_file())
                    found.push_back(entry.path());
            std::sort(found.begin(), found.end());
            files.insert(files.end(), found.begin(), found.end());
        }
        else if (fs::is_regular_file(argv[i], error))
            files.emplace_back(argv[i]);
        else
        {
            fprintf(stderr, "no such file or directory: %s\n", argv[i]);
            ok = false;
        }
    }
    for (const fs::path& file : files)
    {
        std::ifstream in(file, std::ios::binary);
        // A copy of exactly the input's size, so that AddressSanitizer sees any read past it.
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        bytes.shrink_to_fit();
        // Named first, so that the input of a crash is known.
        printf("%s\n", file.c_str());
        fflush(stdout);
        if (!in)
        {
            fprintf(stderr, "cannot read %s\n", file.c_str());
            ok = false;
        }
        else
            LLVMFuzzerTestOneInput(bytes.empty() ? nullptr : bytes.data(), bytes.size());
    }
    printf("%zu inputs replayed\n", files.size());
    return ok && !files.empty() ? 0 : 1;
}
