// Runs the generated hostile messages through every parsing entry point (and the composing
// case through composing), one child process per case and entry point, and prints a table:
// result code, CPU seconds, peak memory and a verdict.
//
//   adversarial_run CASEDIR [--only NAME,...] [--modes LIST] [--scratch DIR] [--no-budget]
//
// CASEDIR is the output of gen_adversarial.py (MANIFEST.json, *.eml, compose_inputs/).
// Modes: unpack (Unpack, bExtract TRUE), scan (Unpack, bExtract FALSE), body (UnpackBody),
// flat (DecodeMimeMessage), netscape (DecodeNetscapeMessage); compose runs for compose_*
// cases only. Each run gets a fresh scratch root with the work directory four levels below
// it (ROOT/l1/l2/l3/work; the flat calls get TMPDIR=ROOT/l1/l2/l3/tmp). A run passes when
// the child exits normally with no sanitizer report, nothing outside the work directory
// changed (ROOT and the generator's canary directory are compared before and after), no
// file that was in the work directory before is changed, nothing the run created is a
// link, a device or has set-id or execute bits, the flat calls leave nothing behind, and
// CPU time and peak resident memory stay within the budget (2 s / 64 MiB; 5 s / 128 MiB
// for the cases marked big). --no-budget reports the figures without judging them (for
// sanitizer builds). The exit status is the number of failed runs (at most 255).
#include "bench/minijson.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <mimeengine/mimeengine.h>
#include <mimeengine/mimeengine_flat.h>
#include <set>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace
{

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteAll(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

// ---- The child: one entry point on one message ------------------------------------------

// Counts the blocks of a tree.
long CountBlocks(const CBlock* block)
{
    if (block == nullptr)
        return 0;
    long n = 1;
    if (CObList* children = block->GetChildBlockList())
        for (POSITION pos = children->GetHeadPosition(); pos != nullptr;)
            n += CountBlocks(static_cast<CBlock*>(children->GetNext(pos)));
    return n;
}

void Leaves(const CBlock* block, std::vector<const CBlock*>& out)
{
    CObList* children = block->GetChildBlockList();
    if (children == nullptr || children->IsEmpty())
    {
        out.push_back(block);
        return;
    }
    for (POSITION pos = children->GetHeadPosition(); pos != nullptr;)
        Leaves(static_cast<CBlock*>(children->GetNext(pos)), out);
}

// Composes one multipart/mixed from the caller files with hostile names, twice per file:
// once named by its own path, once by a short copy carrying the hostile name as suggested
// name. Checks the output lines and parses it back. Prints "rc=... " and returns the exit
// status (0 when every check holds).
int RunCompose(const std::string& inputs, const std::string& work)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(inputs))
        if (entry.path().filename() != "NAMES.json")
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());

    CMIMEEngine engine;
    CInputBlock* root = engine.StartCreate(nullptr, nullptr, CMIMEPart::CONTENT_MULTIPART, CMIMEPart::ENCODE_UNKNOWN,
                                           "mixed", nullptr, TRUE, nullptr);
    std::vector<std::string> added;   // data files, in order
    std::vector<std::string> encoded; // the base64 ones, which must come back unchanged
    int refused = 0;
    // First each file's bytes under its hostile name, base64-encoded: these must come back
    // unchanged. Then each file by its own path, typed from its name; a file of arbitrary
    // bytes that is typed 7bit travels as it is and may run into the next delimiter, so
    // these come last and are checked only for what reaches the header.
    for (size_t i = 0; i < names.size(); ++i)
    {
        const std::string copy = work + "/in" + std::to_string(i);
        fs::copy_file(inputs + "/" + names[i], copy);
        if (engine.AddInputBlock(root, copy.c_str(), names[i].c_str(), CMIMEPart::CONTENT_APPLICATION,
                                 CMIMEPart::ENCODE_BASE64, "octet-stream", nullptr, TRUE, nullptr) != nullptr)
            added.push_back(copy), encoded.push_back(copy);
        else
            ++refused;
    }
    for (const std::string& name : names)
    {
        // A path that does not fit the 260-byte path field cannot name a data file.
        const std::string original = inputs + "/" + name;
        if (original.size() >= 260)
            continue;
        if (engine.AddInputBlock(root, original.c_str(), nullptr, CMIMEPart::CONTENT_UNKNOWN, CMIMEPart::ENCODE_UNKNOWN,
                                 nullptr, nullptr, TRUE, nullptr) != nullptr)
            added.push_back(original);
        else
            ++refused;
    }
    char output[260];
    std::snprintf(output, sizeof output, "%s/out.eml", work.c_str());
    _CME_RC rc = engine.Pack(root, output, sizeof output, FALSE);
    engine.FreeBlocks(root);
    std::string problems;
    const std::string message = ReadAll(output);
    size_t longest = 0;
    int injected = 0;
    for (size_t start = 0; start < message.size();)
    {
        size_t end = message.find('\n', start);
        if (end == std::string::npos)
            end = message.size();
        const std::string line = message.substr(start, end - start);
        longest = std::max(longest, line.size());
        if (line.rfind("Bcc:", 0) == 0 || line.rfind("X-Injected:", 0) == 0 || line.rfind("begin 644", 0) == 0)
            ++injected;
        start = end + 1;
    }
    if (longest > 999)
        problems += " line>998";
    if (injected != 0)
        problems += " injected-lines=" + std::to_string(injected);
    bool bareLineEnd = false;
    for (size_t i = 0; i < message.size(); ++i)
        if ((message[i] == '\r') != (i + 1 < message.size() && message[i + 1] == '\n'))
        {
            // Data typed 7bit by its extension is copied as it is, so a file of arbitrary
            // bytes named .txt brings its own line ends: noted, not a fault here.
            bareLineEnd = true;
            break;
        }

    // Parse it back: every added file must come back byte for byte, in order.
    fs::create_directory(work + "/parsed");
    CString source(output);
    _CME_RC parseRc = CME_SUCCESS;
    COutputBlock* tree = engine.Unpack(source, (work + "/parsed").c_str(), TRUE, parseRc);
    std::vector<const CBlock*> leaves;
    if (tree != nullptr)
        Leaves(tree, leaves);
    std::multiset<std::string> decoded;
    for (const CBlock* leaf : leaves)
        decoded.insert(ReadAll(leaf->GetDataFile()));
    size_t same = 0;
    for (const std::string& file : encoded)
    {
        auto it = decoded.find(ReadAll(file));
        if (it != decoded.end())
            decoded.erase(it), ++same;
    }
    if (tree == nullptr || same != encoded.size())
        problems += " roundtrip=" + std::to_string(same) + "/" + std::to_string(encoded.size());
    engine.FreeBlocks(tree);
    std::printf("rc=%d added=%zu refused=%d leaves=%zu longest=%zu%s%s\n", static_cast<int>(rc), added.size(), refused,
                leaves.size(), longest, bareLineEnd ? " bare-eol" : "", problems.c_str());
    return problems.empty() && rc == CME_SUCCESS ? 0 : 3;
}

