// The content field parsers: a header (as in a header work file) is read line by line
// and every line handed to ParseHeaderField, as the header reader does; the block's fields
// and the result are checked, with LF and with CR LF line ends.
#include "mimeengine/unpack/unpacker.h"
#include "resources/stringtable.h"
#include "tests/header/headertest.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace
{

using headertest::LineEnds;
using CT = CMIMEPart::_CONTENT_TYPE;
using ET = CMIMEPart::_ENCODE_TYPE;
using DT = CMIMEPart::_DISPOSE_TYPE;

struct Parsed
{
    UINT rc = 0;
    std::unique_ptr<COutputBlock> block = std::make_unique<COutputBlock>();
    std::string lastLine; // the current line when parsing stopped
};

// Parses every field of header (LF line ends, converted to ends) into a new block.
Parsed ParseFields(const std::string& header, LineEnds ends)
{
    Parsed parsed;
    testsupport::ScratchDir dir;
    auto file = headertest::TextFile(dir, "fields.HDR", headertest::ToLineEnds(header, ends));
    EXPECT_TRUE(file->IsOpen());
    headertest::LinePair pair;
    CUnpacker unpacker;
    std::vector<char> value(LINE_BUFFER_SIZE);
    char* got = file->ReadString(pair.line, LINE_READ_LIMIT);
    while (got != nullptr)
    {
        _UNFOLD_RC unfold = UNFOLD_NOT_RUN;
        parsed.rc =
            unpacker.ParseHeaderField(&pair.line, &pair.ahead, *file, &unfold, value.data(), parsed.block.get());
        if (parsed.rc != 0 || unfold == UNFOLD_END_OF_FILE)
            break;
        if (unfold == UNFOLD_NOT_RUN)
            got = file->ReadString(pair.line, LINE_READ_LIMIT);
    }
    parsed.lastLine = pair.line;
    return parsed;
}

// Expected block fields; everything not set keeps the default of a new block.
struct FieldRow
{
    std::string name;
    std::string header;
    UINT rc = 0;
    CT type = CMIMEPart::CONTENT_UNKNOWN;
    std::string subType;
    std::string parameters;
    ET encoding = CMIMEPart::ENCODE_8BIT;
    DT disposition = CMIMEPart::DISPOSE_UNKNOWN;
    std::string suggestName;
    std::string contentId;
    std::string contentDesc;

    FieldRow(std::string n, std::string h) : name(std::move(n)), header(std::move(h)) {}
    FieldRow& Rc(UINT v)
    {
        rc = v;
        return *this;
    }
    FieldRow& Type(CT t, std::string sub, std::string params = "")
    {
        type = t;
        subType = std::move(sub);
        parameters = std::move(params);
        return *this;
    }
    FieldRow& Encoding(ET e)
    {
        encoding = e;
        return *this;
    }
    FieldRow& Disposition(DT d)
    {
        disposition = d;
        return *this;
    }
    FieldRow& Name(std::string s)
    {
        suggestName = std::move(s);
        return *this;
    }
    FieldRow& Id(std::string s)
    {
        contentId = std::move(s);
        return *this;
    }
    FieldRow& Desc(std::string s)
    {
        contentDesc = std::move(s);
        return *this;
    }
};

std::vector<FieldRow> FieldRows()
{
    using M = CMIMEPart;
    return {
        FieldRow("TypeWithParameter", "Content-Type: text/plain; charset=us-ascii\n")
            .Type(M::CONTENT_TEXT, "plain", "charset=us-ascii"),
        FieldRow("TypeCaseKept", "Content-Type: Text/HTML\n").Type(M::CONTENT_TEXT, "HTML"),
        FieldRow("TypeWithoutSlash", "Content-Type: text\n").Rc(IDS_NO_SUBTYPE).Type(M::CONTENT_TEXT, ""),
        FieldRow("UnknownMainType", "Content-Type: foo/bar\n").Type(M::CONTENT_UNKNOWN, "bar"),
        FieldRow("MainTypeIsAPrefix", "Content-Type: textual/x\n").Type(M::CONTENT_TEXT, "x"),
        FieldRow("Message", "Content-Type: message/rfc822\n").Type(M::CONTENT_MESSAGE, "rfc822"),
        FieldRow("Multipart", "Content-Type: MULTIPART/Mixed\n").Type(M::CONTENT_MULTIPART, "Mixed"),
        FieldRow("Image", "Content-Type: image/gif\n").Type(M::CONTENT_IMAGE, "gif"),
        FieldRow("Audio", "Content-Type: audio/basic\n").Type(M::CONTENT_AUDIO, "basic"),
        FieldRow("Video", "Content-Type: video/mpeg\n").Type(M::CONTENT_VIDEO, "mpeg"),
        FieldRow("Application", "Content-Type: application/pdf\n").Type(M::CONTENT_APPLICATION, "pdf"),
        FieldRow("FoldedParameters", "Content-Type: multipart/mixed;\n\tboundary=\"b1\"\n")
            .Type(M::CONTENT_MULTIPART, "mixed", "boundary=\"b1\""),
        FieldRow("FoldBeforeSemicolon", "Content-Type: multipart/mixed\n ; boundary=\"b1\"\n")
            .Type(M::CONTENT_MULTIPART, "mixed"),
        FieldRow("SpaceBeforeSemicolon", "Content-Type: text/plain ; charset=x\n").Type(M::CONTENT_TEXT, "plain"),
        FieldRow("SpaceAfterSlash", "Content-Type: text/ plain;charset=x\n")
            .Type(M::CONTENT_TEXT, "plain", "charset=x"),
        FieldRow("ParametersKeepTrailingSpace", "Content-Type: text/plain; charset=x  \n")
            .Type(M::CONTENT_TEXT, "plain", "charset=x  "),
        FieldRow("LowerCaseNoSpace", "content-type:text/plain\n").Type(M::CONTENT_TEXT, "plain"),
        FieldRow("SpaceBeforeColonIsNoField", "Content-Type : text/plain\n"),
        FieldRow("OtherFieldsIgnored", "Subject: text/plain\nX-Content-Type: text/plain\n"),
        FieldRow("RepeatedTypeKeepsParameters", "Content-Type: text/plain; charset=x\nContent-Type: image/gif\n")
            .Type(M::CONTENT_IMAGE, "gif", "charset=x"),
        FieldRow("RepeatedTypeReplacesParameters", "Content-Type: text/plain; a=1\nContent-Type: image/gif; b=2\n")
            .Type(M::CONTENT_IMAGE, "gif", "b=2"),
        FieldRow("NameParameter", "Content-Type: application/octet-stream; name=\"a b.txt\"\n")
            .Type(M::CONTENT_APPLICATION, "octet-stream", "name=\"a b.txt\"")
            .Name("a b.txt"),
        FieldRow("EncodedNameParameter", "Content-Type: image/gif; NAME=\"=?iso-8859-1?B?SGVsbG8udHh0?=\"\n")
            .Type(M::CONTENT_IMAGE, "gif", "NAME=\"=?iso-8859-1?B?SGVsbG8udHh0?=\"")
            .Name("Hello.txt"),
        FieldRow("OnlyFirstNameOption", "Content-Type: image/gif; name=a; name=b\n")
            .Type(M::CONTENT_IMAGE, "gif", "name=a; name=b")
            .Name("a"),
        FieldRow("QNameNotDecoded", "Content-Type: image/gif; name==?utf-8?Q?a?=\n")
            .Type(M::CONTENT_IMAGE, "gif", "name==?utf-8?Q?a?=")
            .Name("=?utf-8?Q?a?="),
        FieldRow("EncodingBase64", "Content-Transfer-Encoding: Base64\n").Encoding(M::ENCODE_BASE64),
        FieldRow("EncodingShortPrefix", "Content-Transfer-Encoding: x-uue\n").Encoding(M::ENCODE_UNKNOWN),
        FieldRow("EncodingXUuencode", "Content-Transfer-Encoding: x-uuencode\n").Encoding(M::ENCODE_X_UUENCODE),
        FieldRow("EncodingUuencode", "Content-Transfer-Encoding: uuencode\n").Encoding(M::ENCODE_UUENCODE),
        FieldRow("Encoding7bit", "content-transfer-encoding: 7BIT\n").Encoding(M::ENCODE_7BIT),
        FieldRow("EncodingQuotedPrintable", "Content-Transfer-Encoding: quoted-printable\n")
            .Encoding(M::ENCODE_QUOTED_PRINTABLE),
        FieldRow("EncodingBinary", "Content-Transfer-Encoding: binary\n").Encoding(M::ENCODE_BINARY),
        FieldRow("EncodingFolded", "Content-Transfer-Encoding:\n base64\n").Encoding(M::ENCODE_BASE64),
        FieldRow("DispositionInline", "Content-Disposition: inline; filename=a.txt\n")
            .Disposition(M::DISPOSE_INLINE)
            .Name("a.txt"),
        FieldRow("DispositionOther", "Content-Disposition: form-data\n").Disposition(M::DISPOSE_ATTACHMENT),
        FieldRow("DispositionQuotedFilename", "Content-Disposition: attachment;\n filename=\"my file.txt\"\n")
            .Disposition(M::DISPOSE_ATTACHMENT)
            .Name("my file.txt"),
        FieldRow("DispositionLastFilenameWins", "Content-Disposition: attachment; filename=a; FILENAME=b\n")
            .Disposition(M::DISPOSE_ATTACHMENT)
            .Name("b"),
        FieldRow("DispositionEncodedFilename",
                 "Content-Disposition: attachment; filename=\"=?utf-8?B?w6RiYy50eHQ=?=\"\n")
            .Disposition(M::DISPOSE_ATTACHMENT)
            .Name("\xc3\xa4"
                  "bc.txt"),
        FieldRow("FilenameAfterName",
                 "Content-Type: image/gif; name=n.gif\nContent-Disposition: attachment; filename=f.gif\n")
            .Type(M::CONTENT_IMAGE, "gif", "name=n.gif")
            .Disposition(M::DISPOSE_ATTACHMENT)
            .Name("f.gif"),
        FieldRow("FilenameBeforeName",
                 "Content-Disposition: attachment; filename=f.gif\nContent-Type: image/gif; name=n.gif\n")
            .Type(M::CONTENT_IMAGE, "gif", "name=n.gif")
            .Disposition(M::DISPOSE_ATTACHMENT)
            .Name("f.gif"),
        FieldRow("ContentNameFirst", "Content-Name: first\nContent-Type: image/gif; name=second\n")
            .Type(M::CONTENT_IMAGE, "gif", "name=second")
            .Name("first"),
        FieldRow("NameParameterFirst", "Content-Type: image/gif; name=first\nContent-Name: second\n")
            .Type(M::CONTENT_IMAGE, "gif", "name=first")
            .Name("first"),
        FieldRow("ContentNameNotUnquoted", "Content-Name: \"q.txt\"\n").Name("\"q.txt\""),
        FieldRow("FirstContentIdCounts", "Content-Id: <first@x>\nContent-ID: <second@x>\n").Id("<first@x>"),
        FieldRow("FirstDescriptionCounts", "Content-Description: one  \nContent-Description: two\n").Desc("one  "),
        FieldRow("FoldedDescription", "Content-Description: a\n b\n\tc\nContent-Id: <i>\n").Desc("a b\tc").Id("<i>"),
        FieldRow("EmptyDescription", "Content-Description:\nContent-Id: <i>\n").Id("<i>"),
        FieldRow("NoFinalLineEnd", "Content-Id: <i>").Rc(IDS_LINE_TOO_LONG),
    };
}

class FieldParserTest : public ::testing::TestWithParam<std::tuple<FieldRow, LineEnds>>
{
};

TEST_P(FieldParserTest, FillsTheBlock)
{
    const FieldRow& row = std::get<0>(GetParam());
    const Parsed parsed = ParseFields(row.header, std::get<1>(GetParam()));
    const COutputBlock& block = *parsed.block;
    EXPECT_EQ(parsed.rc, row.rc);
    EXPECT_EQ(block.GetContentType(), row.type);
    EXPECT_STREQ(block.GetSubTypeString(), row.subType.c_str());
    EXPECT_STREQ(block.GetParameters(), row.parameters.c_str());
    EXPECT_EQ(block.GetEncodeType(), row.encoding);
    EXPECT_EQ(block.GetDisposition(), row.disposition);
    EXPECT_STREQ(block.GetSuggestName(), row.suggestName.c_str());
    EXPECT_STREQ(block.GetContentId(), row.contentId.c_str());
    EXPECT_STREQ(block.GetContentDesc(), row.contentDesc.c_str());
}

INSTANTIATE_TEST_SUITE_P(Fields, FieldParserTest,
                         ::testing::Combine(::testing::ValuesIn(FieldRows()),
                                            ::testing::Values(LineEnds::LF, LineEnds::CRLF)),
                         [](const auto& test) {
                             return std::get<0>(test.param).name + "_" +
                                    headertest::LineEndsName(std::get<1>(test.param));
                         });

// ---- GetFieldValue and the line pair ----------------------------------------------------

TEST(GetFieldValueTest, LeavesTheNextLineCurrent)
{
    for (LineEnds ends : {LineEnds::LF, LineEnds::CRLF})
    {
        testsupport::ScratchDir dir;
        auto file =
            headertest::TextFile(dir, "h.HDR", headertest::ToLineEnds("Content-Id:  <a>\n more \nSubject: s\n", ends));
        headertest::LinePair pair;
        ASSERT_NE(file->ReadString(pair.line, LINE_READ_LIMIT), nullptr);
        char* const firstBuffer = pair.line;
        CUnpacker unpacker;
        char value[LINE_BUFFER_SIZE];
        _UNFOLD_RC unfold = UNFOLD_NOT_RUN;
        EXPECT_EQ(unpacker.GetFieldValue(&pair.line, &pair.ahead, *file, &unfold, value), 0u);
        EXPECT_EQ(unfold, UNFOLD_NEXT_LINE);
        EXPECT_STREQ(value, "<a> more ");
        EXPECT_STREQ(pair.line, "Subject: s\n");
        EXPECT_EQ(pair.ahead, firstBuffer);
    }
}

TEST(GetFieldValueTest, OtherLinesLeaveTheUnfoldResult)
{
    testsupport::ScratchDir dir;
    auto file = headertest::TextFile(dir, "h.HDR", "Subject: s\n");
    headertest::LinePair pair;
    ASSERT_NE(file->ReadString(pair.line, LINE_READ_LIMIT), nullptr);
    CUnpacker unpacker;
    COutputBlock block;
    char value[LINE_BUFFER_SIZE] = "untouched";
    _UNFOLD_RC unfold = UNFOLD_NOT_RUN;
    EXPECT_EQ(unpacker.ParseHeaderField(&pair.line, &pair.ahead, *file, &unfold, value, &block), 0u);
    EXPECT_EQ(unfold, UNFOLD_NOT_RUN);
    EXPECT_STREQ(value, "untouched");
    EXPECT_STREQ(pair.line, "Subject: s\n");
}

TEST(GetFieldValueTest, NullBlockIsNotTouched)
{
    const char* headers[] = {"Content-Name: n\n",
                             "Content-Id: <i>\n",
                             "Content-Description: d\n",
                             "Content-Type: text/plain; name=x\n",
                             "Content-Disposition: inline; filename=x\n",
                             "Content-Transfer-Encoding: base64\n"};
    for (const char* header : headers)
    {
        testsupport::ScratchDir dir;
        auto file = headertest::TextFile(dir, "h.HDR", header);
        headertest::LinePair pair;
        ASSERT_NE(file->ReadString(pair.line, LINE_READ_LIMIT), nullptr);
        CUnpacker unpacker;
        char value[LINE_BUFFER_SIZE];
        _UNFOLD_RC unfold = UNFOLD_NOT_RUN;
        EXPECT_EQ(unpacker.ParseHeaderField(&pair.line, &pair.ahead, *file, &unfold, value, nullptr), 0u) << header;
        EXPECT_EQ(unfold, UNFOLD_END_OF_FILE) << header;
    }
}

// ---- Limits -------------------------------------------------------------------------------

// A field line of exactly total characters, its line end included.
std::string FieldOfLength(const std::string& start, size_t total, char fill = 'v')
{
    return start + std::string(total - start.size() - 1, fill) + "\n";
}

TEST(FieldLimitTest, LineOf2046IsParsedAndLongerFails)
{
    for (LineEnds ends : {LineEnds::LF, LineEnds::CRLF})
    {
        const std::string start = "Content-Description: ";
        Parsed fits = ParseFields(FieldOfLength(start, 2046) + "Content-Id: <i>\n", ends);
        EXPECT_EQ(fits.rc, 0u);
        EXPECT_EQ(std::string(fits.block->GetContentDesc()), std::string(COutputBlock::CONTENT_DESC_SIZE - 1, 'v'));
        EXPECT_STREQ(fits.block->GetContentId(), "<i>");

        Parsed tooLong = ParseFields(FieldOfLength(start, 2047) + "Content-Id: <i>\n", ends);
        EXPECT_EQ(tooLong.rc, IDS_LINE_TOO_LONG);
        EXPECT_STREQ(tooLong.block->GetContentDesc(), "");
    }
}

TEST(FieldLimitTest, FoldOf2048IsJoinedAndLongerFails)
{
    for (LineEnds ends : {LineEnds::LF, LineEnds::CRLF})
    {
        const std::string first = FieldOfLength("Content-Id: <", 1024, 'i');
        Parsed fits = ParseFields(first + FieldOfLength(" ", 1024, 'j') + "Content-Name: n\n", ends);
        EXPECT_EQ(fits.rc, 0u);
        EXPECT_EQ(strlen(fits.block->GetContentId()), COutputBlock::CONTENT_ID_SIZE - 1u);
        EXPECT_STREQ(fits.block->GetSuggestName(), "n");

        Parsed tooLong = ParseFields(first + FieldOfLength(" ", 1025, 'j') + "Content-Name: n\n", ends);
        EXPECT_EQ(tooLong.rc, IDS_BAD_CONCATENATION);
        EXPECT_STREQ(tooLong.block->GetContentId(), "");
    }
}

TEST(FieldLimitTest, LongValuesAreCutAtTheFieldWidth)
{
    const std::string sub(100, 's');
    const std::string params = "a=" + std::string(400, 'p');
    const std::string name(400, 'n');
    Parsed parsed =
        ParseFields("Content-Type: text/" + sub + "; " + params + "\nContent-Name: " + name + "\nContent-Id: <" +
                        std::string(400, 'i') + ">\nContent-Description: " + std::string(400, 'd') + "\n",
                    LineEnds::LF);
    EXPECT_EQ(parsed.rc, 0u);
    EXPECT_EQ(std::string(parsed.block->GetSubTypeString()), sub.substr(0, CBlock::SUBTYPE_SIZE - 1));
    EXPECT_EQ(std::string(parsed.block->GetParameters()), params.substr(0, CBlock::PARAMETERS_SIZE - 1));
    EXPECT_EQ(std::string(parsed.block->GetSuggestName()), name.substr(0, CBlock::PATH_SIZE - 1));
    EXPECT_EQ(strlen(parsed.block->GetContentId()), COutputBlock::CONTENT_ID_SIZE - 1u);
    EXPECT_EQ(strlen(parsed.block->GetContentDesc()), COutputBlock::CONTENT_DESC_SIZE - 1u);
}

TEST(FieldLimitTest, NamesGoThroughA256ByteBuffer)
{
    // A name parameter of 300 characters, plain or far past the last parameter text byte,
    // is cut at 255 by the decoding buffer, below the 259 that the block could hold.
    const std::string name(300, 'n');
    Parsed fromType = ParseFields("Content-Type: image/gif; name=" + name + "\n", LineEnds::LF);
    EXPECT_EQ(std::string(fromType.block->GetSuggestName()), name.substr(0, 255));
    Parsed fromDisposition = ParseFields("Content-Disposition: attachment; filename=\"" + name + "\"\n", LineEnds::LF);
    EXPECT_EQ(std::string(fromDisposition.block->GetSuggestName()), name.substr(0, 255));

    // A parameter text longer than 255 characters is cut in the block, but a name
    // behind the cut is still found.
    Parsed late =
        ParseFields("Content-Type: image/gif; x=" + std::string(300, 'x') + "; name=late.gif\n", LineEnds::LF);
    EXPECT_STREQ(late.block->GetSuggestName(), "late.gif");
}

} // namespace
