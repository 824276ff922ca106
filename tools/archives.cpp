// Reading a batch's arguments: directory trees, Maildirs and mbox files.
#include "archives.h"

#include "cli.h"
#include "mimeengine/engine/rc.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

namespace cli
{
namespace
{

namespace fs = std::filesystem;

constexpr char kFrom[] = "From ";
constexpr size_t kFromSize = 5;

// dir and a name in it, with one separator between them.
std::string Join(const std::string& dir, const std::string& leaf)
{
    if (dir.empty())
        return leaf;
    const bool separated = std::string(kPathSeparators).find(dir.back()) != std::string::npos;
    return separated ? dir + leaf : dir + kPathSeparators[0] + leaf;
}

// True for a name that stays below the directory it is put in: relative, without empty,
// "." or ".." components.
bool StaysBelow(const std::string& name)
{
    if (name.empty() || IsRooted(name))
        return false;
    size_t start = 0;
    for (;;)
    {
        const size_t end = name.find_first_of(kPathSeparators, start);
        const std::string part = name.substr(start, end - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        if (end == std::string::npos)
            return true;
        start = end + 1;
    }
}

bool IsDirectory(const std::string& path)
{
    std::error_code ec;
    return fs::is_directory(fs::u8path(path), ec);
}

// The names of dir's regular files (symbolic links to them included) and, when subdirectories
// is given, of its subdirectories (symbolic links not), each in name order. False, with a
// message in error, when dir cannot be read.
bool ListDirectory(const std::string& dir, std::vector<std::string>* files, std::vector<std::string>* subdirectories,
                   std::string& error)
{
    std::error_code ec;
    for (fs::directory_iterator it(fs::u8path(dir), ec), end; !ec && it != end; it.increment(ec))
    {
        std::error_code ignored;
        if (files != nullptr && it->is_regular_file(ignored))
            files->push_back(it->path().filename().u8string());
        else if (subdirectories != nullptr && !it->is_symlink(ignored) && it->is_directory(ignored))
            subdirectories->push_back(it->path().filename().u8string());
    }
    if (ec)
    {
        error = "cannot read directory '" + dir + "': " + ec.message();
        return false;
    }
    for (std::vector<std::string>* names : {files, subdirectories})
        if (names != nullptr)
            std::sort(names->begin(), names->end());
    return true;
}

} // namespace

bool ParseInputFormat(const std::string& text, InputFormat& format)
{
    static const std::pair<const char*, InputFormat> kNames[] = {{"auto", InputFormat::kAuto},
                                                                 {"mbox", InputFormat::kMbox},
                                                                 {"maildir", InputFormat::kMaildir},
                                                                 {"file", InputFormat::kFile}};
    for (const auto& entry : kNames)
        if (text == entry.first)
        {
            format = entry.second;
            return true;
        }
    return false;
}

bool StartsWithFromLine(const std::string& path)
{
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr)
        return false;
    // Unbuffered: the few bytes are read as they are, without sizing a buffer for the file.
    std::setvbuf(in, nullptr, _IONBF, 0);
    char head[kFromSize];
    const bool from = std::fread(head, 1, kFromSize, in) == kFromSize && std::memcmp(head, kFrom, kFromSize) == 0;
    std::fclose(in);
    return from;
}

BatchFiles::BatchFiles(std::vector<std::string> args, InputFormat format, bool recursive)
    : m_args(std::move(args)), m_format(format), m_recursive(recursive)
{
}

bool BatchFiles::NextArgument(std::string& path, std::string& name, bool& named)
{
    for (;;)
    {
        if (m_readingStdin)
        {
            std::string line;
            if (!std::getline(std::cin, line))
            {
                m_readingStdin = false;
                continue;
            }
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.empty())
                continue;
            const size_t tab = line.find('\t');
            path = line.substr(0, tab);
            name = tab == std::string::npos ? "" : line.substr(tab + 1, line.find('\t', tab + 1) - tab - 1);
            named = !name.empty();
            return true;
        }
        if (m_nextArg == m_args.size())
            return false;
        const std::string& arg = m_args[m_nextArg++];
        if (arg == "-")
        {
            m_readingStdin = true;
            continue;
        }
        path = arg;
        named = false;
        return true;
    }
}

