// mimeengine unpack: parse a message into a directory and print its part tree.
#include "cli.h"
#include "portability.h"
#include "treeoutput.h"
#include "wholefiles.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace cli
{
namespace
{

const char kHelp[] = "Usage: mimeengine unpack MESSAGE [-d DIR] [--no-extract] [--body-only] [--json]\n"
                     "       mimeengine unpack MESSAGE|DIRECTORY|- ... [--jobs N] [-d DIR] [options]\n"
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
                     "Batch mode (several messages, a directory's regular files, '-' for paths on stdin,\n"
                     "one per line, or --jobs): each message goes to DIR/NAME.parts (numbered like above),\n"
                     "DIR defaulting to the current directory. One line per message, in input order:\n"
                     "PATH, result name, number of parts, directory, separated by tabs; with --json one\n"
                     "JSON object per line, the object above plus \"message\" and \"dir\".\n"
                     "  -j, --jobs N    messages unpacked at once (default: the number of cores)\n"
                     "Exit status: 0 when every message succeeded, 3 when some failed.\n";

// Exit status of a batch in which at least one message failed (no result code is 3).
constexpr int kBatchFailed = 3;

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

// What the batch needs of each message, and what became of it.
struct BatchItem
{
    std::string message;
    std::string line;  // the output line, newline included
    std::string error; // for stderr, or empty
    bool failed = false;
    bool done = false;
};

struct BatchOptions
{
    std::string parent; // empty: the current directory
    bool extract = true;
    bool bodyOnly = false;
    bool json = false;
};

// Unpacks one message of a batch into a new directory of its own and fills in its line.
// Nothing thrown leaves: a message that fails is reported like any other.
void UnpackOne(const BatchOptions& options, BatchItem& item)
{
    const std::string base = BaseName(item.message) + ".parts";
    std::string dir;
    std::string error;
    _CME_RC rc = CME_SUCCESS;
    nlohmann::json object;
    int parts = 0;
    if (!MakeFreshDirectory(options.parent.empty() ? base : options.parent + kPathSeparators[0] + base, dir, error))
    {
        rc = CME_OUTPUT_FILE_ERROR;
        object = UnpackResultToJson(rc, nullptr);
    }
    else
    {
        COutputBlock* root = nullptr;
        try
        {
            CMIMEEngine engine;
            CString source(item.message.c_str());
            BOOL extract = options.extract ? TRUE : FALSE;
            root = options.bodyOnly ? engine.UnpackBody(source, dir.c_str(), extract, rc)
                                    : engine.Unpack(source, dir.c_str(), extract, rc);
            parts = CountParts(root);
            if (options.json)
                object = UnpackResultToJson(rc, root);
            engine.FreeBlocks(root);
        }
        catch (const CFileException& e)
        {
            // The body being written was cut short: it is set aside, so that the directory
            // holds complete files only besides it, and named.
            rc = CME_FILE_ERROR;
            root = nullptr;
            object = UnpackResultToJson(rc, nullptr);
            error = FileErrorText(e) + SetAsideIncomplete(dir, e.m_strFileName.str(), {}, object["incomplete"]);
        }
        catch (const std::exception& e)
        {
            rc = CME_FAILURE;
            error = e.what();
            root = nullptr;
            object = UnpackResultToJson(rc, nullptr);
        }
        // As for a single message: a directory left empty by a failure is removed.
        if (root == nullptr && ::rmdir(dir.c_str()) == 0)
            dir.clear();
        if (error.empty() && rc != CME_SUCCESS)
            error = std::string(ResultDescription(rc)) + " (" + ResultName(rc) + ")";
        else if (error.empty() && root == nullptr)
        {
            error = "no parts found";
            rc = CME_FAILURE;
        }
    }
    item.failed = rc != CME_SUCCESS || parts == 0;
    if (item.failed)
        item.error = "'" + item.message + "': " + error;
    if (options.json)
    {
        object["message"] = item.message;
        object["dir"] = dir.empty() ? nlohmann::json(nullptr) : nlohmann::json(dir);
        item.line = object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    }
    else
    {
        item.line = item.message + "\t" + ResultName(rc) + "\t" + std::to_string(parts) + "\t" +
                    (dir.empty() ? "-" : dir) + "\n";
    }
}

// The messages a batch names: files as given, a directory's regular files in name order
// (not those of its subdirectories), and for "-" the lines of standard input.
bool CollectMessages(const std::vector<std::string>& args, std::vector<std::string>& messages, std::string& error)
{
    namespace fs = std::filesystem;
    for (const std::string& arg : args)
    {
        if (arg == "-")
        {
            std::string line;
            while (std::getline(std::cin, line))
            {
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                if (!line.empty())
                    messages.push_back(line);
            }
            continue;
        }
        std::error_code ec;
        if (!fs::is_directory(fs::u8path(arg), ec))
        {
            messages.push_back(arg);
            continue;
        }
        std::vector<std::string> files;
        for (fs::directory_iterator it(fs::u8path(arg), ec), end; !ec && it != end; it.increment(ec))
            if (it->is_regular_file(ec))
                files.push_back(it->path().filename().u8string());
        if (ec)
        {
            error = "cannot read directory '" + arg + "': " + ec.message();
            return false;
        }
        std::sort(files.begin(), files.end());
        const bool separated = !arg.empty() && std::string(kPathSeparators).find(arg.back()) != std::string::npos;
        for (const std::string& name : files)
            messages.push_back(separated ? arg + name : arg + kPathSeparators[0] + name);
    }
    return true;
}

// Unpacks every message on jobs threads (one: on this thread) and prints their lines in
// input order as they become ready; on a terminal, a progress line on stderr. Lines are
// flushed as they come to a terminal, and every fifth of a second elsewhere.
int RunBatch(const std::vector<std::string>& messages, const BatchOptions& options, unsigned jobs)
{
    using Clock = std::chrono::steady_clock;
    std::vector<BatchItem> items(messages.size());
    for (size_t i = 0; i < messages.size(); ++i)
        items[i].message = messages[i];
    const size_t total = items.size();
    jobs = static_cast<unsigned>(std::max<size_t>(1, std::min<size_t>(jobs, total)));

    const bool progress = IsTerminal(stderr);
    const bool lineByLine = IsTerminal(stdout);
    const auto start = Clock::now();
    auto lastFlush = start;
    auto rate = [&](size_t done) {
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        return seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
    };
    size_t printed = 0;
    size_t failed = 0;
    // Prints item printed, which is done and no longer touched by any worker.
    auto print = [&] {
        BatchItem& item = items[printed];
        if (progress)
            std::fputs("\r\033[K", stderr);
        if (!item.error.empty())
            PrintError("unpack", item.error);
        std::fputs(item.line.c_str(), stdout);
        failed += item.failed ? 1 : 0;
        item = BatchItem{};
        ++printed;
    };
    auto afterPrinting = [&] {
        const auto now = Clock::now();
        if (lineByLine || now - lastFlush >= std::chrono::milliseconds(200))
        {
            std::fflush(stdout);
            lastFlush = now;
        }
        if (progress)
            std::fprintf(stderr, "mimeengine unpack: %zu/%zu messages, %.0f msgs/s", printed, total, rate(printed));
    };

    if (jobs == 1)
    {
        while (printed < total)
        {
            UnpackOne(options, items[printed]);
            print();
            afterPrinting();
        }
    }
    else
    {
        std::mutex mutex;
        std::condition_variable ready;
        std::atomic<size_t> next{0};
        auto work = [&] {
            for (size_t i; (i = next.fetch_add(1)) < total;)
            {
                UnpackOne(options, items[i]);
                std::lock_guard<std::mutex> lock(mutex);
                items[i].done = true;
                ready.notify_one();
            }
        };
        std::vector<std::thread> threads;
        for (unsigned t = 0; t < jobs; ++t)
            threads.emplace_back(work);
        while (printed < total)
        {
            {
                std::unique_lock<std::mutex> lock(mutex);
                ready.wait(lock, [&] { return items[printed].done; });
            }
            for (;;)
            {
                print();
                std::lock_guard<std::mutex> lock(mutex);
                if (printed == total || !items[printed].done)
                    break;
            }
            afterPrinting();
        }
        for (std::thread& thread : threads)
            thread.join();
    }
    std::fflush(stdout);

    if (progress)
        std::fputs("\r\033[K", stderr);
    std::fprintf(stderr, "mimeengine unpack: %zu messages, %zu succeeded, %zu failed, %.0f msgs/s on %u threads\n",
                 total, total - failed, failed, rate(total), jobs);
    return failed == 0 ? 0 : kBatchFailed;
}

} // namespace

int RunUnpack(const std::vector<std::string>& args)
{
    ParsedArgs parsed;
    std::string error;
    if (!ParseArgs(args,
                   {{"--dir", "-d", true},
                    {"--no-extract", "", false},
                    {"--body-only", "", false},
                    {"--json", "", false},
                    {"--jobs", "-j", true}},
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
    if (parsed.positional.empty())
    {
        PrintError("unpack", "expects a MESSAGE (see 'mimeengine unpack --help')");
        return kUsageError;
    }
    std::error_code ec;
    const bool batch = parsed.positional.size() > 1 || parsed.Has("--jobs") || parsed.positional[0] == "-" ||
                       std::filesystem::is_directory(std::filesystem::u8path(parsed.positional[0]), ec);
    if (batch)
    {
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
        BatchOptions options;
        options.parent = parsed.Value("--dir");
        options.extract = !parsed.Has("--no-extract");
        options.bodyOnly = parsed.Has("--body-only");
        options.json = parsed.Has("--json");
        if (!options.parent.empty() && !UseNamedDirectory(options.parent, error))
        {
            PrintError("unpack", error);
            return CME_OUTPUT_FILE_ERROR;
        }
        std::vector<std::string> messages;
        if (!CollectMessages(parsed.positional, messages, error))
        {
            PrintError("unpack", error);
            return kUsageError;
        }
        if (messages.empty())
        {
            std::fprintf(stderr, "mimeengine unpack: no messages\n");
            return 0;
        }
        return RunBatch(messages, options, jobs);
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
    const std::set<std::string> before = EntryNames(dir);
    COutputBlock* root = nullptr;
    try
    {
        root = parsed.Has("--body-only") ? engine.UnpackBody(source, dir.c_str(), extract, rc)
                                         : engine.Unpack(source, dir.c_str(), extract, rc);
    }
    catch (const CFileException& e)
    {
        // As for a message of a batch: what was cut short is set aside and named.
        nlohmann::json object = UnpackResultToJson(CME_FILE_ERROR, nullptr);
        error = FileErrorText(e) + SetAsideIncomplete(dir, e.m_strFileName.str(), before, object["incomplete"]);
        if (parsed.Has("--json"))
            std::printf("%s\n", DumpJson(object).c_str());
        if (madeDefault)
            ::rmdir(dir.c_str());
        PrintError("unpack", "'" + message + "': " + error);
        return CME_FILE_ERROR;
    }

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
