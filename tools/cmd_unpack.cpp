// mimeengine unpack: parse a message into a directory and print its part tree, or a batch of
// messages into a directory each and print a line per message.
#include "archives.h"
#include "batch.h"
#include "cli.h"
#include "partsdir.h"
#include "portability.h"
#include "treeoutput.h"
#include "wholefiles.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace cli
{
namespace
{

const char kHelp[] = "Usage: mimeengine unpack MESSAGE [-d DIR] [--no-extract] [--body-only] [--json]\n"
                     "       mimeengine unpack MESSAGE|DIRECTORY|MBOX|- ... [-r] [--jobs N] [--replace] [-d DIR]\n"
                     "                         [--format F] [options]\n"
                     "       mimeengine unpack --list [-r] [--format F] MESSAGE|DIRECTORY|MBOX|- ...\n"
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
                     "The directory used is reported on stderr. Exit status: 0, or the engine's result code.\n"
                     "\n"
                     "Batch mode (several messages, a directory, an mbox, '-' for paths on stdin, one per\n"
                     "line, --jobs or --replace): each message goes to DIR/NAME.parts (numbered like above),\n"
                     "DIR defaulting to the current directory, NAME being its path below the directory\n"
                     "given, or its file name (NAME.N for the Nth message of an mbox). A directory's regular\n"
                     "files are read in name order; a Maildir's (it has cur/ and new/) those of new/, then of\n"
                     "cur/. A file whose first line starts with \"From \" is an mbox. A line of stdin may name\n"
                     "the output after a tab: PATH<TAB>NAME. One line per message, in input order: PATH (or\n"
                     "MBOX#N), result name, number of parts, directory, separated by tabs; with --json one\n"
                     "JSON object per line, the object above plus \"message\", \"dir\" and for an mbox \"index\".\n"
                     "  -r, --recursive  enter subdirectories, not symbolic links to them\n"
                     "  --format F       auto (the default, as above); mbox: every file is an mbox; maildir:\n"
                     "                   every directory named is a Maildir; file: every file is a message\n"
                     "                   and no directory a Maildir\n"
                     "  -j, --jobs N     messages unpacked at once (default: the number of cores)\n"
                     "  --replace        build each directory under a temporary name, then put it in place\n"
                     "                   of DIR/NAME.parts, replacing an earlier one\n"
                     "  --list           print what a batch would read, one line per file: path, NAME and\n"
                     "                   'message' or 'mbox', separated by tabs (a line of input for '-')\n"
                     "Exit status: 0 when every message succeeded, 3 when some failed.\n";

// Exit status of a batch in which at least one message failed (no result code is 3).
constexpr int kBatchFailed = 3;

// The number of blocks of a tree, the root included.
int CountParts(COutputBlock* block)
{
    if (block == nullptr)
        return 0;
    int count = 1;
    if (CObList* children = block->GetChildBlockList())
        for (POSITION pos = children->GetHeadPosition(); pos != nullptr;)
            count += CountParts(static_cast<COutputBlock*>(children->GetNext(pos)));
    return count;
}

// Rewrites the file paths of a tree in JSON that start with from to start with to.
void MoveJsonPaths(nlohmann::json& block, const std::string& from, const std::string& to)
{
    for (const char* key : {"data_file", "header_file"})
    {
        std::string path = block[key].get<std::string>();
        if (path.compare(0, from.size(), from) == 0)
            block[key] = to + path.substr(from.size());
    }
    for (nlohmann::json& child : block["children"])
        MoveJsonPaths(child, from, to);
}

struct BatchOptions
{
    std::string parent; // empty: the current directory
    bool extract = true;
    bool bodyOnly = false;
    bool json = false;
    bool single = false; // a message alone: DIR is its directory, its tree printed whole
    bool replace = false;
};

// The message as lines and errors name it: its path, and in an mbox its number.
std::string Describe(const BatchItem& item)
{
    return item.index == 0 ? item.message : item.message + "#" + std::to_string(item.index);
}

// Unpacks one message into a directory of its own and fills in its output. Nothing thrown
// leaves: a message that fails is reported like any other.
void UnpackOne(const BatchOptions& options, BatchItem& item)
{
    using Mode = PartsDirectory::Mode;
    const Mode mode = options.single && !options.parent.empty() ? Mode::kGiven
                      : options.replace                         ? Mode::kReplace
                                                                : Mode::kFresh;
    PartsDirectory output(mode);
    const std::string path = mode == Mode::kGiven     ? options.parent
                             : options.parent.empty() ? item.name + ".parts"
                                                      : options.parent + kPathSeparators[0] + item.name + ".parts";
    std::string error;
    _CME_RC rc = CME_SUCCESS;
    nlohmann::json object;
    std::string tree = FormatTree(nullptr);
    int parts = 0;
    bool opened = false;
    if (item.failure != CME_SUCCESS)
    {
        rc = static_cast<_CME_RC>(item.failure);
        error = item.failureReason;
        object = UnpackResultToJson(rc, nullptr);
    }
    else if (!output.Open(path, item.name.find_first_of(kPathSeparators) != std::string::npos, error))
    {
        rc = CME_OUTPUT_FILE_ERROR;
        object = UnpackResultToJson(rc, nullptr);
    }
    else
    {
        opened = true;
        // A directory given by name may hold files of its own: they are no part of this run.
        const std::set<std::string> before =
            mode == Mode::kGiven ? EntryNames(output.WorkPath()) : std::set<std::string>();
        COutputBlock* root = nullptr;
        try
        {
            CMIMEEngine engine;
            CString source(item.source.c_str());
            BOOL extract = options.extract ? TRUE : FALSE;
            root = options.bodyOnly ? engine.UnpackBody(source, output.WorkPath().c_str(), extract, rc)
                                    : engine.Unpack(source, output.WorkPath().c_str(), extract, rc);
            parts = CountParts(root);
            if (options.json)
                object = UnpackResultToJson(rc, root);
            else if (options.single)
                tree = FormatTree(root);
            engine.FreeBlocks(root);
        }
        catch (const CFileException& e)
        {
            // The body being written was cut short: it is set aside, so that the directory
            // holds complete files only besides it, and named.
            rc = CME_FILE_ERROR;
            root = nullptr;
            object = UnpackResultToJson(rc, nullptr);
            error = FileErrorText(e) +
                    SetAsideIncomplete(output.WorkPath(), e.m_strFileName.str(), before, object["incomplete"]);
        }
        catch (const std::exception& e)
        {
            rc = CME_FAILURE;
            error = e.what();
            root = nullptr;
            object = UnpackResultToJson(rc, nullptr);
        }
        // As for a single message: a directory left empty by a failure is removed.
        std::string placing;
        if (!output.Close(root != nullptr, placing))
        {
            rc = CME_OUTPUT_FILE_ERROR;
            error = placing;
            parts = 0;
            object = UnpackResultToJson(rc, nullptr);
        }
        else if (root != nullptr && output.Path() != output.WorkPath() && options.json)
            MoveJsonPaths(object["root"], output.WorkPath(), output.Path());
        if (error.empty() && rc != CME_SUCCESS)
            error = std::string(ResultDescription(rc)) + " (" + ResultName(rc) + ")";
        else if (error.empty() && root == nullptr)
        {
            error = "no parts found";
            rc = CME_FAILURE;
        }
    }
    const std::string& dir = output.Path();
    item.failed = rc != CME_SUCCESS || parts == 0;
    const std::string failure = "mimeengine unpack: '" + Describe(item) + "': " + error + "\n";
    if (options.single)
    {
        // The whole tree, and on stderr where it went.
        item.status = item.failed ? static_cast<int>(rc) : 0;
        if (!opened)
        {
            item.err = "mimeengine unpack: " + error + "\n";
            return;
        }
        item.out = options.json ? DumpJson(object) + "\n" : tree;
        item.err = dir.empty() ? "mimeengine unpack: nothing written\n"
                               : "mimeengine unpack: parts of '" + item.message + "' are in " + dir + "\n";
        if (item.failed)
            item.err += failure;
        return;
    }
    item.status = item.failed ? kBatchFailed : 0;
    if (item.failed)
        item.err = failure;
    if (options.json)
    {
        object["message"] = item.message;
        if (item.index != 0)
            object["index"] = item.index;
        object["dir"] = dir.empty() ? nlohmann::json(nullptr) : nlohmann::json(dir);
        item.out = object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    }
    else
    {
        item.out = Describe(item) + "\t" + ResultName(rc) + "\t" + std::to_string(parts) + "\t" +
                   (dir.empty() ? "-" : dir) + "\n";
    }
}

// Prints the files of a batch, one line each: path, output name, kind.
int ListFiles(BatchFiles& files)
{
    bool failed = false;
    for (BatchFile file; files.Next(file);)
    {
        if (file.failure != CME_SUCCESS)
        {
            PrintError("unpack", "'" + file.path + "': " + file.reason);
            failed = true;
        }
        else
            std::printf("%s\t%s\t%s\n", file.path.c_str(), file.name.c_str(), file.mbox ? "mbox" : "message");
    }
    return failed ? kBatchFailed : 0;
}

// Bytes read from an mbox at a time: MIMEENGINE_READ_SIZE, so that tests can hand the
// splitter its input in small pieces, else 64 KiB.
size_t MboxReadSize()
{
    const char* value = std::getenv("MIMEENGINE_READ_SIZE");
    const unsigned long size = value != nullptr ? std::strtoul(value, nullptr, 10) : 0;
    return size > 0 && size <= (1ul << 24) ? size : 65536;
}

const std::vector<OptionSpec> kOptions = {
    {"--dir", "-d", true},  {"--no-extract", "", false}, {"--body-only", "", false},
    {"--json", "", false},  {"--jobs", "-j", true},      {"--recursive", "-r", false},
    {"--format", "", true}, {"--replace", "", false},    {"--list", "", false}};

} // namespace

int RunUnpack(const std::vector<std::string>& args)
{
    ParsedArgs parsed;
    const int status = ParseCommand("unpack", kHelp, args, kOptions, parsed);
    if (status >= 0)
        return status;
    std::string error;
    if (parsed.positional.empty())
    {
        PrintError("unpack", "expects a MESSAGE (see 'mimeengine unpack --help')");
        return kUsageError;
    }
    InputFormat format = InputFormat::kAuto;
    if (!ParseInputFormat(parsed.Value("--format", "auto"), format))
    {
        PrintError("unpack", "--format takes auto, mbox, maildir or file, not '" + parsed.Value("--format") + "'");
        return kUsageError;
    }
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    if (parsed.Has("--jobs"))
    {
        const std::string value = parsed.Value("--jobs");
        char* end = nullptr;
        long n = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || n < 1 || n > 1024)
        {
            PrintError("unpack", "--jobs takes a number from 1 to 1024, not '" + value + "'");
            return kUsageError;
        }
        jobs = static_cast<unsigned>(n);
    }
    BatchFiles files(parsed.positional, format, parsed.Has("--recursive"));
    if (parsed.Has("--list"))
        return ListFiles(files);

    // One message file alone, without the options of a batch, is a batch of one whose tree
    // is printed whole and whose DIR is its own directory.
    const std::string& first = parsed.positional[0];
    std::error_code ec;
    const bool mbox = format == InputFormat::kMbox || (format == InputFormat::kAuto && StartsWithFromLine(first));
    BatchOptions options;
    options.single = parsed.positional.size() == 1 && !parsed.Has("--jobs") && !parsed.Has("--replace") &&
                     first != "-" && !mbox && !std::filesystem::is_directory(std::filesystem::u8path(first), ec);
    options.parent = parsed.Value("--dir");
    options.extract = !parsed.Has("--no-extract");
    options.bodyOnly = parsed.Has("--body-only");
    options.json = parsed.Has("--json");
    options.replace = parsed.Has("--replace");
    if (!options.parent.empty() && !UseNamedDirectory(options.parent, error))
    {
        PrintError("unpack", error);
        return CME_OUTPUT_FILE_ERROR;
    }
    BatchSettings settings;
    settings.jobs = options.single ? 1 : jobs;
    settings.summary = !options.single;
    ArchiveSource source(files, MboxReadSize());
    const BatchResult result = RunBatch(
        source,
        [&](BatchItem& item) {
            UnpackOne(options, item);
            if (item.staged)
                std::remove(item.source.c_str());
        },
        settings);
    if (result.outputFailed)
    {
        PrintError("unpack", "cannot write the output; stopped");
        return kBatchFailed;
    }
    if (options.single)
        return result.firstStatus;
    return result.failed == 0 ? 0 : kBatchFailed;
}

} // namespace cli