bool BatchFiles::Next(BatchFile& file)
{
    for (;;)
    {
        if (!m_files.empty())
        {
            // Told from an mbox only now, so that a large directory costs no wait up front.
            file = std::move(m_files.front().first);
            if (m_files.front().second)
                file = Classify(file.path, file.name);
            m_files.pop_front();
            return true;
        }
        if (!m_directories.empty())
        {
            const Directory directory = std::move(m_directories.back());
            m_directories.pop_back();
            List(directory, false);
            continue;
        }
        std::string path, name;
        bool named = false;
        if (!NextArgument(path, name, named))
            return false;
        if (named && !StaysBelow(name))
        {
            file = BatchFile{path, name, false, CME_INVALID_PARAMETER,
                             "the output name '" + name + "' does not stay below DIR"};
            return true;
        }
        if (IsDirectory(path))
        {
            m_seen.clear();
            List({path, named ? name : ""}, true);
            continue;
        }
        file = Classify(path, named ? name : BaseName(path));
        return true;
    }
}

BatchFile BatchFiles::Classify(const std::string& path, const std::string& name) const
{
    const bool mbox = m_format == InputFormat::kMbox || (m_format == InputFormat::kAuto && StartsWithFromLine(path));
    return BatchFile{path, name, mbox, CME_SUCCESS, ""};
}

void BatchFiles::List(const Directory& directory, bool given)
{
    FileKey key;
    if (GetFileKey(directory.path, key) && !m_seen.insert(key).second)
        return; // reached again, through a bind mount or a junction: read once
    std::string error;
    std::vector<std::string> subdirectories;
    const std::string cur = Join(directory.path, "cur");
    const std::string fresh = Join(directory.path, "new");
    const bool hasCur = m_format != InputFormat::kFile && IsDirectory(cur);
    const bool hasNew = m_format != InputFormat::kFile && IsDirectory(fresh);
    const bool forced = given && m_format == InputFormat::kMaildir;
    if (forced && !hasCur && !hasNew)
    {
        m_files.push_back(
            {{directory.path, directory.name, false, CME_INVALID_PARAMETER, "not a Maildir: it has no cur/ or new/"},
             false});
        return;
    }
    if ((hasCur && hasNew) || forced)
    {
        // A Maildir: its messages are in new/, then cur/; tmp/ holds deliveries under way.
        for (const char* part : {"new", "cur"})
        {
            std::vector<std::string> files;
            const std::string dir = Join(directory.path, part);
            if (!IsDirectory(dir))
                continue;
            if (!ListDirectory(dir, &files, nullptr, error))
                m_files.push_back({{dir, Join(directory.name, part), false, CME_FILE_ERROR, error}, false});
            for (const std::string& leaf : files)
                m_files.push_back(
                    {{Join(dir, leaf), Join(Join(directory.name, part), leaf), false, CME_SUCCESS, ""}, false});
        }
        if (m_recursive && !ListDirectory(directory.path, nullptr, &subdirectories, error))
            m_files.push_back({{directory.path, directory.name, false, CME_FILE_ERROR, error}, false});
        subdirectories.erase(
            std::remove_if(subdirectories.begin(), subdirectories.end(),
                           [](const std::string& leaf) { return leaf == "cur" || leaf == "new" || leaf == "tmp"; }),
            subdirectories.end());
    }
    else
    {
        std::vector<std::string> files;
        if (!ListDirectory(directory.path, &files, m_recursive ? &subdirectories : nullptr, error))
            m_files.push_back({{directory.path, directory.name, false, CME_FILE_ERROR, error}, false});
        for (const std::string& leaf : files)
            m_files.push_back({{Join(directory.path, leaf), Join(directory.name, leaf), false, CME_SUCCESS, ""}, true});
    }
    for (auto it = subdirectories.rbegin(); it != subdirectories.rend(); ++it)
        m_directories.push_back({Join(directory.path, *it), Join(directory.name, *it)});
}

