// The files of decoded bodies (names, numbering, confinement to the work directory),
// work-file names made from the clock, CFileUtilities and CWfxFile.
#include "mimeengine/unpack/unpacker.h"
#include "platform/fileutilities.h"
#include "platform/win32.h"
#include "support/testsupport.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>

namespace
{

using namespace testsupport;

// Fixes the clock at "YYYY-MM-DD hh:mm:ss".
void SetClock(const std::string& when)
{
    int f[6] = {};
    std::sscanf(when.c_str(), "%d-%d-%d %d:%d:%d", &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]);
    CTime t(f[0], f[1], f[2], f[3], f[4], f[5]);
    CTime::SetCurrentTimeForTesting(&t);
}

// The parts of a cell between ';'.
std::vector<std::string> Split(const std::string& cell)
{
    std::vector<std::string> parts(1);
    for (char c : cell)
        c == ';' ? parts.emplace_back().clear() : parts.back().push_back(c);
    return parts;
}

// bodies.tsv: clock; work directory ("work", "work/", "." after changing into work, or
// "missing"); b or t (binary or text file); code page; entries made first in work (name: a
// file, name/: a directory, name=target: a link to a target beside work); suggested names.
// bodies.golden shows per row the data file of each body relative to the work directory
// and the bytes it holds (its suggested name; "!": the open raised), then everything in and
// beside work (a link to a file is listed as that file) and what the file beside work holds.
// Rows that plant links run only where links can be made (kHaveSymlinks).
using Bodies = ::testing::TestWithParam<Row>;
TEST_P(Bodies, Row)
{
    const Row& row = GetParam();
    if (!kHaveSymlinks && row[4].find('=') != std::string::npos)
        GTEST_SKIP() << "no links can be made here";
    ScratchDir parent;
    const std::string work = parent.mkdir("work"), missing = parent.file("missing");
    const std::string dir = row[1] == "." ? "." : row[1] == "missing" ? missing : work;
    WriteFile(parent.file("outside.txt"), "original");
    for (const std::string& e : Split(row[4]))
    {
        const size_t eq = e.find('=');
        if (eq != std::string::npos)
            ASSERT_TRUE(MakeSymlink(parent.file(e.substr(eq + 1)), work + "/" + e.substr(0, eq)));
        else if (!e.empty())
            e.back() == '/' ? (void)parent.mkdir("work/" + e) : WriteFile(work + "/" + e, "");
    }
    SetClock(row[0]);
    SetACPForTesting(std::stoi(row[3]));
    const std::filesystem::path saved = std::filesystem::current_path();
    if (dir == ".")
        std::filesystem::current_path(work);
    CUnpacker unpacker;
    unpacker.m_WorkDirectory = (dir + (row[1] == "work/" ? "/" : "")).c_str();
    std::string dump = "line " + std::to_string(row.line) + ":";
    for (const std::string& suggested : Split(row[5]))
    {
        COutputBlock block;
        block.SetSuggestName(suggested.c_str());
        const std::string content = suggested.substr(0, 12) + "\n"; // long names cut to 12
        try
        {
            std::unique_ptr<CFile> file(row[2] == "t" ? unpacker.OpenTextOutputFile(&block)
                                                      : unpacker.OpenBinaryOutputFile(&block));
            file->Write(content.data(), static_cast<UINT>(content.size()));
            file->Close();
        }
        catch (const CFileException& e)
        {
            dump += " !";
            EXPECT_TRUE(e.m_cause == CFileException::generic && e.m_lOsError == -1 && e.m_strFileName.IsEmpty());
        }
        // The name below dir, whichever separator follows it ("work/" brings its own).
        const std::string data = block.GetDataFile();
        const bool below = data.rfind(dir, 0) == 0 && data.size() > dir.size() &&
                           (data[dir.size()] == '/' || data[dir.size()] == kSeparator);
        const std::string name = below ? data.substr(dir.size() + 1) : data;
        dump += " " + Escape(name) +
                (Exists(work + "/" + name) ? " \"" + Escape(ReadFile(work + "/" + name)) + "\";" : ";");
    }
    std::filesystem::current_path(saved);
    SetACPForTesting(0);
    CTime::SetCurrentTimeForTesting(nullptr);
    dump += "\n  " + Escape(ListTree(parent.path())) + " " + ReadFile(parent.file("outside.txt")) + "\n";
    ExpectGoldenSection("outputfiles/bodies.golden", row, dump);
}
INSTANTIATE_TEST_SUITE_P(Table, Bodies, ::testing::ValuesIn(ReadTable("outputfiles/bodies.tsv")), CaseName());

