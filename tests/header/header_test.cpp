// Header parsing: encoded words, CParseUtilities, the content field parsers and ReadHeader,
// driven by the tables in tests/data/header/. Each table names its columns in a '#' line:
// the inputs first, the expected results after them. A cell may repeat text as {N*text}.
// Tables of text read from a file run with LF and again with CR LF line ends.
#include "codec/charset.h"
#include "mimeengine/extract/wfxfile.h"
#include "mimeengine/mimeengine_flat.h"
#include "mimeengine/unpack/unpacker.h"
#include "support/testsupport.h"
#include "unpack/parsetext.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <new>
#include <regex>
#include <string>
#include <vector>

static bool g_failNothrowNew = false;

// Lets a test make the library's non-throwing allocations fail.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return g_failNothrowNew ? nullptr : ::operator new(size);
}

namespace
{

using namespace testsupport;
using Cells = std::vector<std::string>;

// A message written to a scratch directory and opened in text mode, as the parser reads
// messages, with the parser's two line buffers (exchanged through their pointers).
struct Input
{
    ScratchDir dir;
    std::string path = dir.file("in.eml");
    std::unique_ptr<CWfxFile> file;
    std::vector<char> first = std::vector<char>(LINE_BUFFER_SIZE), second = first;
    char* line = first.data();
    char* ahead = second.data();

