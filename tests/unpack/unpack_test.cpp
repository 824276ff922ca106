// Whole-message parsing. NAME[.body][.noextract][.maxN].eml under tests/data/unpack/ is parsed
// (UnpackBody for .body, no extraction for .noextract, part limit N for .maxN) with CR LF line
// ends and as stored (LF); NAME[...].out holds the dump: result, tree, per block "parsed-children
// flag, body position", work files with data bytes, the root's header work file, then "LF: same"
// or the LF dump (without body positions). composite.tsv (kind, subtype, parameters, encoding
// number, content id) classifies one block with ParseMultipart or ParseMessage; composite.out
// holds rc, leaf and block. Then failure texts, hostile input at scale, a round trip through Pack.
#include "mimeengine/unpack/unpacker.h"
#include "support/testsupport.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

namespace
{

using namespace testsupport;

void Walk(const COutputBlock* block, bool positions, std::string& out)
{
    out += std::to_string(block->GetParseChildFlag()) +
           (positions ? " " + std::to_string(block->GetBodyPosition()) : std::string()) + "\n";
    for (const COutputBlock* child : Children(block))
    {
        EXPECT_EQ(block, child->GetParentBlock());
        Walk(child, positions, out);
    }
}

std::string DumpCase(const std::string& message, const std::string& name, bool positions)
{
    const size_t max = name.find(".max");
    Parse run(message, name.find(".noextract.") == std::string::npos, name.find(".body.") != std::string::npos,
              max == std::string::npos ? 0 : std::atoi(name.c_str() + max + 4));
    std::string out = run.Dump() + "flags:\n";
    if (run.root != nullptr)
        Walk(run.root.get(), positions, out);
    std::istringstream files(ListTree(run.work));
    out += "files:\n";
    for (std::string f; std::getline(files, f);)
        out += f + (f.find(".HDR") != std::string::npos ? "" : ": \"" + Escape(ReadFile(run.work + "/" + f)) + "\"") +
               "\n";
    if (run.root != nullptr && run.root->GetHeaderFile()[0] != '\0')
        out += "header: \"" + Escape(ReadFile(run.root->GetHeaderFile())) + "\"\n";
    return out;
}

// The messages under tests/data/unpack/, each a case of its own.
std::vector<std::string> Messages()
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(DataPath("unpack")))
        if (entry.path().extension() == ".eml")
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

using Cases = ::testing::TestWithParam<std::string>;
TEST_P(Cases, Message)
{
    const std::string name = GetParam(), message = ReadFile(DataPath("unpack/" + name));
    // Body positions differ with the line ends; the rest should not.
    const std::string crlf = DumpCase(Crlf(message), name, false), lf = DumpCase(message, name, false);
    ExpectGolden("unpack/" + name.substr(0, name.size() - 4) + ".out",
                 DumpCase(Crlf(message), name, true) + (lf == crlf ? "LF: same\n" : "LF:\n" + lf));
}
INSTANTIATE_TEST_SUITE_P(Unpack, Cases, ::testing::ValuesIn(Messages()), CaseName());

TEST(Unpack, AllCasesFound)
{
    EXPECT_GT(Messages().size(), 50u);
}

using Composite = ::testing::TestWithParam<Row>;
TEST_P(Composite, Row)
{
    const Row& row = GetParam();
    CUnpacker unpacker;
    COutputBlock block;
    const bool multipart = row[0] == "multipart";
    block.SetContentType(multipart ? CMIMEPart::CONTENT_MULTIPART : CMIMEPart::CONTENT_MESSAGE);
    block.SetSubTypeString(row[1].c_str());
    block.SetParameters(row[2].c_str());
    block.SetEncodeType(static_cast<CMIMEPart::_ENCODE_TYPE>(std::stoi(row[3])));
    block.SetContentId(row[4].c_str());
    int leaf = -1;
    const _CME_RC rc = multipart ? unpacker.ParseMultipart(&block) : unpacker.ParseMessage(&block, &leaf);
    ExpectGoldenSection("unpack/composite.out", row,
                        "line " + std::to_string(row.line) + ": rc " + std::to_string(rc) + " leaf " +
                            std::to_string(leaf) + "\n  " + DumpTree(&block, ""));
}
INSTANTIATE_TEST_SUITE_P(Table, Composite, ::testing::ValuesIn(ReadTable("unpack/composite.tsv")), CaseName());

