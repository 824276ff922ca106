#include "mimeengine/platform/afx.h"

#include <gtest/gtest.h>

TEST(CStringTest, ConstructionAndConversion)
{
    EXPECT_STREQ("", static_cast<const char*>(CString(static_cast<const char*>(nullptr))));
    EXPECT_STREQ("abc", static_cast<const char*>(CString("abcdef", 3)));
    EXPECT_STREQ("xxx", static_cast<const char*>(CString('x', 3)));
    CString s("hello");
    EXPECT_EQ(5, s.GetLength());
    EXPECT_FALSE(s.IsEmpty());
    s.Empty();
    EXPECT_TRUE(s.IsEmpty());
}

TEST(CStringTest, SlicesClampToTheText)
{
    CString s("abcdef");
    struct Row
    {
        CString got;
        const char* want;
    } rows[] = {
        {s.Left(2), "ab"},    {s.Left(0), ""},  {s.Left(99), "abcdef"},  {s.Mid(2), "cdef"},
        {s.Mid(2, 3), "cde"}, {s.Mid(6), ""},   {s.Mid(10, 2), ""},      {s.Mid(-1, 2), "ab"},
        {s.Right(2), "ef"},   {s.Right(0), ""}, {s.Right(99), "abcdef"},
    };
    for (const auto& r : rows)
        EXPECT_STREQ(r.want, static_cast<const char*>(r.got));
}

TEST(CStringTest, FindFamily)
{
    CString s("a;b;c");
    EXPECT_EQ(1, s.Find(';'));
    EXPECT_EQ(3, s.Find(';', 2));
    EXPECT_EQ(-1, s.Find(';', 4));
    EXPECT_EQ(-1, s.Find(';', 99));
    EXPECT_EQ(2, s.Find("b;"));
    EXPECT_EQ(-1, s.Find("zz"));
    EXPECT_EQ(3, s.ReverseFind(';'));
    EXPECT_EQ(1, s.FindOneOf(";,"));
    EXPECT_EQ(-1, s.FindOneOf("xyz"));
}

TEST(CStringTest, TrimmingUsesTheCWhiteSpaceSetOnly)
{
    CString s(" \t\r\n\v\f x y \r\n");
    s.Trim();
    EXPECT_STREQ("x y", static_cast<const char*>(s));
    // Bytes with the high bit set are never white space.
    CString hi("\xA0z\xA0");
    hi.Trim();
    EXPECT_EQ(3, hi.GetLength());
    CString q("\"v\"");
    q.TrimLeft('"');
    q.TrimRight('"');
    EXPECT_STREQ("v", static_cast<const char*>(q));
}

TEST(CStringTest, CaseInsensitiveCompareAndCaseChange)
{
    EXPECT_EQ(0, CString("Content-Type").CompareNoCase("content-TYPE"));
    EXPECT_LT(CString("abc").CompareNoCase("ABD"), 0);
    EXPECT_GT(CString("abcd").CompareNoCase("ABC"), 0);
    EXPECT_NE(0, CString("abc").Compare("ABC"));
    CString s("MiXeD-1");
    s.MakeUpper();
    EXPECT_STREQ("MIXED-1", static_cast<const char*>(s));
    s.MakeLower();
    EXPECT_STREQ("mixed-1", static_cast<const char*>(s));
}

TEST(CStringTest, FormatHandlesLongOutput)
{
    CString s;
    s.Format("%s '%s' %05d", "File", "x", 42);
    EXPECT_STREQ("File 'x' 00042", static_cast<const char*>(s));
    std::string big(5000, 'q');
    s.Format("[%s]", big.c_str());
    EXPECT_EQ(5002, s.GetLength());
}

TEST(CStringTest, ReplaceAndConcatenate)
{
    CString s("a--b--c");
    EXPECT_EQ(2, s.Replace("--", "+"));
    EXPECT_STREQ("a+b+c", static_cast<const char*>(s));
    EXPECT_EQ(2, s.Replace('+', '/'));
    CString t = CString("x") + "y" + CString("z") + '!';
    EXPECT_STREQ("xyz!", static_cast<const char*>(t));
    EXPECT_TRUE(t == "xyz!");
    EXPECT_TRUE("xyz!" == t);
}

TEST(CStringTest, LoadStringOfUnknownIdFailsAndEmpties)
{
    CString s("keep");
    EXPECT_FALSE(s.LoadString(4242424u));
    EXPECT_TRUE(s.IsEmpty());
}

TEST(CStringTest, GetBufferReleaseBuffer)
{
    CString s;
    char* p = s.GetBuffer(10);
    std::snprintf(p, 10, "abc");
    s.ReleaseBuffer();
    EXPECT_STREQ("abc", static_cast<const char*>(s));
    EXPECT_EQ(3, s.GetLength());
}
