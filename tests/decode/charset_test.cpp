// Charset names: the lookup, the default charset per code page, and the charset step.
#include "codec/charset.h"
#include "decode/harness.h"

#include <cstring>
#include <gtest/gtest.h>

namespace
{

using decodetest::DecodeRun;
using decodetest::RunDecoder;
using decodetest::Tree;

TEST(LookupCharType, NamesAndTheirValues)
{
    struct Row
    {
        const char* value;
        unsigned int type;
        BOOL recognised;
        BOOL invalidIso;
    } rows[] = {
        {"US-ASCII", 10, TRUE, FALSE},
        {"us-ascii", 10, TRUE, FALSE},
        {"iso-8859-1", 1, TRUE, FALSE},
        {"ISO-8859-9", 9, TRUE, FALSE},
        {"iso-8859-15", 1, TRUE, FALSE},
        {"iso-8859-0", 0, TRUE, TRUE},
        {"iso-8859-", 0, TRUE, TRUE},
        {"iso-8859-x", 0, TRUE, TRUE},
        {"iso-8859", 0, FALSE, FALSE},
        {"ibm852", 11, TRUE, FALSE},
        {"cp866", 12, TRUE, FALSE},
        {"windows-874", 13, TRUE, FALSE},
        {"iso-2022-jp", 14, TRUE, FALSE},
        {"gb2312", 15, TRUE, FALSE},
        {"euc-kr", 16, TRUE, FALSE},
        {"big5", 17, TRUE, FALSE},
        {"unicode", 18, TRUE, FALSE},
        {"unicodeFEFF", 19, TRUE, FALSE},
        {"UNICODEfeff", 19, TRUE, FALSE},
        {"windows-1258", 20, TRUE, FALSE},
        {"irv", 21, TRUE, FALSE},
        {"DIN_66003", 22, TRUE, FALSE},
        {"SEN_850200_B", 23, TRUE, FALSE},
        {"NS_4551-1", 24, TRUE, FALSE},
        {"koi8-r", 25, TRUE, FALSE},
        {"koi8-ru", 26, TRUE, FALSE},
        {"x-user-defined", 27, TRUE, FALSE},
        {"_iso-2022-jp$ESC", 28, TRUE, FALSE},
        {"_iso-2022-jp$SIO", 29, TRUE, FALSE},
        {"iso-2022-kr", 30, TRUE, FALSE},
        {"_autodetect", 31, TRUE, FALSE},
        {"_autodetect_kr", 32, TRUE, FALSE},
        {"euc-jp", 33, TRUE, FALSE},
        {"hz-gb-2312", 34, TRUE, FALSE},
        {"utf-7", 35, TRUE, FALSE},
        {"utf-8", 36, TRUE, FALSE},
        {"UTF-8", 36, TRUE, FALSE},
        {"utf-8x", 36, TRUE, FALSE},
        {"utf-", 0, FALSE, FALSE},
        {"windows-1252", 0, FALSE, FALSE},
        {"", 0, FALSE, FALSE},
        {"ascii", 0, FALSE, FALSE},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.value);
        BOOL recognised = 7, invalidIso = 7;
        EXPECT_EQ(row.type, static_cast<unsigned int>(LookupCharType(row.value, &recognised, &invalidIso)));
        EXPECT_EQ(row.recognised, recognised);
        EXPECT_EQ(row.invalidIso, invalidIso);
    }
}

TEST(SelectDefaultCharset, CodePagesAndTheNeedsEncodingFlag)
{
    struct Row
    {
        unsigned int codePage;
        const char* name;
        BOOL needsEncoding;
    } rows[] = {
        {1252, "iso-8859-1", FALSE},
        {932, "iso-2022-jp", TRUE},
        {437, "US-ASCII", FALSE},
        {0, "US-ASCII", FALSE},
        {50220, "iso-2022-jp", TRUE},
        {50221, "_iso-2022-jp$ESC", TRUE},
        {50222, "_iso-2022-jp$SIO", TRUE},
        {51932, "euc-jp", TRUE},
        {51949, "euc-kr", FALSE},
        {1251, "koi8-r", FALSE},
        {20866, "koi8-r", FALSE},
        {28598, "iso-8859-8", FALSE},
        {852, "ibm852", FALSE},
        {65001, "utf-8", FALSE},
        {65000, "utf-7", FALSE},
        {1201, "unicodeFEFF", FALSE},
        {20108, "NS_4551-1", FALSE},
        {52936, "hz-gb-2312", FALSE},
    };
    BOOL saved = g_bNeedsEncoding;
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.codePage);
        char buffer[64];
        memset(buffer, 'x', sizeof buffer);
        g_bNeedsEncoding = !row.needsEncoding;
        SelectDefaultCharset(row.codePage, buffer);
        EXPECT_STREQ(row.name, buffer);
        EXPECT_EQ(row.needsEncoding, g_bNeedsEncoding);
    }
    // A null buffer does nothing at all.
    g_bNeedsEncoding = TRUE;
    SelectDefaultCharset(1252, nullptr);
    EXPECT_EQ(TRUE, g_bNeedsEncoding);
    g_bNeedsEncoding = saved;
    EXPECT_EQ(64u, sizeof(g_szDefaultCharset));
}

