// Leaf body dispatch: types settled, subtype rows, names, and the decoder chosen.
#include "decode/harness.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace
{

using decodetest::DecodeRun;
using decodetest::RunDecoder;
using decodetest::Tree;

const char kMessage[] = "x\n--b\nnext\n";

_CME_RC Extract(CUnpacker& unpacker, COutputBlock* block, char** line, CStdioFile* source)
{
    return unpacker.ExtractLeafBody(block, source, line);
}

struct Leaf
{
    CMIMEPart::_CONTENT_TYPE type;
    CMIMEPart::_ENCODE_TYPE encoding;
    const char* subtype;
    const char* parameters;
};

DecodeRun RunLeaf(Tree& tree, const Leaf& leaf, const testsupport::ScratchDir& scratch, const char* message = kMessage)
{
    tree.leaf()->SetContentType(leaf.type);
    tree.leaf()->SetEncodeType(leaf.encoding);
    tree.leaf()->SetSubTypeString(leaf.subtype);
    tree.leaf()->SetParameters(leaf.parameters);
    return RunDecoder(Extract, tree.leaf(), message, scratch.mkdir("work"));
}

TEST(ExtractLeafBody, TypesAndSubtypeRows)
{
    const auto TEXT = CMIMEPart::CONTENT_TEXT, IMAGE = CMIMEPart::CONTENT_IMAGE, AUDIO = CMIMEPart::CONTENT_AUDIO,
               VIDEO = CMIMEPart::CONTENT_VIDEO, APP = CMIMEPart::CONTENT_APPLICATION;
    const auto BIT7 = CMIMEPart::ENCODE_7BIT;
    struct Row
    {
        const char* name;
        Leaf leaf;
        CMIMEPart::_CONTENT_TYPE type;
        const char* subtype;
        unsigned int index;
        unsigned int charType;
    } rows[] = {
        {"text/plain", {TEXT, BIT7, "plain", ""}, TEXT, "plain", 1, 10},
        {"text/richtext", {TEXT, BIT7, "RichText", ""}, TEXT, "RichText", 2, 10},
        {"text/html reads as plain", {TEXT, BIT7, "html", "charset=utf-8"}, TEXT, "html", 1, 36},
        {"unknown encoding", {TEXT, CMIMEPart::ENCODE_UNKNOWN, "plain", "charset=utf-8"}, APP, "OCTET-STREAM", 1, 0},
        {"image/jpeg", {IMAGE, BIT7, "jpeg", "charset=utf-8"}, IMAGE, "jpeg", 1, 36},
        {"image/jpeg-x is a JPEG", {IMAGE, BIT7, "jpeg-x", ""}, IMAGE, "jpeg-x", 1, 10},
        {"image/tiff", {IMAGE, BIT7, "TIFF", ""}, IMAGE, "TIFF", 3, 10},
        {"image/png", {IMAGE, BIT7, "png", "charset=utf-8"}, APP, "png", 1, 0},
        {"audio/basic", {AUDIO, BIT7, "basic", ""}, AUDIO, "basic", 1, 10},
        {"audio/x-wav", {AUDIO, BIT7, "x-wav", "charset=utf-8"}, APP, "x-wav", 1, 0},
        {"video/mpeg", {VIDEO, BIT7, "mpeg", ""}, VIDEO, "mpeg", 1, 10},
        {"video/quicktime", {VIDEO, BIT7, "quicktime", ""}, APP, "quicktime", 1, 0},
        {"application/postscript", {APP, BIT7, "postscript", ""}, APP, "postscript", 2, 0},
        {"application/octet-stream", {APP, BIT7, "octet-stream", ""}, APP, "octet-stream", 1, 0},
        {"application/pdf", {APP, BIT7, "pdf", ""}, APP, "pdf", 1, 0},
        {"unknown type", {CMIMEPart::CONTENT_UNKNOWN, BIT7, "", ""}, APP, "Octet-stream", 1, 0},
        {"type beyond the table",
         {static_cast<CMIMEPart::_CONTENT_TYPE>(42), BIT7, "x", ""},
         APP,
         "Octet-stream",
         1,
         0},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        testsupport::ScratchDir scratch;
        Tree tree;
        DecodeRun run = RunLeaf(tree, row.leaf, scratch);
        EXPECT_EQ(CME_SUCCESS, run.rc);
        EXPECT_EQ(row.type, tree.leaf()->GetContentType());
        EXPECT_STREQ(row.subtype, tree.leaf()->GetSubTypeString());
        EXPECT_EQ(row.index, tree.leaf()->GetSubTypeIndex());
        EXPECT_EQ(row.charType, static_cast<unsigned int>(tree.leaf()->GetCharType()));
        // Every one of these bodies is copied as text up to the delimiter.
        EXPECT_EQ("x\r\n", run.output);
        EXPECT_EQ("--b\n", run.line);
        EXPECT_EQ("next\n", run.next);
    }
}

TEST(ExtractLeafBody, CompositePartsAreNotLeaves)
{
    for (auto type : {CMIMEPart::CONTENT_MESSAGE, CMIMEPart::CONTENT_MULTIPART})
    {
        testsupport::ScratchDir scratch;
        Tree tree;
        DecodeRun run = RunLeaf(tree, {type, CMIMEPart::ENCODE_7BIT, "mixed", ""}, scratch);
        EXPECT_EQ(CME_NOT_LEAF, run.rc);
        EXPECT_EQ(kMessage, run.next);
        EXPECT_STREQ("", tree.leaf()->GetDataFile());
    }
}

TEST(ExtractLeafBody, ACharsetErrorStopsBeforeDecoding)
{
    testsupport::ScratchDir scratch;
    Tree tree;
    DecodeRun run =
        RunLeaf(tree, {CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_7BIT, "plain", "charset=iso-8859-"}, scratch);
    EXPECT_EQ(CME_INVALID_CHARSET, run.rc);
    EXPECT_EQ(kMessage, run.next);
    EXPECT_STREQ("", tree.leaf()->GetDataFile());
}

TEST(ExtractLeafBody, AnUnknownCharsetIsExtractedOnceAsApplicationData)
{
    testsupport::ScratchDir scratch;
    Tree tree;
    DecodeRun run = RunLeaf(tree, {CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_BASE64, "plain", "charset=x-klingon"},
                            scratch, "SGVsbG8=\n--b\nnext\n");
    EXPECT_EQ(CME_SUCCESS, run.rc);
    EXPECT_EQ(CMIMEPart::CONTENT_APPLICATION, tree.leaf()->GetContentType());
    EXPECT_EQ("Hello", run.output);
    EXPECT_EQ("next\n", run.next);
    // One file: the text handler did not decode the body a second time.
    std::string files = testsupport::ListTree(scratch.path() + "/work");
    EXPECT_EQ(1, std::count(files.begin(), files.end(), '\n')) << files;
}

TEST(ExtractApplication, NamesFromTheParameters)
{
    struct Row
    {
        const char* parameters;
        const char* before;
        const char* after;
    } rows[] = {
        {"name=a.pdf; x=1", "", "a.pdf"},
        {"x=1; name=a.pdf", "", "a.pdf"},
        {"NAME=\"quoted name.pdf\"", "", "quoted name.pdf"},
        {"name=a.pdf", "from-disposition.pdf", "from-disposition.pdf"},
        {"name=first.pdf; name=second.pdf", "", "first.pdf"},
        {"filename=a.pdf", "", ""},
        {"name=\"=?iso-8859-1?B?cmVwb3J0LnBkZg==?=\"", "", "report.pdf"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.parameters);
        testsupport::ScratchDir scratch;
        Tree tree;
        tree.leaf()->SetSuggestName(row.before);
        DecodeRun run =
            RunLeaf(tree, {CMIMEPart::CONTENT_APPLICATION, CMIMEPart::ENCODE_7BIT, "pdf", row.parameters}, scratch);
        EXPECT_EQ(CME_SUCCESS, run.rc);
        EXPECT_STREQ(row.after, tree.leaf()->GetSuggestName());
        if (row.after[0] != '\0')
        {
            EXPECT_EQ(scratch.path() + "/work/" + row.after, run.dataFile);
        }
    }
}

TEST(ExtractApplication, ASubtypeIndexAlreadySetIsKept)
{
    testsupport::ScratchDir scratch;
    Tree tree;
    tree.leaf()->SetSubTypeIndex(2);
    DecodeRun run =
        RunLeaf(tree, {CMIMEPart::CONTENT_APPLICATION, CMIMEPart::ENCODE_7BIT, "octet-stream", ""}, scratch);
    EXPECT_EQ(CME_SUCCESS, run.rc);
    EXPECT_EQ(2u, tree.leaf()->GetSubTypeIndex());
}

} // namespace