int RunChild(const std::string& mode, const std::string& message, const std::string& work)
{
    if (mode == "unpack" || mode == "scan" || mode == "body")
    {
        CMIMEEngine engine;
        CString source(message.c_str());
        _CME_RC rc = CME_SUCCESS;
        COutputBlock* tree = nullptr;
        bool exception = false;
        try
        {
            tree = mode == "body" ? engine.UnpackBody(source, work.c_str(), TRUE, rc)
                                  : engine.Unpack(source, work.c_str(), mode == "unpack" ? TRUE : FALSE, rc);
        }
        catch (CFileException&)
        {
            exception = true; // the one exception parsing may raise; not a fault by itself
        }
        const long blocks = CountBlocks(tree);
        engine.FreeBlocks(tree);
        std::printf("rc=%d%s blocks=%ld\n", static_cast<int>(rc), exception ? " CFileException" : "", blocks);
        return 0;
    }
    if (mode == "flat" || mode == "netscape")
    {
        char* text = nullptr;
        unsigned long count = 0;
        char** list = nullptr;
        const int ok = mode == "flat" ? DecodeMimeMessage(message.c_str(), &text, &count, &list)
                                      : DecodeNetscapeMessage(message.c_str(), &text, &count, &list);
        const size_t textLength = text != nullptr ? std::strlen(text) : 0;
        FreeMimeMsgText(&text);
        FreeMimeAttachmentList(count, &list);
        std::printf("rc=%d text=%zu attachments=%lu\n", ok, textLength, count);
        return 0;
    }
    if (mode == "compose")
        return RunCompose(message, work);
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
}