bool SplitMbox(MboxSplit& state, const char*& p, const char* end, std::string& out)
{
    using Line = MboxSplit::Line;
    auto giveHeldLine = [&] {
        out += state.emptyLine;
        state.emptyLine.clear();
    };
    auto startText = [&] {
        state.cr = state.quoted = false;
        state.matched = 0;
        state.line = Line::kText;
    };
    while (p < end)
    {
        if (state.line != Line::kStart)
        {
            const char* newline = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            const char* stop = newline != nullptr ? newline + 1 : end;
            if (state.line == Line::kText)
                out.append(p, stop);
            p = stop;
            if (newline != nullptr)
                state.line = Line::kStart;
            continue;
        }
        const char c = *p;
        if (state.cr)
        {
            if (c == '\n')
            {
                // An empty CR LF line: held back until a line follows in the same message.
                giveHeldLine();
                state.emptyLine = "\r\n";
                state.cr = false;
                ++p;
                continue;
            }
            giveHeldLine();
            out += '\r';
            startText();
            continue;
        }
        const bool fresh = !state.quoted && state.matched == 0;
        if (fresh && (c == '\n' || c == '\r' || c == '>'))
        {
            if (c == '\n')
            {
                giveHeldLine();
                state.emptyLine = "\n";
            }
            else if (c == '\r')
                state.cr = true;
            else
            {
                giveHeldLine();
                state.quoted = true;
            }
            ++p;
            continue;
        }
        if (state.quoted && state.matched == 0 && c == '>')
        {
            out += '>'; // one '>' of the run is held; which one does not matter
            ++p;
            continue;
        }
        if (c == kFrom[state.matched])
        {
            ++p;
            if (++state.matched < kFromSize)
                continue;
            if (!state.quoted)
            {
                // A From line: the message ends, without the empty line that separated it.
                state.emptyLine.clear();
                state.matched = 0;
                state.line = Line::kFromLine;
                return true;
            }
            out.append(kFrom, kFromSize); // the held '>' is the one dropped
            startText();
            continue;
        }
        if (!state.quoted)
            giveHeldLine();
        out.append(state.quoted ? ">" : "");
        out.append(kFrom, state.matched);
        startText();
    }
    return false;
}

void FinishMbox(MboxSplit& state, std::string& out)
{
    if (state.line == MboxSplit::Line::kStart && (state.cr || state.quoted || state.matched > 0))
    {
        if (!state.quoted)
            out += state.emptyLine;
        out.append(state.cr ? "\r" : state.quoted ? ">" : "");
        out.append(kFrom, state.matched);
    }
    state = MboxSplit{};
}

// Splits one mbox into staged copies of its messages, one message per call.
class MboxReader
{
public:
    MboxReader(const BatchFile& file, const std::string& stagingPrefix, size_t readSize)
        : m_file(file), m_stagingPrefix(stagingPrefix), m_buffer(readSize)
    {
        m_in = std::fopen(file.path.c_str(), "rb");
        m_openError = errno;
    }
    ~MboxReader()
    {
        if (m_in != nullptr)
            std::fclose(m_in);
    }
    MboxReader(const MboxReader&) = delete;
    MboxReader& operator=(const MboxReader&) = delete;

