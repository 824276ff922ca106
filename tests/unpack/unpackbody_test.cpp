// Parsing of multipart bodies without message header.
#include "tests/unpack/unpacktest.h"

#include <gtest/gtest.h>

namespace
{

using testsupport::ReadFile;
using unpacktest::Children;
using unpacktest::Crlf;
using unpacktest::Parse;
using unpacktest::Shape;

const std::string kBody = Crlf({"Preamble text.", "--XYZ", "Content-Type: text/plain", "", "one", "--XYZ",
                                "Content-Type: application/octet-stream", "Content-Transfer-Encoding: base64", "",
                                "AAEC", "--XYZ--", "epilogue"});

TEST(UnpackBody, SynthesizedMixedRootWithTwoChildren)
{
    Parse run(kBody, TRUE, true);
    ASSERT_NE(nullptr, run.root);
    EXPECT_EQ(CME_SUCCESS, run.rc);
    EXPECT_EQ(CMIMEPart::CONTENT_MULTIPART, run.root->GetContentType());
    EXPECT_STREQ("MIXED", run.root->GetSubTypeString());
    EXPECT_STREQ("boundary=\"XYZ\"", run.root->GetParameters());
    EXPECT_STREQ("--XYZ", run.root->GetBoundary());
    EXPECT_EQ(1u, run.root->GetSubTypeIndex());
    EXPECT_EQ(0u, run.root->GetBodyPosition());
    EXPECT_EQ(run.source, run.root->GetOrigFileName());
    ASSERT_STRNE("", run.root->GetHeaderFile());
    EXPECT_EQ("", ReadFile(run.root->GetHeaderFile()));
    EXPECT_EQ("MULTIPART/MIXED[TEXT/plain,APPLICATION/octet-stream]", Shape(run.root.get()));
    auto children = Children(run.root.get());
    ASSERT_EQ(2u, children.size());
    EXPECT_EQ("one\r\n", ReadFile(children[0]->GetDataFile()));
    EXPECT_EQ(std::string("\x00\x01\x02", 3), ReadFile(children[1]->GetDataFile()));

    Parse headers(kBody, FALSE, true);
    ASSERT_NE(nullptr, headers.root);
    EXPECT_EQ("MULTIPART/MIXED[TEXT/plain,APPLICATION/octet-stream]", Shape(headers.root.get()));
    EXPECT_STREQ("", Children(headers.root.get())[1]->GetDataFile());
}

// The first line is always dropped: a body that starts with its delimiter takes its
// boundary from the first header line of the first part and finds no child.
TEST(UnpackBody, DelimiterOnTheFirstLine)
{
    Parse run(Crlf({"--XYZ", "Content-Type: text/plain", "", "one", "--XYZ--"}), TRUE, true);
    ASSERT_NE(nullptr, run.root);
    EXPECT_EQ(CME_SUCCESS, run.rc);
    EXPECT_STREQ("boundary=\"ntent-Type: text/plain\"", run.root->GetParameters());
    EXPECT_EQ(nullptr, run.root->GetChildBlockList());
}

TEST(UnpackBody, OneLineGives11AndLeavesNoHeaderFile)
{
    for (const std::string& body : {std::string("only one line\r\n"), std::string("no line end"), std::string()})
    {
        Parse run(body, TRUE, true);
        EXPECT_EQ(nullptr, run.root);
        EXPECT_EQ(CME_INVALID_HEADER, run.rc);
        EXPECT_EQ("", run.Files());
    }
}

TEST(UnpackBody, EmptyBoundaryGives6)
{
    for (const char* second : {"", "--", "-"})
    {
        Parse run(Crlf({"preamble", second, "Content-Type: text/plain", "", "x"}), TRUE, true);
        EXPECT_EQ(nullptr, run.root) << second;
        EXPECT_EQ(CME_INVALID_PARAMETER, run.rc) << second;
    }
}

// A boundary line too long for the parameter field is cut so that the quotes stay; the
// delimiter field keeps its first 70 characters, which still match the delimiter lines,
// and the close delimiter is known by the "--" that ends it.
TEST(UnpackBody, LongBoundaryLineIsCut)
{
    const std::string boundary(300, 'k');
    Parse run(Crlf({"preamble", "--" + boundary, "Content-Type: text/plain", "", "x", "--" + boundary + "--"}), TRUE,
              true);
    ASSERT_NE(nullptr, run.root);
    EXPECT_EQ(CME_SUCCESS, run.rc);
    const std::string parameters = run.root->GetParameters();
    EXPECT_EQ(255u, parameters.size());
    EXPECT_EQ('"', parameters.back());
    EXPECT_EQ("--" + boundary.substr(0, 70), run.root->GetBoundary());
    auto children = Children(run.root.get());
    ASSERT_EQ(1u, children.size());
    EXPECT_EQ("x\r\n", ReadFile(children[0]->GetDataFile()));
}

TEST(UnpackBody, NonexistentSourceGives4)
{
    testsupport::ScratchDir scratch;
    CUnpacker unpacker;
    CString source(scratch.file("missing.txt").c_str());
    CString error;
    _CME_RC rc = CME_SUCCESS;
    EXPECT_EQ(nullptr, unpacker.UnpackBody(source, scratch.path().c_str(), TRUE, &rc, error));
    EXPECT_EQ(CME_FILE_ERROR, rc);
    EXPECT_EQ("Source file '" + scratch.file("missing.txt") + "' cannot be opened.", std::string(error));
}

} // namespace

namespace
{

TEST(UnpackBody, HeaderWorkFileThatCannotBeCreatedGives9)
{
    testsupport::ScratchDir scratch;
    testsupport::WriteFile(scratch.file("body.txt"), kBody);
    const std::string missing = scratch.file("no/such/dir");
    CUnpacker unpacker;
    CString source(scratch.file("body.txt").c_str());
    CString error;
    _CME_RC rc = CME_SUCCESS;
    EXPECT_EQ(nullptr, unpacker.UnpackBody(source, missing.c_str(), TRUE, &rc, error));
    EXPECT_EQ(CME_HEADER_FILE_ERROR, rc);
    const std::string text(error);
    EXPECT_EQ(0u, text.rfind("Header file '" + missing, 0)) << text;
    EXPECT_NE(std::string::npos, text.find(".HDR' cannot be created.")) << text;
}

} // namespace
