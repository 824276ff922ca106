// The generated header lines of one part: type line with folded parameters, encoding line,
// names and disposition, the first-part rule, and types derived for untyped parts.
#include "packtest.h"

#include <gtest/gtest.h>

using namespace packtest;
using testsupport::ScratchDir;

namespace
{

class HeaderWriter : public ::testing::Test
{
protected:
    std::string Header(CInputBlock* block, const char* boundary = "")
    {
        return WriteToFile(dir.file("out"), [&](CFile& out) { packer.WriteHeader(block, out, CString(boundary)); });
    }

    ScratchDir dir;
    MimeDatabase noDatabase{nullptr};
    CPacker packer;
};

struct HeaderRow
{
    const char* name;
    CMIMEPart::_CONTENT_TYPE type;
    CMIMEPart::_ENCODE_TYPE encoding;
    const char* subType;
    const char* dataFile;
    const char* suggestName;
    const char* parameters;
    unsigned mode;
    BOOL firstPart;
    const char* boundary;
    std::string expected;
    BOOL firstPartAfter;
};

} // namespace

TEST_F(HeaderWriter, Table)
{
    const HeaderRow rows[] = {
        {"multipart root of the worked example", CMIMEPart::CONTENT_MULTIPART, CMIMEPart::ENCODE_UNKNOWN, "", "", "",
         "", ENCODE_MODE_MESSAGE, TRUE, "B1", "Content-Type: MULTIPART/mixed;\r\n\tboundary=\"B1\"\r\n", TRUE},
        {"first leaf: parameters, no name", CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_QUOTED_PRINTABLE, "plain",
         "/d/note.txt", "", "charset=iso-8859-1", ENCODE_MODE_MESSAGE, TRUE, "",
         "Content-Type: TEXT/plain;\r\n\tcharset=iso-8859-1\r\nContent-Transfer-Encoding: quoted-printable\r\n", FALSE},
        {"later leaf: name and disposition", CMIMEPart::CONTENT_IMAGE, CMIMEPart::ENCODE_BASE64, "gif", "/d/pic.gif",
         "", "", ENCODE_MODE_MESSAGE, FALSE, "",
         "Content-Type: IMAGE/gif;\r\n\tname=\"pic.gif\"\r\nContent-Transfer-Encoding: base64\r\n"
         "Content-Disposition: attachment; filename=pic.gif\r\n",
         FALSE},
        {"name from a Windows path with two dots", CMIMEPart::CONTENT_APPLICATION, CMIMEPart::ENCODE_BASE64, "msword",
         "C:\\dir\\report.final.doc", "", "", ENCODE_MODE_MESSAGE, FALSE, "",
         "Content-Type: APPLICATION/msword;\r\n\tname=\"report.final.doc\"\r\nContent-Transfer-Encoding: base64\r\n"
         "Content-Disposition: attachment; filename=report.final.doc\r\n",
         FALSE},
        {"path without name: empty name, no disposition", CMIMEPart::CONTENT_IMAGE, CMIMEPart::ENCODE_BASE64, "gif",
         "C:\\dir\\", "", "", ENCODE_MODE_MESSAGE, FALSE, "",
         "Content-Type: IMAGE/gif;\r\n\tname=\"\"\r\nContent-Transfer-Encoding: base64\r\n", FALSE},
        {"suggested name wins over the data file", CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_7BIT, "plain", "/d/x.tmp",
         "notes.txt", "charset=us-ascii", ENCODE_MODE_MESSAGE, FALSE, "",
         "Content-Type: TEXT/plain;\r\n\tcharset=us-ascii;\r\n\tname=\"notes.txt\"\r\n"
         "Content-Transfer-Encoding: 7bit\r\nContent-Disposition: attachment; filename=notes.txt\r\n",
         FALSE},
        {"first leaf in another mode is named", CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_7BIT, "plain", "/d/a.txt",
         "", "", 2, TRUE, "",
         "Content-Type: TEXT/plain;\r\n\tname=\"a.txt\"\r\nContent-Transfer-Encoding: 7bit\r\n"
         "Content-Disposition: attachment; filename=a.txt\r\n",
         FALSE},
        {"alternative with a parameter", CMIMEPart::CONTENT_MULTIPART, CMIMEPart::ENCODE_UNKNOWN, "alternative", "", "",
         "type=x", ENCODE_MODE_MESSAGE, TRUE, "B2",
         "Content-Type: MULTIPART/alternative;\r\n\ttype=x;\r\n\tboundary=\"B2\"\r\n", TRUE},
        {"message part: type line only, flag kept", CMIMEPart::CONTENT_MESSAGE, CMIMEPart::ENCODE_7BIT, "rfc822",
         "/d/m.eml", "m.eml", "", ENCODE_MODE_MESSAGE, TRUE, "", "Content-Type: MESSAGE/rfc822\r\n", TRUE},
        {"uuencode is labelled binary", CMIMEPart::CONTENT_APPLICATION, CMIMEPart::ENCODE_UUENCODE, "octet-stream",
         "/d/f.uue", "", "", ENCODE_MODE_MESSAGE, TRUE, "",
         "Content-Type: APPLICATION/octet-stream\r\nContent-Transfer-Encoding: binary\r\n", FALSE},
        {"x-uuencode and unknown are binary too", CMIMEPart::CONTENT_AUDIO, CMIMEPart::ENCODE_X_UUENCODE, "basic",
         "/d/s.au", "", "", ENCODE_MODE_MESSAGE, TRUE, "",
         "Content-Type: AUDIO/basic\r\nContent-Transfer-Encoding: binary\r\n", FALSE},
        {"8bit and subtype case kept", CMIMEPart::CONTENT_VIDEO, CMIMEPart::ENCODE_8BIT, "MPeg", "/d/v.mpg", "", "",
         ENCODE_MODE_MESSAGE, TRUE, "", "Content-Type: VIDEO/MPeg\r\nContent-Transfer-Encoding: 8bit\r\n", FALSE},
    };
    for (const HeaderRow& row : rows)
    {
        CInputBlock block(row.type, row.encoding, row.subType, row.dataFile, row.suggestName, nullptr, TRUE,
                          row.parameters);
        packer.m_EncodeMode = static_cast<_ENCODE_MODE>(row.mode);
        packer.m_FirstPart = row.firstPart;
        EXPECT_EQ(row.expected, Header(&block, row.boundary)) << row.name;
        EXPECT_EQ(row.firstPartAfter, packer.m_FirstPart) << row.name;
        // Only untyped blocks are changed by the header writer.
        EXPECT_EQ(row.type, block.GetContentType()) << row.name;
        EXPECT_STREQ(row.suggestName, block.GetSuggestName()) << row.name;
    }
}

