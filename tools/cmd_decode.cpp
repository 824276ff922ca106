// mimeengine decode: the flat decoding path. Prints the main text and saves the attachments
// without ever overwriting a file.
#include "cli.h"
#include "mimeengine/mimeengine.h"
#include "portability.h"
#include "textfiles.h"
#include "wholefiles.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
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

// The part whose text the flat decoding functions return, chosen as they choose it: the
// first text child of a multipart/alternative that is the root's first child; else that
// first child, or the root itself, when it is text and not an attachment. Null for none.
COutputBlock* TextPart(COutputBlock* root)
{
    auto isBodyText = [](const COutputBlock* block) {
        return block->GetContentType() == CMIMEPart::CONTENT_TEXT &&
               block->GetDisposition() != CMIMEPart::DISPOSE_ATTACHMENT;
    };
    if (root->GetContentType() != CMIMEPart::CONTENT_MULTIPART)
        return isBodyText(root) ? root : nullptr;
    CObList* children = root->GetChildBlockList();
    if (children == nullptr || children->IsEmpty())
        return nullptr;
    auto* first = static_cast<COutputBlock*>(children->GetHead());
    if (first->GetContentType() != CMIMEPart::CONTENT_MULTIPART ||
        std::strcmp(first->GetSubTypeString(), "alternative"))
        return isBodyText(first) ? first : nullptr;
    if (CObList* alternatives = first->GetChildBlockList())
        for (POSITION pos = alternatives->GetHeadPosition(); pos != nullptr;)
        {
            auto* candidate = static_cast<COutputBlock*>(alternatives->GetNext(pos));
            if (candidate->GetContentType() == CMIMEPart::CONTENT_TEXT)
                return candidate;
        }
    return nullptr;
}

// The charset of the part that holds the main text, found by unpacking the message once
// more into a scratch directory of its own: the flat functions return the text only.
// US-ASCII for a part that names none; empty when the message yields no text part.
std::string TextCharset(const std::string& message, bool bodyOnly)
{
    WorkDirectory scratch;
    std::string error;
    if (!scratch.Create(error))
        return "";
    CMIMEEngine engine;
    CString source(message.c_str());
    _CME_RC rc = CME_SUCCESS;
    COutputBlock* root = bodyOnly ? engine.UnpackBody(source, scratch.Path().c_str(), TRUE, rc)
                                  : engine.Unpack(source, scratch.Path().c_str(), TRUE, rc);
    std::string charset;
    if (COutputBlock* part = root != nullptr ? TextPart(root) : nullptr)
        charset = part->GetCharSetName()[0] != '\0' ? part->GetCharSetName() : "US-ASCII";
    engine.FreeBlocks(root);
    return charset;
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
    size_t dot = name.find_last_of('.');
    std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    std::string ext = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
    for (int n = 1; ok && n < 100000; ++n)
    {
        made = dir + "/" + (n == 1 ? name : stem + "-" + std::to_string(n) + ext);
        if (temporary.PutInPlace(made, false, error))
            return true;
        if (errno != EEXIST)
            return false;
    }
    if (ok)
        error = "no free name for '" + name + "' in " + dir;
    return false;
}

} // namespace

int RunDecode(const std::vector<std::string>& args)
{
    ParsedArgs parsed;
    std::string error;
    if (!ParseArgs(args, {{"--dir", "-d", true}, {"--body-only", "", false}, {"--raw", "", false}}, parsed, error))
    {
        PrintError("decode", error + " (see 'mimeengine decode --help')");
        return kUsageError;
    }
    if (parsed.Has("--help"))
    {
        std::fputs(kHelp, stdout);
        return 0;
    }
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
    // The flat functions answer only TRUE or FALSE; a file that cannot be read is told
    // apart here so that the error says what is wrong.
    int probe = ::open(message.c_str(), O_RDONLY | kOpenFlags);
    if (probe < 0)
    {
        PrintError("decode", "'" + message + "' cannot be opened: " + std::strerror(errno));
        return CME_FILE_ERROR;
    }
    ::close(probe);

    // The library's work directory goes into a private one of the program (through TMPDIR),
    // so that an interrupt removes it with the attachment being saved.
    WorkDirectory work;
    if (!work.Create(error))
    {
        PrintError("decode", error);
        return CME_OUTPUT_FILE_ERROR;
    }
    GuardInterrupts({work.Path()});
    SetTemporaryDirectory(work.Path());

    char* text = nullptr;
    unsigned long count = 0;
    char** list = nullptr;
    int ok = parsed.Has("--body-only") ? DecodeNetscapeMessage(message.c_str(), &text, &count, &list)
                                       : DecodeMimeMessage(message.c_str(), &text, &count, &list);
    if (!ok)
    {
        PrintError("decode", "'" + message + "' could not be decoded");
        return CME_FAILURE;
    }
    std::string printed = text;
    FreeMimeMsgText(&text);
    if (!parsed.Has("--raw") && !printed.empty())
    {
        const std::string charset = TextCharset(message, parsed.Has("--body-only"));
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

    int status = 0;
    for (unsigned long i = 0; i < count; ++i)
    {
        std::string made;
        if (SaveAttachment(list[i], dir, made, error))
        {
            std::fprintf(stderr, "mimeengine decode: wrote %s\n", made.c_str());
        }
        else
        {
            PrintError("decode", error);
            status = CME_OUTPUT_FILE_ERROR;
        }
    }
    FreeMimeAttachmentList(count, &list);
    return status;
}

} // namespace cli
