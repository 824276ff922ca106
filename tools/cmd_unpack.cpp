// mimeengine unpack: parse a message into a directory and print its part tree.
#include "cli.h"
#include "portability.h"
#include "treeoutput.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace cli
{
namespace
{

const char kHelp[] = "Usage: mimeengine unpack MESSAGE [-d DIR] [--no-extract] [--body-only] [--json]\n"
                     "\n"
                     "Parses MESSAGE, decodes every part into a file of DIR and prints the part tree.\n"
                     "\n"
                     "  -d, --dir DIR   where the files go; made when missing. Without it a new directory\n"
                     "                  named after the message is made in the current directory\n"
                     "                  (msg.eml.parts, or msg.eml.parts-2 and so on when that exists).\n"
                     "  --no-extract    parse the structure only, without decoding the bodies\n"
                     "  --body-only     MESSAGE is a multipart body without a message header\n"
                     "  --json          print {\"result\": N, \"result_name\": \"...\", \"root\": BLOCK}\n"
                     "\n"
                     "The directory used is reported on stderr. Exit status: 0, or the engine's result code.\n";

// Makes a new directory next to nothing that exists: base, base-2, base-3, ... An existing
// directory is never reused, so earlier results are never mixed with new ones.
bool MakeFreshDirectory(const std::string& base, std::string& made, std::string& error)
{
    for (int n = 1; n < 10000; ++n)
    {
        std::string candidate = n == 1 ? base : base + "-" + std::to_string(n);
        if (MakeDirectory(candidate, 0777) == 0)
        {
            made = candidate;
            return true;
        }
        if (errno != EEXIST)
        {
            error = "cannot create directory '" + candidate + "': " + std::strerror(errno);
            return false;
        }
    }
    error = "no free directory name for '" + base + "'";
    return false;
}

// Uses dir as given, making it when it does not exist yet.
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

} // namespace

int RunUnpack(const std::vector<std::string>& args)
{
    ParsedArgs parsed;
    std::string error;
    if (!ParseArgs(
            args,
            {{"--dir", "-d", true}, {"--no-extract", "", false}, {"--body-only", "", false}, {"--json", "", false}},
            parsed, error))
    {
        PrintError("unpack", error + " (see 'mimeengine unpack --help')");
        return kUsageError;
    }
    if (parsed.Has("--help"))
    {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (parsed.positional.size() != 1)
    {
        PrintError("unpack", "expects exactly one MESSAGE (see 'mimeengine unpack --help')");
        return kUsageError;
    }
    const std::string message = parsed.positional[0];

    std::string dir = parsed.Value("--dir");
    bool madeDefault = false;
    if (!dir.empty())
    {
        if (!UseNamedDirectory(dir, error))
        {
            PrintError("unpack", error);
            return CME_OUTPUT_FILE_ERROR;
        }
    }
    else
    {
        if (!MakeFreshDirectory(BaseName(message) + ".parts", dir, error))
        {
            PrintError("unpack", error);
            return CME_OUTPUT_FILE_ERROR;
        }
        madeDefault = true;
    }

    CMIMEEngine engine;
    CString source(message.c_str());
    _CME_RC rc = CME_SUCCESS;
    BOOL extract = parsed.Has("--no-extract") ? FALSE : TRUE;
    COutputBlock* root = parsed.Has("--body-only") ? engine.UnpackBody(source, dir.c_str(), extract, rc)
                                                   : engine.Unpack(source, dir.c_str(), extract, rc);

    if (parsed.Has("--json"))
        std::printf("%s\n", DumpJson(UnpackResultToJson(rc, root)).c_str());
    else
        PrintTree(stdout, root);
    engine.FreeBlocks(root);

    // A directory made here and left empty by a failed run is not worth keeping.
    if (root == nullptr && madeDefault && ::rmdir(dir.c_str()) == 0)
        std::fprintf(stderr, "mimeengine unpack: nothing written\n");
    else
        std::fprintf(stderr, "mimeengine unpack: parts of '%s' are in %s\n", message.c_str(), dir.c_str());

    if (rc != CME_SUCCESS)
    {
        PrintError("unpack", "'" + message + "': " + ResultDescription(rc) + " (" + ResultName(rc) + ")");
        return static_cast<int>(rc);
    }
    if (root == nullptr)
    {
        PrintError("unpack", "'" + message + "': no parts found");
        return CME_FAILURE;
    }
    return 0;
}

} // namespace cli