// Runs the charset step on a leaf of the given type and parameters; the body "x" follows.
DecodeRun RunCharset(Tree& tree, CMIMEPart::_CONTENT_TYPE type, const char* parameters,
                     const testsupport::ScratchDir& scratch)
{
    tree.leaf()->SetContentType(type);
    tree.leaf()->SetEncodeType(CMIMEPart::ENCODE_7BIT);
    tree.leaf()->SetParameters(parameters);
    return RunDecoder(&CUnpacker::ParseCharsetParameter, tree.leaf(), "x\n--b\nnext\n", scratch.mkdir("work"));
}

TEST(ParseCharsetParameter, RecognisedCharsets)
{
    struct Row
    {
        CMIMEPart::_CONTENT_TYPE type;
        const char* parameters;
        _CME_RC rc;
        unsigned int charType;
        const char* charsetName;
    } rows[] = {
        {CMIMEPart::CONTENT_TEXT, "charset=\"ISO-8859-2\"", CME_SUCCESS, 2, "ISO-8859-2"},
        {CMIMEPart::CONTENT_TEXT, "format=flowed; charset=utf-8", CME_SUCCESS, 36, "utf-8"},
        {CMIMEPart::CONTENT_TEXT, "CHARSET=koi8-ru", CME_SUCCESS, 26, "koi8-ru"},
        {CMIMEPart::CONTENT_TEXT, "charset=iso-8859-0", CME_INVALID_CHARSET, 0, "iso-8859-0"},
        {CMIMEPart::CONTENT_TEXT, "charset=iso-8859-0; charset=utf-8", CME_INVALID_CHARSET, 36, "utf-8"},
        {CMIMEPart::CONTENT_TEXT, "charset=foo; charset=big5", CME_SUCCESS, 17, "big5"},
        {CMIMEPart::CONTENT_TEXT, "format=flowed", CME_SUCCESS, 10, "US-ASCII"},
        {CMIMEPart::CONTENT_IMAGE, "format=flowed", CME_SUCCESS, 0, ""},
        {CMIMEPart::CONTENT_IMAGE, "", CME_SUCCESS, 10, "US-ASCII"},
        {CMIMEPart::CONTENT_AUDIO, "charset=utf-8", CME_SUCCESS, 36, "utf-8"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.parameters);
        testsupport::ScratchDir scratch;
        Tree tree;
        DecodeRun run = RunCharset(tree, row.type, row.parameters, scratch);
        EXPECT_EQ(row.rc, run.rc);
        EXPECT_EQ(row.charType, static_cast<unsigned int>(tree.leaf()->GetCharType()));
        EXPECT_STREQ(row.charsetName, tree.leaf()->GetCharSetName());
        EXPECT_EQ(row.type, tree.leaf()->GetContentType());
        // The step itself reads no body.
        EXPECT_EQ("x\n--b\nnext\n", run.next);
        EXPECT_STREQ("", tree.leaf()->GetDataFile());
    }
}

TEST(ParseCharsetParameter, AnUnknownCharsetMakesApplicationDataAndExtractsIt)
{
    for (const char* parameters : {"charset=windows-1252", "charset=utf-8; charset=windows-1252"})
    {
        SCOPED_TRACE(parameters);
        testsupport::ScratchDir scratch;
        Tree tree;
        DecodeRun run = RunCharset(tree, CMIMEPart::CONTENT_TEXT, parameters, scratch);
        EXPECT_EQ(CME_SUCCESS, run.rc);
        EXPECT_EQ(CMIMEPart::CONTENT_APPLICATION, tree.leaf()->GetContentType());
        EXPECT_EQ(1u, tree.leaf()->GetSubTypeIndex());
        EXPECT_STREQ("windows-1252", tree.leaf()->GetCharSetName());
        EXPECT_EQ("x\r\n", run.output);
        EXPECT_EQ("next\n", run.next);
    }
}

TEST(ParseCharsetParameter, NamesFromTheParameters)
{
    struct Row
    {
        const char* parameters;
        const char* before; // suggested name before the step
        const char* after;
    } rows[] = {
        {"name=a.txt", "", "a.txt"},
        {"charset=utf-8; NAME=\"b c.txt\"", "", "b c.txt"},
        {"name=first.txt; name=second.txt", "", "first.txt"},
        {"name=a.txt", "from-disposition.txt", "from-disposition.txt"},
        {"name=\"=?iso-8859-1?B?SGVsbG8udHh0?=\"", "", "Hello.txt"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.parameters);
        testsupport::ScratchDir scratch;
        Tree tree;
        tree.leaf()->SetSuggestName(row.before);
        DecodeRun run = RunCharset(tree, CMIMEPart::CONTENT_TEXT, row.parameters, scratch);
        EXPECT_EQ(CME_SUCCESS, run.rc);
        EXPECT_STREQ(row.after, tree.leaf()->GetSuggestName());
    }
}

} // namespace
