// Pack, then unpack: the input describes a composition tree, the engine packs it into a
// message and unpacks that message again, and the tree that comes back must be the one that
// went in (shape, types, subtypes, names, charsets and bodies), apart from the differences
// the engine makes on purpose, which are all written down in Expected() below.
//
// Input layout, read byte by byte (missing bytes read as 0): a part starts with a byte B.
// Below depth 4, B >= 0x80 makes a multipart (subtype from B, then one byte: 1 + low 3 bits
// children, at most 32 parts in all). Otherwise B picks the leaf type (B % 5) and subtype
// (B / 5 % 4, 0 being a subtype no table knows); a flags byte F picks the encoding (F % 5:
// base64, quoted-printable, 7bit, 8bit, binary), a name (F & 8: a length byte and as many
// name bytes), a charset (F & 16: which from F / 32 % 4, 3 being unknown), and repeats the
// data to 1000 bytes (F & 128); then two bytes give the data length (up to 2047), and the
// data bytes follow. No child starts past the end of the input: padded with zeros, a short
// input would make up to 32 empty leaves, which cost files and find nothing new.
//
// Every input runs the same way twice: the clock and the random draws behind the boundaries
// are fixed, and the MIME database is a fixed empty one.
#include "fuzz/fuzzfile.h"
#include "mimeengine/platform/ctime.h"
#include "model/nametables.h"
#include "pack/encoders.h"
#include "platform/crt.h"
#include "platform/win32.h"

#include <cctype>
#include <cstring>
#include <map>
#include <string_view>

