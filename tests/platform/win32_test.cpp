#include "mimeengine/platform/afx.h"
#include "platform/crt.h"
#include "platform/win32.h"
#include "support/testsupport.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::ScratchDir;

namespace
{

struct SplitRow
{
    const char* path;
    const char* drive;
    const char* dir;
    const char* fname;
    const char* ext;
};

// Restores the code page computed from the environment when the test ends.
struct CodePageGuard
{
    ~CodePageGuard() { SetACPForTesting(0); }
};

} // namespace

TEST(SplitPathTest, RecognisesBothSeparatorsAndTheLastDot)
{
    const SplitRow rows[] = {
        {"C:\\dir\\report.final.doc", "C:", "\\dir\\", "report.final", ".doc"},
        {"/tmp/x/b.bin", "", "/tmp/x/", "b", ".bin"},
        {"a/b\\c.txt", "", "a/b\\", "c", ".txt"},
        {"README", "", "", "README", ""},
        {".profile", "", "", "", ".profile"},
        {"dir.d/name", "", "dir.d/", "name", ""},
        {"C:", "C:", "", "", ""},
        {"", "", "", "", ""},
        {"../x", "", "../", "x", ""},
    };
    for (const auto& r : rows)
    {
        char drive[_MAX_DRIVE], dir[_MAX_DIR], fname[_MAX_FNAME], ext[_MAX_EXT];
        _splitpath(r.path, drive, dir, fname, ext);
        EXPECT_STREQ(r.drive, drive) << r.path;
        EXPECT_STREQ(r.dir, dir) << r.path;
        EXPECT_STREQ(r.fname, fname) << r.path;
        EXPECT_STREQ(r.ext, ext) << r.path;
    }
}

TEST(SplitPathTest, CutsOverlongPartsInsteadOfOverrunning)
{
    std::string longName(1000, 'n');
    std::string path = std::string(600, 'd') + "/" + longName + "." + std::string(400, 'e');
    char drive[_MAX_DRIVE], dir[_MAX_DIR], fname[_MAX_FNAME], ext[_MAX_EXT];
    _splitpath(path.c_str(), drive, dir, fname, ext);
    EXPECT_EQ(static_cast<size_t>(_MAX_DIR - 1), std::string(dir).size());
    EXPECT_EQ(static_cast<size_t>(_MAX_FNAME - 1), std::string(fname).size());
    EXPECT_EQ(static_cast<size_t>(_MAX_EXT - 1), std::string(ext).size());
}

TEST(StringCompareTest, CaseInsensitiveVariants)
{
    EXPECT_EQ(0, _strnicmp("Content-Type: x", "content-type:", 13));
    EXPECT_NE(0, _strnicmp("Content-Typo", "content-type", 12));
    EXPECT_EQ(0, _strnicmp("ab", "AB", 5)); // stops at the NUL
    EXPECT_EQ(0, _stricmp("UTF-8", "utf-8"));
    EXPECT_NE(0, _stricmp("UTF-8", "utf-8x"));
    EXPECT_EQ(0, _mbsicmp("Name", "nAME"));
}

TEST(CodePageTest, DoubleByteSteppingFollowsTheCodePage)
{
    CodePageGuard guard;
    const char text[] = "\x82\xA0"
                        "a\x81";
    SetACPForTesting(932);
    EXPECT_EQ(text + 2, CharNextA(text));     // lead byte + trail byte
    EXPECT_EQ(text + 3, CharNextA(text + 2)); // ASCII
    EXPECT_EQ(text + 4, CharNextA(text + 3)); // lead byte before the NUL: one step only
    EXPECT_EQ(text + 4, CharNextA(text + 4)); // never past the NUL
    SetACPForTesting(1252);
    EXPECT_EQ(text + 1, CharNextA(text));
    SetACPForTesting(936);
    EXPECT_EQ(text + 2, CharNextA(text));
    // In code page 932 a trail byte equal to "\\" is part of the character.
    SetACPForTesting(932);
    EXPECT_EQ(0, _mbsicmp("\x95\x5C"
                          "A",
                          "\x95\x5C"
                          "a"));
    EXPECT_NE(0, _mbsicmp("\x95\x5C", "\x95\x7C"));
}

