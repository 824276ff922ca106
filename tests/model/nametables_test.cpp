// The part vocabulary: enumeration values and the 32-byte rows of the name tables.
#include "mimeengine/model/mimepart.h"
#include "model/nametables.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace
{

TEST(Enumerations, ContentTypesHaveTheirInterfaceNumbers)
{
    EXPECT_EQ(0u, CMIMEPart::CONTENT_UNKNOWN);
    EXPECT_EQ(1u, CMIMEPart::CONTENT_TEXT);
    EXPECT_EQ(2u, CMIMEPart::CONTENT_MESSAGE);
    EXPECT_EQ(3u, CMIMEPart::CONTENT_MULTIPART);
    EXPECT_EQ(4u, CMIMEPart::CONTENT_IMAGE);
    EXPECT_EQ(5u, CMIMEPart::CONTENT_AUDIO);
    EXPECT_EQ(6u, CMIMEPart::CONTENT_VIDEO);
    EXPECT_EQ(7u, CMIMEPart::CONTENT_APPLICATION);
    EXPECT_EQ(4u, sizeof(CMIMEPart::_CONTENT_TYPE));
}

TEST(Enumerations, EncodingsHaveTheirInterfaceNumbers)
{
    EXPECT_EQ(0u, CMIMEPart::ENCODE_UNKNOWN);
    EXPECT_EQ(1u, CMIMEPart::ENCODE_7BIT);
    EXPECT_EQ(2u, CMIMEPart::ENCODE_QUOTED_PRINTABLE);
    EXPECT_EQ(3u, CMIMEPart::ENCODE_BASE64);
    EXPECT_EQ(4u, CMIMEPart::ENCODE_8BIT);
    EXPECT_EQ(5u, CMIMEPart::ENCODE_BINARY);
    EXPECT_EQ(6u, CMIMEPart::ENCODE_X_UUENCODE);
    EXPECT_EQ(7u, CMIMEPart::ENCODE_UUENCODE);
    EXPECT_EQ(9u, CMIMEPart::UU_MARKER_ENCODING);
    EXPECT_EQ(4u, sizeof(CMIMEPart::_ENCODE_TYPE));
}

TEST(Enumerations, AccessDispositionAndCharsetNumbers)
{
    EXPECT_EQ(0u, CMIMEPart::ACCESS_UNKNOWN);
    EXPECT_EQ(1u, CMIMEPart::ACCESS_FTP);
    EXPECT_EQ(2u, CMIMEPart::ACCESS_TFTP);
    EXPECT_EQ(3u, CMIMEPart::ACCESS_ANON_FTP);
    EXPECT_EQ(4u, CMIMEPart::ACCESS_LOCAL_FILE);
    EXPECT_EQ(5u, CMIMEPart::ACCESS_MAIL_SERVER);

    EXPECT_EQ(0u, CMIMEPart::DISPOSE_UNKNOWN);
    EXPECT_EQ(1u, CMIMEPart::DISPOSE_INLINE);
    EXPECT_EQ(2u, CMIMEPart::DISPOSE_ATTACHMENT);

    const unsigned int charTypes[] = {CMIMEPart::CHAR_UNKNOWN,
                                      CMIMEPart::CHAR_ISO_8859_1,
                                      CMIMEPart::CHAR_ISO_8859_2,
                                      CMIMEPart::CHAR_ISO_8859_3,
                                      CMIMEPart::CHAR_ISO_8859_4,
                                      CMIMEPart::CHAR_ISO_8859_5,
                                      CMIMEPart::CHAR_ISO_8859_6,
                                      CMIMEPart::CHAR_ISO_8859_7,
                                      CMIMEPart::CHAR_ISO_8859_8,
                                      CMIMEPart::CHAR_ISO_8859_9,
                                      CMIMEPart::CHAR_US_ASCII,
                                      CMIMEPart::CHAR_IBM852,
                                      CMIMEPart::CHAR_CP866,
                                      CMIMEPart::CHAR_WINDOWS_874,
                                      CMIMEPart::CHAR_ISO_2022_JP,
                                      CMIMEPart::CHAR_GB2312,
                                      CMIMEPart::CHAR_EUC_KR,
                                      CMIMEPart::CHAR_BIG5,
                                      CMIMEPart::CHAR_UNICODE,
                                      CMIMEPart::CHAR_UNICODE_FEFF,
                                      CMIMEPart::CHAR_WINDOWS_1258,
                                      CMIMEPart::CHAR_IRV,
                                      CMIMEPart::CHAR_DIN_66003,
                                      CMIMEPart::CHAR_SEN_850200_B,
                                      CMIMEPart::CHAR_NS_4551_1,
                                      CMIMEPart::CHAR_KOI8_R,
                                      CMIMEPart::CHAR_KOI8_RU,
                                      CMIMEPart::CHAR_X_USER_DEFINED,
                                      CMIMEPart::CHAR_ISO_2022_JP_ESC,
                                      CMIMEPart::CHAR_ISO_2022_JP_SIO,
                                      CMIMEPart::CHAR_ISO_2022_KR,
                                      CMIMEPart::CHAR_AUTODETECT,
                                      CMIMEPart::CHAR_AUTODETECT_KR,
                                      CMIMEPart::CHAR_EUC_JP,
                                      CMIMEPart::CHAR_HZ_GB_2312,
                                      CMIMEPart::CHAR_UTF_7,
                                      CMIMEPart::CHAR_UTF_8};
    // The charset values run without gaps from 0 to 36 in the order listed.
    for (unsigned int i = 0; i < sizeof charTypes / sizeof charTypes[0]; ++i)
        EXPECT_EQ(i, charTypes[i]) << "charset enumerator at position " << i;
    EXPECT_EQ(37u, sizeof charTypes / sizeof charTypes[0]);
}

struct TableCase
{
    const char* name;
    const char (*table)[32];
    size_t declaredRows; // the row-count constant of the table
    size_t definedRows;  // sizeof the definition / 32
    std::vector<std::string> rows;
};

class NameTables : public ::testing::TestWithParam<TableCase>
{
};

// Every row holds its name, NUL-terminated and NUL-padded to exactly 32 bytes, and the
// row of value n starts 32 * n bytes from the start of the table.
TEST_P(NameTables, RowsAreExactAndPadded)
{
    const TableCase& c = GetParam();
    ASSERT_EQ(c.rows.size(), c.declaredRows);
    ASSERT_EQ(c.rows.size(), c.definedRows);
    const char* base = reinterpret_cast<const char*>(c.table);
    for (size_t i = 0; i < c.rows.size(); ++i)
    {
        const char* row = base + 32 * i;
        EXPECT_EQ(static_cast<const void*>(row), static_cast<const void*>(c.table[i]));
        EXPECT_EQ(c.rows[i], std::string(row)) << c.name << " row " << i;
        for (size_t b = c.rows[i].size(); b < 32; ++b)
            EXPECT_EQ('\0', row[b]) << c.name << " row " << i << " byte " << b;
    }
}

INSTANTIATE_TEST_SUITE_P(
    All, NameTables,
    ::testing::Values(
        TableCase{"szContType",
                  szContType,
                  CONTENT_TYPE_ROWS,
                  sizeof szContType / 32,
                  {"UNKNOWN", "TEXT", "MESSAGE", "MULTIPART", "IMAGE", "AUDIO", "VIDEO", "APPLICATION"}},
        TableCase{"szEncodeType",
                  szEncodeType,
                  ENCODE_TYPE_ROWS,
                  sizeof szEncodeType / 32,
                  {"UNKNOWN", "7BIT", "QUOTED-PRINTABLE", "BASE64", "8BIT", "BINARY", "X-UUENCODE", "UUENCODE"}},
        TableCase{"szTextSubType",
                  szTextSubType,
                  TEXT_SUBTYPE_ROWS,
                  sizeof szTextSubType / 32,
                  {"UNKNOWN", "PLAIN", "RICHTEXT"}},
        TableCase{"szMultipartSubType",
                  szMultipartSubType,
                  MULTIPART_SUBTYPE_ROWS,
                  sizeof szMultipartSubType / 32,
                  {"UNKNOWN", "MIXED", "ALTERNATIVE", "DIGEST", "PARALLEL"}},
        TableCase{"szMessageSubType",
                  szMessageSubType,
                  MESSAGE_SUBTYPE_ROWS,
                  sizeof szMessageSubType / 32,
                  {"UNKNOWN", "RFC822", "PARTIAL", "EXTERNAL-BODY"}},
        TableCase{"szApplicationSubType",
                  szApplicationSubType,
                  APPLICATION_SUBTYPE_ROWS,
                  sizeof szApplicationSubType / 32,
                  {"UNKNOWN", "OCTET-STREAM", "POSTSCRIPT"}},
        TableCase{"szImageSubType",
                  szImageSubType,
                  IMAGE_SUBTYPE_ROWS,
                  sizeof szImageSubType / 32,
                  {"UNKNOWN", "JPEG", "GIF", "TIFF"}},
        TableCase{
            "szAudioSubType", szAudioSubType, AUDIO_SUBTYPE_ROWS, sizeof szAudioSubType / 32, {"UNKNOWN", "BASIC"}},
        TableCase{
            "szVideoSubType", szVideoSubType, VIDEO_SUBTYPE_ROWS, sizeof szVideoSubType / 32, {"UNKNOWN", "MPEG"}},
        TableCase{"szAccessType",
                  szAccessType,
                  ACCESS_TYPE_ROWS,
                  sizeof szAccessType / 32,
                  {"UNKNOWN", "FTP", "TFTP", "ANON-FTP", "LOCAL-FILE", "MAIL-SERVER"}}),
    [](const ::testing::TestParamInfo<TableCase>& param) { return std::string(param.param.name); });

TEST(NameTables, EnumerationValuesIndexTheExportedTables)
{
    EXPECT_STREQ("APPLICATION", szContType[CMIMEPart::CONTENT_APPLICATION]);
    EXPECT_STREQ("MULTIPART", szContType[CMIMEPart::CONTENT_MULTIPART]);
    EXPECT_STREQ("MESSAGE", szContType[CMIMEPart::CONTENT_MESSAGE]);
    EXPECT_STREQ("X-UUENCODE", szEncodeType[CMIMEPart::ENCODE_X_UUENCODE]);
    EXPECT_STREQ("UUENCODE", szEncodeType[CMIMEPart::ENCODE_UUENCODE]);
    EXPECT_STREQ("MAIL-SERVER", szAccessType[CMIMEPart::ACCESS_MAIL_SERVER]);
}

TEST(MIMEPart, HasNoStateAndIsAssignable)
{
    CMIMEPart a, b;
    a = b;
    EXPECT_EQ(1u, sizeof(CMIMEPart));
}

} // namespace