TEST_F(HeaderWriter, UntypedBlockIsDerivedAndStoredBack)
{
    struct Row
    {
        const char* dataFile;
        const char* suggestName;
        std::string expected;
        CMIMEPart::_CONTENT_TYPE type;
        CMIMEPart::_ENCODE_TYPE encoding;
        const char* subType;
    } rows[] = {
        {"/d/pic.GIF", "",
         "Content-Type: IMAGE/gif;\r\n\tname=\"pic.GIF\"\r\nContent-Transfer-Encoding: base64\r\n"
         "Content-Disposition: attachment; filename=pic.GIF\r\n",
         CMIMEPart::CONTENT_IMAGE, CMIMEPart::ENCODE_BASE64, "gif"},
        // The suggested name decides the type, not the data file.
        {"/d/data.bin", "readme.txt",
         "Content-Type: TEXT/plain;\r\n\tname=\"readme.txt\"\r\nContent-Transfer-Encoding: 7bit\r\n"
         "Content-Disposition: attachment; filename=readme.txt\r\n",
         CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_7BIT, "plain"},
        {"/d/README", "",
         "Content-Type: APPLICATION/octet-stream;\r\n\tname=\"README\"\r\nContent-Transfer-Encoding: base64\r\n"
         "Content-Disposition: attachment; filename=README\r\n",
         CMIMEPart::CONTENT_APPLICATION, CMIMEPart::ENCODE_BASE64, "octet-stream"},
    };
    for (const Row& row : rows)
    {
        CInputBlock block(CMIMEPart::CONTENT_UNKNOWN, CMIMEPart::ENCODE_UNKNOWN, nullptr, row.dataFile,
                          row.suggestName);
        packer.m_FirstPart = FALSE;
        EXPECT_EQ(row.expected, Header(&block)) << row.dataFile;
        EXPECT_EQ(row.type, block.GetContentType()) << row.dataFile;
        EXPECT_EQ(row.encoding, block.GetEncodeType()) << row.dataFile;
        EXPECT_STREQ(row.subType, block.GetSubTypeString()) << row.dataFile;
    }
}

