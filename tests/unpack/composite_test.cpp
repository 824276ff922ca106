// Classification of multipart and message parts from their stored parameter text.
#include "mimeengine/unpack/unpacker.h"

#include <gtest/gtest.h>
#include <string>

namespace
{

struct MultipartCase
{
    const char* subtype;
    const char* parameters;
    _CME_RC rc;
    const char* boundary; // expected Boundary field
    unsigned int index;   // expected SubTypeIndex (only checked on success)
};

class ParseMultipartTest : public ::testing::TestWithParam<MultipartCase>
{
};

TEST_P(ParseMultipartTest, BoundaryAndSubtype)
{
    const MultipartCase& c = GetParam();
    CUnpacker unpacker;
    COutputBlock block;
    block.SetContentType(CMIMEPart::CONTENT_MULTIPART);
    block.SetSubTypeString(c.subtype);
    block.SetParameters(c.parameters);
    EXPECT_EQ(c.rc, unpacker.ParseMultipart(&block));
    EXPECT_STREQ(c.boundary, block.GetBoundary());
    if (c.rc == CME_SUCCESS)
    {
        EXPECT_EQ(c.index, block.GetSubTypeIndex());
    }
}

const std::string kLong70(70, 'b');
const std::string kLong200(200, 'c');
const std::string kParams70 = "boundary=\"" + kLong70 + "\"";
const std::string kBoundary70 = "--" + kLong70;
const std::string kParams200 = "boundary=" + kLong200;
const std::string kBoundary200 = "--" + kLong200.substr(0, 70);

INSTANTIATE_TEST_SUITE_P(
    Table, ParseMultipartTest,
    ::testing::Values(MultipartCase{"mixed", "boundary=\"simple boundary\"", CME_SUCCESS, "--simple boundary", 1},
                      MultipartCase{"alternative", "BOUNDARY=abc", CME_SUCCESS, "--abc", 2},
                      MultipartCase{"related", "type=text/html; boundary=r1", CME_SUCCESS, "--r1", 1},
                      MultipartCase{"digest", "boundary=d", CME_SUCCESS, "--d", 3},
                      MultipartCase{"PARALLEL", "boundary=p", CME_SUCCESS, "--p", 4},
                      MultipartCase{"", "boundary=e", CME_SUCCESS, "--e", 1},
                      // The first boundary parameter wins.
                      MultipartCase{"mixed", "boundary=first; boundary=second", CME_SUCCESS, "--first", 1},
                      MultipartCase{"mixed", "charset=x", CME_INVALID_PARAMETER, "", 0},
                      MultipartCase{"mixed", "boundary=", CME_INVALID_PARAMETER, "", 0},
                      MultipartCase{"mixed", "boundary=\"\"", CME_INVALID_PARAMETER, "", 0},
                      MultipartCase{"mixed", "", CME_INVALID_PARAMETER, "", 0},
                      // A name that only starts like the parameter is another parameter.
                      MultipartCase{"mixed", "boundaryx=1", CME_INVALID_PARAMETER, "", 0},
                      // 70 characters fit the 73-byte field exactly; longer boundaries are cut.
                      MultipartCase{"mixed", kParams70.c_str(), CME_SUCCESS, kBoundary70.c_str(), 1},
                      MultipartCase{"mixed", kParams200.c_str(), CME_SUCCESS, kBoundary200.c_str(), 1}));

struct MessageCase
{
    const char* name;
    const char* subtype;
    const char* parameters;
    CMIMEPart::_ENCODE_TYPE encoding;
    const char* contentId;
    _CME_RC rc;
    int leaf;
    unsigned int index;
    const char* boundary;
    unsigned int part;
    unsigned int total;
    unsigned int access;
    const char* externalName;
    const char* externalSite;
};

class ParseMessageTest : public ::testing::TestWithParam<MessageCase>
{
};

TEST_P(ParseMessageTest, Classification)
{
    const MessageCase& c = GetParam();
    CUnpacker unpacker;
    COutputBlock block;
    block.SetContentType(CMIMEPart::CONTENT_MESSAGE);
    block.SetSubTypeString(c.subtype);
    block.SetParameters(c.parameters);
    block.SetEncodeType(c.encoding);
    block.SetContentId(c.contentId);
    int leaf = -1;
    EXPECT_EQ(c.rc, unpacker.ParseMessage(&block, &leaf)) << c.name;
    EXPECT_EQ(c.leaf, leaf) << c.name;
    EXPECT_EQ(c.index, block.GetSubTypeIndex()) << c.name;
    EXPECT_STREQ(c.boundary, block.GetBoundary()) << c.name;
    EXPECT_EQ(c.part, block.GetPartialPart()) << c.name;
    EXPECT_EQ(c.total, block.GetPartialTotal()) << c.name;
    EXPECT_EQ(c.access, static_cast<unsigned int>(block.GetAccessType())) << c.name;
    EXPECT_STREQ(c.externalName, block.GetExternalName()) << c.name;
    EXPECT_STREQ(c.externalSite, block.GetExternalSite()) << c.name;
    if (c.leaf == 1)
    {
        EXPECT_EQ(CMIMEPart::CONTENT_APPLICATION, block.GetContentType()) << c.name;
        EXPECT_STREQ("OCTET-STREAM", block.GetSubTypeString()) << c.name;
    }
    else
    {
        EXPECT_EQ(CMIMEPart::CONTENT_MESSAGE, block.GetContentType()) << c.name;
    }
}

constexpr auto B7 = CMIMEPart::ENCODE_7BIT;
constexpr auto B8 = CMIMEPart::ENCODE_8BIT;

INSTANTIATE_TEST_SUITE_P(
    Table, ParseMessageTest,
    ::testing::Values(
        MessageCase{"rfc822", "rfc822", "", B8, "", CME_SUCCESS, 0, 1, "", 0, 0, 0, "", ""},
        MessageCase{"rfc822 upper", "RFC822", "x=1", B8, "", CME_SUCCESS, 0, 1, "", 0, 0, 0, "", ""},
        MessageCase{"partial", "partial", "id=\"frag17\"; number=2; total=3", B7, "", CME_SUCCESS, 0, 2, "frag17", 2, 3,
                    0, "", ""},
        MessageCase{"partial no cte", "partial", "id=\"frag17\"; number=2; total=3", B8, "", CME_INVALID_ENCODING, 0, 2,
                    "", 0, 0, 0, "", ""},
        MessageCase{"partial no total", "partial", "id=a; number=1", B7, "", CME_SUCCESS, 0, 2, "a", 1, 0, 0, "", ""},
        MessageCase{"partial first wins", "partial", "id=a; id=b; number=4; number=5", B7, "", CME_SUCCESS, 0, 2, "a",
                    4, 0, 0, "", ""},
        MessageCase{"partial empty id", "partial", "id=; number=1", B7, "", CME_INVALID_PARAMETER, 0, 2, "", 0, 0, 0,
                    "", ""},
        MessageCase{"partial empty number", "partial", "id=a; number=", B7, "", CME_INVALID_PARAMETER, 0, 2, "a", 0, 0,
                    0, "", ""},
        MessageCase{"partial empty total", "partial", "id=a; number=1; total=\"\"", B7, "", CME_INVALID_PARAMETER, 0, 2,
                    "a", 1, 0, 0, "", ""},
        MessageCase{"partial no id", "partial", "number=1", B7, "", CME_MISSING_PARAMETER, 0, 2, "", 1, 0, 0, "", ""},
        MessageCase{"partial number 0", "partial", "id=a; number=0", B7, "", CME_MISSING_PARAMETER, 0, 2, "a", 0, 0, 0,
                    "", ""},
        MessageCase{"partial no params", "partial", "", B7, "", CME_MISSING_PARAMETER, 0, 2, "", 0, 0, 0, "", ""},
        MessageCase{"partial huge number", "partial", "id=a; number=99999999999999999999", B7, "", CME_SUCCESS, 0, 2,
                    "a", 2147483647u, 0, 0, "", ""},
        MessageCase{"external anon-ftp", "external-body", "access-type=anon-ftp; name=f; site=s", B7, "<id@x>",
                    CME_SUCCESS, 0, 3, "", 0, 0, 3, "", ""},
        MessageCase{"external ftp", "external-body", "access-type=FTP; name=f; site=s", B7, "<id@x>", CME_SUCCESS, 0, 3,
                    "", 0, 0, 1, "f", "s"},
        MessageCase{"external tftp later wins", "external-body", "access-type=tftp; name=a; name=f; site=s", B7,
                    "<id@x>", CME_SUCCESS, 0, 3, "", 0, 0, 2, "f", "s"},
        MessageCase{"external local-file", "external-body", "access-type=local-file; name=\"/x/y\"; site=\"h\"", B7,
                    "<id@x>", CME_SUCCESS, 0, 3, "", 0, 0, 4, "/x/y", "h"},
        MessageCase{"external mail-server", "external-body", "access-type=mail-server; server=m; subject=x", B7,
                    "<id@x>", CME_SUCCESS, 0, 3, "", 0, 0, 5, "x", "m"},
        MessageCase{"external mail-server no subject", "external-body", "access-type=mail-server; server=m", B7,
                    "<id@x>", CME_MISSING_PARAMETER, 0, 3, "", 0, 0, 5, "", "m"},
        MessageCase{"external other access", "external-body", "access-type=x-other", B7, "<id@x>", CME_SUCCESS, 0, 3,
                    "", 0, 0, 0, "", ""},
        MessageCase{"external ftp no site", "external-body", "access-type=ftp; name=f", B7, "<id@x>",
                    CME_MISSING_PARAMETER, 0, 3, "", 0, 0, 1, "f", ""},
        MessageCase{"external empty name", "external-body", "access-type=ftp; name=; site=s", B7, "<id@x>",
                    CME_INVALID_PARAMETER, 0, 3, "", 0, 0, 1, "", ""},
        MessageCase{"external empty access", "external-body", "access-type=\"\"", B7, "<id@x>", CME_INVALID_PARAMETER,
                    0, 3, "", 0, 0, 0, "", ""},
        MessageCase{"external no access", "external-body", "name=f; site=s", B7, "<id@x>", CME_MISSING_PARAMETER, 0, 3,
                    "", 0, 0, 0, "", ""},
        MessageCase{"external no content-id", "external-body", "access-type=ftp; name=f; site=s", B7, "",
                    CME_INVALID_PARAMETER, 0, 3, "", 0, 0, 0, "", ""},
        MessageCase{"external 8bit", "external-body", "access-type=ftp", B8, "<id@x>", CME_INVALID_ENCODING, 0, 3, "",
                    0, 0, 0, "", ""},
        MessageCase{"news", "news", "x=1", B8, "", CME_SUCCESS, 1, 0, "", 0, 0, 0, "", ""},
        MessageCase{"news no params", "news", "", B8, "", CME_MISSING_PARAMETER, 1, 0, "", 0, 0, 0, "", ""}),
    [](const ::testing::TestParamInfo<MessageCase>& row) {
        std::string n = row.param.name;
        for (char& ch : n)
            if (!isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return n;
    });

// Values longer than the fields are cut at the field's width less one.
TEST(ParseMessageFields, LongValuesAreCut)
{
    CUnpacker unpacker;
    COutputBlock block;
    block.SetContentType(CMIMEPart::CONTENT_MESSAGE);
    block.SetSubTypeString("external-body");
    block.SetEncodeType(B7);
    block.SetContentId("<id>");
    // The name field (260) is wider than the parameter text (256) that feeds it.
    const std::string name(220, 'n');
    const std::string site(200, 's');
    block.SetParameters(("access-type=ftp; name=" + name + "; site=s").c_str());
    int leaf = 0;
    ASSERT_EQ(CME_SUCCESS, unpacker.ParseMessage(&block, &leaf));
    EXPECT_EQ(name, block.GetExternalName());

    COutputBlock other;
    other.SetContentType(CMIMEPart::CONTENT_MESSAGE);
    other.SetSubTypeString("external-body");
    other.SetEncodeType(B7);
    other.SetContentId("<id>");
    other.SetParameters(("access-type=ftp; name=n; site=" + site).c_str());
    ASSERT_EQ(CME_SUCCESS, unpacker.ParseMessage(&other, &leaf));
    EXPECT_EQ(site.substr(0, COutputBlock::EXTERNAL_SITE_SIZE - 1), other.GetExternalSite());

    COutputBlock partial;
    partial.SetContentType(CMIMEPart::CONTENT_MESSAGE);
    partial.SetSubTypeString("partial");
    partial.SetEncodeType(B7);
    partial.SetParameters(("number=1; id=" + site).c_str());
    ASSERT_EQ(CME_SUCCESS, unpacker.ParseMessage(&partial, &leaf));
    EXPECT_EQ(site.substr(0, COutputBlock::BOUNDARY_SIZE - 1), partial.GetBoundary());
}

} // namespace