// Unpacks with a fresh unpacker: "rc N: error text", after "tree " if a tree came back.
std::string Failure(const std::string& source, const std::string& work, bool body = false)
{
    CUnpacker unpacker;
    CString path(source.c_str()), error;
    _CME_RC rc = CME_SUCCESS;
    Tree tree(body ? unpacker.UnpackBody(path, work.c_str(), TRUE, &rc, error)
                   : unpacker.Unpack(path, work.c_str(), TRUE, &rc, error));
    return (tree ? "tree rc " : "rc ") + std::to_string(rc) + ": " + std::string(error);
}

TEST(Unpack, FailuresAndReruns)
{
    ScratchDir scratch;
    const std::string missing = scratch.file("missing.eml"), noDir = scratch.file("no/such/dir");
    for (bool body : {false, true})
        EXPECT_EQ("rc 4: Source file '" + missing + "' cannot be opened.", Failure(missing, scratch.path(), body));
    EXPECT_EQ("rc 11: Sub-type does not exist for the MIME encoded source.",
              Failure(DataPath("unpack/child-without-subtype.eml"), scratch.path()));
    // Without the work directory no header work file can be made. A non-MIME message then
    // goes to the uuencode scan, whose file cannot be created either: its tree comes back.
    const std::pair<std::string, std::string> runs[] = {
        {"rc 9", Failure(DataPath("unpack/text.eml"), noDir)},
        {"tree rc 9", Failure(DataPath("unpack/uu-one.eml"), noDir)},
        {"rc 9", Failure(DataPath("unpack/body-two-parts.body.eml"), noDir, true)}};
    for (const auto& [rc, text] : runs)
    {
        EXPECT_EQ(0u, text.rfind(rc + ": Header file '" + Join(noDir, ""), 0)) << text;
        EXPECT_EQ(text.size() - 24, text.find(".HDR' cannot be created.")) << text;
    }
    EXPECT_FALSE(Exists(noDir));

    // A scan that finds nothing leaves the source at its start.
    CStdioFile file;
    ASSERT_TRUE(file.Open(DataPath("unpack/non-mime.eml").c_str(), CFile::shareDenyWrite));
    file.Seek(5, CFile::begin);
    COutputBlock* found = nullptr;
    EXPECT_FALSE(CUnpacker().ScanForUUEncodedFiles(&file, "/nonexistent", found, TRUE));
    EXPECT_EQ(nullptr, found);
    EXPECT_EQ(0u, file.GetPosition());

    // One engine parses several times: no run leaks into the next, files already in the work
    // directory are not overwritten nor followed, the engine's error state is left alone.

    CMIMEEngine engine;
    _CME_RC rc = CME_SUCCESS;
    CString source(missing.c_str()), parts(DataPath("unpack/three-parts.eml").c_str()),
        uu(DataPath("unpack/uu-two.noextract.eml").c_str());
    EXPECT_EQ(nullptr, engine.Unpack(source, scratch.path().c_str(), TRUE, rc));
    EXPECT_EQ(CME_FILE_ERROR, rc);
    const CTime fixed(2001, 2, 3, 4, 5, 6); // work-file names come from the clock
    CTime::SetCurrentTimeForTesting(&fixed);
    Tree first(engine.Unpack(parts, scratch.mkdir("w1").c_str(), TRUE, rc));
    Tree second(engine.Unpack(parts, scratch.mkdir("w2").c_str(), TRUE, rc));
    CTime::SetCurrentTimeForTesting(nullptr);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(DumpTree(first.get(), scratch.file("w1")), DumpTree(second.get(), scratch.file("w2")));
    // A data file outside w2 would show with its whole path.
    EXPECT_EQ(3u, Children(second.get()).size());

    const std::string work = scratch.mkdir("work"), canary = scratch.file("canary.txt");
    WriteFile(work + "/a.txt", "keep me");
    WriteFile(canary, "canary");
    // Where no link can be planted, a copy of the canary takes the name.
    ASSERT_TRUE(kHaveSymlinks ? MakeSymlink(canary, work + "/b.txt") : (WriteFile(work + "/b.txt", "canary"), true));
    Tree root(engine.Unpack(uu, work.c_str(), TRUE, rc));
    EXPECT_EQ("keep me", ReadFile(work + "/a.txt"));
    EXPECT_EQ("canary", ReadFile(canary));
    EXPECT_NE(std::string::npos, DumpTree(root.get(), work).find("  data a (2).txt: \"abc\"\n  UNKNOWN")) << rc;
    EXPECT_EQ(CME_SUCCESS, engine.GetLastError());
    EXPECT_STREQ("", engine.GetErrorString());
}

