// Command-line parsing shared by the subcommands.
#include "cli.h"
#include "portability.h"

#include <cstdio>
#include <cstring>

namespace cli
{

std::string ParsedArgs::Value(const std::string& name, const std::string& fallback) const
{
    auto found = options.find(name);
    return found == options.end() || found->second.empty() ? fallback : found->second.back();
}

const std::vector<std::string>& ParsedArgs::Values(const std::string& name) const
{
    static const std::vector<std::string> none;
    auto found = options.find(name);
    return found == options.end() ? none : found->second;
}

namespace
{

// False, with a message in error, on an unknown option or a missing value.
bool ParseArgs(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs, ParsedArgs& parsed,
               std::string& error)
{
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i)
    {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-')
        {
            parsed.positional.push_back(arg);
            continue;
        }
        if (arg == "--")
        {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h")
        {
            parsed.options["--help"].push_back("");
            continue;
        }

        std::string name = arg;
        std::string inlineValue;
        bool hasInlineValue = false;
        size_t equals = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos)
        {
            name = arg.substr(0, equals);
            inlineValue = arg.substr(equals + 1);
            hasInlineValue = true;
        }

        const OptionSpec* known = nullptr;
        for (const OptionSpec& candidate : specs)
            if (name == candidate.longName || (!candidate.shortName.empty() && name == candidate.shortName))
                known = &candidate;
        if (known == nullptr)
        {
            error = "unknown option '" + name + "'";
            return false;
        }
        if (!known->takesValue)
        {
            if (hasInlineValue)
            {
                error = "option '" + known->longName + "' takes no value";
                return false;
            }
            parsed.options[known->longName].push_back("");
            continue;
        }
        if (!hasInlineValue)
        {
            if (i + 1 >= args.size())
            {
                error = "option '" + name + "' needs a value";
                return false;
            }
            inlineValue = args[++i];
        }
        parsed.options[known->longName].push_back(inlineValue);
    }
    return true;
}

} // namespace

int ParseCommand(const char* command, const char* help, const std::vector<std::string>& args,
                 const std::vector<OptionSpec>& specs, ParsedArgs& parsed)
{
    std::string error;
    if (!ParseArgs(args, specs, parsed, error))
    {
        PrintError(command, error + " (see 'mimeengine " + command + " --help')");
        return kUsageError;
    }
    if (parsed.Has("--help"))
    {
        std::fputs(help, stdout);
        return 0;
    }
    return -1;
}

void PrintError(const std::string& command, const std::string& message)
{
    std::fprintf(stderr, "mimeengine %s: %s\n", command.c_str(), message.c_str());
}

std::string FileErrorText(const CFileException& error)
{
    std::string text = "file error on " +
                       (error.m_strFileName.IsEmpty() ? std::string("a file") : "'" + error.m_strFileName.str() + "'");
    if (error.m_lOsError > 0)
        text += ": " + std::string(std::strerror(static_cast<int>(error.m_lOsError)));
    return text;
}

std::string BaseName(const std::string& path)
{
    size_t slash = path.find_last_of(kPathSeparators);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace cli