TEST(CodePageTest, ComesFromTheEnvironment)
{
    CodePageGuard guard;
    struct Row
    {
        const char* acp;
        const char* lcAll;
        const char* lang;
        UINT want;
    } rows[] = {
        {"932", "en_US.UTF-8", nullptr, 932},
        {nullptr, "en_US.UTF-8", nullptr, 65001},
        {nullptr, "de_DE.ISO-8859-2", nullptr, 28592},
        {nullptr, "ja_JP.eucJP", nullptr, 51932},
        {nullptr, "ja_JP.SJIS", nullptr, 932},
        {nullptr, "zh_CN.GBK", nullptr, 936},
        {nullptr, "zh_TW.Big5", nullptr, 950},
        {nullptr, "ko_KR.EUC-KR", nullptr, 949},
        {nullptr, "ru_RU.KOI8-R", nullptr, 20866},
        {nullptr, nullptr, "C", 1252},
        {nullptr, nullptr, nullptr, 1252},
        {nullptr, "", "fr_FR.UTF-8@euro", 65001},
    };
    const char* names[] = {"MIMEENGINE_ACP", "LC_ALL", "LC_CTYPE", "LANG"};
    std::string saved[4];
    bool had[4];
    for (int i = 0; i < 4; ++i)
    {
        const char* v = std::getenv(names[i]);
        had[i] = v != nullptr;
        saved[i] = v != nullptr ? v : "";
    }
    for (const auto& r : rows)
    {
        for (const char* n : names)
            ::unsetenv(n);
        if (r.acp)
            ::setenv("MIMEENGINE_ACP", r.acp, 1);
        if (r.lcAll)
            ::setenv("LC_ALL", r.lcAll, 1);
        if (r.lang)
            ::setenv("LANG", r.lang, 1);
        SetACPForTesting(0);
        EXPECT_EQ(r.want, GetACP()) << (r.lcAll ? r.lcAll : "") << " " << (r.lang ? r.lang : "");
    }
    for (int i = 0; i < 4; ++i)
    {
        if (had[i])
            ::setenv(names[i], saved[i].c_str(), 1);
        else
            ::unsetenv(names[i]);
    }
}

