// mimeengine decode: the flat decoding functions' choice of text and attachments. Prints the
// main text and saves the attachments without ever overwriting a file.
#include "../api/textpart.h"
#include "cli.h"
#include "mimeengine/mimeengine.h"
#include "portability.h"
#include "textfiles.h"
#include "wholefiles.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace cli
{
namespace
{

const char kHelp[] = "Usage: mimeengine decode MESSAGE [--body-only] [--raw] [-d DIR]\n"
                     "\n"
                     "Prints the main text of MESSAGE on stdout and copies each attachment into DIR\n"
                     "(default: the current directory). An existing file is never overwritten: the copy\n"
                     "gets a numbered name (name-2.ext, name-3.ext, ...). Each file written is listed on\n"
                     "stderr.\n"
                     "\n"
                     "  -d, --dir DIR   where attachments go (made when missing)\n"
                     "  --body-only     MESSAGE is a multipart body without a message header; parts\n"
                     "                  marked inline are saved as attachments too\n"
                     "  --raw           print the text's bytes as decoded, CR LF line ends included\n"
                     "\n"
                     "Without --raw the text is printed with the system's line ends (CR LF becomes\n"
                     "LF) and converted from the charset of its part (US-ASCII when the part names\n"
                     "none) into the charset of the locale (LC_ALL, LC_CTYPE, LANG). What cannot be\n"
                     "converted is printed as U+FFFD in a UTF-8 locale and as '?' in others, one\n"
                     "per byte. The saved attachments keep their bytes as decoded.\n";

// The file's bytes up to its first NUL, as the flat decoding functions return a text; false
// when it cannot be read.
bool ReadText(const std::string& path, std::string& text)
{
    std::ifstream in(path, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    text = text.c_str();
    return !in.bad() && in.is_open();
}

// Copies source into dir under its own name, or the first free numbered one (name-2.ext,
// name-3.ext, ...): written whole under a temporary name in dir first and renamed onto a free
// name only then, so that nothing of it is left in dir when it fails. False with a message.
bool SaveAttachment(const std::string& source, const std::string& dir, std::string& made, std::string& error)
{
    int in = ::open(source.c_str(), O_RDONLY | kOpenFlags);
    if (in < 0)
    {
        error = "cannot read '" + source + "': " + std::strerror(errno);
        return false;
    }
    std::string name = BaseName(source);
    if (name.empty())
        name = "attachment";
    TemporaryFile temporary(0);
    int out = -1;
    if (!temporary.Create(dir, error, &out))
    {
        ::close(in);
        return false;
    }
    bool ok = true;
    char buffer[65536];
    for (;;)
    {
        ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got == 0)
            break;
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
        {
            error = "cannot read '" + source + "': " + std::strerror(errno);
            ok = false;
            break;
        }
        for (ssize_t done = 0; done < got;)
        {
            ssize_t put = ::write(out, buffer + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0)
            {
                error = "cannot save '" + name + "' in " + dir + ": " + std::strerror(errno);
                ok = false;
                break;
            }
            done += put;
        }
        if (!ok)
            break;
    }
    ::close(in);
    if (::close(out) != 0 && ok)
    {
        error = "cannot save '" + name + "' in " + dir + ": " + std::strerror(errno);
        ok = false;
    }
    if (!ok)
        return false;
    made = name;
    auto put = [&](const std::string& free) { return temporary.PutInPlace(dir + "/" + free, false, error); };
    const bool taken = TakeFreeName(made, true, 99999, put);
    made = dir + "/" + made;
    if (!taken && errno == EEXIST)
        error = "no free name for '" + name + "' in " + dir;
    return taken;
}

} // namespace

int RunDecode(const std::vector<std::string>& args)
{
    ParsedArgs parsed;
    const int status = ParseCommand("decode", kHelp, args,
                                    {{"--dir", "-d", true}, {"--body-only", "", false}, {"--raw", "", false}}, parsed);
    if (status >= 0)
        return status;
    std::string error;
    if (parsed.positional.size() != 1)
    {
        PrintError("decode", "expects exactly one MESSAGE (see 'mimeengine decode --help')");
        return kUsageError;
    }
    const std::string message = parsed.positional[0];
    const std::string dir = parsed.Value("--dir", ".");

    // A missing directory is made (one level, as mkdir does); anything else in the way is
    // an error.
    struct stat info;
    if (::stat(dir.c_str(), &info) != 0 && errno == ENOENT && MakeDirectory(dir, 0777) == 0)
        std::fprintf(stderr, "mimeengine decode: made directory %s\n", dir.c_str());
    if (::stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
    {
        PrintError("decode", "'" + dir + "' is not a directory");
        return CME_OUTPUT_FILE_ERROR;
    }
    // A message that cannot be read is told apart from one that cannot be parsed, so that
    // the error says what is wrong.
    int probe = ::open(message.c_str(), O_RDONLY | kOpenFlags);
    if (probe < 0)
    {
        PrintError("decode", "'" + message + "' cannot be opened: " + std::strerror(errno));
        return CME_FILE_ERROR;
    }
    ::close(probe);

    // The library's files go into a private directory of the program (its temporary files
    // through TMPDIR), so that an interrupt removes them with the attachment being saved.
    WorkDirectory work;
    if (!work.Create(error))
    {
        PrintError("decode", error);
        return CME_OUTPUT_FILE_ERROR;
    }
    GuardInterrupts({work.Path()});
    SetTemporaryDirectory(work.Path());

    // Parsed once, into a private directory named as the flat decoding functions name theirs,
    // whose choice of text and attachments is taken over whole.
    const bool bodyOnly = parsed.Has("--body-only");
    const std::string parts = MakeTemporaryDirectory(work.Path() + "/mdXXXXXX");
    CMIMEEngine engine;
    COutputBlock* root = nullptr;
    std::string printed;
    std::string charset;
    std::vector<std::string> attachments;
    bool ok = false;
    try
    {
        CString source(message.c_str());
        _CME_RC rc = CME_SUCCESS;
        if (!parts.empty())
            root = bodyOnly ? engine.UnpackBody(source, parts.c_str(), TRUE, rc)
                            : engine.Unpack(source, parts.c_str(), TRUE, rc);
        if (root != nullptr)
        {
            COutputBlock* part = SelectTextPart(root);
            attachments = CollectAttachments(root, bodyOnly);
            ok = part == nullptr || part->GetDataFile()[0] == '\0' || ReadText(part->GetDataFile(), printed);
            // A part that names no charset is US-ASCII.
            if (part != nullptr)
                charset = part->GetCharSetName()[0] != '\0' ? part->GetCharSetName() : "US-ASCII";
        }
    }
    catch (...)
    {
        // A parse that raises fails like one that yields no tree.
        ok = false;
    }
    engine.FreeBlocks(root);
    if (!ok)
    {
        PrintError("decode", "'" + message + "' could not be decoded");
        return CME_FAILURE;
    }
    if (!parsed.Has("--raw") && !printed.empty())
    {
        // Set only now that the library has parsed: the locale decides the printed charset
        // and nothing else.
        std::setlocale(LC_ALL, "");
        std::string converted;
        if (!charset.empty() && ToLocaleCharset(printed, charset, converted))
            printed = converted;
        else if (!charset.empty() && MIMEENGINE_HAVE_ICONV)
            PrintError("decode",
                       "no conversion from " + charset + " to the locale's charset; the text is printed as it is");
        printed = WithSystemLineEnds(printed);
    }
    std::fwrite(printed.data(), 1, printed.size(), stdout);
    std::fflush(stdout);

    int saved = 0;
    for (const std::string& attachment : attachments)
    {
        std::string made;
        if (SaveAttachment(attachment, dir, made, error))
        {
            std::fprintf(stderr, "mimeengine decode: wrote %s\n", made.c_str());
        }
        else
        {
            PrintError("decode", error);
            saved = CME_OUTPUT_FILE_ERROR;
        }
    }
    return saved;
}

} // namespace cli
