// mimeengine: compose and parse MIME messages from the command line.
#include "cli.h"
#include "mimeengine/mimeengine.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace
{

const char kUsage[] = "Usage: mimeengine COMMAND [OPTIONS]\n"
                      "\n"
                      "Commands:\n"
                      "  unpack MESSAGE...    parse a message, decode its parts into files, print its tree;\n"
                      "                       several messages, a directory or '-' (paths on stdin): a batch\n"
                      "  decode MESSAGE       print a message's text and save its attachments\n"
                      "  pack -o OUT ...      compose a message from files\n"
                      "  encode-word TEXT     write TEXT as RFC 2047 encoded words (when the code page needs it)\n"
                      "  decode-word TEXT     decode RFC 2047 \"B\" encoded words\n"
                      "\n"
                      "  --help               this text; 'mimeengine COMMAND --help' describes a command\n"
                      "  --version            the program's version\n"
                      "\n"
                      "Exit status: 0 on success, the engine's result code on failure, 1 for a wrong command line,\n"
                      "3 for a batch of unpack in which some message failed.\n";

struct Command
{
    const char* name;
    int (*run)(const std::vector<std::string>&);
};

const Command kCommands[] = {
    {"unpack", cli::RunUnpack},          {"decode", cli::RunDecode},          {"pack", cli::RunPack},
    {"encode-word", cli::RunEncodeWord}, {"decode-word", cli::RunDecodeWord},
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::fputs(kUsage, stderr);
        return cli::kUsageError;
    }
    std::string first = argv[1];
    if (first == "--help" || first == "-h" || first == "help")
    {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (first == "--version")
    {
        std::printf("mimeengine %s\n", MIMEENGINE_VERSION_STRING);
        return 0;
    }

    std::vector<std::string> rest(argv + 2, argv + argc);
    for (const Command& command : kCommands)
    {
        if (first != command.name)
            continue;
        try
        {
            return command.run(rest);
        }
        catch (const CFileException& e)
        {
            // The engine interface passes file errors on as exceptions.
            cli::PrintError(first, cli::FileErrorText(e));
            return CME_FILE_ERROR;
        }
        catch (const std::exception& e)
        {
            cli::PrintError(first, e.what());
            return CME_FAILURE;
        }
    }
    std::fprintf(stderr, "mimeengine: unknown command '%s'\n\n%s", first.c_str(), kUsage);
    return cli::kUsageError;
}
