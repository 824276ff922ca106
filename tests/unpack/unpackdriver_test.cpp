// The Unpack driver and the part walk: tree shape and order, both depths of bExtract,
// result codes, error texts and the release of partly built trees.
#include "tests/unpack/unpacktest.h"

#include <gtest/gtest.h>

namespace
{

using testsupport::ReadFile;
using unpacktest::Children;
using unpacktest::Crlf;
using unpacktest::Parse;
using unpacktest::Shape;

// Number of files in the work directory whose name ends with suffix.
size_t CountFiles(const std::string& listing, const std::string& suffix)
{
    size_t n = 0, start = 0;
    while (start < listing.size())
    {
        size_t end = listing.find('\n', start);
        std::string name = listing.substr(start, end - start);
        if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            ++n;
        start = end + 1;
    }
    return n;
}

size_t FileCount(const std::string& listing)
{
    size_t n = 0;
    for (char c : listing)
        n += c == '\n';
    return n;
}

const std::string kText = Crlf({"MIME-Version: 1.0", "Content-Type: text/plain", "", "Hello", "World"});

TEST(UnpackDriver, TextMessageWithAndWithoutExtract)
{
    Parse run(kText);
    ASSERT_NE(nullptr, run.root);
    EXPECT_EQ(CME_SUCCESS, run.rc);
    EXPECT_EQ("TEXT/plain", Shape(run.root.get()));
    EXPECT_EQ(nullptr, run.root->GetChildBlockList());
    ASSERT_STRNE("", run.root->GetDataFile());
    EXPECT_EQ("Hello\r\nWorld\r\n", ReadFile(run.root->GetDataFile()));
    EXPECT_EQ(1u, CountFiles(run.Files(), ".HDR"));
    EXPECT_EQ(run.source, run.root->GetOrigFileName());

    Parse headerOnly(kText, FALSE);
    ASSERT_NE(nullptr, headerOnly.root);
    EXPECT_EQ(CME_SUCCESS, headerOnly.rc);
    EXPECT_STREQ("", headerOnly.root->GetDataFile());
    // Only the header work file was written.
    EXPECT_EQ(1u, FileCount(headerOnly.Files()));
    EXPECT_EQ(1u, CountFiles(headerOnly.Files(), ".HDR"));
}

const std::string kThreeParts = Crlf({"MIME-Version: 1.0",
                                      "Content-Type: multipart/mixed; boundary=\"b1\"",
                                      "",
                                      "This is the preamble.",
                                      "--b1",
                                      "Content-Type: text/plain",
                                      "",
                                      "first",
                                      "--b1",
                                      "Content-Type: application/octet-stream",
                                      "Content-Transfer-Encoding: base64",
                                      "",
                                      "AAEC",
                                      "--b1",
                                      "Content-Type: image/gif; name=\"p.gif\"",
                                      "Content-Transfer-Encoding: base64",
                                      "",
                                      "R0lG",
                                      "--b1--",
                                      "epilogue"});

TEST(UnpackDriver, ThreePartsInFileOrder)
{
    Parse run(kThreeParts);
    ASSERT_NE(nullptr, run.root);
    EXPECT_EQ(CME_SUCCESS, run.rc);
    EXPECT_EQ("MULTIPART/mixed[TEXT/plain,APPLICATION/octet-stream,IMAGE/gif]", Shape(run.root.get()));
    EXPECT_STREQ("--b1", run.root->GetBoundary());
    auto children = Children(run.root.get());
    ASSERT_EQ(3u, children.size());
    for (COutputBlock* child : children)
    {
        EXPECT_EQ(run.root.get(), child->GetParentBlock());
        EXPECT_TRUE(child->GetParseChildFlag());
    }
    EXPECT_EQ("first\r\n", ReadFile(children[0]->GetDataFile()));
    EXPECT_EQ(std::string("\x00\x01\x02", 3), ReadFile(children[1]->GetDataFile()));
    EXPECT_EQ("GIF", ReadFile(children[2]->GetDataFile()));
    // One header work file per part and the root.
    EXPECT_EQ(4u, CountFiles(run.Files(), ".HDR"));

    Parse headers(kThreeParts, FALSE);
    ASSERT_NE(nullptr, headers.root);
    EXPECT_EQ("MULTIPART/mixed[TEXT/plain,APPLICATION/octet-stream,IMAGE/gif]", Shape(headers.root.get()));
    for (COutputBlock* child : Children(headers.root.get()))
        EXPECT_STREQ("", child->GetDataFile());
    EXPECT_EQ(4u, CountFiles(headers.Files(), ".HDR"));
    EXPECT_EQ(0u, CountFiles(headers.Files(), ".gif"));
}

// multipart/mixed > multipart/alternative > multipart/related > leaves.
const std::string kThreeDeep = Crlf({"MIME-Version: 1.0",
                                     "Content-Type: multipart/mixed; boundary=outer",
                                     "",
                                     "--outer",
                                     "Content-Type: multipart/alternative; boundary=middle",
                                     "",
                                     "--middle",
                                     "Content-Type: text/plain",
                                     "",
                                     "plain",
                                     "--middle",
                                     "Content-Type: multipart/related; boundary=inner",
                                     "",
                                     "--inner",
                                     "Content-Type: text/html",
                                     "",
                                     "<p>html</p>",
                                     "--inner",
                                     "Content-Type: image/png",
                                     "Content-Transfer-Encoding: base64",
                                     "",
                                     "iVBO",
                                     "--inner--",
                                     "--middle--",
                                     "--outer",
                                     "Content-Type: text/plain",
                                     "",
                                     "after",
                                     "--outer--"});

TEST(UnpackDriver, NestedThreeDeepWithExtract)
{
    Parse run(kThreeDeep);
    ASSERT_NE(nullptr, run.root);
    EXPECT_EQ(CME_SUCCESS, run.rc);
    // An image subtype without its own row (png) is extracted as application data.
    EXPECT_EQ("MULTIPART/mixed[MULTIPART/alternative[TEXT/plain,MULTIPART/related[TEXT/html,APPLICATION/png]],"
              "TEXT/plain]",
              Shape(run.root.get()));
    auto top = Children(run.root.get());
    ASSERT_EQ(2u, top.size());
    EXPECT_STREQ("--middle", top[0]->GetBoundary());
    EXPECT_EQ(2u, top[0]->GetSubTypeIndex());
    auto middle = Children(top[0]);
    ASSERT_EQ(2u, middle.size());
    EXPECT_EQ("plain\r\n", ReadFile(middle[0]->GetDataFile()));
    auto inner = Children(middle[1]);
    ASSERT_EQ(2u, inner.size());
    EXPECT_EQ("<p>html</p>\r\n", ReadFile(inner[0]->GetDataFile()));
    EXPECT_EQ(std::string("\x89PN", 3), ReadFile(inner[1]->GetDataFile()));
    EXPECT_EQ("after\r\n", ReadFile(top[1]->GetDataFile()));
}

TEST(UnpackDriver, NestedThreeDeepWithoutExtract)
{
    Parse run(kThreeDeep, FALSE);
    ASSERT_NE(nullptr, run.root);
    EXPECT_EQ(CME_SUCCESS, run.rc);
    // The walk does not enter the nested multipart: its delimiters are ordinary lines, and
    // only the direct children of the root are found.
    EXPECT_EQ("MULTIPART/mixed[MULTIPART/alternative,TEXT/plain]", Shape(run.root.get()));
    auto top = Children(run.root.get());
    ASSERT_EQ(2u, top.size());
    EXPECT_EQ(nullptr, top[0]->GetChildBlockList());
    EXPECT_FALSE(top[0]->GetParseChildFlag());
    EXPECT_EQ(3u, CountFiles(run.Files(), ".HDR"));
    EXPECT_EQ(3u, FileCount(run.Files()));
}

TEST(UnpackDriver, MultipartWithoutDelimiterOrClose)
{
    Parse none(Crlf({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=zz", "", "no parts", "at all"}));
    ASSERT_NE(nullptr, none.root);
    EXPECT_EQ(CME_SUCCESS, none.rc);
    EXPECT_EQ(nullptr, none.root->GetChildBlockList());

    Parse open(Crlf({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=zz", "", "--zz",
                     "Content-Type: text/plain", "", "one", "--zz", "Content-Type: text/plain", "", "two"}));
    ASSERT_NE(nullptr, open.root);
    EXPECT_EQ(CME_SUCCESS, open.rc);
    auto children = Children(open.root.get());
    ASSERT_EQ(2u, children.size());
    EXPECT_EQ("two\r\n", ReadFile(children[1]->GetDataFile()));
}

// The last line of the file is a delimiter without line end: the walk ends there.
TEST(UnpackDriver, DelimiterAtTheEndOfTheInput)
{
    for (const char* last : {"--zz", "--zz\r\n", "--zz--"})
    {
        std::string message =
            Crlf({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=zz", "", "--zz", "", "one"}) + last;
        Parse run(message);
        ASSERT_NE(nullptr, run.root) << last;
        EXPECT_EQ(CME_SUCCESS, run.rc) << last;
        EXPECT_LE(Children(run.root.get()).size(), 2u) << last;
        EXPECT_GE(Children(run.root.get()).size(), 1u) << last;
    }
}

TEST(UnpackDriver, EmbeddedMessageIsTheOneChild)
{
    Parse run(Crlf({"MIME-Version: 1.0", "Content-Type: message/rfc822", "", "Subject: inner",
                    "Content-Type: text/plain", "", "inner body"}));
    ASSERT_NE(nullptr, run.root);
    EXPECT_EQ(CME_SUCCESS, run.rc);
    EXPECT_EQ("MESSAGE/rfc822[TEXT/plain]", Shape(run.root.get()));
    EXPECT_EQ(1u, run.root->GetSubTypeIndex());
    EXPECT_EQ("inner body\r\n", ReadFile(Children(run.root.get())[0]->GetDataFile()));

    Parse headers(Crlf({"MIME-Version: 1.0", "Content-Type: message/rfc822", "", "Subject: inner",
                        "Content-Type: text/plain", "", "inner body"}),
                  FALSE);
    ASSERT_NE(nullptr, headers.root);
    EXPECT_EQ("MESSAGE/rfc822[TEXT/plain]", Shape(headers.root.get()));
    EXPECT_STREQ("", Children(headers.root.get())[0]->GetDataFile());
}

// A forwarded message in the middle of a multipart/mixed: the parts after it are found.
TEST(UnpackDriver, ForwardedMessageInTheMiddle)
{
    const std::string message = Crlf({"MIME-Version: 1.0",
                                      "Content-Type: multipart/mixed; boundary=\"fw\"",
                                      "",
                                      "--fw",
                                      "Content-Type: text/plain",
                                      "",
                                      "see below",
                                      "--fw",
                                      "Content-Type: message/rfc822",
                                      "",
                                      "From: a@example.com",
                                      "Subject: original",
                                      "MIME-Version: 1.0",
                                      "Content-Type: multipart/mixed; boundary=\"orig\"",
                                      "",
                                      "--orig",
                                      "Content-Type: text/plain",
                                      "",
                                      "original text",
                                      "--orig",
                                      "Content-Type: application/octet-stream; name=\"o.bin\"",
                                      "Content-Transfer-Encoding: base64",
                                      "",
                                      "AQID",
                                      "--orig--",
                                      "",
                                      "--fw",
                                      "Content-Type: application/pdf; name=\"after.pdf\"",
                                      "Content-Disposition: attachment; filename=\"after.pdf\"",
                                      "Content-Transfer-Encoding: base64",
                                      "",
                                      "JVBE",
                                      "--fw",
                                      "Content-Type: text/plain",
                                      "",
                                      "last",
                                      "--fw--"});
    Parse run(message);
    ASSERT_NE(nullptr, run.root);
    EXPECT_EQ(CME_SUCCESS, run.rc);
    EXPECT_EQ("MULTIPART/mixed[TEXT/plain,MESSAGE/rfc822[MULTIPART/mixed[TEXT/plain,APPLICATION/octet-stream]],"
              "APPLICATION/pdf,TEXT/plain]",
              Shape(run.root.get()));
    auto top = Children(run.root.get());
    ASSERT_EQ(4u, top.size());
    auto embedded = Children(Children(top[1])[0]);
    ASSERT_EQ(2u, embedded.size());
    EXPECT_EQ("original text\r\n", ReadFile(embedded[0]->GetDataFile()));
    EXPECT_EQ("\x01\x02\x03", ReadFile(embedded[1]->GetDataFile()));
    EXPECT_EQ("%PD", ReadFile(top[2]->GetDataFile()));
    EXPECT_EQ(CMIMEPart::DISPOSE_ATTACHMENT, top[2]->GetDisposition());
    EXPECT_EQ("last\r\n", ReadFile(top[3]->GetDataFile()));

    Parse headers(message, FALSE);
    ASSERT_NE(nullptr, headers.root);
    EXPECT_EQ("MULTIPART/mixed[TEXT/plain,MESSAGE/rfc822,APPLICATION/pdf,TEXT/plain]", Shape(headers.root.get()));
}

TEST(UnpackDriver, NonMimeWithoutFilesGivesNullAnd11)
{
    Parse run(Crlf({"From: a@example.com", "Subject: plain", "", "Just text."}));
    EXPECT_EQ(nullptr, run.root);
    EXPECT_EQ(CME_INVALID_HEADER, run.rc);
}

TEST(UnpackDriver, NonexistentSourceGives4AndTheMessage)
{
    testsupport::ScratchDir scratch;
    CUnpacker unpacker;
    CString source(scratch.file("missing.eml").c_str());
    CString error;
    _CME_RC rc = CME_SUCCESS;
    EXPECT_EQ(nullptr, unpacker.Unpack(source, scratch.path().c_str(), TRUE, &rc, error));
    EXPECT_EQ(CME_FILE_ERROR, rc);
    EXPECT_EQ("Source file '" + scratch.file("missing.eml") + "' cannot be opened.", std::string(error));

    CMIMEEngine engine;
    rc = CME_SUCCESS;
    EXPECT_EQ(nullptr, engine.Unpack(source, scratch.path().c_str(), TRUE, rc));
    EXPECT_EQ(CME_FILE_ERROR, rc);
    // The engine's own error state is not touched by parsing.
    EXPECT_EQ(CME_SUCCESS, engine.GetLastError());
    EXPECT_STREQ("", engine.GetErrorString());
}

TEST(UnpackDriver, ChildWithoutSubtypeFailsTheRun)
{
    const std::string message =
        Crlf({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=q", "", "--q", "Content-Type: text/plain",
              "", "ok", "--q", "Content-Type: text", "", "bad", "--q--"});
    testsupport::ScratchDir scratch;
    testsupport::WriteFile(scratch.file("m.eml"), message);
    CUnpacker unpacker;
    CString source(scratch.file("m.eml").c_str());
    CString error;
    _CME_RC rc = CME_SUCCESS;
    EXPECT_EQ(nullptr, unpacker.Unpack(source, scratch.path().c_str(), TRUE, &rc, error));
    EXPECT_EQ(CME_INVALID_HEADER, rc);
    EXPECT_EQ("Sub-type does not exist for the MIME encoded source.", std::string(error));
}

// Failures of composite classification end the run with their code and no tree.
TEST(UnpackDriver, CompositeFailuresFailTheRun)
{
    struct Case
    {
        std::vector<std::string> lines;
        _CME_RC rc;
    } cases[] = {
        {{"MIME-Version: 1.0", "Content-Type: multipart/mixed", "", "body"}, CME_INVALID_PARAMETER},
        {{"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=a", "", "--a",
          "Content-Type: message/partial; id=x; number=1", "", "fragment", "--a--"},
         CME_INVALID_ENCODING},
        {{"MIME-Version: 1.0", "Content-Type: message/news", "", "body"}, CME_MISSING_PARAMETER},
    };
    for (const Case& c : cases)
    {
        Parse run(Crlf(c.lines));
        EXPECT_EQ(nullptr, run.root) << c.lines[1];
        EXPECT_EQ(c.rc, run.rc) << c.lines[1];
    }
}

// A message part of another subtype becomes an application leaf whose body is extracted.
TEST(UnpackDriver, RetypedMessagePartIsExtracted)
{
    Parse run(Crlf({"MIME-Version: 1.0", "Content-Type: message/news; x=1", "", "news body"}));
    ASSERT_NE(nullptr, run.root);
    EXPECT_EQ(CME_SUCCESS, run.rc);
    EXPECT_EQ("APPLICATION/OCTET-STREAM", Shape(run.root.get()));
    ASSERT_STRNE("", run.root->GetDataFile());
    EXPECT_NE(std::string::npos, ReadFile(run.root->GetDataFile()).find("news body"));
}

// Partial and external-body parts are classified but their bodies are left alone.
TEST(UnpackDriver, PartialAndExternalBodiesAreNotExtracted)
{
    Parse run(Crlf({"MIME-Version: 1.0",
                    "Content-Type: multipart/mixed; boundary=a",
                    "",
                    "--a",
                    "Content-Type: message/partial; id=\"f1\"; number=2; total=3",
                    "Content-Transfer-Encoding: 7bit",
                    "",
                    "fragment text",
                    "--a",
                    "Content-Type: message/external-body; access-type=anon-ftp",
                    "Content-Transfer-Encoding: 7bit",
                    "Content-ID: <x@y>",
                    "",
                    "Content-Type: text/plain",
                    "",
                    "--a",
                    "Content-Type: text/plain",
                    "",
                    "tail",
                    "--a--"}));
    ASSERT_NE(nullptr, run.root);
    EXPECT_EQ(CME_SUCCESS, run.rc);
    auto children = Children(run.root.get());
    ASSERT_EQ(3u, children.size());
    EXPECT_STREQ("f1", children[0]->GetBoundary());
    EXPECT_EQ(2u, children[0]->GetPartialPart());
    EXPECT_EQ(3u, children[0]->GetPartialTotal());
    EXPECT_STREQ("", children[0]->GetDataFile());
    EXPECT_EQ(CMIMEPart::ACCESS_ANON_FTP, children[1]->GetAccessType());
    EXPECT_EQ(nullptr, children[1]->GetChildBlockList());
    EXPECT_EQ("tail\r\n", ReadFile(children[2]->GetDataFile()));
}

// Without extraction a BINARY child is passed over by position and the walk goes on.
TEST(UnpackDriver, BinaryChildIsSkippedWithoutExtract)
{
    std::string binary("\r\n--notit\r\n\x00\x01\r\x02", 15);
    binary.push_back('\0');
    std::string message =
        Crlf({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=bb", "", "--bb",
              "Content-Type: application/octet-stream", "Content-Transfer-Encoding: binary", ""}) +
        binary + "\r\n" +
        Crlf({"--bb", "Content-Type: text/plain", "", "after", "--bb", "Content-Type: image/gif", "", "x", "--bb--"});
    Parse headers(message, FALSE);
    ASSERT_NE(nullptr, headers.root);
    EXPECT_EQ(CME_SUCCESS, headers.rc);
    EXPECT_EQ("MULTIPART/mixed[APPLICATION/octet-stream,TEXT/plain,IMAGE/gif]", Shape(headers.root.get()));

    Parse run(message);
    ASSERT_NE(nullptr, run.root);
    auto children = Children(run.root.get());
    ASSERT_EQ(3u, children.size());
    EXPECT_EQ(binary, ReadFile(children[0]->GetDataFile()));
    EXPECT_EQ("after\r\n", ReadFile(children[1]->GetDataFile()));
}

// An empty BINARY body has its delimiter right at the body's first byte: the skip ends
// there and the walk still goes on with the parts after it, as it does with extraction.
TEST(UnpackDriver, EmptyBinaryChildIsSkippedWithoutExtract)
{
    const std::string message = Crlf({"MIME-Version: 1.0", "Content-Type: multipart/mixed; boundary=bb", "", "--bb",
                                      "Content-Type: application/octet-stream", "Content-Transfer-Encoding: binary", "",
                                      "--bb", "Content-Type: text/plain", "", "after", "--bb--"});
    for (BOOL bExtract : {FALSE, TRUE})
    {
        Parse run(message, bExtract);
        ASSERT_NE(nullptr, run.root) << bExtract;
        EXPECT_EQ(CME_SUCCESS, run.rc) << bExtract;
        EXPECT_EQ("MULTIPART/mixed[APPLICATION/octet-stream,TEXT/plain]", Shape(run.root.get())) << bExtract;
    }
}

// The same engine parses twice; nothing of the first run leaks into the second.
TEST(UnpackDriver, RunsAreIndependent)
{
    testsupport::ScratchDir scratch;
    std::string work1 = scratch.mkdir("w1");
    std::string work2 = scratch.mkdir("w2");
    testsupport::WriteFile(scratch.file("m.eml"), kThreeParts);
    CMIMEEngine engine;
    CString source(scratch.file("m.eml").c_str());
    _CME_RC rc = CME_FAILURE;
    unpacktest::Tree first(engine.Unpack(source, work1.c_str(), TRUE, rc));
    ASSERT_NE(nullptr, first);
    unpacktest::Tree second(engine.Unpack(source, work2.c_str(), TRUE, rc));
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(Shape(first.get()), Shape(second.get()));
    for (COutputBlock* child : Children(second.get()))
        EXPECT_EQ(0u, std::string(child->GetDataFile()).rfind(work2, 0)) << child->GetDataFile();
}

} // namespace

namespace
{

// Without a usable work directory the top-level header cannot be copied (9); the file then
// goes to the uuencode scan, whose file cannot be created either: the scan stops and its
// tree comes back with the header's code.
TEST(UnpackDriver, MissingWorkDirectory)
{
    testsupport::ScratchDir scratch;
    const std::string missing = scratch.file("no/such/dir");
    testsupport::WriteFile(scratch.file("m.eml"), kText);
    CMIMEEngine engine;
    CString source(scratch.file("m.eml").c_str());
    _CME_RC rc = CME_SUCCESS;
    EXPECT_EQ(nullptr, engine.Unpack(source, missing.c_str(), TRUE, rc));
    EXPECT_EQ(CME_HEADER_FILE_ERROR, rc);

    testsupport::WriteFile(scratch.file("uu.eml"), Crlf({"Subject: x", "", "begin 644 a.txt", "#86)C", "`", "end"}));
    CString uuSource(scratch.file("uu.eml").c_str());
    unpacktest::Tree root(engine.Unpack(uuSource, missing.c_str(), TRUE, rc));
    EXPECT_EQ(CME_HEADER_FILE_ERROR, rc);
    ASSERT_NE(nullptr, root);
    ASSERT_EQ(1u, Children(root.get()).size());
    EXPECT_FALSE(testsupport::Exists(missing));
}

} // namespace
