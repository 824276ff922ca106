#include "support/testsupport.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <sstream>
#include <stdexcept>
#if defined(_WIN32)
#include <random>
#include <windows.h>

// psapi.h needs the types of windows.h.
#define PSAPI_VERSION 2
#include <psapi.h>
#else
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace testsupport
{

std::string Join(const std::string& directory, const std::string& name)
{
    return directory + kSeparator + name;
}

#if defined(_WIN32)

int SetEnv(const std::string& name, const char* value)
{
    // An empty value removes the variable on Windows.
    return _putenv_s(name.c_str(), value != nullptr ? value : "");
}

bool MakeSymlink(const std::string&, const std::string&)
{
    return false;
}

long PeakMemoryKiB()
{
    PROCESS_MEMORY_COUNTERS counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return static_cast<long>(counters.PeakWorkingSetSize / 1024);
}

// Makes path and its missing parents by the narrow calls the library uses, so that a name
// that is no valid UTF-8 keeps its bytes.
void MakeDirectories(const std::string& path)
{
    for (size_t at = path.find_first_of("/\\", 3);; at = path.find_first_of("/\\", at + 1))
    {
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
        if (at == std::string::npos)
            return;
    }
}

// The entries below directory (prefix + name), listed by the same narrow calls the library
// uses, so that names come back in the same bytes.
void ListNames(const std::string& directory, const std::string& prefix, std::vector<std::string>& names)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((directory + "\\*").c_str(), &entry);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileA(find, &entry))
    {
        const std::string name = entry.cFileName;
        if (name == "." || name == "..")
            continue;
        names.push_back(prefix + name);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListNames(directory + "\\" + name, prefix + name + "/", names);
    }
    if (find != INVALID_HANDLE_VALUE)
        FindClose(find);
}

// Windows has no mkdtemp: random names are tried until a new directory is made.
ScratchDir::ScratchDir()
{
    std::random_device seed;
    for (int attempt = 0; attempt < 100 && m_path.empty(); ++attempt)
    {
        const fs::path candidate = fs::temp_directory_path() / ("mimeengine-test-" + std::to_string(seed()));
        std::error_code ec;
        if (fs::create_directory(candidate, ec))
            m_path = candidate.string();
    }
    if (m_path.empty())
        throw std::runtime_error("cannot create scratch directory");
}

#else

int SetEnv(const std::string& name, const char* value)
{
    return value != nullptr ? setenv(name.c_str(), value, 1) : unsetenv(name.c_str());
}

void MakeDirectories(const std::string& path)
{
    fs::create_directories(path);
}

