// Whole messages: the layout of Pack byte for byte, boundaries, nesting, error codes and
// messages, the output file choice, and the first-part flag over a run.
#include "packtest.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>

using namespace packtest;
using testsupport::ScratchDir;

namespace
{

constexpr time_t kNow = 944000000;

class PackDriver : public ::testing::Test
{
protected:
    // Packs root into the scratch file "message" and returns its bytes.
    std::string PackMessage(CInputBlock* root, _CME_RC expected = CME_SUCCESS)
    {
        std::string path = dir.file("message");
        EXPECT_EQ(expected, packer.Pack(root, &path[0], 0, error));
        EXPECT_FALSE(packer.m_FirstPart);
        return testsupport::ReadFile(path);
    }

    std::string File(const char* name, const std::string& data) { return MakeFile(dir.file(name), data); }

    ScratchDir dir;
    MimeDatabase noDatabase{nullptr};
    FixedBoundaries boundaries{kNow, {42, 7, 31000}};
    CPacker packer;
    CString error;
};

size_t Count(const std::string& haystack, const std::string& needle)
{
    size_t n = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1))
        ++n;
    return n;
}

} // namespace

TEST_F(PackDriver, BoundaryFormat)
{
    CString b;
    packer.MakeBoundary(b);
    EXPECT_EQ("944000000_ML=_MARIGOLD:00042", std::string(b));
    packer.MakeBoundary(b);
    EXPECT_EQ("944000000_ML=_MARIGOLD:00007", std::string(b));
    packer.MakeBoundary(b);
    EXPECT_EQ("944000000_ML=_MARIGOLD:31000", std::string(b));
}

// Without a fixed generator: the runtime's draw runs from 0 to 32767, so the random part
// of every boundary is exactly five digits and never above 32767, whatever the C library's
// own range is.
TEST(Boundary, RandomPartIsADrawFrom0To32767)
{
    CPacker packer;
    std::vector<int> draws;
    for (int i = 0; i < 500; ++i)
    {
        CString b;
        packer.MakeBoundary(b);
        const std::string text(b);
        const size_t colon = text.find("_ML=_MARIGOLD:");
        ASSERT_NE(std::string::npos, colon) << text;
        const std::string digits = text.substr(colon + 14);
        ASSERT_EQ(5u, digits.size()) << text;
        ASSERT_EQ(std::string::npos, digits.find_first_not_of("0123456789")) << text;
        draws.push_back(std::atoi(digits.c_str()));
        EXPECT_LE(draws.back(), 32767) << text;
    }
    // Still random: 500 draws are not all one value.
    EXPECT_NE(std::count(draws.begin(), draws.end(), draws.front()), static_cast<long>(draws.size()));
}

TEST_F(PackDriver, FirstWorkedExampleByteForByte)
{
    auto* root = new CInputBlock(CMIMEPart::CONTENT_MULTIPART, CMIMEPart::ENCODE_UNKNOWN, "", nullptr, nullptr,
                                 File("subject.hdr", "Subject: Hi\r\n").c_str());
    Tree tree(root);
    Add(root, new CInputBlock(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_7BIT, "plain",
                              File("body.txt", "Hello\r\n").c_str()));
    Add(root,
        new CInputBlock(CMIMEPart::CONTENT_IMAGE, CMIMEPart::ENCODE_BASE64, "gif", File("pic.gif", "GIF").c_str()));

    const std::string b = "944000000_ML=_MARIGOLD:00042";
    const std::string expected = "MIME-Version: 1.0\r\n"
                                 "Content-Type: MULTIPART/mixed;\r\n"
                                 "\tboundary=\"" +
                                 b +
                                 "\"\r\n"
                                 "Subject: Hi\r\n"
                                 "\r\n"
                                 "If you are reading this text, you might want to\r\n"
                                 "consider changing to a MIME compatible mail reader\r\n"
                                 "that understands how to properly display multipart messages.\r\n"
                                 "--" +
                                 b +
                                 "\r\n"
                                 "Content-Type: TEXT/plain\r\n"
                                 "Content-Transfer-Encoding: 7bit\r\n"
                                 "\r\n"
                                 "Hello\r\n"
                                 "--" +
                                 b +
                                 "\r\n"
                                 "Content-Type: IMAGE/gif;\r\n"
                                 "\tname=\"pic.gif\"\r\n"
                                 "Content-Transfer-Encoding: base64\r\n"
                                 "Content-Disposition: attachment; filename=pic.gif\r\n"
                                 "\r\n"
                                 "R0lG\r\n"
                                 "--" +
                                 b +
                                 "--\r\n"
                                 "\r\n";
    EXPECT_EQ(expected, PackMessage(root));
}