// 2000 parts with one name, each numbered without rescanning the used numbers, and 300
// nameless parts in one minute: the 256 eight-character work-file names, then longer ones.
TEST(OutputFiles, ManyPartsInOneMinute)
{
    ScratchDir dir;
    SetClock("2024-05-06 07:08:09");
    CUnpacker unpacker;
    unpacker.m_WorkDirectory = dir.path().c_str();
    std::set<std::string> names;
    for (int i = 1; i <= 2000; ++i)
    {
        COutputBlock block, nameless;
        block.SetSuggestName("part.dat");
        delete unpacker.OpenBinaryOutputFile(&block);
        ASSERT_EQ(dir.file(i == 1 ? "part.dat" : "part (" + std::to_string(i) + ").dat"), block.GetDataFile());
        if (i <= 300)
            delete unpacker.OpenBinaryOutputFile(&nameless),
                names.insert(nameless.GetDataFile() + dir.path().size() + 1);
    }
    // The counter starts at the second (09), wraps after ff, and the long form keeps 09.
    EXPECT_EQ(256, std::count_if(names.begin(), names.end(), [](const std::string& n) { return n.size() == 12; }));
    EXPECT_TRUE(names.size() == 300 && names.count("YE6H0800.TMP") && names.count("YE6H08ff.TMP") &&
                names.count("YE6H0809_1.TMP") && names.count("YE6H0809_2C.TMP"));
    char base[16] = "###############";
    CString result("stale");
    g_FileUtilities.MakeWorkFileName(CString(dir.path().c_str()), "HDR", result, base, FALSE);
    EXPECT_EQ("YE6H0809.HDR YE6H0809", std::string(result) + " " + base);
    g_FileUtilities.MakeWorkFileName(CString(dir.file(std::string(250, 'd')).c_str()), "TMP", result, base, TRUE);
    EXPECT_TRUE(result.IsEmpty()) << "a path too long for the field";
    CTime::SetCurrentTimeForTesting(nullptr);
}

// names.tsv: operation (join, ext, clean or exists), code page, argument(s), result. The
// paths of "exists" are in a directory holding the file "present" and the directory "sub".
using Names = ::testing::TestWithParam<Row>;
TEST_P(Names, Row)
{
    ScratchDir dir;
    WriteFile(dir.file("present"), "x");
    dir.mkdir("sub");
    const Row& row = GetParam();
    SetACPForTesting(std::stoi(row[1]));
    char path[MAX_PATH];
    std::snprintf(path, sizeof path, "%s", Split(row[2])[0].c_str());
    CString result("stale");
    if (row[0] == "join")
        g_FileUtilities.JoinPath(CString(row[2].c_str()), row[3].c_str(), result);
    else if (row[0] == "ext")
        g_FileUtilities.GetExtension(path, result);
    else if (row[0] == "exists")
        result = g_FileUtilities.FileExists(row[2].empty() ? "" : dir.file(row[2]).c_str()) ? "yes" : "no";
    else
        g_FileUtilities.CleanFileName(path), result = path;
    EXPECT_EQ(Split(row[4])[0], std::string(result));
    SetACPForTesting(0);
}
INSTANTIATE_TEST_SUITE_P(Table, Names, ::testing::ValuesIn(ReadTable("outputfiles/names.tsv")), CaseName());

TEST(FileUtilities, NullArguments)
{
    CString none("stale");
    g_FileUtilities.GetExtension(nullptr, none);
    EXPECT_TRUE(none.IsEmpty() && !g_FileUtilities.FileExists(nullptr));
}

// CWfxFile: Close may be repeated; with the flag the file is deleted when the object goes
// away, even after a reopen; without openNow nothing is opened (nor created).
TEST(WfxFile, DeletedWhenAskedEvenAfterCloseAndReopen)
{
    ScratchDir dir;
    const std::string path = dir.file("work.HDR");
    {
        const UINT flags = CFile::modeCreate | CFile::modeWrite;
        CWfxFile file(path.c_str(), flags, TRUE, TRUE), later(dir.file("later").c_str(), flags, FALSE, FALSE);
        file.Close();
        file.Close();
        EXPECT_TRUE(!file.IsOpen() && file.m_hFile == CFile::hFileNull && !later.IsOpen() &&
                    file.GetPath() == path.c_str());
        ASSERT_TRUE(Exists(path) && file.Open(path.c_str(), CFile::modeRead));
    }
    EXPECT_EQ("", ListTree(dir.path()));
}

} // namespace
