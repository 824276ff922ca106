// Work-file names: the letters of date and hour, the minute and the attempt counter, and
// fresh names once a minute's 256 counter values are taken.
#include "extract/fileutilities.h"
#include "support/testsupport.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <set>
#include <string>

namespace
{

using testsupport::ScratchDir;

// Fixes "now" for the lifetime of the object.
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

std::string Make(const ScratchDir& dir, const char* ext, BOOL fullPath = TRUE, char* base = nullptr)
{
    CString result;
    g_FileUtilities.MakeWorkFileName(CString(dir.path().c_str()), ext, result, base, fullPath);
    return result.GetString();
}

struct TimeCase
{
    int year, month, day, hour, minute, second;
    const char* expected; // name of the first attempt, extension "TMP"
};

TEST(WorkFileName, LettersOfDateAndTime)
{
    const TimeCase cases[] = {
        {1999, 12, 4, 10, 7, 33, "9L4K0721.TMP"}, // counter starts at the second, 33 = 0x21
        {1989, 1, 1, 0, 0, 0, "0A1A0000.TMP"},    // before 1990 the year is "0"
        {1990, 1, 9, 0, 59, 59, "0A9A593b.TMP"},   {2000, 2, 10, 1, 5, 10, "ABAB050a.TMP"},
        {2025, 12, 31, 23, 45, 1, "ZLVX4501.TMP"}, // day 31 is "V", hour 23 is "X"
        {2026, 6, 15, 12, 0, 15, "aFFM000f.TMP"},  // after "Z": lower-case letters
        {2051, 3, 20, 7, 30, 2, "zCKH3002.TMP"},   {2052, 4, 1, 8, 1, 1, "AD1I0101.TMP"}, // and then "A" again
    };
    for (const TimeCase& c : cases)
    {
        ScratchDir dir;
        FixedTime at(c.year, c.month, c.day, c.hour, c.minute, c.second);
        EXPECT_EQ(dir.file(c.expected), Make(dir, "TMP")) << c.year << "-" << c.month << "-" << c.day;
    }
}

TEST(WorkFileName, BareNameAndBaseBuffer)
{
    ScratchDir dir;
    FixedTime at(1999, 12, 4, 10, 7, 33);
    char base[16];
    std::memset(base, '#', sizeof base);
    EXPECT_EQ("9L4K0721.HDR", Make(dir, "HDR", FALSE, base));
    EXPECT_STREQ("9L4K0721", base);
}

TEST(WorkFileName, SkipsNamesThatExist)
{
    ScratchDir dir;
    FixedTime at(1999, 12, 4, 10, 7, 33);
    testsupport::WriteFile(dir.file("9L4K0721.TMP"), "taken");
    testsupport::WriteFile(dir.file("9L4K0722.TMP"), "taken");
    EXPECT_EQ(dir.file("9L4K0723.TMP"), Make(dir, "TMP"));
    // Another extension is a separate sequence.
    EXPECT_EQ(dir.file("9L4K0721.HDR"), Make(dir, "HDR"));
}

TEST(WorkFileName, CounterWrapsAfterFF)
{
    ScratchDir dir;
    FixedTime at(1999, 12, 4, 10, 7, 59);
    for (int c = 0x3b; c <= 0xff; ++c)
    {
        char name[32];
        std::snprintf(name, sizeof name, "9L4K07%02x.TMP", c);
        testsupport::WriteFile(dir.file(name), "");
    }
    EXPECT_EQ(dir.file("9L4K0700.TMP"), Make(dir, "TMP"));
}

TEST(WorkFileName, DirectoryWithOrWithoutSeparator)
{
    ScratchDir dir;
    FixedTime at(2000, 1, 1, 0, 0, 0);
    CString withSlash, without;
    g_FileUtilities.MakeWorkFileName(CString((dir.path() + "/").c_str()), "TMP", withSlash, nullptr, TRUE);
    EXPECT_EQ(dir.file("AA1A0000.TMP"), withSlash.GetString());
    testsupport::WriteFile(withSlash.GetString(), "");
    g_FileUtilities.MakeWorkFileName(CString(dir.path().c_str()), "TMP", without, nullptr, TRUE);
    EXPECT_EQ(dir.file("AA1A0001.TMP"), without.GetString());
}

// 300 names in one minute: the 256 eight-character names first, then longer names that
// are still fresh; every one is distinct and can be created.
TEST(WorkFileName, MoreNamesThanTheMinuteHasCounters)
{
    ScratchDir dir;
    FixedTime at(2024, 5, 6, 7, 8, 9);
    std::set<std::string> names;
    int shortForm = 0;
    for (int i = 0; i < 300; ++i)
    {
        std::string path = Make(dir, "HDR");
        ASSERT_FALSE(path.empty()) << "attempt " << i;
        ASSERT_EQ(0u, path.rfind(dir.path() + "/", 0));
        std::string name = path.substr(dir.path().size() + 1);
        ASSERT_EQ(0u, name.rfind("YE6H08", 0)) << name;
        ASSERT_EQ(".HDR", name.substr(name.size() - 4));
        if (name.size() == 12)
            ++shortForm;
        for (char ch : name)
            ASSERT_TRUE(std::isalnum(static_cast<unsigned char>(ch)) || ch == '.' || ch == '_') << name;
        EXPECT_TRUE(names.insert(name).second) << "repeated " << name;
        testsupport::WriteFile(path, "x");
    }
    EXPECT_EQ(256, shortForm);
    EXPECT_EQ(300u, names.size());
    for (const std::string& n : names)
        EXPECT_TRUE(testsupport::Exists(dir.file(n))) << n;
}

TEST(WorkFileName, PathTooLongGivesEmptyResult)
{
    ScratchDir dir;
    std::string deep = dir.path() + "/" + std::string(250, 'd');
    CString result("stale");
    g_FileUtilities.MakeWorkFileName(CString(deep.c_str()), "TMP", result, nullptr, TRUE);
    EXPECT_TRUE(result.IsEmpty());
}

} // namespace