TEST_F(PackDriver, SecondWorkedExampleByteForByte)
{
    auto* root = new CInputBlock(CMIMEPart::CONTENT_MULTIPART);
    Tree tree(root);
    Add(root,
        new CInputBlock(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_QUOTED_PRINTABLE, "plain",
                        File("note.txt", "Caf\xE9 = 1 \r\n").c_str(), nullptr, nullptr, TRUE, "charset=iso-8859-1"));
    Add(root,
        new CInputBlock(CMIMEPart::CONTENT_IMAGE, CMIMEPart::ENCODE_BASE64, "gif", File("pic.gif", "GIF89a").c_str()));

    const std::string b = "944000000_ML=_MARIGOLD:00042";
    const std::string expected = std::string("MIME-Version: 1.0\r\n") +
                                 "Content-Type: MULTIPART/mixed;\r\n\tboundary=\"" + b + "\"\r\n" + "\r\n" + kPreamble +
                                 "--" + b + "\r\n" +
                                 "Content-Type: TEXT/plain;\r\n\tcharset=iso-8859-1\r\n"
                                 "Content-Transfer-Encoding: quoted-printable\r\n"
                                 "\r\n"
                                 "Caf=E9 =3D 1=20\r\n"
                                 "\r\n" + // the line break after a quoted-printable child
                                 "--" +
                                 b + "\r\n" +
                                 "Content-Type: IMAGE/gif;\r\n\tname=\"pic.gif\"\r\n"
                                 "Content-Transfer-Encoding: base64\r\n"
                                 "Content-Disposition: attachment; filename=pic.gif\r\n"
                                 "\r\n"
                                 "R0lGODlh\r\n" +
                                 "--" + b + "--\r\n\r\n";
    EXPECT_EQ(expected, PackMessage(root));
}

TEST_F(PackDriver, SinglePartMessage)
{
    CInputBlock root(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_QUOTED_PRINTABLE, "plain",
                     File("t.txt", "x=1").c_str());
    EXPECT_EQ("MIME-Version: 1.0\r\nContent-Type: TEXT/plain\r\nContent-Transfer-Encoding: quoted-printable\r\n"
              "\r\nx=3D1",
              PackMessage(&root));
    EXPECT_EQ(0u, boundaries.DrawsTaken());
}

TEST_F(PackDriver, TwoLeavesGiveExactlyThreeBoundaryLines)
{
    auto* root = new CInputBlock(CMIMEPart::CONTENT_MULTIPART);
    Tree tree(root);
    const std::string data = File("a.txt", "line\r\n");
    Add(root, new CInputBlock(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_7BIT, "plain", data.c_str()));
    Add(root, new CInputBlock(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_7BIT, "plain", data.c_str()));
    const std::string message = PackMessage(root);
    const std::string b = boundaries.Boundary(0);
    EXPECT_EQ(2u, Count(message, "--" + b + "\r\n"));
    EXPECT_EQ(1u, Count(message, "--" + b + "--\r\n"));
    EXPECT_EQ(3u, Count(message, "--" + b));
    EXPECT_NE(std::string::npos, message.find(std::string(kPreamble) + "--" + b + "\r\n"));
    EXPECT_EQ("--" + b + "--\r\n\r\n", message.substr(message.size() - b.size() - 8));
}

