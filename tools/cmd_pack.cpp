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

// What ends the command before packing: a tree file that cannot be used (kUsageError; the
// message names what is wrong) or a temporary copy that could not be written.
struct Failure
{
    std::string message;
    int status = kUsageError;
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

// One part to pack, as the engine's block takes it, with its children: what the file
// options and a tree file both come down to.
struct PartSpec
{
    std::string dataFile;
    bool textData = false; // dataFile is text, packed from a CR LF copy
    std::string suggestName;
    CMIMEPart::_CONTENT_TYPE type = CMIMEPart::CONTENT_UNKNOWN;
    CMIMEPart::_ENCODE_TYPE encoding = CMIMEPart::ENCODE_UNKNOWN;
    std::string subType;
    std::string headerFile; // a header file to use, or with headerText the name of one to write
    std::string headerText;
    bool generateHeader = true;
    std::string parameters;
    std::vector<PartSpec> children;
    std::string treeError; // the tree file is wrong here: building stops at this part
};

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
    throw Failure{std::string("not a known ") + what + ": " + value.dump()};
}

std::string TextField(const nlohmann::json& node, const char* key)
{
    auto found = node.find(key);
    if (found == node.end() || found->is_null())
        return "";
    if (!found->is_string())
        throw Failure{std::string("'") + key + "' must be a string"};
    return found->get<std::string>();
}

std::string ResolvePath(const std::string& path, const std::string& baseDir)
{
    if (path.empty() || IsRooted(path) || baseDir.empty())
        return path;
    return baseDir + "/" + path;
}

// Describes one node of a tree file and its children. A node found wrong becomes a part that
// carries the error, and nothing after it is read: building stops there, after the parts
// before it, as it would have stopped building them one by one. False after such an error.
bool DescribeNode(const nlohmann::json& node, const std::string& baseDir, PartSpec& part)
{
    try
    {
        if (!node.is_object())
            throw Failure{"every part must be a JSON object"};
        if (node.contains("content_type"))
            part.type = static_cast<CMIMEPart::_CONTENT_TYPE>(
                TableValue(node["content_type"], szContType, CMIMEPart::CONTENT_APPLICATION + 1, "content type"));
        if (node.contains("encode_type"))
            part.encoding = static_cast<CMIMEPart::_ENCODE_TYPE>(
                TableValue(node["encode_type"], szEncodeType, CMIMEPart::ENCODE_UUENCODE + 1, "encoding"));
        if (node.contains("generate_header"))
        {
            if (!node["generate_header"].is_boolean())
                throw Failure{"'generate_header' must be true or false"};
            part.generateHeader = node["generate_header"].get<bool>();
        }
        // A text leaf: typed text, or untyped and text by the type the engine will derive
        // from its suggested name or else its data file.
        part.suggestName = TextField(node, "suggest_name");
        part.dataFile = ResolvePath(TextField(node, "data_file"), baseDir);
        part.textData = part.type == CMIMEPart::CONTENT_TEXT;
        if (part.type == CMIMEPart::CONTENT_UNKNOWN && !part.dataFile.empty())
        {
            CInputBlock derived;
            DeriveContentType(part.suggestName.empty() ? part.dataFile.c_str() : part.suggestName.c_str(), &derived);
            part.textData = derived.GetContentType() == CMIMEPart::CONTENT_TEXT;
        }
        part.subType = TextField(node, "subtype");
        part.headerFile = ResolvePath(TextField(node, "header_file"), baseDir);
        part.parameters = TextField(node, "parameters");
    }
    catch (const Failure& e)
    {
        part = PartSpec();
        part.treeError = e.message;
        return false;
    }
    if (!node.contains("children"))
        return true;
    if (!node["children"].is_array())
    {
        part.children.emplace_back().treeError = "'children' must be a list";
        return false;
    }
    for (const nlohmann::json& child : node["children"])
        if (!DescribeNode(child, baseDir, part.children.emplace_back()))
            return false;
    return true;
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

// A part of the file options; its data file is packed from a CR LF copy when it is text.
PartSpec FilePart(CMIMEPart::_CONTENT_TYPE type, CMIMEPart::_ENCODE_TYPE encoding, const std::string& subType,
                  const std::string& dataFile = "", const std::string& parameters = "")
{
    PartSpec part;
    part.type = type;
    part.encoding = encoding;
    part.subType = subType;
    part.dataFile = dataFile;
    part.textData = type == CMIMEPart::CONTENT_TEXT;
    part.parameters = parameters;
    return part;
}

// The tree of the file options: a text part alone, or a multipart/mixed holding the text
// (or a multipart/alternative of text and html) followed by the attachments.
PartSpec DescribeFiles(const ParsedArgs& parsed)
{
    const std::string text = parsed.Value("--text");
    const std::string html = parsed.Value("--html");
    const std::vector<std::string>& attachments = parsed.Values("--attach");
    const std::string charset = parsed.Has("--charset") ? "charset=" + parsed.Value("--charset") : "";
    auto textPart = [&](const std::string& file, const char* subType) {
        return FilePart(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_QUOTED_PRINTABLE, subType, file, charset);
    };
    auto multipart = [](const char* subType) {
        return FilePart(CMIMEPart::CONTENT_MULTIPART, CMIMEPart::ENCODE_UNKNOWN, subType);
    };

    PartSpec root = multipart("mixed");
    if (!text.empty() && !html.empty())
    {
        // The html half is the other form of the text, not an attachment: its header comes
        // from a file written here, without the name and the disposition that the engine
        // gives every generated leaf after the first. The block stays text in
        // quoted-printable, which decides how the engine encodes the body.
        PartSpec alternative = multipart("alternative");
        alternative.children.push_back(textPart(text, "plain"));
        PartSpec& other = alternative.children.emplace_back(textPart(html, "html"));
        other.parameters.clear();
        other.generateHeader = false;
        other.headerFile = "html-header.txt";
        other.headerText = "Content-Type: text/html" + (charset.empty() ? "" : "; " + charset) +
                           "\r\nContent-Transfer-Encoding: quoted-printable\r\n";
        root.children.push_back(std::move(alternative));
    }
    else if (!text.empty() || !html.empty())
    {
        root.children.push_back(!text.empty() ? textPart(text, "plain") : textPart(html, "html"));
    }
    // One body alone is the whole message.
    if (attachments.empty() && root.children.size() == 1)
        root = PartSpec(root.children.front());
    for (const std::string& given : attachments)
    {
        CInputBlock typed;
        MailSafeType(given, typed);
        root.children.push_back(
            FilePart(typed.GetContentType(), typed.GetEncodeType(), typed.GetSubTypeString(), given));
        root.children.back().suggestName = BaseName(given);
    }
    root.headerFile = parsed.Value("--header");
    return root;
}

// Turns a description into the engine's blocks: text files and header files are packed from
// CR LF copies in the work directory unless the line ends are to be kept. The tree is freed
// with the builder, however the command ends.
class BlockBuilder
{
public:
    BlockBuilder(CMIMEEngine& engine, WorkDirectory& work, bool keepLineEnds)
        : m_engine(engine), m_work(work), m_keep(keepLineEnds)
    {
    }
    ~BlockBuilder() { m_engine.FreeBlocks(m_root); }
    CInputBlock* Root() const { return m_root; }

    // Adds part as a child of parent, or as the root when parent is null, and then its
    // children. False after an engine failure (last error set); a work file that cannot be
    // written or a part that carries a tree error raises a Failure.
    bool Add(CInputBlock* parent, const PartSpec& part)
    {
        if (!part.treeError.empty())
            throw Failure{part.treeError};
        const std::string dataFile = part.textData ? Copy(part.dataFile) : part.dataFile;
        // A header written here has CR LF line ends whatever the option.
        std::string error;
        const std::string headerFile = part.headerText.empty()
                                           ? Copy(part.headerFile)
                                           : WriteWorkFile(m_work, part.headerFile, part.headerText, error);
        if (!error.empty())
            throw Failure{error, CME_OUTPUT_FILE_ERROR};
        const BOOL generate = part.generateHeader ? TRUE : FALSE;
        CInputBlock* block =
            parent == nullptr
                ? m_engine.StartCreate(dataFile.c_str(), part.suggestName.c_str(), part.type, part.encoding,
                                       part.subType.c_str(), headerFile.c_str(), generate, part.parameters.c_str())
                : m_engine.AddInputBlock(parent, dataFile.c_str(), part.suggestName.c_str(), part.type, part.encoding,
                                         part.subType.c_str(), headerFile.c_str(), generate, part.parameters.c_str());
        if (block == nullptr)
            return false;
        if (parent == nullptr)
            m_root = block;
        for (const PartSpec& child : part.children)
            if (!Add(block, child))
                return false;
        return true;
    }

private:
    std::string Copy(const std::string& path)
    {
        if (m_keep || path.empty())
            return path;
        std::string error;
        std::string use = WithCrLfLineEnds(m_work, path, error);
        if (use.empty())
            throw Failure{error, CME_OUTPUT_FILE_ERROR};
        return use;
    }

    CMIMEEngine& m_engine;
    WorkDirectory& m_work;
    const bool m_keep;
    CInputBlock* m_root = nullptr;
};

const std::vector<OptionSpec> kOptions = {{"--output", "-o", true},
                                          {"--header", "", true},
                                          {"--text", "", true},
                                          {"--html", "", true},
                                          {"--attach", "", true},
                                          {"--charset", "", true},
                                          {"--keep-line-ends", "", false},
                                          {"--tree", "", true}};

} // namespace