// ---- The parent: setting up, watching and judging ---------------------------------------

struct Entry
{
    std::string kind; // "f", "d", "l", "o"
    std::string content;
    long long size = 0;
    ino_t inode = 0;
    mode_t mode = 0;
    long long mtime = 0;
};

// Every entry below root (not following links), skipping the subtree skip. Small files are
// kept whole; big ones (the copied message) by size, inode and modification time.
std::map<std::string, Entry> Snapshot(const std::string& root, const std::string& skip = std::string())
{
    std::map<std::string, Entry> out;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(root, ec)))
        return out;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
    {
        const std::string path = it->path().string();
        if (!skip.empty() && (path == skip || path.rfind(skip + "/", 0) == 0))
        {
            it.disable_recursion_pending();
            continue;
        }
        struct stat st = {};
        if (lstat(path.c_str(), &st) != 0)
            continue;
        Entry e;
        e.size = st.st_size;
        e.inode = st.st_ino;
        e.mode = st.st_mode;
        e.mtime = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
        if (S_ISLNK(st.st_mode))
        {
            e.kind = "l";
            e.content = fs::read_symlink(path, ec).string();
        }
        else if (S_ISDIR(st.st_mode))
            e.kind = "d", e.mtime = 0; // a directory's time changes with its entries
        else if (S_ISREG(st.st_mode))
        {
            e.kind = "f";
            if (st.st_size < (1 << 20))
                e.content = ReadAll(path);
        }
        else
            e.kind = "o";
        out[path.substr(root.size())] = e;
    }
    return out;
}

bool Same(const Entry& a, const Entry& b)
{
    return a.kind == b.kind && a.content == b.content && a.size == b.size && a.inode == b.inode && a.mode == b.mode &&
           a.mtime == b.mtime;
}

// Differences between two snapshots, as a short text ("" when equal).
std::string Diff(const std::map<std::string, Entry>& before, const std::map<std::string, Entry>& after)
{
    std::string out;
    int n = 0;
    for (const auto& [path, e] : after)
    {
        auto it = before.find(path);
        if (it == before.end() || !Same(it->second, e))
            if (n++ < 3)
                out += (it == before.end() ? " +" : " ~") + path;
    }
    for (const auto& [path, e] : before)
        if (after.find(path) == after.end() && n++ < 3)
            out += " -" + path;
    return out;
}

std::string Replace(std::string s, const std::string& from, const std::string& to)
{
    if (s.rfind(from, 0) == 0)
        s = to + s.substr(from.size());
    return s;
}

struct Result
{
    std::string name, mode, rc, verdict;
    double cpu = 0, user = 0, wall = 0, peakMiB = 0;
    long long files = 0, outBytes = 0;
};

struct Options
{
    std::string cases;
    std::string scratch = "/tmp";
    std::set<std::string> only;
    std::vector<std::string> modes = {"unpack", "scan", "body", "flat", "netscape"};
    bool budget = true;
};

std::vector<std::string> Split(const std::string& s)
{
    std::vector<std::string> out;
    std::stringstream in(s);
    for (std::string item; std::getline(in, item, ',');)
        if (!item.empty())
            out.push_back(item);
    return out;
}

