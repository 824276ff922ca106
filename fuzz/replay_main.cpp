// Replays saved fuzz inputs without libFuzzer: linked with one target, it runs the target's
// entry point over every file named on the command line and every file of every directory
// named there (in name order, not recursing), so that ordinary test runs repeat the corpus.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace
{

bool Replay(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
    {
        fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Named first, so that the input of a crash is known.
    printf("%s\n", path.c_str());
    fflush(stdout);
    // A copy of exactly the input's size, so that AddressSanitizer sees any read past it.
    std::vector<uint8_t> exact(bytes);
    exact.shrink_to_fit();
    LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    if (argc < 2)
    {
        fprintf(stderr, "usage: %s FILE-OR-DIRECTORY...\n", argv[0]);
        return 2;
    }
    unsigned long replayed = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i)
    {
        std::vector<fs::path> files;
        std::error_code error;
        if (fs::is_directory(argv[i], error))
        {
            for (const fs::directory_entry& entry : fs::directory_iterator(argv[i]))
                if (entry.is_regular_file())
                    files.push_back(entry.path());
            std::sort(files.begin(), files.end());
        }
        else if (fs::is_regular_file(argv[i], error))
            files.emplace_back(argv[i]);
        else
        {
            fprintf(stderr, "no such file or directory: %s\n", argv[i]);
            ok = false;
        }
        for (const fs::path& file : files)
        {
            ok = Replay(file) && ok;
            ++replayed;
        }
    }
    printf("%lu inputs replayed\n", replayed);
    return ok && replayed > 0 ? 0 : 1;
}
