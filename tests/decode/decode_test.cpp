// IsBoundaryLine, the body decoders of CUnpacker and their byte-level steps, mostly driven by the
// tables under tests/data/decode/ (each table's '#' header names its columns).
#include "codec/base64block.h"
#include "codec/charset.h"
#include "extract/bodycodecs.h"
#include "extract/decoders.h"
#include "mimeengine/unpack/unpacker.h"
#include "support/testsupport.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <regex>
#include <sstream>

using namespace testsupport;

namespace
{

std::vector<std::string> Split(const std::string& s, char separator)
{
    std::vector<std::string> parts;
    std::istringstream in(s);
    for (std::string part; std::getline(in, part, separator);)
        parts.push_back(part);
    return parts;
}

// Blocks from the outermost down, each the child of the one before: "M<delimiter>" a multipart,
// "G" a message/rfc822 part, "T" a text part, "L" a plain leaf. The first owns the rest.
struct Chain
{
    Tree root;
    COutputBlock* last = nullptr;
    explicit Chain(const std::string& shape = "M--outer M--b L")
    {
        for (const std::string& token : Split(shape, ' '))
        {
            COutputBlock* block = new COutputBlock;
            block->SetContentType(static_cast<CMIMEPart::_CONTENT_TYPE>(std::string("LTGM").find(token[0])));
            block->SetBoundary(token.substr(1).c_str());
            CString message;
            EXPECT_TRUE(root ? last->AddChildBlock(block, message) == CME_SUCCESS : (root.reset(block), true));
            last = block;
        }
    }
};

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

using Decoder = std::function<_CME_RC(CUnpacker&, COutputBlock*, char**, CStdioFile*)>;
const std::map<std::string, Decoder> kDecoders = {
    {"text", &CUnpacker::DecodeText},
    {"qp", &CUnpacker::DecodeQuotedPrintable},
    {"base64", &CUnpacker::DecodeBase64},
    {"uu", &CUnpacker::DecodeUUEncode},
    {"binary", &CUnpacker::DecodeBinary},
    {"charset", &CUnpacker::ParseCharsetParameter},
    {"leaf", [](CUnpacker& u, COutputBlock* b, char** line, CStdioFile* f) { return u.ExtractLeafBody(b, f, line); }}};

// Runs decoder on the file at path as the parser opens it, after skipLines, with a stale line.
std::tuple<_CME_RC, std::string, size_t> RunFile(const Decoder& decoder, COutputBlock* block, const std::string& path,
                                                 const std::string& work, int skipLines = 0)
{
    CWfxFile file(CString(path.c_str()), CFile::shareDenyWrite, FALSE, TRUE);
    CUnpacker unpacker;
    unpacker.m_WorkDirectory = work.c_str();
    char buffer[LINE_BUFFER_SIZE], *line = buffer;
    for (int i = 0; i < skipLines; ++i)
        file.ReadString(line, LINE_READ_LIMIT);
    strcpy(line, "--b\n");
    return {decoder(unpacker, block, &line, &file), line, static_cast<size_t>(file.GetPosition())};
}

using Boundaries = ::testing::TestWithParam<Row>;
TEST_P(Boundaries, Row)
{
    const Row& row = GetParam();
    EXPECT_EQ(std::stoi(row[2]), IsBoundaryLine(row[1].c_str(), Chain(row[0]).last)) << row.line;
}
INSTANTIATE_TEST_SUITE_P(Table, Boundaries, ::testing::ValuesIn(ReadTable("decode/boundary.tsv")), CaseName());

TEST(IsBoundaryLine, NullArguments)
{
    COutputBlock lone;
    EXPECT_EQ(BOUNDARY_NONE, IsBoundaryLine(nullptr, &lone));
    EXPECT_EQ(BOUNDARY_NONE, IsBoundaryLine("--b\n", nullptr));
}

using Decoders = ::testing::TestWithParam<Row>;
TEST_P(Decoders, Row)
{
    const Row& row = GetParam();
    std::map<std::string, std::string> setup = {
        {"chain", "M--outer M--b L"}, {"type", "0"}, {"enc", "4"}, {"idx", "0"}, {"fill", "0"}};
    for (const std::string& item : Split(row[1], '|'))
        setup[item.substr(0, item.find('='))] = item.substr(std::min(item.find('='), item.size() - 1) + 1);
    const bool binary = row[0] == "binary";
    for (const std::string& item : Split(setup["fill"], ','))
        for (size_t fill = std::stoul(item), n = std::stoul(item.substr(item.find('-') + 1)); fill <= n; ++fill)
            for (int crlf = 0; crlf <= !setup.count("raw"); ++crlf)
            {
                SCOPED_TRACE(testing::Message() << "line " << row.line << " CR LF " << crlf << " fill " << fill);
                std::string pad, next = crlf ? Crlf(row[6]) : row[6];
                for (size_t i = 0; i < fill; ++i)
                    pad += static_cast<char>(binary ? i % 256 : 'a' + i % 26);
                const std::string message = (binary ? "H: x\r\n\r\n" : "") + (crlf ? Crlf(pad + row[2]) : pad + row[2]);
                ScratchDir scratch;
                const std::string work = scratch.mkdir("l1/l2/work"), source = scratch.file("source.eml");
                Chain chain(setup["chain"]);
                COutputBlock* leaf = chain.last;
                leaf->SetInputBlock(static_cast<CMIMEPart::_CONTENT_TYPE>(std::stoul(setup["type"])),
                                    CMIMEPart::ENCODE_UNKNOWN, setup["sub"].c_str(),
                                    setup.count("preset") ? Join(work, "chosen").c_str() : "", setup["name"].c_str(),
                                    nullptr, TRUE, setup["params"].c_str());
                leaf->SetEncodeType(static_cast<CMIMEPart::_ENCODE_TYPE>(std::stoul(setup["enc"])));
                leaf->SetSubTypeIndex(static_cast<unsigned>(std::stoul(setup["idx"])));
                if (setup.count("existing"))
                    WriteFile(work + "/" + setup["existing"], "keep");
                WriteFile(source, message);
                auto [rc, line, position] = RunFile(kDecoders.at(row[0]), leaf, source, work, binary ? 2 : 0);
                const std::string data = leaf->GetDataFile();
                EXPECT_EQ(std::stoi(row[3]), rc);
                EXPECT_EQ(Escape(pad + row[4]), Escape(Exists(data) ? ReadFile(data) : ""));
                EXPECT_TRUE(row[5] == "*" || row[5] == line) << Escape(line);
                EXPECT_EQ(Escape(next), Escape(message.substr(position)));
                EXPECT_TRUE(row[7] == "*" ? data.rfind(Join(work, ""), 0) == 0 &&
                                                data.find(kSeparator, work.size() + 1) == std::string::npos
                                          : data == (row[7].empty() ? "" : Join(work, row[7])))
                    << data;
                // Nothing is made outside the work directory, and an existing file stays.
                EXPECT_EQ("l1\nl1/l2\nl1/l2/work\nsource.eml\n",
                          std::regex_replace(ListTree(scratch.path()), std::regex("l1/l2/work/.*\n"), ""));
                EXPECT_TRUE(!setup.count("existing") || ReadFile(work + "/" + setup["existing"]) == "keep");
                const std::string fields = "|type=" + std::to_string(leaf->GetContentType()) +
                                           "|sub=" + leaf->GetSubTypeString() +
                                           "|idx=" + std::to_string(leaf->GetSubTypeIndex()) +
                                           "|char=" + std::to_string(static_cast<unsigned>(leaf->GetCharType())) +
                                           "|cs=" + leaf->GetCharSetName() + "|name=" + leaf->GetSuggestName() +
                                           "|files=" + std::to_string(Split(ListTree(work), '\n').size()) + "|";
                for (const std::string& field : Split(row[8], '|'))
                    EXPECT_NE(std::string::npos, fields.find("|" + field + "|")) << field << " in " << fields;
            }
}
INSTANTIATE_TEST_SUITE_P(Table, Decoders, ::testing::ValuesIn(ReadTable("decode/bodies.tsv")), CaseName());

using LineSteps = ::testing::TestWithParam<Row>;
TEST_P(LineSteps, Row)
{
    const Row& row = GetParam();
    const std::string& input = row[1];
    unsigned char got[256] = {0x55};
    unsigned int count = 0, rc = 0;
    unsigned long total = 1; // the buffer call adds to it
    char line[LINE_BUFFER_SIZE], copy[LINE_BUFFER_SIZE];
    CString name;
    if (row[0] == "qp")
        count = (rc = static_cast<unsigned>(bodycodecs::QPEscape(input.c_str(), got))) == 3 || got[0] != 0x55;
    else if (row[0] == "base64")
        rc = count = static_cast<unsigned>(base64block::DecodeGroup(input.c_str(), got));
    else if (row[0] != "uu")
        rc = bodycodecs::ParseUUBeginLine(input.c_str(),
                                          row[0] == "begin" ? bodycodecs::kBodyBegin : bodycodecs::kScanBegin, name);
    else
    {
        memcpy(copy, memcpy(memset(line, 'J', sizeof line), input.c_str(), input.size() + 1), sizeof line);
        rc = bodycodecs::UULineBytes(line, got, &count);
        EXPECT_LE(strlen(line), 79u) << row.line;
        EXPECT_EQ(rc != CME_UU_CHECKSUM, DecodeUULineToBuffer(copy, got + 64, &total)) << row.line;
        EXPECT_EQ(Escape(row[3]), Escape(std::string(reinterpret_cast<char*>(got + 65), total - 1))) << row.line;
        // The same line in place, without its line end and ending its buffer.
        std::vector<char> text(input.begin(), input.end() - (!input.empty() && input.back() == '\n'));
        unsigned char inPlace[72];
        unsigned int inPlaceCount = 0;
        EXPECT_EQ(rc, bodycodecs::UUTextBytes(text.data(), text.size(), inPlace, &inPlaceCount)) << row.line;
        EXPECT_EQ(Escape(row[3]), Escape(std::string(reinterpret_cast<char*>(inPlace), inPlaceCount))) << row.line;
        // As a run of one line, in both modes: decoded whole, with the same bytes, or left alone.
        for (bool textMode : {false, true})
        {
            size_t runCount = 0;
            const size_t used = bodycodecs::UUTextRun(input.data(), input.size(), textMode, inPlace, 64, &runCount);
            if (used == 0)
                continue;
            EXPECT_EQ(input.size(), used) << row.line;
            EXPECT_EQ(row[2] + " " + Escape(row[3]),
                      "0 " + Escape(std::string(reinterpret_cast<char*>(inPlace), runCount)))
                << row.line;
        }
    }
    const std::string bytes = name.IsEmpty() ? std::string(reinterpret_cast<char*>(got), count) : name.GetString();
    EXPECT_EQ(row[2] + " " + Escape(row[3]), std::to_string(rc) + " " + Escape(bytes)) << row.line;
}
INSTANTIATE_TEST_SUITE_P(Table, LineSteps, ::testing::ValuesIn(ReadTable("decode/codecs.tsv")), CaseName());

using Charsets = ::testing::TestWithParam<Row>;
TEST_P(Charsets, Row)
{
    const Row& row = GetParam();
    BOOL recognised = 7, invalidIso = 7;
    std::string buffer(64, 'x');
    g_bNeedsEncoding = !std::stoi(row[3]);
    const bool lookup = row[0] == "lookup";
    const int type = lookup ? static_cast<int>(LookupCharType(row[1].c_str(), &recognised, &invalidIso))
                            : (SelectDefaultCharset(static_cast<unsigned>(std::stoul(row[1])), &buffer[0]), 0);
    EXPECT_EQ(row[2] + " " + row[3] + " " + row[4],
              lookup ? std::to_string(type) + " " + std::to_string(recognised) + " " + std::to_string(invalidIso)
                     : buffer.c_str() + (" " + std::to_string(g_bNeedsEncoding) + " "))
        << row.line;
}
INSTANTIATE_TEST_SUITE_P(Table, Charsets, ::testing::ValuesIn(ReadTable("decode/charsets.tsv")), CaseName());

TEST(Charsets, NullBuffer)
{
    g_bNeedsEncoding = TRUE; // a null buffer does nothing at all
    SelectDefaultCharset(1252, nullptr);
    EXPECT_EQ(TRUE, g_bNeedsEncoding);
    EXPECT_EQ(64u, sizeof(g_szDefaultCharset));
}

// A base64 encoder for fixtures, independent of the library: lines of lineLength characters.
std::string Encode(const std::string& data, size_t lineLength, const char* end)
{
    std::string text, lines;
    auto at = [&data](size_t i) { return i < data.size() ? static_cast<unsigned char>(data[i]) : 0u; };
    for (size_t i = 0; i < data.size(); i += 3)
    {
        const unsigned v = at(i) << 16 | at(i + 1) << 8 | at(i + 2);
        for (size_t k = 0; k < 4; ++k)
            text += k <= data.size() - i ? kAlphabet[(v >> (18 - 6 * k)) & 63] : '=';
    }
    for (size_t i = 0; i < text.size(); i += lineLength)
        lines += text.substr(i, lineLength) + end;
    return lines;
}

std::string Random(std::mt19937& rng, size_t n)
{
    std::string bytes(n, '\0');
    std::generate(bytes.begin(), bytes.end(), [&rng] { return static_cast<char>(rng() & 0xFF); });
    return bytes;
}

// Bodies decode in one pass with bounded memory: random bytes written a chunk at a time; base64 in
// lines of many lengths (groups cut at every point) with LF and CR LF ends, and
// MIMEENGINE_LARGE_BODY_MIB MiB (16 by default) of base64, quoted-printable and binary.
TEST(Bodies, RoundTripWithBoundedMemory)
{
    const char* mib = std::getenv("MIMEENGINE_LARGE_BODY_MIB");
    const size_t large = static_cast<size_t>(mib != nullptr && std::atoi(mib) > 0 ? std::atoi(mib) : 16) * 16;
    const size_t chunk = 57 * 1152; // whole base64 groups
    std::vector<std::tuple<std::string, size_t, std::string, size_t>> runs = {{"qp", 0, "", large},
                                                                              {"binary", 0, "", large}};
    for (size_t length : {1, 2, 3, 4, 5, 73, 75, 76, 2044})
        for (const char* end : {"\n", "\r\n"})
            runs.emplace_back("base64", length, end, length == 76 && end[0] == '\r' ? large : 5);
    for (const auto& [kind, length, end, chunks] : runs)
    {
        SCOPED_TRACE(kind + " " + std::to_string(length) + " " + Escape(end));
        ScratchDir scratch;
        std::mt19937 rng(1);
        {
            std::ofstream out(scratch.file("m.eml"), std::ios::binary), want(scratch.file("want"), std::ios::binary);
            for (size_t i = 0; i < chunks; ++i)
            {
                std::string bytes = Random(rng, chunk), qp;
                want << bytes;
                char escape[8];
                for (size_t k = 0; k < bytes.size(); ++k) // escapes only, a soft break every 25 bytes
                    qp.append(escape, snprintf(escape, 8, k % 25 == 24 ? "=%02X=\r\n" : "=%02X", bytes[k] & 255));
                out << (kind == "base64" ? Encode(bytes, length, end.c_str()) : kind == "qp" ? qp + "=\r\n" : bytes);
            }
            out << (kind == "base64" ? "--b--" + end : "X\r\n--b--\r\n");
            want << (kind == "base64" ? "" : "X");
        }
        Chain chain;
        const long before = PeakMemoryKiB();
        auto [rc, line, position] = RunFile(kDecoders.at(kind), chain.last, scratch.file("m.eml"), scratch.mkdir("w"));
        EXPECT_LT(PeakMemoryKiB() - before, 16 * 1024) << "KiB more at the peak";
        EXPECT_EQ(CME_SUCCESS, rc);
        EXPECT_TRUE(ReadFile(scratch.file("want")) == ReadFile(chain.last->GetDataFile()));
    }
}

// Without a block the position moves to the delimiter (of block or the part walk's context) or stays.
TEST(CopyBinaryBody, WithoutABlockOnlyFindsTheDelimiter)
{
    ScratchDir scratch;
    const std::string work = scratch.mkdir("work"), source = scratch.file("m.eml");
    WriteFile(source, "H: x\r\n\r\n" + AllBytes() + "\r\n--b\r\nnext");
    Chain chain;
    CUnpacker unpacker;
    unpacker.m_WorkDirectory = work.c_str();
    for (int step = 0; step < 3; ++step)
    {
        unsigned long position = 8;
        ULONGLONG wide = 8; // the part walk skips by 64-bit offsets
        unpacker.m_pSkipContext = step == 1 ? chain.last : nullptr;
        EXPECT_EQ(CME_SUCCESS, step == 0 ? unpacker.SkipBinaryBody(source.c_str(), &wide, chain.last)
                                         : unpacker.CopyBinaryBody(source.c_str(), &position, nullptr));
        position = step == 0 ? static_cast<unsigned long>(wide) : position;
        EXPECT_EQ(step < 2 ? 8 + 256 + 2 : 8u, position);
        EXPECT_EQ(step == 1 ? chain.last : nullptr, unpacker.m_pSkipContext);
    }
    EXPECT_EQ("", ListTree(work));
    unsigned long position = 0;
    EXPECT_THROW(unpacker.CopyBinaryBody(scratch.file("missing").c_str(), &position, chain.last), CFileException);
    EXPECT_STREQ("", chain.last->GetDataFile());
}

} // namespace
