// Uuencoded files in messages without MIME header.
#include "tests/unpack/unpacktest.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

using testsupport::Exists;
using testsupport::ReadFile;
using unpacktest::Children;
using unpacktest::Crlf;
using unpacktest::Parse;

// "abc" uuencoded: length character "#" (3), one group, then the empty data line.
const std::vector<std::string> kAbc = {"#86)C", "`", "end"};

std::string NonMime(const std::vector<std::string>& body)
{
    std::vector<std::string> lines = {"From: someone@example.com", "Subject: files", ""};
    lines.insert(lines.end(), body.begin(), body.end());
    return Crlf(lines);
}

std::vector<std::string> Block(const std::string& begin, const std::vector<std::string>& data = kAbc)
{
    std::vector<std::string> lines = {begin};
    lines.insert(lines.end(), data.begin(), data.end());
    return lines;
}

std::vector<std::string> Concat(std::vector<std::vector<std::string>> parts)
{
    std::vector<std::string> out;
    for (auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(UUScan, OneFileGivesOneChildUnderAMarkedRoot)
{
    Parse run(NonMime(Concat({{"Some text before."}, Block("begin 644 a.txt"), {"Text after."}})));
    ASSERT_NE(nullptr, run.root);
    EXPECT_EQ(CME_INVALID_HEADER, run.rc);
    EXPECT_EQ(CMIMEPart::UU_MARKER_ENCODING, run.root->GetEncodeType());
    EXPECT_EQ(CMIMEPart::CONTENT_UNKNOWN, run.root->GetContentType());
    auto children = Children(run.root.get());
    ASSERT_EQ(1u, children.size());
    COutputBlock* child = children[0];
    EXPECT_EQ(run.work + "/a.txt", child->GetDataFile());
    EXPECT_STREQ("a.txt", child->GetSuggestName());
    EXPECT_EQ(CMIMEPart::DISPOSE_ATTACHMENT, child->GetDisposition());
    EXPECT_EQ(CMIMEPart::CONTENT_UNKNOWN, child->GetContentType());
    EXPECT_STREQ("", child->GetSubTypeString());
    EXPECT_EQ("abc", ReadFile(child->GetDataFile()));
}

TEST(UUScan, TwoFilesInTheOrderOfTheirBeginLines)
{
    Parse run(NonMime(Concat({Block("begin 644 second.bin"), {"between"}, Block("begin 600 first.bin")})));
    ASSERT_NE(nullptr, run.root);
    auto children = Children(run.root.get());
    ASSERT_EQ(2u, children.size());
    EXPECT_STREQ("second.bin", children[0]->GetSuggestName());
    EXPECT_STREQ("first.bin", children[1]->GetSuggestName());
    EXPECT_EQ("abc", ReadFile(children[1]->GetDataFile()));
}

// Only the part after the last "/" or "\\" of a name is used, so no name leaves the work
// directory.
TEST(UUScan, NamesKeepOnlyTheirLastComponent)
{
    struct Case
    {
        const char* begin;
        const char* name;
    } cases[] = {
        {"begin 644 /tmp/x/b.bin", "b.bin"},        {"begin 644 ../../up.bin", "up.bin"},
        {"begin 644 ..\\..\\win.bin", "win.bin"},   {"begin 644 C:\\dir\\drive.bin", "drive.bin"},
        {"begin 644 trimmed.bin  ", "trimmed.bin"},
    };
    for (const Case& c : cases)
    {
        Parse run(NonMime(Block(c.begin)));
        ASSERT_NE(nullptr, run.root) << c.begin;
        auto children = Children(run.root.get());
        ASSERT_EQ(1u, children.size()) << c.begin;
        EXPECT_STREQ(c.name, children[0]->GetSuggestName()) << c.begin;
        EXPECT_EQ(run.work + "/" + c.name, children[0]->GetDataFile()) << c.begin;
        EXPECT_EQ("abc", ReadFile(run.work + "/" + c.name)) << c.begin;
        EXPECT_EQ(std::string(c.name) + "\n", run.DataFiles()) << c.begin;
    }
}

TEST(UUScan, LinesThatAreNotBeginLines)
{
    for (const char* begin : {".begin 644 a.txt", "BEGIN 644 a.txt", "begin644 a.txt", "beginning of text"})
    {
        Parse run(NonMime(Block(begin)));
        EXPECT_EQ(nullptr, run.root) << begin;
        EXPECT_EQ(CME_INVALID_HEADER, run.rc) << begin;
        EXPECT_EQ("", run.DataFiles()) << begin;
    }
}

// A malformed "begin " line stops the scan; the tree holds the child with empty fields.
TEST(UUScan, MalformedBeginLinesStopTheScan)
{
    for (const char* begin :
         {"begin 644 ..", "begin 644 x/..", "begin 644 x/", "begin 644 dir/ ", "begin 644 .", "begin 64x a.txt",
          "begin 0644 a.txt", "begin 644  a.txt", "begin 644", "begin 644   spaced.bin"})
    {
        Parse run(NonMime(Concat({Block(begin), Block("begin 644 later.txt")})));
        ASSERT_NE(nullptr, run.root) << begin;
        EXPECT_EQ(CME_INVALID_HEADER, run.rc) << begin;
        auto children = Children(run.root.get());
        ASSERT_EQ(1u, children.size()) << begin;
        EXPECT_STREQ("", children[0]->GetDataFile()) << begin;
        EXPECT_STREQ("", children[0]->GetSuggestName()) << begin;
        EXPECT_EQ("", run.DataFiles()) << begin;
    }
}

TEST(UUScan, WithoutExtractNamesAreMadeAndNothingIsWritten)
{
    Parse run(NonMime(Concat({Block("begin 644 a.txt"), Block("begin 644 b.txt")})), FALSE);
    ASSERT_NE(nullptr, run.root);
    auto children = Children(run.root.get());
    ASSERT_EQ(2u, children.size());
    EXPECT_EQ(run.work + "/a.txt", children[0]->GetDataFile());
    EXPECT_EQ(run.work + "/b.txt", children[1]->GetDataFile());
    EXPECT_EQ("", run.DataFiles());
}

TEST(UUScan, LoneDotEndsTheScan)
{
    Parse run(NonMime(Concat({{"text", "."}, Block("begin 644 a.txt")})));
    EXPECT_EQ(nullptr, run.root);
    EXPECT_EQ("", run.DataFiles());

    // A dot followed by more text is an ordinary line.
    Parse more(NonMime(Concat({{".."}, Block("begin 644 a.txt")})));
    ASSERT_NE(nullptr, more.root);
    EXPECT_EQ(1u, Children(more.root.get()).size());
}

// "end " with a trailing space is data, so the file never ends: nothing completed, no tree,
// but the partial file stays on the disk.
TEST(UUScan, UnterminatedFileGivesNoTree)
{
    Parse run(NonMime({"begin 644 a.txt", "#86)C", "`", "end "}));
    EXPECT_EQ(nullptr, run.root);
    EXPECT_EQ(CME_INVALID_HEADER, run.rc);
    EXPECT_EQ("a.txt\n", run.DataFiles());

    // After one completed file an unterminated second one still gives the tree.
    Parse second(NonMime(Concat({Block("begin 644 a.txt"), {"begin 644 b.txt", "#86)C"}})));
    ASSERT_NE(nullptr, second.root);
    EXPECT_EQ(2u, Children(second.root.get()).size());
}

// "end" at the very end of the input without a line end closes the file.
TEST(UUScan, EndWithoutFinalLineEnd)
{
    std::string message = NonMime({"begin 644 a.txt", "#86)C", "`"}) + "end";
    Parse run(message);
    ASSERT_NE(nullptr, run.root);
    EXPECT_EQ("abc", ReadFile(run.work + "/a.txt"));
}

TEST(UUScan, ExistingFileIsNotOverwritten)
{
    testsupport::ScratchDir scratch;
    std::string work = scratch.mkdir("work");
    testsupport::WriteFile(work + "/a.txt", "keep me");
    std::string source = scratch.file("m.eml");
    testsupport::WriteFile(source, NonMime(Block("begin 644 a.txt")));
    CMIMEEngine engine;
    CString path(source.c_str());
    _CME_RC rc = CME_SUCCESS;
    unpacktest::Tree root(engine.Unpack(path, work.c_str(), TRUE, rc));
    ASSERT_NE(nullptr, root);
    EXPECT_EQ("keep me", ReadFile(work + "/a.txt"));
    auto children = Children(root.get());
    ASSERT_EQ(1u, children.size());
    EXPECT_EQ(work + "/a (2).txt", children[0]->GetDataFile());
    EXPECT_EQ("abc", ReadFile(children[0]->GetDataFile()));
}

TEST(UUScan, SymlinkInTheWorkDirectoryIsNotFollowed)
{
    testsupport::ScratchDir scratch;
    std::string work = scratch.mkdir("work");
    std::string canary = scratch.file("canary.txt");
    testsupport::WriteFile(canary, "canary");
    ASSERT_EQ(0, symlink(canary.c_str(), (work + "/a.txt").c_str()));
    std::string source = scratch.file("m.eml");
    testsupport::WriteFile(source, NonMime(Block("begin 644 a.txt")));
    CMIMEEngine engine;
    CString path(source.c_str());
    _CME_RC rc = CME_SUCCESS;
    unpacktest::Tree root(engine.Unpack(path, work.c_str(), TRUE, rc));
    EXPECT_EQ("canary", ReadFile(canary));
}

TEST(UUScan, ScanLeavesTheSourceAtItsStart)
{
    testsupport::ScratchDir scratch;
    std::string source = scratch.file("m.txt");
    testsupport::WriteFile(source, Crlf({"no files here", "at all"}));
    CStdioFile file;
    ASSERT_TRUE(file.Open(source.c_str(), 0x0020));
    file.Seek(5, CFile::begin);
    CUnpacker unpacker;
    COutputBlock* root = nullptr;
    EXPECT_FALSE(unpacker.ScanForUUEncodedFiles(&file, scratch.path().c_str(), root, TRUE));
    EXPECT_EQ(nullptr, root);
    EXPECT_EQ(0u, file.GetPosition());
}

// A data line whose check character does not match stops the file with what it has.
TEST(UUScan, CheckCharacterMismatchStops)
{
    // "#86)C" followed by four filler characters and a wrong check character at the fifth
    // position after the group.
    Parse run(NonMime({"begin 644 a.txt", "#86)CAAAAZ", "`", "end"}));
    EXPECT_EQ(nullptr, run.root);
    EXPECT_EQ("abc", ReadFile(run.work + "/a.txt"));
}

TEST(UUScan, NameTooLongForThePathFieldIsRefused)
{
    Parse run(NonMime(Block("begin 644 " + std::string(300, 'n'))));
    ASSERT_NE(nullptr, run.root);
    auto children = Children(run.root.get());
    ASSERT_EQ(1u, children.size());
    EXPECT_STREQ("", children[0]->GetDataFile());
    EXPECT_EQ("", run.DataFiles());

    Parse longer(NonMime(Block("begin 644 " + std::string(5000, 'n'))));
    ASSERT_NE(nullptr, longer.root);
    EXPECT_EQ("", longer.DataFiles());
}

} // namespace

// The scan makes at most as many files as the part limit; the blocks after that are not
// looked at.
TEST(UUScan, ScanStopsAtThePartLimit)
{
    const int limit = 30;
    std::vector<std::string> body;
    for (int i = 0; i < limit + 3; ++i)
    {
        auto block = Block("begin 644 f" + std::to_string(i) + ".txt");
        body.insert(body.end(), block.begin(), block.end());
    }
    Parse run(NonMime(body), FALSE, limit);
    ASSERT_NE(nullptr, run.root);
    auto children = Children(run.root.get());
    ASSERT_EQ(static_cast<size_t>(limit), children.size());
    EXPECT_EQ(run.work + "/f" + std::to_string(limit - 1) + ".txt", children.back()->GetDataFile());
}
