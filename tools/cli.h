// Shared pieces of the mimeengine program: exit codes, argument parsing, error output and
// the subcommands.
#pragma once

#include "mimeengine/mimeengine.h"

#include <map>
#include <string>
#include <vector>

namespace cli
{

// Exit status: 0 on success, the engine's result code when the engine failed, and this
// for a wrong command line or tree file.
constexpr int kUsageError = 1;

// One option a subcommand accepts.
struct OptionSpec
{
    std::string longName;  // "--json"
    std::string shortName; // "-d", or empty
    bool takesValue;
};

// A parsed command line: the positional arguments and, per option (by long name), every
// value given (an empty string for options without value).
struct ParsedArgs
{
    std::vector<std::string> positional;
    std::map<std::string, std::vector<std::string>> options;

    bool Has(const std::string& name) const { return options.count(name) != 0; }
    // The last value given for name, or fallback.
    std::string Value(const std::string& name, const std::string& fallback = "") const;
    const std::vector<std::string>& Values(const std::string& name) const;
};

// Parses the arguments of a subcommand against specs; "--help" (or "-h") is always accepted.
// "--name=value" and "-x value" both work, and "--" ends the options. -1 when the command is
// to go on, else its exit status: an unknown option or a missing value has been reported, or
// the help printed for --help.
int ParseCommand(const char* command, const char* help, const std::vector<std::string>& args,
                 const std::vector<OptionSpec>& specs, ParsedArgs& parsed);

// Prints "mimeengine COMMAND: message" on stderr.
void PrintError(const std::string& command, const std::string& message);

// What a file error of the library says: "file error on 'PATH': " and the system's text of
// its error ("file error on a file" when it names none).
std::string FileErrorText(const CFileException& error);

// The last component of a path: what follows the last separator (kPathSeparators).
std::string BaseName(const std::string& path);

// Subcommands: each receives the arguments after its name and returns the exit status.
int RunUnpack(const std::vector<std::string>& args);
int RunDecode(const std::vector<std::string>& args);
int RunPack(const std::vector<std::string>& args);
int RunEncodeWord(const std::vector<std::string>& args);
int RunDecodeWord(const std::vector<std::string>& args);

} // namespace cli
