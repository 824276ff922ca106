// Unpacks many messages in one process, each into a directory of its own, as a batch of
// small messages costs: the part walk, the decoders and the work files of every message.
//
//   unpack_many LIST OUTDIR     (LIST: one message path per line)
//
// Prints the number of messages and how many of them failed.
#include <cstdio>
#include <fstream>
#include <mimeengine/mimeengine.h>
#include <string>
#include <sys/stat.h>

int main(int argc, char** argv)
{
    if (argc != 3)
    {
        std::fprintf(stderr, "usage: unpack_many LIST OUTDIR\n");
        return 2;
    }
    std::ifstream list(argv[1]);
    const std::string out = argv[2];
    std::string path;
    int count = 0;
    int failed = 0;
    CMIMEEngine engine;
    while (std::getline(list, path))
    {
        if (path.empty())
            continue;
        const std::string dir = out + "/" + std::to_string(count++);
        if (::mkdir(dir.c_str(), 0755) != 0)
        {
            std::perror(dir.c_str());
            return 1;
        }
        CString source(path.c_str());
        _CME_RC rc = CME_SUCCESS;
        COutputBlock* root = engine.Unpack(source, dir.c_str(), TRUE, rc);
        if (root == nullptr || rc != CME_SUCCESS)
            ++failed;
        engine.FreeBlocks(root);
    }
    std::printf("%d messages, %d failed\n", count, failed);
    return 0;
}
