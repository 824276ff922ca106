// Files for decoded bodies: the suggested name in the work directory, collision numbers,
// cleaning, confinement to the work directory, symbolic links and fallback names.
#include "mimeengine/unpack/unpacker.h"
#include "platform/win32.h"
#include "support/testsupport.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <regex>
#include <string>
#include <unistd.h>

namespace
{

using testsupport::ListTree;
using testsupport::ScratchDir;

class FixedTime
{
public:
    FixedTime(int year, int month, int day, int hour, int minute, int second)
    {
        CTime t(year, month, day, hour, minute, second);
        CTime::SetCurrentTimeForTesting(&t);
    }
    ~FixedTime() { CTime::SetCurrentTimeForTesting(nullptr); }
};

// Opens the binary output file for a block with the given suggested name, writes
// content, closes it, and returns the data file name the block got.
std::string WriteBody(CUnpacker& unpacker, const char* suggested, const std::string& content = "body")
{
    COutputBlock block;
    block.SetSuggestName(suggested);
    std::unique_ptr<CFile> file(unpacker.OpenBinaryOutputFile(&block));
    file->Write(content.data(), static_cast<UINT>(content.size()));
    file->Close();
    return block.GetDataFile();
}

class OutputFiles : public ::testing::Test
{
protected:
    void SetUp() override
    {
        work = parent.mkdir("work");
        unpacker.m_WorkDirectory = work.c_str();
    }
    std::string InWork(const std::string& name) const { return work + "/" + name; }