Result RunOne(const char* self, const Options& options, const minijson::Json& c, const std::string& mode,
              const std::string& systemCanary)
{
    Result r;
    r.name = c["name"].Str();
    r.mode = mode;
    const bool big = c["big"].kind == minijson::Json::Bool && c["big"].boolean;

    std::string rootTemplate = options.scratch + "/advrun.XXXXXX";
    if (mkdtemp(rootTemplate.data()) == nullptr)
    {
        r.verdict = "FAIL setup";
        return r;
    }
    const std::string root = rootTemplate;
    const std::string work = root + "/l1/l2/l3/work";
    const std::string tmp = root + "/l1/l2/l3/tmp";
    const std::string canary = root + "/canary";
    fs::create_directories(work);
    fs::create_directories(tmp);
    fs::create_directories(canary);
    for (const minijson::Json& step : c["setup"].items)
    {
        const std::string path = Replace(Replace(step["path"].Str(), "W/", work + "/"), "CANARY/", canary + "/");
        if (step["op"].Str() == "write_file")
            WriteAll(path, step["content"].Str());
        else if (step["op"].Str() == "symlink")
        {
            std::string to = Replace(Replace(step["to"].Str(), "W/", work + "/"), "CANARY/", canary + "/");
            if (to == "CANARY")
                to = canary;
            if (symlink(to.c_str(), path.c_str()) != 0)
                r.verdict = "FAIL setup";
        }
    }
    std::string message = root + "/message.eml";
    if (mode == "compose")
        message = options.cases + "/compose_inputs";
    else
        fs::copy_file(options.cases + "/" + c["file"].Str(), message);

    const bool flat = mode == "flat" || mode == "netscape";
    const std::string allowed = flat ? tmp : work;
    const auto rootBefore = Snapshot(root, allowed);
    const auto workBefore = Snapshot(work);
    const auto canaryBefore = Snapshot(systemCanary);

    // The child reports on a pipe; its stderr goes to a file outside the scratch root.
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
    {
        r.verdict = "FAIL pipe";
        return r;
    }
    const std::string errPath = root + ".stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "TMPDIR=", 7) != 0)
            env.push_back(*e);
    env.push_back("TMPDIR=" + tmp);
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string argChild = "--child", argMode = mode;
    std::vector<char*> argv = {const_cast<char*>(self),         argChild.data(), argMode.data(), message.data(),
                               const_cast<char*>(work.c_str()), nullptr};
    pid_t pid = 0;
    const auto start = std::chrono::steady_clock::now();
    const int spawned = posix_spawn(&pid, self, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    std::string report;
    if (spawned == 0)
    {
        char buffer[4096];
        for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
            report.append(buffer, static_cast<size_t>(n));
    }
    close(pipeFds[0]);
    int status = 0;
    struct rusage usage = {};
    if (spawned == 0)
        wait4(pid, &status, 0, &usage);
    r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.user = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6;
    r.cpu = r.user + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    const size_t hwm = report.rfind("hwm=");
    r.peakMiB = hwm == std::string::npos ? usage.ru_maxrss / 1024.0 : std::atol(report.c_str() + hwm + 4) / 1024.0;
    if (hwm != std::string::npos)
        report.erase(hwm);
    while (!report.empty() && (report.back() == '\n' || report.back() == '\r'))
        report.pop_back();
    r.rc = report.rfind("rc=", 0) == 0 ? report.substr(3) : report;

    std::string faults;
    const std::string errors = ReadAll(errPath);
    if (spawned != 0)
        faults += " spawn";
    else if (WIFSIGNALED(status))
        faults += " signal " + std::to_string(WTERMSIG(status));
    else if (WEXITSTATUS(status) != 0)
        faults += " exit " + std::to_string(WEXITSTATUS(status)) + " (" + r.rc + ")";
    if (errors.find("Sanitizer") != std::string::npos || errors.find("runtime error") != std::string::npos)
        faults += " sanitizer";
    if (!errors.empty())
        std::fprintf(stderr, "--- %s %s stderr:\n%s\n", r.name.c_str(), mode.c_str(), errors.substr(0, 2000).c_str());

    const std::string escaped = Diff(rootBefore, Snapshot(root, allowed));
    if (!escaped.empty())
        faults += " outside:" + escaped;
    const std::string canaryDiff = Diff(canaryBefore, Snapshot(systemCanary));
    if (!canaryDiff.empty())
        faults += " canary:" + canaryDiff;
    const auto workAfter = Snapshot(work);
    for (const auto& [path, e] : workBefore)
    {
        auto it = workAfter.find(path);
        if (it == workAfter.end() || !Same(it->second, e))
        {
            faults += " changed:" + path;
            break;
        }
    }
    for (const auto& [path, e] : workAfter)
    {
        if (workBefore.count(path) != 0)
            continue;
        if (e.kind == "l" || e.kind == "o")
            faults += " made-link:" + path;
        else if (e.kind == "f")
        {
            if ((e.mode & (S_ISUID | S_ISGID | S_IXUSR | S_IXGRP | S_IXOTH | S_IWOTH)) != 0)
                faults += " mode:" + path;
            ++r.files;
            r.outBytes += e.size;
        }
    }
    if (flat && !Snapshot(tmp).empty())
        faults += " left-behind";

    const double cpuBudget = big ? 5.0 : 2.0, memBudget = big ? 128.0 : 64.0;
    if (options.budget && r.cpu > cpuBudget)
        faults += " slow";
    if (options.budget && r.peakMiB > memBudget)
        faults += " memory";
    r.verdict = faults.empty() ? "ok" : "FAIL" + faults;

    std::error_code ec;
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(root, ec);
    fs::remove(errPath, ec);
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::string(argv[1]) == "--child")
    {
        // A hang must end as a failure, not stall the table.
        struct rlimit cpu = {60, 61};
        setrlimit(RLIMIT_CPU, &cpu);
        const int status = RunChild(argv[2], argv[3], argv[4]);
        // The peak of this process's own memory: getrusage's figure would include the
        // parent's, which the spawn shares until exec.
        std::string hwm = "?";
        std::ifstream in("/proc/self/status");
        for (std::string line; std::getline(in, line);)
            if (line.rfind("VmHWM:", 0) == 0)
                hwm = std::to_string(std::atol(line.c_str() + 6));
        std::printf("hwm=%s\n", hwm.c_str());
        return status;
    }
    Options options;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if (arg == "--only" && i + 1 < argc)
            for (auto& name : Split(argv[++i]))
                options.only.insert(name);
        else if (arg == "--modes" && i + 1 < argc)
            options.modes = Split(argv[++i]);
        else if (arg == "--scratch" && i + 1 < argc)
            options.scratch = argv[++i];
        else if (arg == "--no-budget")
            options.budget = false;
        else if (options.cases.empty() && arg[0] != '-')
            options.cases = arg;
        else
        {
            std::fprintf(stderr, "usage: %s CASEDIR [--only NAME,...] [--modes LIST] [--scratch DIR] [--no-budget]\n",
                         argv[0]);
            return 255;
        }
    }
    if (options.cases.empty())
    {
        std::fprintf(stderr, "usage: %s CASEDIR [--only NAME,...] [--modes LIST] [--scratch DIR] [--no-budget]\n",
                     argv[0]);
        return 255;
    }
    const std::string self = fs::canonical("/proc/self/exe").string();
    minijson::Json manifest;
    try
    {
        manifest = minijson::ParseJson(ReadAll(options.cases + "/MANIFEST.json"));
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "cannot read %s/MANIFEST.json: %s\n", options.cases.c_str(), e.what());
        return 255;
    }
    const std::string systemCanary = manifest["canary"].Str();

    std::printf("%-34s %-8s %-40s %7s %7s %7s %8s %7s %9s  %s\n", "case", "mode", "result", "cpu s", "user s", "wall s",
                "peak MiB", "files", "out MiB", "verdict");
    int failed = 0, runs = 0;
    double worstCpu = 0, worstMem = 0, worstUser = 0;
    std::string worstCpuName, worstMemName;
    for (const minijson::Json& c : manifest["cases"].items)
    {
        const std::string name = c["name"].Str();
        if (!options.only.empty() && options.only.count(name) == 0)
            continue;
        const bool compose = name.rfind("compose_", 0) == 0;
        std::vector<std::string> modes = options.modes;
        if (compose)
            modes.insert(modes.begin(), "compose");
        for (const std::string& mode : modes)
        {
            const Result r = RunOne(self.c_str(), options, c, mode, systemCanary);
            std::printf("%-34s %-8s %-40s %7.3f %7.3f %7.3f %8.1f %7lld %9.2f  %s\n", r.name.c_str(), r.mode.c_str(),
                        r.rc.substr(0, 40).c_str(), r.cpu, r.user, r.wall, r.peakMiB, r.files, r.outBytes / 1048576.0,
                        r.verdict.c_str());
            std::fflush(stdout);
            ++runs;
            if (r.verdict != "ok")
                ++failed;
            worstUser = std::max(worstUser, r.user);
            if (r.cpu > worstCpu)
                worstCpu = r.cpu, worstCpuName = r.name + "/" + r.mode;
            if (r.peakMiB > worstMem)
                worstMem = r.peakMiB, worstMemName = r.name + "/" + r.mode;
        }
    }
    std::printf("\n%d runs, %d failed; most CPU %.3f s (%s); most user-mode CPU %.3f s; most memory %.1f MiB (%s)\n",
                runs, failed, worstCpu, worstCpuName.c_str(), worstUser, worstMem, worstMemName.c_str());
    return std::min(failed, 255);
}
