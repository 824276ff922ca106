// Line ends and charsets of the texts the program hands to and takes from the library.
#include "textfiles.h"

#include "cli.h"
#include "portability.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#if MIMEENGINE_HAVE_ICONV
#include <iconv.h>
#include <langinfo.h>
#include <strings.h>
#endif

namespace cli
{
namespace
{

constexpr size_t kChunk = 65536;

// What a file holds, found in one pass.
enum class Scan
{
    kUnreadable,
    kBinary,      // a NUL byte
    kCanonical,   // no LF without CR before it
    kUnixLineEnds // at least one LF without CR before it
};

Scan ScanFile(const std::string& path)
{
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr)
        return Scan::kUnreadable;
    std::vector<char> buffer(kChunk);
    Scan result = Scan::kCanonical;
    char previous = '\0';
    size_t got;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), in)) > 0)
    {
        for (size_t i = 0; i < got; ++i)
        {
            if (buffer[i] == '\0')
            {
                std::fclose(in);
                return Scan::kBinary;
            }
            if (buffer[i] == '\n' && previous != '\r')
                result = Scan::kUnixLineEnds;
            previous = buffer[i];
        }
    }
    const bool failed = std::ferror(in) != 0;
    std::fclose(in);
    return failed ? Scan::kUnreadable : result;
}

// Copies source to target with CR put before every LF that has none.
bool CopyWithCrLf(const std::string& source, const std::string& target, std::string& error)
{
    std::FILE* in = std::fopen(source.c_str(), "rb");
    if (in == nullptr)
    {
        error = "cannot read '" + source + "': " + std::strerror(errno);
        return false;
    }
    std::FILE* out = std::fopen(target.c_str(), "wbx");
    if (out == nullptr)
    {
        error = "cannot write '" + target + "': " + std::strerror(errno);
        std::fclose(in);
        return false;
    }
    std::vector<char> buffer(kChunk);
    std::string converted;
    char previous = '\0';
    size_t got;
    bool written = true;
    while (written && (got = std::fread(buffer.data(), 1, buffer.size(), in)) > 0)
    {
        converted.clear();
        for (size_t i = 0; i < got; ++i)
        {
            if (buffer[i] == '\n' && previous != '\r')
                converted += '\r';
            converted += buffer[i];
            previous = buffer[i];
        }
        written = std::fwrite(converted.data(), 1, converted.size(), out) == converted.size();
    }
    const bool readFailed = std::ferror(in) != 0;
    std::fclose(in);
    written = std::fclose(out) == 0 && written;
    if (readFailed)
        error = "cannot read '" + source + "'";
    else if (!written)
        error = "cannot write '" + target + "': " + std::strerror(errno);
    return !readFailed && written;
}

// Where the work directory goes: TMPDIR, else /tmp; on Windows the system's temporary
// directory (TMP, TEMP or the profile's).
std::string TemporaryDirectory()
{
#if defined(_WIN32)
    std::error_code ec;
    const std::string system = std::filesystem::temp_directory_path(ec).string();
    return ec ? "." : system;
#else
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp";
#endif
}

} // namespace

WorkDirectory::~WorkDirectory()
{
    if (m_path.empty())
        return;
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

bool WorkDirectory::Create(std::string& error)
{
    const std::string pattern = TemporaryDirectory() + "/mimeengine.XXXXXX";
    m_path = MakeTemporaryDirectory(pattern);
    if (m_path.empty())
        error = "cannot make a work directory from '" + pattern + "': " + std::strerror(errno);
    return !m_path.empty();
}

std::string WorkDirectory::NewSubdirectory(std::string& error)
{
    std::string made = m_path + "/" + std::to_string(++m_subdirectories);
    if (MakeDirectory(made, 0700) != 0)
    {
        error = "cannot make '" + made + "': " + std::strerror(errno);
        return "";
    }
    return made;
}

std::string WithCrLfLineEnds(WorkDirectory& work, const std::string& path, std::string& error)
{
    if (ScanFile(path) != Scan::kUnixLineEnds)
        return path;
    std::string directory = work.NewSubdirectory(error);
    if (directory.empty())
        return "";
    std::string copy = directory + "/" + BaseName(path);
    return CopyWithCrLf(path, copy, error) ? copy : "";
}

std::string WriteWorkFile(WorkDirectory& work, const std::string& name, const std::string& content, std::string& error)
{
    std::string directory = work.NewSubdirectory(error);
    if (directory.empty())
        return "";
    std::string path = directory + "/" + name;
    std::FILE* out = std::fopen(path.c_str(), "wbx");
    bool ok = out != nullptr && std::fwrite(content.data(), 1, content.size(), out) == content.size();
    if (out != nullptr && std::fclose(out) != 0)
        ok = false;
    if (!ok)
    {
        error = "cannot write '" + path + "': " + std::strerror(errno);
        return "";
    }
    return path;
}

std::string WithSystemLineEnds(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out += text[i];
    return out;
}

#if MIMEENGINE_HAVE_ICONV

bool ToLocaleCharset(const std::string& text, const std::string& charset, std::string& out)
{
    const char* target = nl_langinfo(CODESET);
    iconv_t converter = iconv_open(target, charset.c_str());
    if (converter == reinterpret_cast<iconv_t>(-1))
        return false;
    const bool utf8 = strcasecmp(target, "UTF-8") == 0 || strcasecmp(target, "UTF8") == 0;
    const std::string replacement = utf8 ? "\xEF\xBF\xBD" : "?";

    std::string result;
    std::vector<char> buffer(kChunk);
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    while (inLeft > 0)
    {
        char* put = buffer.data();
        size_t putLeft = buffer.size();
        const size_t done = iconv(converter, &in, &inLeft, &put, &putLeft);
        const int failure = errno;
        result.append(buffer.data(), buffer.size() - putLeft);
        if (done != static_cast<size_t>(-1) || failure == E2BIG)
            continue;
        // EILSEQ (a byte that is not of the charset, or a character the target lacks) or
        // EINVAL (a sequence cut off at the end): one replacement, one byte skipped.
        result += replacement;
        ++in;
        --inLeft;
    }
    // A stateful target charset may still have to return to its initial state.
    for (;;)
    {
        char* put = buffer.data();
        size_t putLeft = buffer.size();
        const size_t done = iconv(converter, nullptr, nullptr, &put, &putLeft);
        const int failure = errno;
        result.append(buffer.data(), buffer.size() - putLeft);
        if (done != static_cast<size_t>(-1) || failure != E2BIG)
            break;
    }
    iconv_close(converter);
    out = std::move(result);
    return true;
}

#else

bool ToLocaleCharset(const std::string&, const std::string&, std::string&)
{
    return false;
}

#endif

} // namespace cli
