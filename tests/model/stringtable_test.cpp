// The string table: every text by number, exactly, and nothing for unknown numbers.
#include "mimeengine/platform/cstring.h"
#include "resources/stringtable.h"

#include <cstring>
#include <gtest/gtest.h>

namespace
{

struct StringCase
{
    UINT id;
    const char* text;
};

const StringCase kExpected[] = {
    {1, "MIME-Version: 1.0\r\n"},
    {3, "If you are reading this text, you might want to\r\n"
        "consider changing to a MIME compatible mail reader\r\n"
        "that understands how to properly display multipart messages.\r\n"},
    {500, "Content Type"},
    {501, "MIME\\Database\\Content Type\\"},
    {502, "Extension"},
    {503, "SOFTWARE\\MICROSOFT\\Internet Explorer\\plugins\\MIME"},
    {504, "Extension"},
    {20000, "The basic properties of a MIME part is not valid."},
    {20001, "The specified file '%s' cannot be found."},
    {20002, "Header file '%s' cannot be opened."},
    {20003, "Data file '%s' cannot be opened."},
    {20004, "Output file '%s' cannot be accessed."},
    {20005, "Please un-specified the data file for the selected MIME type."},
    {20006, "Please select either the data or header file with the unknown MIME type."},
    {20007, "Main type, sub type, and encode type have to be specified or unspecified together."},
    {20008, "Please specify a data file for the selected MIME type."},
    {20009, "Child item(s) are missing under the highlighted item."},
    {20010, "A header file must be specified for the highlighted (MESSAGE) item."},
    {20011, "The encoding type must be specified if the header is not automatically generated."},
    {20012, "The header of the input file either does not contain the MIME-Version header or"},
    {25000, "Lines are too long in the file for parsing."},
    {25001, "Sub-type does not exist for the MIME encoded source."},
    {25002, "An invalid concatenation sequence has been detected or the concatenated line is too long."},
    {25003, "Source file '%s' cannot be opened."},
    {25004, "Header file '%s' cannot be created."},
};

TEST(StringTable, EveryTextByNumber)
{
    for (const StringCase& c : kExpected)
    {
        const char* text = AfxLookupStringResource(c.id);
        ASSERT_NE(nullptr, text) << "id " << c.id;
        EXPECT_STREQ(c.text, text) << "id " << c.id;
    }
}

TEST(StringTable, UnknownNumbersHaveNoText)
{
    for (UINT id : {0u, 2u, 4u, 499u, 505u, 19999u, 20013u, 24999u, 25005u, 0xFFFFFFFFu})
        EXPECT_EQ(nullptr, AfxLookupStringResource(id)) << "id " << id;
}

TEST(StringTable, NamedIdsMatchTheirNumbers)
{
    EXPECT_EQ(1u, IDS_MIME_VERSION);
    EXPECT_EQ(3u, IDS_PREAMBLE);
    EXPECT_EQ(501u, IDS_REG_MIME_DATABASE);
    EXPECT_EQ(20012u, IDS_NO_MIME_VERSION);
    EXPECT_EQ(25004u, IDS_HEADER_FILE_CREATE);
}

TEST(StringTable, TextsWithSpecialShapes)
{
    // Three lines, each ended by CR LF, and nothing after the last.
    const char* preamble = AfxLookupStringResource(IDS_PREAMBLE);
    ASSERT_NE(nullptr, preamble);
    int lines = 0;
    for (const char* p = std::strstr(preamble, "\r\n"); p != nullptr; p = std::strstr(p + 2, "\r\n"))
        ++lines;
    EXPECT_EQ(3, lines);
    EXPECT_EQ(0, std::strcmp(preamble + std::strlen(preamble) - 2, "\r\n"));

    // Single backslashes: 24 letters and spaces plus three separators.
    const char* key = AfxLookupStringResource(IDS_REG_MIME_DATABASE);
    ASSERT_NE(nullptr, key);
    EXPECT_EQ(std::strlen("MIMEDatabaseContent Type") + 3, std::strlen(key));

    // Ends mid-sentence with "or" and no period.
    const char* noVersion = AfxLookupStringResource(IDS_NO_MIME_VERSION);
    ASSERT_NE(nullptr, noVersion);
    size_t n = std::strlen(noVersion);
    EXPECT_EQ(std::string(" or"), std::string(noVersion + n - 3));
}

TEST(StringTable, LoadStringAndFormat)
{
    CString s;
    ASSERT_TRUE(s.LoadString(IDS_SOURCE_OPEN));
    CString formatted;
    formatted.Format(s, "/tmp/in.eml");
    EXPECT_STREQ("Source file '/tmp/in.eml' cannot be opened.", formatted);

    EXPECT_FALSE(s.LoadString(2));
    EXPECT_TRUE(s.IsEmpty());
}

} // namespace