int RunPack(const std::vector<std::string>& args)
{
    ParsedArgs parsed;
    const int status = ParseCommand("pack", kHelp, args, kOptions, parsed);
    if (status >= 0)
        return status;
    std::string error;
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

    // The tree file is read only once the work directory is guarded, as are the files.
    PartSpec description;
    const std::string treeFile = parsed.Value("--tree");
    if (parsed.Has("--tree"))
    {
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
        DescribeNode(tree, slash == std::string::npos ? "" : treeFile.substr(0, slash), description);
    }
    else
    {
        description = DescribeFiles(parsed);
    }

    CMIMEEngine engine;
    BlockBuilder builder(engine, work, parsed.Has("--keep-line-ends"));
    try
    {
        if (!builder.Add(nullptr, description))
        {
            PrintError("pack", std::string(engine.GetErrorString()) + " (" + ResultName(engine.GetLastError()) + ")");
            return engine.GetLastError() != CME_SUCCESS ? static_cast<int>(engine.GetLastError())
                                                        : static_cast<int>(CME_FAILURE);
        }
    }
    catch (const Failure& e)
    {
        PrintError("pack", e.status == kUsageError ? "'" + treeFile + "': " + e.message : e.message);
        return e.status;
    }

    // The engine packs without checking; the checks here name the file or part at fault.
    CInputBlock* root = builder.Root();
    CString message;
    long failingUid = 0;
    if (!engine.ValidateBlockList(root, message, &failingUid))
    {
        PrintError("pack", std::string(message.GetString()) + " (part " + std::to_string(failingUid) + ")");
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
        rc = engine.Pack(root, path, static_cast<unsigned long>(kPendingPathSize), FALSE);
    }
    catch (CFileException& e)
    {
        // The user knows the message file by the name OUT.
        if (!output.empty() && e.m_strFileName.str() == temporary.Path())
            e.m_strFileName = output.c_str();
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