void ListNames(const std::string& directory, const std::string& prefix, std::vector<std::string>& names)
{
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(directory, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        names.push_back(prefix + fs::relative(it->path(), directory).generic_string());
}

bool MakeSymlink(const std::string& target, const std::string& link)
{
    return symlink(target.c_str(), link.c_str()) == 0;
}

long PeakMemoryKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

ScratchDir::ScratchDir()
{
    std::string pattern = (fs::temp_directory_path() / "mimeengine-test-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr)
        throw std::runtime_error("cannot create scratch directory");
    m_path = buf.data();
}

#endif

ScratchDir::~ScratchDir()
{
    if (std::getenv("MIMEENGINE_KEEP_TEST_DIRS") == nullptr)
    {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
}

std::string ScratchDir::file(const std::string& name) const
{
    return Join(m_path, name);
}

std::string ScratchDir::mkdir(const std::string& relative) const
{
    std::string p = file(relative);
    MakeDirectories(p);
    return p;
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot write " + path);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool Exists(const std::string& path)
{
    std::error_code ec;
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found && !ec;
}

std::string ListTree(const std::string& root)
{
    std::vector<std::string> names;
    ListNames(root, "", names);
    std::sort(names.begin(), names.end());
    std::string out;
    for (const auto& n : names)
        out += n + "\n";
    return out;
}

std::string AllBytes()
{
    std::string s;
    for (int i = 0; i < 256; ++i)
        s.push_back(static_cast<char>(i));
    return s;
}

std::string Crlf(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += text[i];
    }
    return out;
}

// The bytes that have a letter escape, and their letters; NUL is written as \x00.
const std::string kEscaped("\\\r\n\t\0", 5), kLetters = "\\rnt0";

std::string Unescape(const std::string& cell)
{
    std::string out;
    for (size_t i = 0; i < cell.size(); ++i)
    {
        const bool escaped = cell[i] == '\\' && i + 1 < cell.size();
        const size_t k = escaped ? kLetters.find(cell[++i]) : std::string::npos;
        if (escaped && cell[i] == 'x')
            out += static_cast<char>(std::stoi(cell.substr(i + 1, 2), nullptr, 16)), i += 2;
        else
            out += k == std::string::npos ? cell[i] : kEscaped[k];
    }
    return out;
}

std::string Escape(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes)
    {
        const size_t k = kEscaped.find(static_cast<char>(c));
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        out += k < 4                   ? std::string{'\\', kLetters[k]}
               : c >= 0x20 && c < 0x7f ? std::string(1, static_cast<char>(c))
                                       : hex;
    }
    return out;
}

std::string DataPath(const std::string& relative)
{
    return std::string(MIMEENGINE_TEST_DATA_DIR) + "/" + relative;
}

const std::string& Row::operator[](size_t i) const
{
    static const std::string empty;
    return i < cells.size() ? cells[i] : empty;
}

std::string Expand(std::string cell)
{
    static const std::regex repeat(R"(\{(\d+)\*([^}]*)\}|\{all\}|\{sep\})");
    for (std::smatch m; std::regex_search(cell, m, repeat);)
    {
        std::string text = m[1].matched ? "" : m.str(0) == "{sep}" ? std::string(1, kSeparator) : AllBytes();
        for (int i = m[1].matched ? std::stoi(m[1]) : 0; i > 0; --i)
            text += m[2].str();
        cell.replace(static_cast<size_t>(m.position(0)), static_cast<size_t>(m.length(0)), text);
    }
    return cell;
}

std::vector<Row> ReadTable(const std::string& relative)
{
    std::istringstream in(ReadFile(DataPath(relative)));
    std::vector<Row> rows;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number)
    {
        if (line.empty() || line[0] == '#')
            continue;
        Row row;
        row.table = relative;
        row.line = number;
        for (size_t start = 0;;)
        {
            size_t tab = line.find('\t', start);
            row.cells.push_back(Expand(Unescape(line.substr(start, tab - start))));
            if (tab == std::string::npos)
                break;
            start = tab + 1;
        }
        rows.push_back(row);
    }
    return rows;
}

void PrintTo(const Row& row, std::ostream* out)
{
    *out << row.table << ":" << row.line;
}

std::string Identifier(const std::string& text)
{
    std::string out;
    for (char c : text)
        if (std::isalnum(static_cast<unsigned char>(c)) || (!out.empty() && out.back() != '_'))
            out += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    out = out.substr(0, 40);
    return out.erase(out.find_last_not_of('_') + 1);
}

std::string CaseName::operator()(const ::testing::TestParamInfo<Row>& info) const
{
    const std::string label = Identifier(info.param[0]);
    return "L" + std::to_string(info.param.line) + (label.empty() ? "" : "_" + label);
}

std::string CaseName::operator()(const ::testing::TestParamInfo<std::string>& info) const
{
    return Identifier(info.param);
}

std::vector<Row> FirstOfEach(const std::vector<Row>& rows, size_t column)
{
    std::vector<Row> firsts;
    for (const Row& row : rows)
        if (firsts.empty() || firsts.back()[column] != row[column])
            firsts.push_back(row);
    return firsts;
}

void ExpectGolden(const std::string& relative, const std::string& actual)
{
    const std::string path = DataPath(relative);
    const bool regen = std::getenv("MIMEENGINE_REGEN") != nullptr, missing = !Exists(path);
    if (regen || missing)
        WriteFile(missing && !regen ? path + ".actual" : path, actual);
    if (missing && !regen)
        ADD_FAILURE() << "no golden file " << relative << "; wrote " << relative << ".actual";
    else
        EXPECT_EQ(ReadFile(path), actual) << "golden file " << relative;
}

namespace
{

std::string SectionKey(const Row& row, int column)
{
    return column < 0 ? "line " + std::to_string(row.line) + ":" : row[static_cast<size_t>(column)] + ":";
}

} // namespace

void ExpectGoldenSection(const std::string& relative, const Row& row, const std::string& actual, int keyColumn)
{
    const std::string path = DataPath(relative), key = SectionKey(row, keyColumn);
    std::vector<std::string> keys; // of the table's rows, in its order
    for (const Row& other : ReadTable(row.table))
        if (std::find(keys.begin(), keys.end(), SectionKey(other, keyColumn)) == keys.end())
            keys.push_back(SectionKey(other, keyColumn));
    // A line that is not indented goes to the key it begins with (to none: dropped), and the
    // indented lines after it with it.
    std::map<std::string, std::string> sections;
    std::istringstream in(Exists(path) ? ReadFile(path) : "");
    std::string* section = nullptr;
    for (std::string line; std::getline(in, line);)
    {
        if (line.empty() || line[0] != ' ')
        {
            auto owner =
                std::find_if(keys.begin(), keys.end(), [&](const std::string& k) { return line.rfind(k, 0) == 0; });
            section = owner != keys.end() ? &sections[*owner] : nullptr;
        }
        if (section != nullptr)
            *section += line + "\n";
    }
    if (std::getenv("MIMEENGINE_REGEN") != nullptr)
    {
        sections[key] = actual;
        std::string all;
        for (const std::string& k : keys)
            all += sections[k];
        WriteFile(path, all);
    }
    EXPECT_EQ(sections[key], actual) << "section \"" << key << "\" of golden file " << relative
                                     << " (MIMEENGINE_REGEN=1 rewrites it)";
}

std::vector<COutputBlock*> Children(const CBlock* block)
{
    std::vector<COutputBlock*> out;
    if (CObList* list = block->GetChildBlockList())
        for (POSITION pos = list->GetHeadPosition(); pos != nullptr;)
            out.push_back(static_cast<COutputBlock*>(list->GetNext(pos)));
    return out;
}

namespace
{

void DumpBlock(std::ostringstream& out, const COutputBlock* b, const std::string& work, int depth)
{
    const std::string indent(static_cast<size_t>(depth) * 2, ' ');
    unsigned int type = b->GetContentType(), enc = b->GetEncodeType();
    out << indent << (type <= 7 ? szContType[type] : "?") << "/" << b->GetSubTypeString();
    if (b->GetSubTypeIndex() != 0)
        out << " #" << b->GetSubTypeIndex();
    out << " " << (enc <= 7 ? szEncodeType[enc] : std::to_string(enc).c_str());
    static const char* const disposition[] = {"", " inline", " attachment"};
    if (b->GetDisposition() <= 2)
        out << disposition[b->GetDisposition()];
    auto field = [&out](const char* name, const char* value) {
        if (value[0] != '\0')
            out << " " << name << "=\"" << Escape(value) << "\"";
    };
    field("charset", b->GetCharSetName());
    if (b->GetCharType() != 0)
        out << " chartype=" << b->GetCharType();
    field("name", b->GetSuggestName());
    field("orig", fs::path(b->GetOrigFileName()).filename().string().c_str());
    field("boundary", b->GetBoundary());
    field("id", b->GetContentId());
    field("desc", b->GetContentDesc());
    field("params", b->GetParameters());
    field("ext-name", b->GetExternalName());
    field("ext-site", b->GetExternalSite());
    if (b->GetAccessType() != 0)
        out << " access=" << b->GetAccessType();
    if (b->GetPartialPart() != 0 || b->GetPartialTotal() != 0)
        out << " partial=" << b->GetPartialPart() << "/" << b->GetPartialTotal();
    if (b->GetHeaderFile()[0] != '\0')
        out << " hdr";
    out << "\n";
    if (b->GetDataFile()[0] != '\0')
    {
        std::string data = b->GetDataFile();
        if (data.compare(0, work.size(), work) == 0)
            data = data.substr(work.size() + (data.size() > work.size() && data[work.size()] == kSeparator ? 1 : 0));
        out << indent << "  data " << data << ": "
            << (Exists(b->GetDataFile()) ? "\"" + Escape(ReadFile(b->GetDataFile())) + "\"\n" : "(no file)\n");
    }
    for (const COutputBlock* child : Children(b))
        DumpBlock(out, child, work, depth + 1);
}

} // namespace

std::string DumpTree(const COutputBlock* root, const std::string& workDir)
{
    std::ostringstream out;
    if (root != nullptr)
        DumpBlock(out, root, workDir, 0);
    return out.str();
}

void TreeDeleter::operator()(COutputBlock* root) const
{
    CMIMEEngine engine;
    engine.FreeBlocks(root);
}

Parse::Parse(const std::string& message, BOOL extract, bool bodyOnly, int maxParts)
{
    work = scratch.mkdir("work");
    source = scratch.file("message.eml");
    WriteFile(source, message);
    // A fixed clock gives the same work-file names on every run.
    const CTime fixed(2001, 2, 3, 4, 5, 6);
    CTime::SetCurrentTimeForTesting(&fixed);
    CUnpacker unpacker;
    if (maxParts > 0)
        unpacker.m_nMaxParts = maxParts;
    CString path(source.c_str());
    CString error;
    root.reset(bodyOnly ? unpacker.UnpackBody(path, work.c_str(), extract, &rc, error)
                        : unpacker.Unpack(path, work.c_str(), extract, &rc, error));
    CTime::SetCurrentTimeForTesting(nullptr);
}

std::string Parse::Dump() const
{
    return "rc " + std::to_string(rc) + "\n" + DumpTree(root.get(), work);
}

} // namespace testsupport