// Parses a message and checks the result code. (CTest's timeout is the guard against a cost
// that grows faster than the input; the tests never time themselves.)
std::unique_ptr<Parse> Parsed(const std::string& message, BOOL extract)
{
    auto run = std::make_unique<Parse>(message, extract);
    EXPECT_EQ(CME_SUCCESS, run->rc);
    return run;
}

// Number of levels along the chain of first children (the root counts as 1).
int ChainDepth(const COutputBlock* block)
{
    int depth = 0;
    for (; block != nullptr; ++depth)
        block = Children(block).empty() ? nullptr : Children(block).front();
    return depth;
}

// Multiparts nested levels deep around a text leaf, then a last part of the outermost one;
// then embedded messages nested 10,000 deep. Only 100 levels are entered.
TEST(Hostile, DeepNesting)
{
    // Boundary of nesting level i; no boundary is a prefix of another.
    auto B = [](int i) { return "bnd" + std::to_string(i) + "z"; };
    for (int levels : {MAX_NESTING_DEPTH - 1, 10000})
    {
        std::string m = "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=" + B(0) + "\r\n\r\n";
        for (int i = 0; i < levels; ++i)
            m += "--" + B(i) + "\r\nContent-Type: multipart/mixed; boundary=" + B(i + 1) + "\r\n\r\n";
        m += "--" + B(levels) + "\r\nContent-Type: text/plain\r\n\r\ndeepest\r\n";
        for (int i = levels; i >= 1; --i)
            m += "--" + B(i) + "--\r\n";
        m += "--" + B(0) + "\r\nContent-Type: text/plain\r\n\r\ntail\r\n--" + B(0) + "--\r\n";
        for (BOOL extract : {TRUE, FALSE})
        {
            SCOPED_TRACE(std::to_string(levels) + (extract ? " extract" : ""));
            auto run = Parsed(m, extract);
            ASSERT_NE(nullptr, run->root);
            auto top = Children(run->root.get());
            ASSERT_EQ(2u, top.size());
            // The root, then 100 entered levels; a block below them is kept unentered.
            EXPECT_EQ(extract ? 101 : 2, ChainDepth(run->root.get()));
            if (!extract)
                continue;
            EXPECT_EQ("tail\r\n", ReadFile(top[1]->GetDataFile()));
            // Below the limit the deepest multipart still has its leaf decoded.
            EXPECT_EQ(levels < MAX_NESTING_DEPTH,
                      DumpTree(run->root.get(), run->work).find("deepest") != std::string::npos);
        }
    }
    std::string m = "MIME-Version: 1.0\r\n";
    for (int i = 0; i < 10000; ++i)
        m += "Content-Type: message/rfc822\r\n\r\n";
    auto run = Parsed(m + "Content-Type: text/plain\r\n\r\nbody\r\n", TRUE);
    ASSERT_NE(nullptr, run->root);
    EXPECT_EQ(101, ChainDepth(run->root.get()));
}

// 100,000 parts (the default part limit) all become children; 3,000
// attachments of the same name get numbered names.
// Wine finds a name by scanning its directory, so that each new file in a directory costs
// more than the one before: under Wine the first message has fewer parts.
#if defined(MIMEENGINE_TESTS_UNDER_WINE)
constexpr int kManyParts = 3000;
#else
constexpr int kManyParts = 100000;
#endif

TEST(Hostile, ManyParts)
{
    auto mixed = [](const std::string& part, int n) {
        std::string m = "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=p\r\n\r\n";
        for (int i = 0; i < n; ++i)
            m += "--p\r\n" + part;
        return m + "--p--\r\n";
    };
    auto many = Parsed(mixed("Content-Type: text/plain\r\n\r\nx\r\n", kManyParts), FALSE);
    ASSERT_NE(nullptr, many->root);
    EXPECT_EQ(static_cast<size_t>(kManyParts), Children(many->root.get()).size());
    auto run = Parsed(mixed("Content-Type: application/octet-stream; name=\"dup.bin\"\r\n"
                            "Content-Transfer-Encoding: base64\r\n\r\nAAEC\r\n",
                            3000),
                      TRUE);
    ASSERT_NE(nullptr, run->root);
    auto children = Children(run->root.get());
    ASSERT_EQ(3000u, children.size());
    EXPECT_EQ(Join(run->work, "dup.bin"), children[0]->GetDataFile());
    EXPECT_EQ(Join(run->work, "dup (2).bin"), children[1]->GetDataFile());
    EXPECT_EQ(Join(run->work, "dup (3000).bin"), children.back()->GetDataFile());
}

