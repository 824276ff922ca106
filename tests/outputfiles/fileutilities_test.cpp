// CFileUtilities: joining, extensions, existence and the cleaning of file names.
#include "extract/fileutilities.h"
#include "platform/win32.h"
#include "support/testsupport.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace
{

TEST(JoinPath, SeparatorOnlyWhenMissing)
{
    const struct
    {
        const char* dir;
        const char* name;
        const char* expected;
    } cases[] = {
        {"/w", "a.txt", "/w/a.txt"},
        {"/w/", "a.txt", "/w/a.txt"},
        {"C:\\out", "a", "C:\\out/a"},
        {"C:\\out\\", "a", "C:\\out\\a"},
        {"", "a", "/a"},
        {"/w", "", "/w/"},
        {"rel", "x (2).pdf", "rel/x (2).pdf"},
    };
    for (const auto& c : cases)
    {
        CString result("stale");
        g_FileUtilities.JoinPath(CString(c.dir), c.name, result);
        EXPECT_STREQ(c.expected, result) << c.dir << " + " << c.name;
    }
}

TEST(GetExtension, FromTheLastDotOfTheFileName)
{
    const struct
    {
        const char* path;
        const char* expected;
    } cases[] = {
        {"a.txt", ".txt"},
        {"a", ""},
        {"/d.d/a", ""},
        {"a.tar.gz", ".gz"},
        {".profile", ".profile"},
        {"a.", "."},
        {"C:\\x.y\\z.doc", ".doc"},
        {"", ""},
    };
    for (const auto& c : cases)
    {
        CString result("stale");
        g_FileUtilities.GetExtension(c.path, result);
        EXPECT_STREQ(c.expected, result) << c.path;
    }
    CString result("stale");
    g_FileUtilities.GetExtension(nullptr, result);
    EXPECT_TRUE(result.IsEmpty());
}

TEST(FileExists, FilesOnly)
{
    testsupport::ScratchDir dir;
    testsupport::WriteFile(dir.file("present"), "x");
    dir.mkdir("sub");
    EXPECT_TRUE(g_FileUtilities.FileExists(dir.file("present").c_str()));
    EXPECT_FALSE(g_FileUtilities.FileExists(dir.file("absent").c_str()));
    EXPECT_FALSE(g_FileUtilities.FileExists(dir.file("sub").c_str()));
    EXPECT_FALSE(g_FileUtilities.FileExists(""));
    EXPECT_FALSE(g_FileUtilities.FileExists(nullptr));
}

struct CleanCase
{
    const char* input;
    const char* expected;
};

void ExpectCleaned(const CleanCase& c)
{
    char buf[MAX_PATH];
    std::snprintf(buf, sizeof buf, "%s", c.input);
    g_FileUtilities.CleanFileName(buf);
    EXPECT_STREQ(c.expected, buf) << "input " << c.input;
}

TEST(CleanFileName, ReplacesIllegalCharactersInNameAndExtensionOnly)
{
    const CleanCase cases[] = {
        {"a?b*.txt", "a_b_.txt"},
        {"/w/a?b*.txt", "/w/a_b_.txt"},
        {"/w/x<y>z|q\".t?t", "/w/x_y_z_q_.t_t"},
        {"/w:x/a:b.c:d", "/w:x/a_b.c_d"}, // the directory part is never changed
        {"/w?/*", "/w?/_"},
        {"C:\\out\\re:port.pdf", "C:\\out\\re_port.pdf"},
        {"C:name", "C:name"},
        {"plain", "plain"},
        {"/w/.profile", ""}, // nothing but an extension: no file name at all
        {".profile", ""},
        {"/w/", ""},
        {"", ""},
        {"/w/..", "/w/.."}, // file name "." and extension "."
        {"/w/a.", "/w/a."},
    };
    for (const CleanCase& c : cases)
        ExpectCleaned(c);
}

TEST(CleanFileName, LongestPathKeepsItsDirectory)
{
    // 259 characters, with a directory longer than any fixed part buffer of a splitter.
    std::string dir = "/" + std::string(240, 'd') + "/";
    std::string path = dir + "a?b" + std::string(259 - dir.size() - 3, 'n');
    ASSERT_EQ(259u, path.size());
    char buf[MAX_PATH];
    std::memcpy(buf, path.c_str(), path.size() + 1);
    g_FileUtilities.CleanFileName(buf);
    std::string expected = path;
    expected[dir.size() + 1] = '_';
    EXPECT_EQ(expected, std::string(buf));
}

// In a double-byte code page the second byte of a character may be "\\" or "|": it
// belongs to the character and is neither a separator nor replaced.
TEST(CleanFileName, DoubleByteCharacters)
{
    SetACPForTesting(932);
    ExpectCleaned({"/w/\x83\x5C?.txt", "/w/\x83\x5C_.txt"});
    ExpectCleaned({"/w/\x83\x7C|.txt", "/w/\x83\x7C_.txt"});
    ExpectCleaned({"/w/\x83/a?b", "/w/\x83/a_b"}); // "/" is a separator even after a lead byte
    SetACPForTesting(1252);
    ExpectCleaned({"/w/\x83\x5C?.txt", "/w/\x83\x5C_.txt"}); // "\\" is a separator here
    ExpectCleaned({"/w/\x83\x7C|.txt", "/w/\x83__.txt"});
    SetACPForTesting(0);
}

} // namespace
