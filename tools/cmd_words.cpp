// mimeengine encode-word and decode-word: the library's encoded-word string functions.
#include "cli.h"
#include "mimeengine/mimeengine.h"

#include <cstdio>
#include <string>
#include <vector>

namespace cli
{
namespace
{

const char kEncodeHelp[] = "Usage: mimeengine encode-word TEXT\n"
                           "\n"
                           "Writes TEXT as RFC 2047 \"B\" encoded words in the library's default charset, when\n"
                           "the ANSI code page needs it (932, 50220, 50221, 50222, 51932); otherwise TEXT comes\n"
                           "back unchanged. The code page is taken from MIMEENGINE_ACP, else from the locale.\n";

const char kDecodeHelp[] = "Usage: mimeengine decode-word TEXT\n"
                           "\n"
                           "Decodes TEXT when it begins with RFC 2047 \"B\" encoded words; other text comes back\n"
                           "unchanged.\n";

// Runs function, one of the library's encoded-word string functions, on the one TEXT
// argument with a destination of room(length of TEXT) bytes, and prints what it wrote.
int RunStringFunction(const char* command, const char* help, const std::vector<std::string>& args,
                      size_t (*room)(size_t), void (*function)(char*, char*))
{
    ParsedArgs parsed;
    const int status = ParseCommand(command, help, args, {}, parsed);
    if (status >= 0)
        return status;
    if (parsed.positional.size() != 1)
    {
        PrintError(command, std::string("expects exactly one TEXT (see 'mimeengine ") + command + " --help')");
        return kUsageError;
    }
    const std::string& text = parsed.positional[0];
    std::vector<char> source(text.begin(), text.end());
    source.push_back('\0');
    std::vector<char> destination(room(text.size()), '\0');
    function(source.data(), destination.data());
    std::printf("%s\n", destination.data());
    return 0;
}

} // namespace

int RunEncodeWord(const std::vector<std::string>& args)
{
    // Each word of at most 32 source bytes costs a separator, a prefix of at most 70
    // characters, its base64 text and the suffix: twice the source plus 80 per started
    // 32 bytes is always enough.
    auto room = [](size_t n) { return 2 * n + 80 * (n / 32 + 2); };
    return RunStringFunction("encode-word", kEncodeHelp, args, room, EncodeBase64String);
}

int RunDecodeWord(const std::vector<std::string>& args)
{
    // The source is copied into the destination first; decoded words are never longer
    // than their text.
    auto room = [](size_t n) { return n + 512; };
    return RunStringFunction("decode-word", kDecodeHelp, args, room, DecodeBase64String);
}

} // namespace cli