// n pseudo-random bytes, the same on every run.
std::string Random(size_t n)
{
    std::string s;
    for (unsigned x = static_cast<unsigned>(n); s.size() < n;)
        s += static_cast<char>((x = x * 1103515245u + 12345u) >> 16);
    return s;
}

TEST(RoundTrip, EveryEncodingFlatAndNested)
{
    std::string lf;
    for (int i = 0; i < 20; ++i)
        lf += "Line " + std::to_string(i) + " with some text, and more text.\n";
    const std::string all = AllBytes() + AllBytes();
    // Leaf i: encoding codes[i], bytes data[i]; 7bit and quoted-printable leaves are text/plain.
    const auto qp = CMIMEPart::ENCODE_QUOTED_PRINTABLE, seven = CMIMEPart::ENCODE_7BIT, bin = CMIMEPart::ENCODE_BINARY;
    std::vector<CMIMEPart::_ENCODE_TYPE> codes = {qp, qp, seven, seven, bin, bin, CMIMEPart::ENCODE_BASE64};
    const std::string text = Crlf(lf) + "caf\xe9 = tab\there " + std::string(200, 'w') + "\r\n";
    std::vector<std::string> data = {text, std::string(3000, 'q') + "\r\n", Crlf(lf), lf, all, Random(10000), all};
    for (size_t n : {0u, 1u, 2u, 3u, 56u, 57u, 58u, 1000u})
        codes.push_back(CMIMEPart::ENCODE_BASE64), data.push_back(Random(n));
    auto type = [&codes](size_t i) {
        return codes[i] < CMIMEPart::ENCODE_BASE64 ? CMIMEPart::CONTENT_TEXT : CMIMEPart::CONTENT_APPLICATION;
    };
    ScratchDir scratch;
    CMIMEEngine engine;
    CInputBlock* root = engine.StartCreate(nullptr, nullptr, CMIMEPart::CONTENT_MULTIPART, CMIMEPart::ENCODE_7BIT,
                                           "mixed", nullptr, TRUE, nullptr);
    CInputBlock* inner = engine.AddInputBlock(root, nullptr, nullptr, CMIMEPart::CONTENT_MULTIPART,
                                              CMIMEPart::ENCODE_7BIT, "alternative", nullptr, TRUE, nullptr);
    ASSERT_TRUE(root && inner) << engine.GetErrorString();
    for (CInputBlock* parent : {inner, root})
        for (size_t i = 0; i < data.size(); ++i)
        {
            const std::string name = "leaf" + std::to_string(i) + ".bin", path = scratch.file(name);
            WriteFile(path, data[i]);
            ASSERT_NE(nullptr, engine.AddInputBlock(parent, path.c_str(), name.c_str(), type(i), codes[i],
                                                    type(i) == CMIMEPart::CONTENT_TEXT ? "plain" : "octet-stream",
                                                    nullptr, TRUE, nullptr))
                << name << ": " << engine.GetErrorString();
        }
    char out[260] = {};
    scratch.file("packed.eml").copy(out, sizeof out - 1);
    ASSERT_EQ(CME_SUCCESS, engine.Pack(root, out, sizeof out, FALSE)) << engine.GetErrorString();
    engine.FreeBlocks(root);

    Parse run(ReadFile(scratch.file("packed.eml")));
    ASSERT_TRUE(run.root && run.rc == CME_SUCCESS) << run.rc;
    auto top = Children(run.root.get());
    ASSERT_EQ(data.size() + 1, top.size());
    auto nested = Children(top[0]);
    ASSERT_EQ(data.size(), nested.size());
    for (size_t i = 0; i < data.size(); ++i)
        for (const COutputBlock* block : {nested[i], top[i + 1]})
        {
            EXPECT_EQ(type(i), block->GetContentType()) << i;
            EXPECT_EQ(codes[i], block->GetEncodeType()) << i;
            ASSERT_STRNE("", block->GetDataFile()) << i;
            EXPECT_TRUE((codes[i] == seven ? Crlf(data[i]) : data[i]) == ReadFile(block->GetDataFile())) << i;
        }
}

} // namespace