TEST_F(PackDriver, NestedMultipartHasItsOwnBoundaryAndPreamble)
{
    auto* root = new CInputBlock(CMIMEPart::CONTENT_MULTIPART);
    Tree tree(root);
    const std::string data = File("a.txt", "A\r\n");
    auto* inner = Add(root, new CInputBlock(CMIMEPart::CONTENT_MULTIPART, CMIMEPart::ENCODE_UNKNOWN, "alternative"));
    Add(inner, new CInputBlock(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_7BIT, "plain", data.c_str()));
    Add(root, new CInputBlock(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_7BIT, "plain", data.c_str()));

    const std::string b1 = boundaries.Boundary(0);
    const std::string b2 = boundaries.Boundary(1);
    ASSERT_NE(b1, b2);
    const std::string expected =
        std::string("MIME-Version: 1.0\r\n") + "Content-Type: MULTIPART/mixed;\r\n\tboundary=\"" + b1 + "\"\r\n\r\n" +
        kPreamble + "--" + b1 + "\r\n" + "Content-Type: MULTIPART/alternative;\r\n\tboundary=\"" + b2 + "\"\r\n\r\n" +
        kPreamble + "--" + b2 + "\r\n" + "Content-Type: TEXT/plain\r\nContent-Transfer-Encoding: 7bit\r\n\r\nA\r\n" +
        "--" + b2 + "--\r\n\r\n" + "--" + b1 + "\r\n" +
        "Content-Type: TEXT/plain;\r\n\tname=\"a.txt\"\r\nContent-Transfer-Encoding: 7bit\r\n"
        "Content-Disposition: attachment; filename=a.txt\r\n\r\nA\r\n" +
        "--" + b1 + "--\r\n\r\n";
    EXPECT_EQ(expected, PackMessage(root));
    EXPECT_EQ(2u, boundaries.DrawsTaken());
}

TEST_F(PackDriver, ChildlessMultipartGetsPreambleAndClosingDelimiterOnly)
{
    auto* root = new CInputBlock(CMIMEPart::CONTENT_MULTIPART);
    Tree tree(root);
    auto* empty = Add(root, new CInputBlock(CMIMEPart::CONTENT_MULTIPART, CMIMEPart::ENCODE_UNKNOWN, "mixed"));
    // An emptied list (children unlinked) behaves like no list at all.
    auto* gone = Add(empty, new CInputBlock(CMIMEPart::CONTENT_TEXT));
    ASSERT_TRUE(empty->RemoveParticularChild(gone));
    delete gone;
    Add(root, new CInputBlock(CMIMEPart::CONTENT_MULTIPART));

    const std::string b1 = boundaries.Boundary(0), b2 = boundaries.Boundary(1), b3 = boundaries.Boundary(2);
    const std::string expected =
        std::string("MIME-Version: 1.0\r\n") + "Content-Type: MULTIPART/mixed;\r\n\tboundary=\"" + b1 + "\"\r\n\r\n" +
        kPreamble + "--" + b1 + "\r\n" + "Content-Type: MULTIPART/mixed;\r\n\tboundary=\"" + b2 + "\"\r\n\r\n" +
        kPreamble + "--" + b2 + "--\r\n\r\n" + "--" + b1 + "\r\n" + "Content-Type: MULTIPART/mixed;\r\n\tboundary=\"" +
        b3 + "\"\r\n\r\n" + kPreamble + "--" + b3 + "--\r\n\r\n" + "--" + b1 + "--\r\n\r\n";
    EXPECT_EQ(expected, PackMessage(root));
}

TEST_F(PackDriver, HeaderFileAndGeneratedLines)
{
    const std::string data = File("d.txt", "body");
    const std::string header = File("h.hdr", "X-One: 1\r\nX-Two: 2\r\n");
    struct Row
    {
        const char* name;
        BOOL generate;
        std::string headerFile;
        std::string expected;
    } rows[] = {
        {"no header at all", FALSE, "", "\r\nbody"},
        {"header file only", FALSE, header, "X-One: 1\r\nX-Two: 2\r\n\r\nbody"},
        {"generated, then the header file", TRUE, header,
         "Content-Type: TEXT/plain\r\nContent-Transfer-Encoding: 8bit\r\nX-One: 1\r\nX-Two: 2\r\n\r\nbody"},
    };
    for (const Row& row : rows)
    {
        CInputBlock root(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_8BIT, "plain", data.c_str(), nullptr,
                         row.headerFile.c_str(), row.generate);
        EXPECT_EQ("MIME-Version: 1.0\r\n" + row.expected, PackMessage(&root)) << row.name;
    }
}