TEST_F(HeaderWriter, DatabaseTypesAreUsedAndCompositeOnesWrittenAsLeaves)
{
    MimeDatabase database("image/png png\nmultipart/related mht\nmessage/rfc822 eml\n");
    struct Row
    {
        const char* dataFile;
        std::string expected;
        CMIMEPart::_CONTENT_TYPE type;
        CMIMEPart::_ENCODE_TYPE encoding;
    } rows[] = {
        {"/d/p.png",
         "Content-Type: IMAGE/png;\r\n\tname=\"p.png\"\r\nContent-Transfer-Encoding: binary\r\n"
         "Content-Disposition: attachment; filename=p.png\r\n",
         CMIMEPart::CONTENT_IMAGE, CMIMEPart::ENCODE_BINARY},
        {"/d/page.mht",
         "Content-Type: APPLICATION/octet-stream;\r\n\tname=\"page.mht\"\r\nContent-Transfer-Encoding: base64\r\n"
         "Content-Disposition: attachment; filename=page.mht\r\n",
         CMIMEPart::CONTENT_APPLICATION, CMIMEPart::ENCODE_BASE64},
        {"/d/mail.eml",
         "Content-Type: APPLICATION/octet-stream;\r\n\tname=\"mail.eml\"\r\nContent-Transfer-Encoding: base64\r\n"
         "Content-Disposition: attachment; filename=mail.eml\r\n",
         CMIMEPart::CONTENT_APPLICATION, CMIMEPart::ENCODE_BASE64},
    };
    for (const Row& row : rows)
    {
        CInputBlock block(CMIMEPart::CONTENT_UNKNOWN, CMIMEPart::ENCODE_UNKNOWN, nullptr, row.dataFile);
        packer.m_FirstPart = FALSE;
        EXPECT_EQ(row.expected, Header(&block)) << row.dataFile;
        EXPECT_EQ(row.type, block.GetContentType()) << row.dataFile;
        EXPECT_EQ(row.encoding, block.GetEncodeType()) << row.dataFile;
    }
}

TEST_F(HeaderWriter, OnlyTheFirstGeneratedLeafIsUnnamed)
{
    packer.m_EncodeMode = ENCODE_MODE_MESSAGE;
    packer.m_FirstPart = TRUE;
    CInputBlock root(CMIMEPart::CONTENT_MULTIPART);
    CInputBlock first(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_7BIT, "plain", "/d/a.txt");
    CInputBlock second(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_7BIT, "plain", "/d/b.txt");
    EXPECT_EQ("Content-Type: MULTIPART/mixed;\r\n\tboundary=\"X\"\r\n", Header(&root, "X"));
    EXPECT_EQ("Content-Type: TEXT/plain\r\nContent-Transfer-Encoding: 7bit\r\n", Header(&first));
    EXPECT_EQ("Content-Type: TEXT/plain;\r\n\tname=\"b.txt\"\r\nContent-Transfer-Encoding: 7bit\r\n"
              "Content-Disposition: attachment; filename=b.txt\r\n",
              Header(&second));
}

// A name with line ends (from the caller, or from the data file's own name) must not end a
// header line: otherwise the rest of the name would stand as a header field of its own.
// Every control character but TAB becomes "_"; everything else of the name is kept.
TEST_F(HeaderWriter, ControlCharactersInNamesCannotStartHeaderLines)
{
    struct Row
    {
        const char* label;
        const char* dataFile;
        const char* suggestName;
        const char* written;
    };
    const Row rows[] = {
        {"CR LF in the suggested name", "/d/x.bin", "a\r\nBcc: v@example.invalid\r\n.bin",
         "a__Bcc: v@example.invalid__.bin"},
        {"LF only", "/d/x.bin", "a\nX-Injected: 1.bin", "a_X-Injected: 1.bin"},
        {"lone CR, ESC and DEL", "/d/x.bin",
         "a\rb\x1b"
         "c\x7f.bin",
         "a_b_c_.bin"},
        {"TAB is kept", "/d/x.bin", "a\tb.bin", "a\tb.bin"},
        {"line end in the data file's name", "/d/evil\r\nX-Injected: 1.bin", "", "evil__X-Injected: 1.bin"},
    };
    for (const Row& row : rows)
    {
        CInputBlock block(CMIMEPart::CONTENT_APPLICATION, CMIMEPart::ENCODE_BASE64, "octet-stream", row.dataFile,
                          row.suggestName, nullptr, TRUE, nullptr);
        packer.m_EncodeMode = ENCODE_MODE_MESSAGE;
        packer.m_FirstPart = FALSE;
        const std::string written = row.written;
        EXPECT_EQ("Content-Type: APPLICATION/octet-stream;\r\n\tname=\"" + written +
                      "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=" +
                      written + "\r\n",
                  Header(&block))
            << row.label;
        // The caller's block keeps the name it was given.
        EXPECT_STREQ(row.suggestName, block.GetSuggestName()) << row.label;
    }
}