    ScratchDir parent;
    std::string work;
    CUnpacker unpacker;
};

TEST_F(OutputFiles, SuggestedNameInTheWorkDirectory)
{
    EXPECT_EQ(InWork("report.pdf"), WriteBody(unpacker, "report.pdf", "%PDF"));
    EXPECT_EQ("%PDF", testsupport::ReadFile(InWork("report.pdf")));
}

TEST_F(OutputFiles, CollisionsAreNumberedFromTwo)
{
    EXPECT_EQ(InWork("report.pdf"), WriteBody(unpacker, "report.pdf", "1"));
    EXPECT_EQ(InWork("report (2).pdf"), WriteBody(unpacker, "report.pdf", "2"));
    EXPECT_EQ(InWork("report (3).pdf"), WriteBody(unpacker, "report.pdf", "3"));
    EXPECT_EQ("1", testsupport::ReadFile(InWork("report.pdf")));
    EXPECT_EQ("2", testsupport::ReadFile(InWork("report (2).pdf")));
    EXPECT_EQ("3", testsupport::ReadFile(InWork("report (3).pdf")));

    EXPECT_EQ(InWork("README"), WriteBody(unpacker, "README"));
    EXPECT_EQ(InWork("README (2)"), WriteBody(unpacker, "README"));
}

TEST_F(OutputFiles, FirstFreeNumberSkipsNamesAlreadyThere)
{
    testsupport::WriteFile(InWork("a.txt"), "");
    testsupport::WriteFile(InWork("a (2).txt"), "");
    testsupport::WriteFile(InWork("a (3).txt"), "");
    EXPECT_EQ(InWork("a (4).txt"), WriteBody(unpacker, "a.txt"));
    EXPECT_EQ(InWork("a (5).txt"), WriteBody(unpacker, "a.txt"));
}

TEST_F(OutputFiles, WorkDirectoryWithTrailingSeparatorGivesTheSamePath)
{
    CUnpacker other;
    other.m_WorkDirectory = (work + "/").c_str();
    EXPECT_EQ(InWork("same.txt"), WriteBody(other, "same.txt"));
    EXPECT_EQ(InWork("same (2).txt"), WriteBody(unpacker, "same.txt"));
}

TEST_F(OutputFiles, TextVariantWritesLineEndsAsCRLF)
{
    COutputBlock block;
    block.SetSuggestName("note.txt");
    std::unique_ptr<CWfxFile> file(unpacker.OpenTextOutputFile(&block));
    ASSERT_TRUE(file->IsOpen());
    file->WriteString("one\ntwo\n");
    file->Close();
    EXPECT_EQ(InWork("note.txt"), std::string(block.GetDataFile()));
    EXPECT_EQ("one\r\ntwo\r\n", testsupport::ReadFile(InWork("note.txt")));
    // Text files are not deleted when the object goes away.
    file.reset();
    EXPECT_TRUE(testsupport::Exists(InWork("note.txt")));
}

TEST_F(OutputFiles, IllegalCharactersAreReplaced)
{
    EXPECT_EQ(InWork("a_b_.txt"), WriteBody(unpacker, "a?b*.txt"));
    EXPECT_EQ(InWork("x_y_z_.t_t"), WriteBody(unpacker, "x<y>z\".t|t"));
}

TEST_F(OutputFiles, NamesWithoutAFileNamePartGetWorkFileNames)
{
    FixedTime at(1999, 12, 4, 10, 7, 33);
    EXPECT_EQ(InWork("9L4K0721.TMP"), WriteBody(unpacker, ".profile"));
    EXPECT_EQ(InWork("9L4K0722.TMP"), WriteBody(unpacker, ""));
    EXPECT_EQ(InWork("9L4K0723.TMP"), WriteBody(unpacker, ".."));
    EXPECT_EQ(InWork("9L4K0724.TMP"), WriteBody(unpacker, "."));
    EXPECT_EQ(InWork("9L4K0725.TMP"), WriteBody(unpacker, "dir/"));
    EXPECT_EQ(InWork("9L4K0726.TMP"), WriteBody(unpacker, "C:"));
    EXPECT_EQ("9L4K0721.TMP\n9L4K0722.TMP\n9L4K0723.TMP\n9L4K0724.TMP\n9L4K0725.TMP\n9L4K0726.TMP\n", ListTree(work));
}

// Whatever directories a message puts into a name, the body lands in the work directory
// under the name's last component.
TEST_F(OutputFiles, NamesStayInsideTheWorkDirectory)
{
    const struct
    {
        const char* suggested;
        const char* expected;
    } cases[] = {
        {"../x", "x"},
        {"/etc/x", "x (2)"},
        {"C:\\x\\y.txt", "y.txt"},
        {"..\\..\\z", "z"},
        {"a/b/../../c.txt", "c.txt"},
        {"../../../../../../../../tmp/evil.sh", "evil.sh"},
        {"C:..\\..", nullptr}, // nothing usable left: a work-file name
        {"sub/..", nullptr},
        {"C:report.doc", "report.doc"},
    };
    for (const auto& c : cases)
    {
        std::string got = WriteBody(unpacker, c.suggested);
        ASSERT_EQ(0u, got.rfind(work + "/", 0)) << c.suggested << " gave " << got;
        std::string name = got.substr(work.size() + 1);
        EXPECT_EQ(std::string::npos, name.find('/')) << c.suggested;
        if (c.expected != nullptr)
        {
            EXPECT_EQ(c.expected, name) << c.suggested;
        }
        else
        {
            EXPECT_TRUE(std::regex_match(name, std::regex("[0-9A-Za-z]{4}[0-9]{2}[0-9a-f]{2}\\.TMP"))) << name;
        }
    }
    // Nothing outside the work directory was created.
    std::string tree = ListTree(parent.path());
    size_t start = 0;
    for (size_t end = tree.find('\n'); end != std::string::npos; start = end + 1, end = tree.find('\n', start))
    {
        std::string entry = tree.substr(start, end - start);
        EXPECT_TRUE(entry == "work" || entry.rfind("work/", 0) == 0) << "created outside: " << entry;
    }
}

// In a double-byte code page a "/" after a lead byte is still a separator for the file
// system, so it ends the directory part like any other.
TEST_F(OutputFiles, SlashAfterALeadByteIsASeparator)
{
    SetACPForTesting(932);
    parent.mkdir("work/sub\x83");
    std::string first = WriteBody(unpacker, "sub\x83/x.txt");
    std::string second = WriteBody(unpacker, "\x83/..");
    SetACPForTesting(0);
    EXPECT_EQ(InWork("x.txt"), first);
    EXPECT_EQ(0u, second.rfind(work + "/", 0));
    EXPECT_EQ(std::string::npos, second.find(".."));
    EXPECT_EQ("", ListTree(parent.file("work/sub\x83")));
}

// A symbolic link at the chosen name counts as taken: the body goes to the next number
// and the link's target is neither created nor changed.
TEST_F(OutputFiles, SymbolicLinksAreNotFollowed)
{
    std::string target = parent.file("outside.txt");
    testsupport::WriteFile(target, "original");
    ASSERT_EQ(0, ::symlink(target.c_str(), InWork("report.pdf").c_str()));
    ASSERT_EQ(0, ::symlink(parent.file("dangling").c_str(), InWork("notes.txt").c_str()));

    EXPECT_EQ(InWork("report (2).pdf"), WriteBody(unpacker, "report.pdf", "payload"));
    EXPECT_EQ(InWork("notes (2).txt"), WriteBody(unpacker, "notes.txt", "payload"));

    EXPECT_EQ("original", testsupport::ReadFile(target));
    EXPECT_FALSE(testsupport::Exists(parent.file("dangling")));
    EXPECT_EQ("payload", testsupport::ReadFile(InWork("report (2).pdf")));
}

TEST_F(OutputFiles, DirectoryAtTheNameCountsAsTaken)
{
    parent.mkdir("work/data.bin");
    EXPECT_EQ(InWork("data (2).bin"), WriteBody(unpacker, "data.bin"));
}

// A name that does not fit the 260-byte data file field gives a work-file name that
// keeps the extension; the block never holds a cut name.
TEST_F(OutputFiles, OverlongNamesFallBackToWorkFileNames)
{
    FixedTime at(2000, 1, 1, 0, 0, 0);
    // Short enough for the suggested-name field, too long once joined to the directory.
    std::string longName = std::string(240, 'n') + ".pdf";
    EXPECT_EQ(InWork("AA1A0000.pdf"), WriteBody(unpacker, longName.c_str()));

    std::string longExt = "x." + std::string(250, 'e');
    std::string got = WriteBody(unpacker, longExt.c_str());
    EXPECT_EQ(InWork("AA1A0000.TMP"), got);
}

// A name that fits the field but cannot be created (here a file name component longer
// than the file system allows) falls back to a work-file name with the same extension.
TEST_F(OutputFiles, UncreatableNameFallsBackToWorkFileName)
{
    FixedTime at(2000, 1, 1, 0, 0, 0);
    char saved[4096];
    ASSERT_NE(nullptr, ::getcwd(saved, sizeof saved));
    ASSERT_EQ(0, ::chdir(work.c_str()));
    CUnpacker relative;
    relative.m_WorkDirectory = ".";
    std::string name = std::string(252, 'r') + ".doc"; // 256 bytes: one more than a component may have
    std::string got = WriteBody(relative, name.c_str(), "doc");
    ASSERT_EQ(0, ::chdir(saved));
    EXPECT_EQ("./AA1A0000.doc", got);
    EXPECT_EQ("doc", testsupport::ReadFile(InWork("AA1A0000.doc")));
}

TEST_F(OutputFiles, NoFileAtAllRaisesTheFileException)
{
    CUnpacker lost;
    lost.m_WorkDirectory = parent.file("does-not-exist").c_str();
    COutputBlock block;
    block.SetSuggestName("report.doc");
    try
    {
        std::unique_ptr<CFile> file(lost.OpenBinaryOutputFile(&block));
        FAIL() << "no exception";
    }
    catch (const CFileException& e)
    {
        EXPECT_EQ(CFileException::generic, e.m_cause);
        EXPECT_EQ(-1, e.m_lOsError);
        EXPECT_TRUE(e.m_strFileName.IsEmpty());
    }
    // The block names the fallback whose creation failed.
    EXPECT_TRUE(std::regex_match(std::string(block.GetDataFile()),
                                 std::regex(".*/does-not-exist/[0-9A-Za-z]{4}[0-9]{2}[0-9a-f]{2}\\.doc")))
        << block.GetDataFile();

    COutputBlock textBlock;
    EXPECT_THROW(delete lost.OpenTextOutputFile(&textBlock), CFileException);
    EXPECT_EQ("work\n", ListTree(parent.path()));
}

// Many parts with one name: each gets the next number without rescanning the used ones.
TEST_F(OutputFiles, ManyPartsWithOneName)
{
    const int parts = 2000;
    for (int i = 1; i <= parts; ++i)
    {
        std::string expected = i == 1 ? InWork("part.dat") : InWork("part (" + std::to_string(i) + ").dat");
        ASSERT_EQ(expected, WriteBody(unpacker, "part.dat"));
    }
}

} // namespace