TEST_F(PackDriver, MessagePartIsWrittenLikeALeafAndItsChildrenIgnored)
{
    auto* root = new CInputBlock(CMIMEPart::CONTENT_MESSAGE, CMIMEPart::ENCODE_7BIT, "rfc822",
                                 File("inner.eml", "Subject: in\r\n\r\nhi\r\n").c_str());
    Tree tree(root);
    Add(root,
        new CInputBlock(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_7BIT, "plain", File("never.txt", "NEVER").c_str()));
    EXPECT_EQ("MIME-Version: 1.0\r\nContent-Type: MESSAGE/rfc822\r\n\r\nSubject: in\r\n\r\nhi\r\n", PackMessage(root));
}

TEST_F(PackDriver, UntypedLeafIsTypedAfterPacking)
{
    CInputBlock root(CMIMEPart::CONTENT_UNKNOWN, CMIMEPart::ENCODE_UNKNOWN, nullptr, File("pic.GIF", "GIF").c_str());
    EXPECT_EQ("MIME-Version: 1.0\r\nContent-Type: IMAGE/gif\r\nContent-Transfer-Encoding: base64\r\n\r\nR0lG\r\n",
              PackMessage(&root));
    EXPECT_EQ(CMIMEPart::CONTENT_IMAGE, root.GetContentType());
    EXPECT_EQ(CMIMEPart::ENCODE_BASE64, root.GetEncodeType());
    EXPECT_STREQ("gif", root.GetSubTypeString());
}

TEST_F(PackDriver, UntypedLeafThatTheDatabaseCallsMultipartStaysALeaf)
{
    MimeDatabase database("multipart/related mht\n");
    auto* root = new CInputBlock(CMIMEPart::CONTENT_MULTIPART);
    Tree tree(root);
    Add(root,
        new CInputBlock(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_7BIT, "plain", File("t.txt", "t\r\n").c_str()));
    Add(root, new CInputBlock(CMIMEPart::CONTENT_UNKNOWN, CMIMEPart::ENCODE_UNKNOWN, nullptr,
                              File("page.mht", "abc").c_str()));
    const std::string message = PackMessage(root);
    const std::string b = boundaries.Boundary(0);
    EXPECT_EQ(1u, boundaries.DrawsTaken());
    EXPECT_NE(std::string::npos, message.find("--" + b +
                                              "\r\nContent-Type: APPLICATION/octet-stream;\r\n\tname=\"page.mht\"\r\n"
                                              "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; "
                                              "filename=page.mht\r\n\r\nYWJj\r\n--" +
                                              b + "--\r\n\r\n"))
        << message;
}

TEST_F(PackDriver, FailuresStopTheRunAndKeepWhatWasWritten)
{
    const std::string data = File("d.txt", "D\r\n");
    const std::string missing = dir.file("missing.hdr");
    {
        auto* root = new CInputBlock(CMIMEPart::CONTENT_MULTIPART);
        Tree tree(root);
        Add(root, new CInputBlock(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_7BIT, "plain", data.c_str()));
        Add(root, new CInputBlock(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_7BIT, "plain", data.c_str(), nullptr,
                                  missing.c_str()));
        Add(root, new CInputBlock(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_7BIT, "plain", data.c_str()));
        const std::string message = PackMessage(root, CME_HEADER_FILE_ERROR);
        EXPECT_EQ("Header file '" + missing + "' cannot be opened.", std::string(error));
        const std::string b = boundaries.Boundary(0);
        // The failing child got its generated lines; nothing after them was written.
        const std::string tail =
            "--" + b +
            "\r\nContent-Type: TEXT/plain;\r\n\tname=\"d.txt\"\r\n"
            "Content-Transfer-Encoding: 7bit\r\nContent-Disposition: attachment; filename=d.txt\r\n";
        ASSERT_GE(message.size(), tail.size());
        EXPECT_EQ(tail, message.substr(message.size() - tail.size()));
        EXPECT_EQ(0u, message.find("MIME-Version: 1.0\r\n"));
    }
    {
        auto* root = new CInputBlock(CMIMEPart::CONTENT_MULTIPART);
        Tree tree(root);
        auto* inner = Add(root, new CInputBlock(CMIMEPart::CONTENT_MULTIPART));
        Add(inner, new CInputBlock(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_BASE64, "plain",
                                   dir.file("nodata").c_str(), nullptr, nullptr, FALSE));
        Add(root, new CInputBlock(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_7BIT, "plain", data.c_str()));
        const std::string message = PackMessage(root, CME_DATA_FILE_ERROR);
        EXPECT_EQ("Data file '" + dir.file("nodata") + "' cannot be opened.", std::string(error));
        const std::string b2 = boundaries.Boundary(2);
        EXPECT_EQ("--" + b2 + "\r\n\r\n", message.substr(message.size() - b2.size() - 6));
    }
}