TEST(FileSystemTest, TempPathHonoursTmpdirAndEndsWithSeparator)
{
    const char* old = std::getenv("TMPDIR");
    std::string saved = old != nullptr ? old : "";
    ::setenv("TMPDIR", "/some/where", 1);
    char buf[MAX_PATH];
    EXPECT_EQ(12u, GetTempPathA(MAX_PATH, buf));
    EXPECT_STREQ("/some/where/", buf);
    EXPECT_EQ(0u, GetTempPathA(5, buf));
    if (old != nullptr)
        ::setenv("TMPDIR", saved.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
}

TEST(FileSystemTest, TempFileNamesAreUniqueAndCreated)
{
    ScratchDir dir;
    std::set<std::string> names;
    for (int i = 0; i < 20; ++i)
    {
        char name[MAX_PATH];
        ASSERT_NE(0u, GetTempFileNameA(dir.path().c_str(), "mdx", 0, name));
        std::string n = name;
        EXPECT_EQ(0u, n.find(dir.path() + "/md"));
        EXPECT_TRUE(testsupport::Exists(n));
        names.insert(n);
    }
    EXPECT_EQ(20u, names.size());
}

TEST(FileSystemTest, PrivateTempDirectoryIsModeSevenHundred)
{
    ScratchDir dir;
    char made[MAX_PATH];
    ASSERT_TRUE(CreatePrivateTempDirectoryA(dir.path().c_str(), "md", made));
    struct stat st;
    ASSERT_EQ(0, ::lstat(made, &st));
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(0700u, st.st_mode & 0777);
    EXPECT_EQ(0u, std::string(made).find(dir.path() + "/md"));
}

TEST(FileSystemTest, FindDeleteAndRemoveDirectory)
{
    ScratchDir dir;
    std::string sub = dir.mkdir("w");
    testsupport::WriteFile(sub + "/a.txt", "a");
    testsupport::WriteFile(sub + "/b.bin", "b");
    std::string outside = dir.file("outside");
    testsupport::WriteFile(outside, "keep");
    ASSERT_EQ(0, ::symlink(outside.c_str(), (sub + "/link").c_str()));
    dir.mkdir("w/nested");

    std::set<std::string> seen;
    std::set<std::string> dirs;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA((sub + "\\*.*").c_str(), &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    do
    {
        seen.insert(data.cFileName);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            dirs.insert(data.cFileName);
        else
            EXPECT_TRUE(DeleteFileA((sub + "/" + data.cFileName).c_str()));
    } while (FindNextFileA(h, &data));
    EXPECT_TRUE(FindClose(h));
    EXPECT_EQ((std::set<std::string>{"a.txt", "b.bin", "link", "nested"}), seen);
    EXPECT_EQ((std::set<std::string>{"nested"}), dirs);
    // Deleting the link left its target alone; the nested directory keeps w alive.
    EXPECT_EQ("keep", testsupport::ReadFile(outside));
    EXPECT_FALSE(RemoveDirectoryA(sub.c_str()));
    EXPECT_FALSE(DeleteFileA((sub + "/nested").c_str()));
    EXPECT_TRUE(RemoveDirectoryA((sub + "/nested").c_str()));
    EXPECT_TRUE(RemoveDirectoryA(sub.c_str()));
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA((sub + "/*.*").c_str(), &data));
}

TEST(FileSystemTest, CreateFileOpensExistingRegularFilesOnly)
{
    ScratchDir dir;
    std::string path = dir.file("f");
    testsupport::WriteFile(path, "12345");
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(5u, GetFileSize(h, nullptr));
    char buf[8] = {0};
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(h, buf, 8, &got, nullptr));
    EXPECT_EQ(5u, got);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(dir.path().c_str(), 0, 3, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(dir.file("none").c_str(), 0, 3, nullptr, OPEN_EXISTING, 0, nullptr));
    HANDLE noAccess = CreateFileA(path.c_str(), 0, 3, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, noAccess);
    CloseHandle(noAccess);
}

TEST(FormatTest, WsprintfFormatsBoundaries)
{
    char buf[1025];
    EXPECT_EQ(28, wsprintfA(buf, "%ld_ML=_MARIGOLD:%05d", 944000000L, 42));
    EXPECT_STREQ("944000000_ML=_MARIGOLD:00042", buf);
    std::string big(2000, 'x');
    EXPECT_EQ(1024, wsprintfA(buf, "%s", big.c_str()));
    EXPECT_EQ(1024u, std::string(buf).size());
}

TEST(ClockTest, FixedTimeAndRandomHooks)
{
    CTime fixed(1999, 12, 4, 10, 7, 33);
    CTime::SetCurrentTimeForTesting(&fixed);
    CTime now = CTime::GetCurrentTime();
    EXPECT_EQ(1999, now.GetYear());
    EXPECT_EQ(12, now.GetMonth());
    EXPECT_EQ(4, now.GetDay());
    EXPECT_EQ(10, now.GetHour());
    EXPECT_EQ(7, now.GetMinute());
    EXPECT_EQ(33, now.GetSecond());
    EXPECT_EQ(fixed.GetTime(), PlatformTime());
    CTime::SetCurrentTimeForTesting(nullptr);
    EXPECT_NE(fixed.GetTime(), PlatformTime());

    PlatformSetRandForTesting([] { return 42; });
    EXPECT_EQ(42, PlatformRand());
    PlatformSetRandForTesting(nullptr);
}
