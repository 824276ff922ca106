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

// Parses the one TEXT argument; returns -1 when the command is to go on, else the status.
int ParseText(const char* command, const char* help, const std::vector<std::string>& args, std::string& text)
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
    text = parsed.positional[0];
    return -1;
}

} // namespace

int RunEncodeWord(const std::vector<std::string>& args)
{
    std::string text;
    int status = ParseText("encode-word", kEncodeHelp, args, text);
    if (status >= 0)
        return status;
    // Each word of at most 32 source bytes costs a separator, a prefix of at most 70
    // characters, its base64 text and the suffix: twice the source plus 80 per started
    // 32 bytes is always enough.
    std::vector<char> source(text.begin(), text.end());
    source.push_back('\0');
    std::vector<char> destination(2 * text.size() + 80 * (text.size() / 32 + 2), '\0');
    EncodeBase64String(source.data(), destination.data());
    std::printf("%s\n", destination.data());
    return 0;
}

int RunDecodeWord(const std::vector<std::string>& args)
{
    std::string text;
    int status = ParseText("decode-word", kDecodeHelp, args, text);
    if (status >= 0)
        return status;
    // The source is copied into the destination first; decoded words are never longer
    // than their text.
    std::vector<char> source(text.begin(), text.end());
    source.push_back('\0');
    std::vector<char> destination(text.size() + 512, '\0');
    DecodeBase64String(source.data(), destination.data());
    std::printf("%s\n", destination.data());
    return 0;
}

} // namespace cli