    Input(const std::string& text, bool crlf)
    {
        WriteFile(path, crlf ? Crlf(text) : text);
        file = std::make_unique<CWfxFile>(CString(path.c_str()), CFile::modeRead, FALSE, TRUE);
    }
    bool Read() { return file->ReadString(line, LINE_READ_LIMIT) != nullptr; }
};

// Hands every line of header to ParseHeaderField as the header reader does, up to an error or the end:
// result, then for the first line the unfold result, the value buffer and the current line afterwards.
Cells ParseFields(const std::string& header, bool crlf, COutputBlock* block)
{
    Input input(header, crlf);
    CUnpacker unpacker;
    char value[LINE_BUFFER_SIZE] = "-";
    Cells out{""};
    for (bool more = input.Read(); more;)
    {
        _UNFOLD_RC unfold = UNFOLD_NOT_RUN;
        const UINT rc = unpacker.ParseHeaderField(&input.line, &input.ahead, *input.file, &unfold, value, block);
        out[0] = std::to_string(rc);
        if (out.size() == 1)
            out.insert(out.end(), {std::to_string(unfold), value, input.line});
        more = rc == 0 && unfold != UNFOLD_END_OF_FILE && (unfold != UNFOLD_NOT_RUN || input.Read());
    }
    return out;
}

// ReadHeader on a message ("@name": the snippet tests/data/header/name); mode 1/0: the MIME-Version
// check on/off, "given": no check and a block of the caller's with a Content-ID. Results: return code, error
// text, block, the one header work file, the message from the body position on (LF line ends), next line read.
Cells ReadHeaderRun(const std::string& message, const std::string& mode, bool crlf)
{
    Input input(message[0] == '@' ? ReadFile(DataPath("header/" + message.substr(1))) : message, crlf);
    const std::string work = input.dir.mkdir("work");
    CUnpacker unpacker;
    unpacker.m_WorkDirectory = work.c_str();
    COutputBlock given;
    given.SetContentId("<kept>");
    COutputBlock* block = mode == "given" ? &given : nullptr;
    CString error;
    const _CME_RC rc =
        unpacker.ReadHeader(&input.line, &input.ahead, *input.file, input.path.c_str(), error, &block, mode == "1");
    std::unique_ptr<COutputBlock> made(block != &given ? block : nullptr);
    const std::string names = ListTree(work), name = Join(work, names.substr(0, names.size() - 1));
    EXPECT_TRUE(std::regex_match(names, std::regex("[^\n]+\\.HDR\n"))) << names;
    EXPECT_TRUE(block == nullptr || name == block->GetHeaderFile()) << name;
    std::string body = block != nullptr ? ReadFile(input.path).substr(block->GetBodyPosition()) : "<none>";
    body = std::regex_replace(body, std::regex("\r\n"), "\n");
    const std::string dump = block != nullptr ? DumpTree(block, work) : "<none>";
    const std::string next = input.Read() ? input.line : "<eof>";
    return {std::to_string(rc), error.GetString(), dump, ReadFile(name), body, next};
}

// A table, how many of its cells are inputs, whether the input is file text (run with LF
// and with CR LF) and the code under test, whose results are compared with the other cells.
struct Family
{
    const char* table;
    size_t inputs;
    bool bothEnds;
    std::function<Cells(const Cells& in, bool crlf)> run;
};

std::vector<Family> Families()
{
    std::vector<Family> f;
    auto add = [&f](const char* table, size_t inputs, bool bothEnds, decltype(Family::run) run) {
        f.push_back({table, inputs, bothEnds, run});
    };
    // function (encode/line/string), default charset, needs encoding, source, sized variant's size | result
    add("encoded", 5, false, [](const Cells& in, bool) {
        strncpy(g_szDefaultCharset, in[1].c_str(), sizeof(g_szDefaultCharset) - 1);
        g_bNeedsEncoding = in[2] == "1";
        std::string source = in[3];
        // Unsized, encoding gets ample room and decoding a destination as large as the source.
        const bool sized = !in[4].empty(), encode = in[0] == "encode", line = in[0] == "line";
        const size_t size = sized ? std::stoul(in[4]) : encode ? source.size() * 30 + 256 : source.size() + 1;
        std::vector<char> out(size + 8, '#');
        if (encode)
            sized ? EncodeBase64StringN(source.c_str(), out.data(), size) : EncodeBase64String(&source[0], out.data());
        else if (line)
            sized ? DecodeBase64LineN(source.c_str(), out.data(), size) : DecodeBase64Line(&source[0], out.data());
        else
            sized ? DecodeBase64StringN(source.c_str(), out.data(), size) : DecodeBase64String(&source[0], out.data());
        EXPECT_EQ(std::string(out.data() + size, 8), "########");
        return Cells{out.data()};
    });
    // file | result, current line and read-ahead buffer afterwards, bytes copied
    add("unfold", 1, true, [](const Cells& in, bool crlf) {
        Input input(in[0], crlf);
        CStdioFile copy;
        EXPECT_TRUE(copy.Open(input.dir.file("copy").c_str(), CFile::modeCreate | CFile::modeWrite));
        EXPECT_TRUE(input.Read());
        const int rc = CParseUtilities().UnfoldString(input.line, input.ahead, *input.file, &copy);
        copy.Close();
        return Cells{std::to_string(rc), input.line, input.ahead, ReadFile(input.dir.file("copy"))};
    });
    // line, continuation | joined (1/0), line afterwards
    add("join", 2, false, [](const Cells& in, bool) {
        std::string buffer = in[0] + '\0' + std::string(LINE_BUFFER_SIZE + 15 - in[0].size(), '#');
        const bool joined = parsetext::JoinContinuation(&buffer[0], in[1].c_str(), LINE_BUFFER_SIZE);
        EXPECT_EQ(buffer.substr(LINE_BUFFER_SIZE), std::string(16, '#'));
        return Cells{joined ? "1" : "0", buffer.c_str()};
    });
    // text | result, filtered text, every byte of the caller's text afterwards
    add("filter", 1, false, [](const Cells& in, bool) {
        std::string text = in[0];
        CString result("stale");
        const int rc = CParseUtilities().FilterData(&text[0], result);
        return Cells{std::to_string(rc), result.GetString(), text};
    });
    // text, mode | number of options ("<null>": no list), each option followed by "|"
    add("options", 2, false, [](const Cells& in, bool) {
        std::unique_ptr<CStringList> list(CParseUtilities().ExtractOptions(CString(in[0].c_str()), std::stoi(in[1])));
        std::string joined;
        for (POSITION pos = list != nullptr ? list->GetHeadPosition() : nullptr; pos != nullptr;)
            joined += std::string(list->GetNext(pos).GetString()) + "|";
        return Cells{list != nullptr ? std::to_string(list->GetCount()) : "<null>", joined};
    });
    // text, start | value, quoted flag
    add("value", 2, false, [](const Cells& in, bool) {
        CString value("stale");
        int quoted = -1;
        CParseUtilities().ExtractStringOrQuotedString(CString(in[0].c_str()), std::stoi(in[1]), value, &quoted);
        return Cells{value.GetString(), std::to_string(quoted)};
    });
    // options joined by "|" ("<null>": no list), name, size | result, buffer ("#": untouched), quoted flag
    add("parameter", 3, false, [](const Cells& in, bool) {
        CStringList list;
        std::istringstream options(in[0]);
        for (std::string option; std::getline(options, option, '|');)
            list.AddTail(CString(option.c_str()));
        char buffer[80] = "#";
        memset(buffer + 2, '#', sizeof(buffer) - 2);
        int quoted = -1;
        const int rc = CParseUtilities().GetParameterData(in[0] == "<null>" ? nullptr : &list, in[1].c_str(), buffer,
                                                          std::stoi(in[2]), &quoted);
        return Cells{std::to_string(rc), buffer, std::to_string(quoted)};
    });
    // header | result, block (DumpTree), the first line's unfold result, value and current line afterwards
    add("fields", 1, true, [](const Cells& in, bool crlf) {
        COutputBlock block;
        Cells out = ParseFields(in[0], crlf, &block);
        // Without a block the parsers read the same lines with the same results.
        EXPECT_EQ(ParseFields(in[0], crlf, nullptr), out);
        out.insert(out.begin() + 1, DumpTree(&block, ""));
        return out;
    });
    // message, mode | result, error text, block, header work file, body, next line
    add("readheader", 2, true, [](const Cells& in, bool crlf) { return ReadHeaderRun(in[0], in[1], crlf); });
    // MIME-Version line (then "Next: x") | numbers read (1/0), major, minor, unfold result, read-ahead buffer
    add("version", 1, true, [](const Cells& in, bool crlf) {
        Input input(in[0] + "Next: x\n", crlf);
        EXPECT_TRUE(input.Read());
        _UNFOLD_RC unfold = UNFOLD_NOT_RUN;
        int major = -1, minor = -1;
        const BOOL read =
            CUnpacker().GetMimeVersion(&input.line, &input.ahead, *input.file, nullptr, &unfold, &major, &minor);
        return Cells{std::to_string(read), std::to_string(major), std::to_string(minor), std::to_string(unfold),
                     input.ahead};
    });
    return f;
}

// Every row of every family's table, each a case named after its table, line and first cell.
std::vector<Row> AllRows()
{
    std::vector<Row> rows;
    for (const Family& family : Families())
        for (const Row& row : ReadTable(std::string("header/") + family.table + ".tsv"))
            rows.push_back(row);
    return rows;
}

using Tables = ::testing::TestWithParam<Row>;

TEST_P(Tables, Rows)
{
    static const std::vector<Family> families = Families();
    const Row& row = GetParam();
    const Family& family = *std::find_if(families.begin(), families.end(), [&](const Family& f) {
        return row.table == std::string("header/") + f.table + ".tsv";
    });
    Cells cells;
    for (size_t i = 0; i < std::max(row.size(), family.inputs); ++i) // missing cells are empty
        cells.push_back(row[i]);
    const Cells in(cells.begin(), cells.begin() + family.inputs), want(cells.begin() + family.inputs, cells.end());
    for (bool crlf : family.bothEnds ? std::vector<bool>{false, true} : std::vector<bool>{false})
        EXPECT_EQ(family.run(in, crlf), want) << family.table << ":" << row.line << (crlf ? " CR LF" : "");
}

INSTANTIATE_TEST_SUITE_P(Header, Tables, ::testing::ValuesIn(AllRows()), [](const ::testing::TestParamInfo<Row>& p) {
    return Identifier(p.param.table.substr(7, p.param.table.size() - 11)) + "_" + CaseName()(p);
});

TEST(EncodedWord, NullArgumentsDoNothing)
{
    char out[8] = "keep", in[] = "abc";
    for (auto* fn : {EncodeBase64String, DecodeBase64String, DecodeBase64Line})
        fn(nullptr, out), fn(in, nullptr);
    for (auto* fn : {EncodeBase64StringN, DecodeBase64StringN, DecodeBase64LineN})
        fn(nullptr, out, 8), fn(in, nullptr, 8), fn(in, out, 0);
    EXPECT_STREQ(out, "keep");
}

// White space is the C set without high bytes.
TEST(ParseUtilities, CharacterTables)
{
    for (int c = 0; c < 256; ++c)
        EXPECT_EQ(parsetext::IsWhite(static_cast<char>(c)), c == ' ' || (c >= '\t' && c <= '\r')) << c;
}

TEST(ReadHeader, WorkFileOrBlockCannotBeMade)
{
    Input input("MIME-Version: 1.0\n\nbody\n", false);
    CUnpacker unpacker;
    const std::string missing = input.dir.file("no-such-directory");
    unpacker.m_WorkDirectory = missing.c_str();
    CString error;
    COutputBlock* block = nullptr;
    EXPECT_EQ(unpacker.ReadHeader(&input.line, &input.ahead, *input.file, "m.eml", error, &block, TRUE),
              CME_HEADER_FILE_ERROR);
    EXPECT_EQ(block, nullptr);
    const std::string text = error.GetString(), head = "Header file '" + Join(missing, "");
    EXPECT_TRUE(text.rfind(head, 0) == 0 &&
                std::regex_match(text.substr(head.size()), std::regex(R"([^/\\']+\.HDR' cannot be created\.)")))
        << text;
    EXPECT_FALSE(Exists(missing));

    g_failNothrowNew = true;
    const Cells out = ReadHeaderRun("MIME-Version: 1.0\nContent-Type: text/plain\n\nbody\n", "1", false);
    g_failNothrowNew = false;
    EXPECT_EQ(out[0], std::to_string(CME_NO_MEMORY));
    EXPECT_EQ(out[2], "<none>");
}

} // namespace