    // The next message, or the failure that ends the mbox; false after the last one.
    bool Next(BatchItem& item)
    {
        if (m_done)
            return false;
        item.message = m_file.path;
        item.index = ++m_count;
        item.name = m_file.name + "." + std::to_string(m_count);
        if (m_in == nullptr)
            return Fail(item, CME_FILE_ERROR, std::string("cannot open it: ") + std::strerror(m_openError));
        if (m_count == 1)
        {
            char head[kFromSize];
            m_offset = std::fread(head, 1, kFromSize, m_in);
            if (m_offset < kFromSize || std::memcmp(head, kFrom, kFromSize) != 0)
                return Fail(item, CME_FAILURE, "not an mbox: the first line does not start with \"From \"");
        }
        const std::string staged = m_stagingPrefix + std::to_string(m_count);
        std::FILE* out = std::fopen(staged.c_str(), "wb");
        if (out == nullptr)
            return Fail(item, CME_OUTPUT_FILE_ERROR, "cannot stage it as '" + staged + "': " + std::strerror(errno));
        std::string text;
        std::string error;
        bool written = true;
        for (bool ended = false; !ended && written;)
        {
            if (m_p == m_end && !Fill(error))
            {
                FinishMbox(m_state, text);
                m_done = true;
                ended = true;
            }
            else
                ended = SplitMbox(m_state, m_p, m_end, text);
            if (ended || text.size() >= m_buffer.size())
            {
                written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
                text.clear();
            }
        }
        if (std::fclose(out) != 0 || !written)
        {
            std::remove(staged.c_str());
            return Fail(item, CME_OUTPUT_FILE_ERROR, "cannot stage it as '" + staged + "': " + std::strerror(errno));
        }
        if (!error.empty())
        {
            std::remove(staged.c_str());
            return Fail(item, m_readFailed ? CME_FILE_ERROR : CME_FAILURE, error);
        }
        item.source = staged;
        item.staged = true;
        return true;
    }

private:
    bool Fail(BatchItem& item, unsigned int rc, const std::string& reason)
    {
        item.failure = rc;
        item.failureReason = reason;
        m_done = true;
        return true;
    }

    // Reads the next piece of the mbox; false at its end, or with a message in error at a NUL
    // byte (the bytes before it are handed out first) or a read error.
    bool Fill(std::string& error)
    {
        if (m_nulAt != 0)
        {
            error = "not an mbox: a NUL byte at offset " + std::to_string(m_nulAt);
            return false;
        }
        const size_t got = std::fread(m_buffer.data(), 1, m_buffer.size(), m_in);
        if (got == 0)
        {
            m_readFailed = std::ferror(m_in) != 0;
            if (m_readFailed)
                error = std::string("cannot read it: ") + std::strerror(errno);
            return false;
        }
        m_p = m_buffer.data();
        m_end = m_p + got;
        if (const void* nul = std::memchr(m_p, '\0', got))
        {
            m_end = static_cast<const char*>(nul);
            m_nulAt = m_offset + static_cast<unsigned long long>(m_end - m_p);
        }
        m_offset += got;
        return m_p != m_end || Fill(error);
    }

    const BatchFile m_file;
    const std::string m_stagingPrefix;
    std::vector<char> m_buffer;
    std::FILE* m_in = nullptr;
    int m_openError = 0;
    const char* m_p = nullptr;
    const char* m_end = nullptr;
    unsigned long long m_offset = 0; // bytes read from the file so far
    unsigned long long m_nulAt = 0;  // the offset of a NUL byte in the buffer, or 0
    bool m_readFailed = false;
    MboxSplit m_state;
    unsigned long m_count = 0;
    bool m_done = false;
};

ArchiveSource::ArchiveSource(BatchFiles& files, size_t readSize) : m_files(files), m_readSize(readSize) {}

ArchiveSource::~ArchiveSource() = default;

bool ArchiveSource::Next(BatchItem& item)
{
    for (;;)
    {
        if (m_mbox != nullptr && m_mbox->Next(item))
            return true;
        m_mbox.reset();
        BatchFile file;
        if (!m_files.Next(file))
            return false;
        item.message = file.path;
        item.name = file.name;
        if (file.failure != CME_SUCCESS)
        {
            item.failure = file.failure;
            item.failureReason = file.reason;
            return true;
        }
        if (!file.mbox)
        {
            item.source = file.path;
            return true;
        }
        std::string error;
        if (m_staging.Path().empty() && !m_staging.Create(error))
        {
            item.index = 1;
            item.failure = CME_OUTPUT_FILE_ERROR;
            item.failureReason = error;
            return true;
        }
        // Staged copies are named after the mbox's number in the batch and their own.
        const std::string prefix = m_staging.Path() + "/" + std::to_string(++m_mboxes) + ".";
        m_mbox = std::make_unique<MboxReader>(file, prefix, m_readSize);
    }
}

} // namespace cli