namespace
{
using M = CMIMEPart;

struct Node
{
    M::_CONTENT_TYPE type = M::CONTENT_UNKNOWN;
    M::_ENCODE_TYPE encoding = M::ENCODE_UNKNOWN;
    std::string subtype, name, charset, data, file; // file: the data file's name, given when packing
    std::vector<Node> children;
};

struct Reader
{
    const uint8_t* at;
    size_t left;
    uint8_t Byte() { return left == 0 ? 0 : (--left, *at++); }
    std::string Bytes(size_t n)
    {
        n = std::min(n, left);
        std::string s(reinterpret_cast<const char*>(at), n);
        at += n, left -= n;
        return s;
    }
};

const char* const kCharsets[] = {"us-ascii", "iso-8859-1", "utf-8", "x-no-such-charset"};

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

Node ReadPart(Reader& in, int depth, int& parts)
{
    Node node;
    const uint8_t b = in.Byte();
    if (depth < 4 && b >= 0x80)
    {
        node.type = M::CONTENT_MULTIPART;
        node.subtype = Lower(szMultipartSubType[1 + b % (MULTIPART_SUBTYPE_ROWS - 1)]);
        for (int n = 1 + (in.Byte() & 7); n > 0 && parts < 32 && in.left > 0; --n)
            node.children.push_back(ReadPart(in, depth + 1, ++parts));
        return node;
    }
    // The leaf types, each with its subtype table (row 0 is no subtype) and that table's rows.
    static const struct
    {
        M::_CONTENT_TYPE type;
        const char (*table)[NAME_ROW_SIZE];
        unsigned rows;
    } kTypes[] = {{M::CONTENT_TEXT, szTextSubType, TEXT_SUBTYPE_ROWS},
                  {M::CONTENT_IMAGE, szImageSubType, IMAGE_SUBTYPE_ROWS},
                  {M::CONTENT_AUDIO, szAudioSubType, AUDIO_SUBTYPE_ROWS},
                  {M::CONTENT_VIDEO, szVideoSubType, VIDEO_SUBTYPE_ROWS},
                  {M::CONTENT_APPLICATION, szApplicationSubType, APPLICATION_SUBTYPE_ROWS}};
    static const M::_ENCODE_TYPE kEncodings[] = {M::ENCODE_BASE64, M::ENCODE_QUOTED_PRINTABLE, M::ENCODE_7BIT,
                                                 M::ENCODE_8BIT, M::ENCODE_BINARY};
    const auto& kind = kTypes[b % 5];
    node.type = kind.type;
    const unsigned row = b / 5 % 4;
    node.subtype = row == 0 ? "x-unheard-of" : Lower(kind.table[1 + (row - 1) % (kind.rows - 1)]);
    const uint8_t flags = in.Byte();
    node.encoding = kEncodings[flags % 5];
    if (flags & 8)
        for (char c : in.Bytes(1 + in.Byte() % 16))
            node.name += "abcdefghijklmnopqrstuvwxyz0123456789-_."[static_cast<unsigned char>(c) % 39];
    if (flags & 16)
        node.charset = kCharsets[flags / 32 % 4];
    const size_t length = in.Byte() | (in.Byte() & 7) << 8;
    node.data = in.Bytes(length);
    while ((flags & 128) && !node.data.empty() && node.data.size() < 1000)
        node.data += node.data;
    return node;
}

// The bytes of a file (none when it cannot be opened), read into buffer, which keeps its
// size from call to call, in as few calls as it takes: a read of a regular file that returns
// less than it was asked for has met the end. Where no bytes are expected, a stat that finds
// none stands in for the open, the read and the close.
std::string_view ReadFile(const char* path, std::string& buffer, bool expectEmpty)
{
    struct stat st;
    if (expectEmpty && (stat(path, &st) != 0 || st.st_size == 0))
        return {};
    size_t size = 0;
    buffer.resize(std::max<size_t>(buffer.size(), 4096));
    if (const int fd = open(path, O_RDONLY | O_CLOEXEC); fd >= 0)
    {
        for (ssize_t n; (n = read(fd, &buffer[size], buffer.size() - size)) > 0 && (size += n) == buffer.size();)
            buffer.resize(2 * size);
        close(fd);
    }
    return {buffer.data(), size};
}

bool KnownCharset(const std::string& charset)
{
    return charset.empty() || charset != kCharsets[3];
}

// What comes back for a part packed from `want`. These are the differences by design:
//   - the first leaf is the message's body and carries no name; another leaf without a name
//     is named after its data file;
//   - a part with a charset the engine does not know, and an image, audio or video part with
//     a subtype its table lacks, come back as application data;
//   - quoted-printable text comes back with CR LF line ends, and so do 7bit and 8bit bodies of
//     any type, which are also cut at NUL bytes (see below);
//   - a CR of quoted-printable text that stands right before a line end does not come back.
// Two more decide what is packed at all: a copied body that does not end in a line end runs
// into the delimiter that follows, so EndCopiedBodies() ends it with CR LF before packing;
// the boundary is not checked against the data, so a body that holds it, in any case (a
// line is compared with a delimiter ignoring case), splits the part: HoldsBoundary() skips
// such inputs after packing.
Node Expected(const Node& want, bool firstLeaf, bool hasParent)
{
    // The part alone: its children are compared one by one.
    Node got{want.type, want.encoding, want.subtype, want.name, want.charset, want.data, want.file, {}};
    if (firstLeaf)
        got.name.clear();
    else if (want.name.empty())
        got.name = want.file;
    if (!KnownCharset(want.charset) ||
        (want.type != M::CONTENT_TEXT && want.type != M::CONTENT_APPLICATION && want.subtype == "x-unheard-of"))
        got.type = M::CONTENT_APPLICATION;
    if (want.encoding == M::ENCODE_7BIT || want.encoding == M::ENCODE_8BIT)
    {
        // Read line by line (a line ends at LF) as NUL-terminated strings: each line comes
        // back with CR LF, cut at its first NUL together with its line end.
        got.data.clear();
        for (size_t at = 0; at < want.data.size();)
        {
            size_t end = std::min(want.data.find('\n', at), want.data.size());
            std::string line = want.data.substr(at, end - at - (end > at && want.data[end - 1] == '\r')) + "\r\n";
            got.data += line.substr(0, line.find('\0'));
            at = end + 1;
        }
    }
    if (want.type == M::CONTENT_TEXT && want.encoding == M::ENCODE_QUOTED_PRINTABLE)
    {
        // CR and LF of text are written as themselves, and a line end is read back as CR LF:
        // an LF without a CR before it comes back as CR LF. A CR of the data right before a
        // line end (a CR LF of the data, or the CR LF that ends the body of a part with a
        // parent) is read back as that line end's own and does not come back, unless the
        // encoder's soft line break (at column 73) stands between them.
        got.data.clear();
        const std::string& in = want.data;
        unsigned column = 0;
        bool crLast = false; // the last byte was a CR of the data, on the encoded line
        for (size_t at = 0; at < in.size(); ++at)
        {
            const bool broken = column >= 73;
            column = broken ? 0 : column;
            const bool pair = in[at] == '\r' && at + 1 < in.size() && in[at + 1] == '\n';
            if (pair && crLast && !broken)
                got.data.pop_back();
            got.data += pair || in[at] == '\n' ? "\r\n" : std::string(1, in[at]);
            crLast = !pair && in[at] == '\r';
            const bool white = in[at] == ' ' && (at + 1 == in.size() || in[at + 1] == '\r');
            column =
                pair ? 0 : column + (white || (mimepack::QPMustEscape(in[at]) && !crLast && in[at] != '\n') ? 3 : 1);
            at += pair;
        }
        if (crLast && hasParent)
            got.data.pop_back();
    }
    return got;
}

void EndCopiedBodies(Node& node)
{
    const bool copied = node.encoding == M::ENCODE_7BIT || node.encoding == M::ENCODE_8BIT;
    if (copied && !node.data.empty() && node.data.back() != '\n')
        node.data += "\r\n";
    for (Node& child : node.children)
        EndCopiedBodies(child);
}

// The delimiters of the packed message, in lower case: "--" and each boundary's value.
std::vector<std::string> Delimiters(std::string_view message)
{
    std::vector<std::string> delimiters;
    for (size_t at = 0; (at = message.find("boundary=\"", at)) != std::string::npos;)
    {
        at += 10;
        delimiters.push_back(Lower("--" + std::string(message.substr(at, message.find('"', at) - at))));
    }
    return delimiters;
}

bool HoldsBoundary(const Node& node, const std::vector<std::string>& delimiters)
{
    const std::string data = Lower(node.data);
    for (const std::string& delimiter : delimiters)
        if (data.find(delimiter) != std::string::npos)
            return true;
    for (const Node& child : node.children)
        if (HoldsBoundary(child, delimiters))
            return true;
    return false;
}

std::map<std::string, std::string> g_held; // data file name to the data it holds

// Gives each leaf its data file, "d<n>" in dir, and writes the files that do not hold their
// data yet: they are kept from input to input. Leaves of the same data share a file (files:
// data to name), and so the name of one without. Tells whether it wrote.
bool WriteData(Node& node, const std::string& dir, std::map<std::string, std::string>& files)
{
    bool wrote = false;
    if (node.type != M::CONTENT_MULTIPART)
    {
        const auto [file, fresh] = files.emplace(node.data, "d" + std::to_string(files.size()));
        node.file = file->second;
        const auto [holds, made] = g_held.try_emplace(node.file);
        if (fresh && (made || holds->second != node.data))
        {
            fuzzfile::WriteFile(dir + "/" + node.file, node.data.data(), node.data.size());
            holds->second = node.data;
            wrote = true;
        }
    }
    for (Node& child : node.children)
        wrote |= WriteData(child, dir, files);
    return wrote;
}

// Adds the part (and its children) to the engine's tree.
CInputBlock* Add(CMIMEEngine& engine, CInputBlock* parent, const Node& node, const std::string& dir)
{
    const std::string data = node.type == M::CONTENT_MULTIPART ? "" : dir + "/" + node.file;
    const std::string parameters = node.charset.empty() ? "" : "charset=" + node.charset;
    const M::_ENCODE_TYPE encoding = node.type == M::CONTENT_MULTIPART ? M::ENCODE_UNKNOWN : node.encoding;
    CInputBlock* block = parent == nullptr
                             ? engine.StartCreate(data.c_str(), node.name.c_str(), node.type, encoding,
                                                  node.subtype.c_str(), nullptr, TRUE, parameters.c_str())
                             : engine.AddInputBlock(parent, data.c_str(), node.name.c_str(), node.type, encoding,
                                                    node.subtype.c_str(), nullptr, TRUE, parameters.c_str());
    for (const Node& child : node.children)
        if (block == nullptr || Add(engine, block, child, dir) == nullptr)
            return nullptr;
    return block;
}

[[noreturn]] void Fail(const std::string& where, const std::string& what, const std::string& want,
                       const std::string& got)
{
    fprintf(stderr, "round trip differs at part %s, %s:\n  packed   %s\n  unpacked %s\n", where.c_str(), what.c_str(),
            want.c_str(), got.c_str());
    fuzzfile::Abort();
}

std::string Quote(const std::string& s)
{
    std::string out;
    for (unsigned char c : s)
    {
        char hex[5];
        snprintf(hex, sizeof hex, "\\x%02X", c);
        out += c >= 0x20 && c < 0x7F && c != '\\' ? std::string(1, char(c)) : hex;
    }
    return out.size() > 300 ? out.substr(0, 300) + "... (" + std::to_string(s.size()) + " bytes)" : out;
}

void Compare(const Node& packed, const COutputBlock* got, const std::string& where, bool& firstLeaf)
{
    const Node want = Expected(packed, firstLeaf && packed.type != M::CONTENT_MULTIPART, where != "1");
    if (packed.type != M::CONTENT_MULTIPART)
        firstLeaf = false;
    if (got->GetContentType() != want.type)
        Fail(where, "type", szContType[want.type], szContType[got->GetContentType()]);
    if (want.type == packed.type && Lower(got->GetSubTypeString()) != want.subtype)
        Fail(where, "subtype", want.subtype, got->GetSubTypeString());
    if (got->GetSuggestName() != want.name)
        Fail(where, "name", want.name, got->GetSuggestName());
    if (want.type == M::CONTENT_TEXT && !want.charset.empty() && Lower(got->GetCharSetName()) != want.charset)
        Fail(where, "charset", want.charset, got->GetCharSetName());
    const CObList* children = got->GetChildBlockList();
    const size_t count = children == nullptr ? 0 : static_cast<size_t>(children->GetCount());
    if (count != packed.children.size())
        Fail(where, "number of parts", std::to_string(packed.children.size()), std::to_string(count));
    if (want.type != M::CONTENT_MULTIPART)
    {
        static std::string buffer;
        const std::string_view body = ReadFile(got->GetDataFile(), buffer, want.data.empty());
        if (body != want.data)
            Fail(where, std::string("body (") + szEncodeType[packed.encoding] + ")", Quote(want.data),
                 Quote(std::string(body)));
        return;
    }
    // A multipart packed without children may come back without a child list at all.
    POSITION pos = children == nullptr ? nullptr : children->GetHeadPosition();
    for (size_t i = 0; i < count; ++i)
        Compare(packed.children[i], static_cast<const COutputBlock*>(children->GetNext(pos)),
                where + "." + std::to_string(i + 1), firstLeaf);
}

int g_draws = 0;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool fixed = [] {
        static const CTime now(944000000);
        CTime::SetCurrentTimeForTesting(&now);
        PlatformSetRandForTesting([] { return (g_draws++ * 12345 + 7) % 32768; });
        RegistrySetMimeTypesForTesting(nullptr);
        return true;
    }();
    (void)fixed;
    g_draws = 0;
    Reader in{data, size};
    int parts = 1;
    Node tree = ReadPart(in, 0, parts);
    EndCopiedBodies(tree);
    // The data files are kept where the guard watches them: the engine may only read them.
    static const std::string dir = fuzzfile::Directory() + "/data";
    std::map<std::string, std::string> files;
    if (WriteData(tree, dir, files))
        fuzzfile::ReadEvents([](const std::string&, const inotify_event&) {}); // not the run's doing
    const std::string& work = fuzzfile::FreshWork();
    const std::string message = work + "/message.eml", unpacked = work + "/unpacked";
    fuzzfile::Guarded([&] {
        CMIMEEngine engine;
        CInputBlock* root = Add(engine, nullptr, tree, dir);
        std::string out = message;
        if (root == nullptr || engine.Pack(root, &out[0], 0, TRUE) != CME_SUCCESS)
        {
            engine.FreeBlocks(root);
            return;
        }
        static std::string buffer;
        if (HoldsBoundary(tree, Delimiters(ReadFile(message.c_str(), buffer, false))))
            return;
        mkdir(unpacked.c_str(), 0700); // FreshWork() removed the last one
        _CME_RC rc = CME_SUCCESS;
        CString source(message.c_str());
        COutputBlock* got = engine.Unpack(source, unpacked.c_str(), TRUE, rc);
        if (got == nullptr)
            Fail("1", "unpack", "a tree", "rc " + std::to_string(rc));
        bool firstLeaf = true;
        Compare(tree, got, "1", firstLeaf);
        engine.FreeBlocks(got);
    });
    return 0;
}