TEST_F(PackDriver, OutputFileThatCannotBeOpened)
{
    CInputBlock root(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_7BIT, "plain", File("d.txt", "x").c_str());
    for (const std::string& target : {dir.path(), dir.file("no/such/dir/out.eml")})
    {
        std::string path = target;
        error = "";
        EXPECT_EQ(CME_OUTPUT_FILE_ERROR, packer.Pack(&root, &path[0], 0, error));
        EXPECT_EQ("Output file '" + target + "' cannot be accessed.", std::string(error));
        EXPECT_FALSE(packer.m_FirstPart);
    }
    CString untouched = "kept";
    EXPECT_EQ(CME_INVALID_PARAMETER, packer.Pack(nullptr, nullptr, 0, untouched));
    EXPECT_EQ("kept", std::string(untouched));
}

TEST_F(PackDriver, ExistingOutputIsTruncated)
{
    CInputBlock root(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_7BIT, "plain", File("d.txt", "x").c_str(), nullptr,
                     nullptr, FALSE);
    File("message", std::string(5000, 'z'));
    EXPECT_EQ("MIME-Version: 1.0\r\n\r\nx", PackMessage(&root));
}

class TemporaryOutput : public PackDriver
{
protected:
    void SetUp() override
    {
        const char* old = std::getenv("TMPDIR");
        hadTmp = old != nullptr;
        if (hadTmp)
            oldTmp = old;
        tmp = dir.mkdir("tmp");
        setenv("TMPDIR", tmp.c_str(), 1);
    }
    void TearDown() override
    {
        if (hadTmp)
            setenv("TMPDIR", oldTmp.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }
    std::string tmp;
    bool hadTmp = false;
    std::string oldTmp;
};

TEST_F(TemporaryOutput, EmptyPathWritesANewMmeFile)
{
    CInputBlock root(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_7BIT, "plain", File("d.txt", "x").c_str(), nullptr,
                     nullptr, FALSE);
    // Without a buffer size the caller's string stays as it was.
    char path[MAX_PATH] = "";
    EXPECT_EQ(CME_SUCCESS, packer.Pack(&root, path, 0, error));
    EXPECT_STREQ("", path);
    std::string names = testsupport::ListTree(tmp);
    ASSERT_EQ(1u, Count(names, ".MME"));
    while (!names.empty() && (names.back() == '\n' || names.back() == '\r'))
        names.pop_back();
    EXPECT_EQ(std::string::npos, names.find('/'));
    EXPECT_EQ("MIME-Version: 1.0\r\n\r\nx", testsupport::ReadFile(tmp + "/" + names));

    // With a buffer size the generated path comes back.
    char full[MAX_PATH] = "";
    EXPECT_EQ(CME_SUCCESS, packer.Pack(&root, full, sizeof full, error));
    const std::string reported = full;
    EXPECT_EQ(0u, reported.find(tmp + "/"));
    EXPECT_EQ(".MME", reported.substr(reported.size() - 4));
    EXPECT_EQ("MIME-Version: 1.0\r\n\r\nx", testsupport::ReadFile(reported));

    // A small buffer receives the path cut to fit, NUL-terminated, and nothing past it.
    char small[9];
    std::memset(small, '#', sizeof small);
    small[0] = '\0';
    EXPECT_EQ(CME_SUCCESS, packer.Pack(&root, small, 6, error));
    EXPECT_EQ(tmp.substr(0, 5), std::string(small));
    EXPECT_EQ('#', small[6]);
    EXPECT_EQ(3u, Count(testsupport::ListTree(tmp), ".MME"));
}
