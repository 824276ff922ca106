// mimeengine pack: compose a message from files, or from a tree described in JSON.
#include "cli.h"
#include "mimeengine/mimeengine.h"
#include "portability.h"
#include "textfiles.h"
#include "treeoutput.h"
#include "wholefiles.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace cli
{
namespace
{

const char kHelp[] = "Usage: mimeengine pack [-o OUT] [--header FILE] [--text FILE] [--html FILE]\n"
                     "                       [--attach FILE]... [--charset NAME] [--keep-line-ends]\n"
                     "       mimeengine pack [-o OUT] [--keep-line-ends] --tree TREE.json\n"
                     "\n"
                     "Composes a MIME message and prints the path it was written to. Without -o the\n"
                     "message goes to a new .MME file in the temporary directory.\n"
                     "\n"
                     "  -o, --output OUT  the message file to write (replaced when it exists, once the\n"
                     "                    new message is whole)\n"
                     "  --header FILE     header lines (From:, To:, Subject:, ...) for the message\n"
                     "  --text FILE       the text/plain body (quoted-printable)\n"
                     "  --html FILE       a text/html body; with --text both form a multipart/alternative\n"
                     "  --attach FILE     an attachment, its type derived from its name and sent as\n"
                     "                    base64 (quoted-printable for text); repeatable\n"
                     "  --charset NAME    charset parameter of the text and html parts\n"
                     "  --keep-line-ends  pack the files' bytes as they are (see below)\n"
                     "  --tree TREE.json  any tree: each object has content_type (number or name such as\n"
                     "                    \"multipart\"), subtype, encode_type (number or name such as\n"
                     "                    \"base64\"), data_file, header_file, suggest_name, parameters,\n"
                     "                    generate_header (default true) and children (a list). Relative\n"
                     "                    paths are taken from the directory of TREE.json.\n"
                     "\n"
                     "One text part alone is the whole message; anything more is a multipart/mixed.\n"
                     "With --text and --html, the html part is the other form of the text: it has\n"
                     "no file name and no Content-Disposition.\n"
                     "\n"
                     "Line ends: a message has CR LF line ends, Unix text files have LF. The header\n"
                     "files and the text files (--text, --html, attachments whose type is text/*,\n"
                     "text leaves and header files of a tree) are packed from copies in which every\n"
                     "LF not preceded by CR has become CR LF; the copies live in a private directory\n"
                     "of TMPDIR (or /tmp) that is removed afterwards. A file with a NUL byte is packed\n"
                     "as it is. --keep-line-ends turns the conversion off.\n"
                     "\n"
                     "Exit status: 0, 1 for a wrong command line or tree file, else the engine's code.\n";

// A tree file that cannot be used; the message names what is wrong.
struct TreeError
{
    std::string message;
};

// A temporary copy that could not be written.
struct WorkFileError
{
    std::string message;
};

// Gives the engine the text files and header files to pack: CR LF copies in the work
// directory unless the line ends are to be kept.
class TextFiles
{
public:
    TextFiles(WorkDirectory& work, bool keepLineEnds) : m_work(work), m_keep(keepLineEnds) {}

    std::string Prepare(const std::string& path) const
    {
        if (m_keep || path.empty())
            return path;
        std::string error;
        std::string use = WithCrLfLineEnds(m_work, path, error);
        if (use.empty())
            throw WorkFileError{error};
        return use;
    }

    // A header file written by the program, with CR LF line ends whatever the option.
    std::string Write(const std::string& name, const std::string& content) const
    {
        std::string error;
        std::string path = WriteWorkFile(m_work, name, content, error);
        if (path.empty())
            throw WorkFileError{error};
        return path;
    }

private:
    WorkDirectory& m_work;
    bool m_keep;
};

// A charset name fit for a parameter value without quotes: a MIME token.
bool IsToken(const std::string& value)
{
    if (value.empty())
        return false;
    for (unsigned char c : value)
        if (c <= 0x20 || c >= 0x7F || std::strchr("()<>@,;:\\\"/[]?=", c) != nullptr)
            return false;
    return true;
}

// Creates the root when parent is null, else a child of parent. Null on failure, with the
// engine's last error and message set.
CInputBlock* AddPart(CMIMEEngine& engine, CInputBlock* parent, const std::string& dataFile,
                     const std::string& suggestName, CMIMEPart::_CONTENT_TYPE type, CMIMEPart::_ENCODE_TYPE encoding,
                     const std::string& subType, const std::string& headerFile, bool generateHeader,
                     const std::string& parameters)
{
    BOOL generate = generateHeader ? TRUE : FALSE;
    if (parent == nullptr)
        return engine.StartCreate(dataFile.c_str(), suggestName.c_str(), type, encoding, subType.c_str(),
                                  headerFile.c_str(), generate, parameters.c_str());
    return engine.AddInputBlock(parent, dataFile.c_str(), suggestName.c_str(), type, encoding, subType.c_str(),
                                headerFile.c_str(), generate, parameters.c_str());
}

// A table value from a number or a row name of table (any case).
unsigned int TableValue(const nlohmann::json& value, const char (*table)[32], unsigned int rows, const char* what)
{
    if (value.is_number_unsigned() && value.get<unsigned int>() < rows)
        return value.get<unsigned int>();
    if (value.is_string())
    {
        std::string name = value.get<std::string>();
        for (unsigned int row = 0; row < rows; ++row)
        {
            std::string rowName = table[row];
            if (rowName.size() == name.size() &&
                std::equal(name.begin(), name.end(), rowName.begin(),
                           [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; }))
                return row;
        }
    }
    throw TreeError{std::string("not a known ") + what + ": " + value.dump()};
}

std::string TextField(const nlohmann::json& node, const char* key)
{
    auto found = node.find(key);
    if (found == node.end() || found->is_null())
        return "";
    if (!found->is_string())
        throw TreeError{std::string("'") + key + "' must be a string"};
    return found->get<std::string>();
}

std::string ResolvePath(const std::string& path, const std::string& baseDir)
{
    if (path.empty() || IsRooted(path) || baseDir.empty())
        return path;
    return baseDir + "/" + path;
}

// Builds one node of a tree file and its children; returns the block, or null after an
// engine failure (last error set). The root goes to root as soon as it exists, so that a
// later failure can still free what was built.
CInputBlock* BuildFromJson(CMIMEEngine& engine, CInputBlock* parent, const nlohmann::json& node,
                           const std::string& baseDir, const TextFiles& texts, CInputBlock*& root)
{
    if (!node.is_object())
        throw TreeError{"every part must be a JSON object"};
    unsigned int type = node.contains("content_type") ? TableValue(node["content_type"], szContType,
                                                                   CMIMEPart::CONTENT_APPLICATION + 1, "content type")
                                                      : 0;
    unsigned int encoding = node.contains("encode_type") ? TableValue(node["encode_type"], szEncodeType,
                                                                      CMIMEPart::ENCODE_UUENCODE + 1, "encoding")
                                                         : 0;
    bool generate = true;
    if (node.contains("generate_header"))
    {
        if (!node["generate_header"].is_boolean())
            throw TreeError{"'generate_header' must be true or false"};
        generate = node["generate_header"].get<bool>();
    }

    // A text leaf: typed text, or untyped and text by the type the engine will derive from
    // its suggested name or else its data file.
    const std::string suggestName = TextField(node, "suggest_name");
    std::string dataFile = ResolvePath(TextField(node, "data_file"), baseDir);
    bool text = type == CMIMEPart::CONTENT_TEXT;
    if (type == CMIMEPart::CONTENT_UNKNOWN && !dataFile.empty())
    {
        CInputBlock derived;
        DeriveContentType(suggestName.empty() ? dataFile.c_str() : suggestName.c_str(), &derived);
        text = derived.GetContentType() == CMIMEPart::CONTENT_TEXT;
    }
    if (text)
        dataFile = texts.Prepare(dataFile);

    CInputBlock* block = AddPart(engine, parent, dataFile, suggestName, static_cast<CMIMEPart::_CONTENT_TYPE>(type),
                                 static_cast<CMIMEPart::_ENCODE_TYPE>(encoding), TextField(node, "subtype"),
                                 texts.Prepare(ResolvePath(TextField(node, "header_file"), baseDir)), generate,
                                 TextField(node, "parameters"));
    if (block == nullptr)
        return nullptr;
    if (parent == nullptr)
        root = block;

    if (node.contains("children"))
    {
        if (!node["children"].is_array())
            throw TreeError{"'children' must be a list"};
        for (const nlohmann::json& child : node["children"])
            if (BuildFromJson(engine, block, child, baseDir, texts, root) == nullptr)
                return nullptr;
    }
    return block;
}

// Type and subtype derived from the file's name, as the engine derives them, with an
// encoding that survives any mail transport: the derivation may answer "binary" for types
// from the system's MIME database, which only 8-bit-clean links carry.
void MailSafeType(const std::string& file, CInputBlock& typed)
{
    DeriveContentType(file.c_str(), &typed);
    switch (typed.GetEncodeType())
    {
        case CMIMEPart::ENCODE_7BIT:
            // A text file may still hold 8-bit bytes or long lines.
            typed.SetEncodeType(CMIMEPart::ENCODE_QUOTED_PRINTABLE);
            break;
        case CMIMEPart::ENCODE_QUOTED_PRINTABLE:
        case CMIMEPart::ENCODE_BASE64:
            break;
        default:
            typed.SetEncodeType(CMIMEPart::ENCODE_BASE64);
            break;
    }
}

// The tree of the file options: a text part alone, or a multipart/mixed holding the text
// (or a multipart/alternative of text and html) followed by the attachments.
CInputBlock* BuildFromFiles(CMIMEEngine& engine, const ParsedArgs& parsed, const TextFiles& texts, CInputBlock*& root)
{
    const std::string header = texts.Prepare(parsed.Value("--header"));
    const std::string text = texts.Prepare(parsed.Value("--text"));
    const std::string html = texts.Prepare(parsed.Value("--html"));
    const std::vector<std::string>& attachments = parsed.Values("--attach");
    const std::string charset = parsed.Has("--charset") ? "charset=" + parsed.Value("--charset") : "";
    const bool hasBody = !text.empty() || !html.empty();
    const bool single = (text.empty() != html.empty()) && attachments.empty();

    auto addText = [&](CInputBlock* parent, const std::string& file, const char* subType,
                       const std::string& headerFile) {
        return AddPart(engine, parent, file, "", CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_QUOTED_PRINTABLE, subType,
                       headerFile, true, charset);
    };

    if (single)
    {
        root = !text.empty() ? addText(nullptr, text, "plain", header) : addText(nullptr, html, "html", header);
        return root;
    }

    const bool alternativeOnly = !text.empty() && !html.empty() && attachments.empty();
    root = AddPart(engine, nullptr, "", "", CMIMEPart::CONTENT_MULTIPART, CMIMEPart::ENCODE_UNKNOWN,
                   alternativeOnly ? "alternative" : "mixed", header, true, "");
    if (root == nullptr)
        return nullptr;

    if (hasBody)
    {
        if (!text.empty() && !html.empty())
        {
            CInputBlock* alternative = root;
            if (!alternativeOnly)
            {
                alternative = AddPart(engine, root, "", "", CMIMEPart::CONTENT_MULTIPART, CMIMEPart::ENCODE_UNKNOWN,
                                      "alternative", "", true, "");
                if (alternative == nullptr)
                    return nullptr;
            }
            // The html half is the other form of the text, not an attachment: its header
            // comes from a file written here, without the name and the disposition that
            // the engine gives every generated leaf after the first. The block stays text
            // in quoted-printable, which decides how the engine encodes the body.
            std::string htmlHeader = "Content-Type: text/html";
            if (!charset.empty())
                htmlHeader += "; " + charset;
            htmlHeader += "\r\nContent-Transfer-Encoding: quoted-printable\r\n";
            if (addText(alternative, text, "plain", "") == nullptr ||
                AddPart(engine, alternative, html, "", CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_QUOTED_PRINTABLE,
                        "html", texts.Write("html-header.txt", htmlHeader), false, "") == nullptr)
                return nullptr;
        }
        else if (addText(root, !text.empty() ? text : html, !text.empty() ? "plain" : "html", "") == nullptr)
        {
            return nullptr;
        }
    }
    for (const std::string& given : attachments)
    {
        CInputBlock typed;
        MailSafeType(given, typed);
        const std::string file = typed.GetContentType() == CMIMEPart::CONTENT_TEXT ? texts.Prepare(given) : given;
        if (AddPart(engine, root, file, BaseName(given), typed.GetContentType(), typed.GetEncodeType(),
                    typed.GetSubTypeString(), "", true, "") == nullptr)
            return nullptr;
    }
    return root;
}

} // namespace

int RunPack(const std::vector<std::string>& args)
{
    ParsedArgs parsed;
    std::string error;
    if (!ParseArgs(args,
                   {{"--output", "-o", true},
                    {"--header", "", true},
                    {"--text", "", true},
                    {"--html", "", true},
                    {"--attach", "", true},
                    {"--charset", "", true},
                    {"--keep-line-ends", "", false},
                    {"--tree", "", true}},
                   parsed, error))
    {
        PrintError("pack", error + " (see 'mimeengine pack --help')");
        return kUsageError;
    }
    if (parsed.Has("--help"))
    {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (!parsed.positional.empty())
    {
        PrintError("pack", "unexpected argument '" + parsed.positional[0] + "' (see 'mimeengine pack --help')");
        return kUsageError;
    }
    const bool fromFiles = parsed.Has("--text") || parsed.Has("--html") || parsed.Has("--attach");
    if (parsed.Has("--tree") && (fromFiles || parsed.Has("--header") || parsed.Has("--charset")))
    {
        PrintError("pack", "--tree cannot be combined with --header, --text, --html, --attach or --charset");
        return kUsageError;
    }
    if (!parsed.Has("--tree") && !fromFiles)
    {
        PrintError("pack", "nothing to pack: give --text, --html, --attach or --tree");
        return kUsageError;
    }

    if (parsed.Has("--charset") && !IsToken(parsed.Value("--charset")))
    {
        PrintError("pack", "'" + parsed.Value("--charset") + "' is not a charset name");
        return kUsageError;
    }

    // Removed, with the copies in it, however the command ends, an interrupt included.
    WorkDirectory work;
    if (!work.Create(error))
    {
        PrintError("pack", error);
        return CME_OUTPUT_FILE_ERROR;
    }
    GuardInterrupts({work.Path()});
    const TextFiles texts(work, parsed.Has("--keep-line-ends"));

    CMIMEEngine engine;
    CInputBlock* root = nullptr;
    bool built = false;
    try
    {
        if (parsed.Has("--tree"))
        {
            const std::string treeFile = parsed.Value("--tree");
            std::ifstream in(treeFile);
            if (!in)
            {
                PrintError("pack", "'" + treeFile + "' cannot be opened");
                return kUsageError;
            }
            nlohmann::json tree = nlohmann::json::parse(in, nullptr, false);
            if (tree.is_discarded())
            {
                PrintError("pack", "'" + treeFile + "' is not valid JSON");
                return kUsageError;
            }
            size_t slash = treeFile.find_last_of(kPathSeparators);
            std::string baseDir = slash == std::string::npos ? "" : treeFile.substr(0, slash);
            try
            {
                built = BuildFromJson(engine, nullptr, tree, baseDir, texts, root) != nullptr;
            }
            catch (const TreeError& e)
            {
                PrintError("pack", "'" + treeFile + "': " + e.message);
                engine.FreeBlocks(root);
                return kUsageError;
            }
        }
        else
        {
            built = BuildFromFiles(engine, parsed, texts, root) != nullptr;
        }
    }
    catch (const WorkFileError& e)
    {
        PrintError("pack", e.message);
        engine.FreeBlocks(root);
        return CME_OUTPUT_FILE_ERROR;
    }

    if (!built)
    {
        PrintError("pack", std::string(engine.GetErrorString()) + " (" + ResultName(engine.GetLastError()) + ")");
        engine.FreeBlocks(root);
        return engine.GetLastError() != CME_SUCCESS ? static_cast<int>(engine.GetLastError())
                                                    : static_cast<int>(CME_FAILURE);
    }

    // The engine packs without checking; the checks here name the file or part at fault.
    CString message;
    long failingUid = 0;
    if (!engine.ValidateBlockList(root, message, &failingUid))
    {
        PrintError("pack", std::string(message.GetString()) + " (part " + std::to_string(failingUid) + ")");
        engine.FreeBlocks(root);
        return CME_INVALID_BLOCK;
    }

    // The message goes to a new file beside OUT, renamed to OUT once it is whole. Without -o
    // the engine makes a new .MME file and names it in the buffer (a pending slot, so that an
    // interrupt removes it); it is removed when packing fails.
    const std::string output = parsed.Value("--output");
    TemporaryFile temporary(0);
    char* path = PendingPath(1);
    path[0] = '\0';
    const size_t slash = output.find_last_of(kPathSeparators);
    if (!output.empty() &&
        !temporary.Create(slash == std::string::npos ? "." : output.substr(0, std::max<size_t>(slash, 1)), error))
    {
        PrintError("pack", error);
        engine.FreeBlocks(root);
        return CME_OUTPUT_FILE_ERROR;
    }
    std::strncat(path, temporary.Path().c_str(), kPendingPathSize - 1);
    // An output file error is one where the engine made no file.
    auto discard = [&](_CME_RC failure) {
        if (output.empty() && path[0] != '\0' && failure != CME_OUTPUT_FILE_ERROR)
            std::remove(path);
        path[0] = '\0';
    };
    _CME_RC rc = CME_FAILURE;
    try
    {
        rc = engine.Pack(root, path, static_cast<unsigned long>(kPendingPathSize), TRUE);
    }
    catch (CFileException& e)
    {
        // The user knows the message file by the name OUT.
        if (!output.empty() && e.m_strFileName.str() == temporary.Path())
            e.m_strFileName = output.c_str();
        engine.FreeBlocks(root);
        discard(CME_FILE_ERROR);
        throw;
    }
    if (rc != CME_SUCCESS)
    {
        std::string told = engine.GetErrorString();
        const size_t at = output.empty() ? std::string::npos : told.find(temporary.Path());
        if (at != std::string::npos)
            told.replace(at, temporary.Path().size(), output);
        PrintError("pack", told + " (" + ResultName(rc) + ")");
        engine.FreeBlocks(root);
        discard(rc);
        return static_cast<int>(rc);
    }
    if (!output.empty() && !temporary.PutInPlace(output, true, error))
    {
        PrintError("pack", error);
        return CME_OUTPUT_FILE_ERROR;
    }
    std::printf("%s\n", output.empty() ? path : output.c_str());
    path[0] = '\0';
    return 0;
}

} // namespace cli
