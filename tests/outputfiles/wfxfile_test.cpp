// CWfxFile: opening at construction without exceptions, Close, and delete-on-destroy.
#include "mimeengine/extract/wfxfile.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>
#include <string>

namespace
{

constexpr UINT kCreateWrite = CFile::modeCreate | CFile::modeWrite;

TEST(WfxFile, DeleteOnDestroy)
{
    testsupport::ScratchDir dir;
    std::string path = dir.file("work.HDR");
    {
        CWfxFile file(CString(path.c_str()), kCreateWrite, TRUE, TRUE);
        ASSERT_TRUE(file.IsOpen());
        EXPECT_STREQ(path.c_str(), file.GetPath());
        file.WriteString("line\n");
        EXPECT_TRUE(testsupport::Exists(path));
    }
    EXPECT_FALSE(testsupport::Exists(path));
}

TEST(WfxFile, KeptWithoutTheFlagAndWrittenInTextMode)
{
    testsupport::ScratchDir dir;
    std::string path = dir.file("body.txt");
    {
        CWfxFile file(CString(path.c_str()), kCreateWrite, FALSE, TRUE);
        ASSERT_TRUE(file.IsOpen());
        file.WriteString("a\nb\n");
    }
    EXPECT_EQ("a\r\nb\r\n", testsupport::ReadFile(path));
}

TEST(WfxFile, CloseMarksClosedAndMayBeRepeated)
{
    testsupport::ScratchDir dir;
    std::string path = dir.file("x");
    CWfxFile file(CString(path.c_str()), kCreateWrite, TRUE, TRUE);
    ASSERT_TRUE(file.IsOpen());
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(CFile::hFileNull, file.m_hFile);
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    // Reopening later is allowed; the file is still deleted at the end.
    ASSERT_TRUE(file.Open(path.c_str(), CFile::modeRead));
    EXPECT_TRUE(file.IsOpen());
}

TEST(WfxFile, FailedOpenRaisesNothing)
{
    testsupport::ScratchDir dir;
    std::string path = dir.file("missing-dir/x.HDR");
    EXPECT_NO_THROW({
        CWfxFile file(CString(path.c_str()), kCreateWrite, TRUE, TRUE);
        EXPECT_FALSE(file.IsOpen());
    });
    EXPECT_EQ("", testsupport::ListTree(dir.path())) << "nothing was created";
}

TEST(WfxFile, NotOpenedWithoutOpenNow)
{
    testsupport::ScratchDir dir;
    std::string path = dir.file("later");
    testsupport::WriteFile(path, "keep");
    {
        CWfxFile file(CString(path.c_str()), kCreateWrite, FALSE, FALSE);
        EXPECT_FALSE(file.IsOpen());
    }
    EXPECT_EQ("keep", testsupport::ReadFile(path));
}

TEST(WfxFile, EmptyPathDeletesNothing)
{
    testsupport::ScratchDir dir;
    testsupport::WriteFile(dir.file("other"), "x");
    {
        CWfxFile file(CString(""), kCreateWrite, TRUE, FALSE);
        EXPECT_FALSE(file.IsOpen());
    }
    EXPECT_TRUE(testsupport::Exists(dir.file("other")));
}

} // namespace
