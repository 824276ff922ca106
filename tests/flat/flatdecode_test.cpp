// Flat decoding interface: text selection, attachment lists, the work directory and its
// removal, and failures that must leave nothing behind.
#include "flattest.h"
#include "mimeengine/mimeengine.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

using flattest::Crlf;
using flattest::TempDirScope;
using testsupport::ReadFile;
using testsupport::WriteFile;

const char kSingleText[] = "From: ada@example.org\n"
                           "Subject: plain\n"
                           "MIME-Version: 1.0\n"
                           "Content-Type: text/plain; charset=us-ascii\n"
                           "\n"
                           "Hello Ben,\n"
                           "second line\n";

// A multipart/mixed that begins with a multipart/alternative; SUBTYPE is replaced.
const char kAlternativeTemplate[] = "MIME-Version: 1.0\n"
                                    "Content-Type: multipart/mixed; boundary=\"outer\"\n"
                                    "\n"
                                    "--outer\n"
                                    "Content-Type: multipart/SUBTYPE; boundary=\"inner\"\n"
                                    "\n"
                                    "--inner\n"
                                    "Content-Type: text/plain\n"
                                    "\n"
                                    "Plain body\n"
                                    "--inner\n"
                                    "Content-Type: text/html\n"
                                    "\n"
                                    "<p>Html body</p>\n"
                                    "--inner--\n"
                                    "\n"
                                    "--outer\n"
                                    "Content-Type: text/plain\n"
                                    "Content-Disposition: attachment; filename=\"notes.txt\"\n"
                                    "\n"
                                    "attached notes\n"
                                    "--outer--\n";

const char kOnlyTextIsAttachment[] = "MIME-Version: 1.0\n"
                                     "Content-Type: text/plain\n"
                                     "Content-Disposition: attachment; filename=\"only.txt\"\n"
                                     "\n"
                                     "just a file\n";

// The parts of a body with an inline image, with and without a message header.
const char kInlineParts[] = "--nb\n"
                            "Content-Type: text/plain\n"
                            "\n"
                            "Body text\n"
                            "--nb\n"
                            "Content-Type: image/gif; name=\"dot.gif\"\n"
                            "Content-Transfer-Encoding: base64\n"
                            "Content-Disposition: inline; filename=\"dot.gif\"\n"
                            "\n"
                            "R0lGODlhAQABAIAAAP///wAAACH5BAEAAAAALAAAAAABAAEAAAICRAEAOw==\n"
                            "--nb--\n";
const char kInlineHeader[] = "MIME-Version: 1.0\n"
                             "Content-Type: multipart/mixed; boundary=\"nb\"\n"
                             "\n";

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    text.replace(text.find(from), from.size(), to);
    return text;
}

std::string DirectoryOf(const std::string& path)
{
    return path.substr(0, path.find_last_of('/'));
}

std::string BaseName(const std::string& path)
{
    return path.substr(path.find_last_of('/') + 1);
}

class FlatDecode : public ::testing::Test
{
protected:
    std::string Message(const std::string& name, const std::string& content)
    {
        std::string path = m_files.file(name);
        WriteFile(path, content);
        return path;
    }
    // No work directory is left in the temporary directory.
    void ExpectNoWorkDirectory() { EXPECT_TRUE(m_temp.EntriesStartingWith("md").empty()); }

    TempDirScope m_temp;
    testsupport::ScratchDir m_files;
    char* m_text = nullptr;
    unsigned long m_count = 99;
    char** m_list = nullptr;
};

TEST_F(FlatDecode, SingleTextMessageGivesItsBodyAndLeavesNothing)
{
    std::string path = Message("single.eml", kSingleText);
    ASSERT_TRUE(DecodeMimeMessage(path.c_str(), &m_text, &m_count, &m_list));
    ASSERT_NE(m_text, nullptr);
    EXPECT_EQ(std::string(m_text), Crlf("Hello Ben,\nsecond line\n"));
    EXPECT_EQ(m_count, 0u);
    EXPECT_EQ(m_list, nullptr);
    ExpectNoWorkDirectory();
    FreeMimeMsgText(&m_text);
    EXPECT_EQ(m_text, nullptr);
}

TEST_F(FlatDecode, AttachmentStaysInAPrivateWorkDirectoryUntilFreed)
{
    std::string path = Message("mixed.eml", flattest::kMixedWithAttachment);
    ASSERT_TRUE(DecodeMimeMessage(path.c_str(), &m_text, &m_count, &m_list));
    EXPECT_EQ(std::string(m_text), Crlf("First part\n"));
    ASSERT_EQ(m_count, 1u);
    ASSERT_NE(m_list, nullptr);
    std::string attachment = m_list[0];
    EXPECT_EQ(ReadFile(attachment), std::string("\x00\x01\x02\x03", 4));

    std::string workDir = DirectoryOf(attachment);
    EXPECT_EQ(DirectoryOf(workDir), m_temp.path().substr(0, m_temp.path().find_last_not_of('/') + 1));
    EXPECT_EQ(BaseName(workDir).compare(0, 2, "md"), 0) << workDir;
    struct stat info;
    ASSERT_EQ(stat(workDir.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(m_temp.EntriesStartingWith("md").size(), 1u);

    FreeMimeMsgText(&m_text);
    FreeMimeAttachmentList(m_count, &m_list);
    EXPECT_EQ(m_list, nullptr);
    EXPECT_EQ(m_count, 1u) << "the count is the caller's to reset";
    EXPECT_FALSE(testsupport::Exists(workDir));
    ExpectNoWorkDirectory();
}

TEST_F(FlatDecode, TextComesFromTheFirstTextOfALeadingAlternative)
{
    std::string path = Message("alt.eml", Replace(kAlternativeTemplate, "SUBTYPE", "alternative"));
    ASSERT_TRUE(DecodeMimeMessage(path.c_str(), &m_text, &m_count, &m_list));
    EXPECT_EQ(std::string(m_text), Crlf("Plain body\n"));
    ASSERT_EQ(m_count, 1u);
    EXPECT_EQ(ReadFile(m_list[0]), Crlf("attached notes\n"));
    FreeMimeMsgText(&m_text);
    FreeMimeAttachmentList(m_count, &m_list);
    ExpectNoWorkDirectory();
}

TEST_F(FlatDecode, AlternativeSubtypeIsComparedWithCase)
{
    std::string path = Message("alt.eml", Replace(kAlternativeTemplate, "SUBTYPE", "Alternative"));
    ASSERT_TRUE(DecodeMimeMessage(path.c_str(), &m_text, &m_count, &m_list));
    ASSERT_NE(m_text, nullptr);
    EXPECT_EQ(std::string(m_text), "");
    EXPECT_EQ(m_count, 1u);
    FreeMimeMsgText(&m_text);
    FreeMimeAttachmentList(m_count, &m_list);
    ExpectNoWorkDirectory();
}

TEST_F(FlatDecode, TextMarkedAsAttachmentIsNotTheText)
{
    std::string path = Message("only.eml", kOnlyTextIsAttachment);
    ASSERT_TRUE(DecodeMimeMessage(path.c_str(), &m_text, &m_count, &m_list));
    EXPECT_EQ(std::string(m_text), "");
    ASSERT_EQ(m_count, 1u);
    EXPECT_EQ(ReadFile(m_list[0]), Crlf("just a file\n"));
    FreeMimeMsgText(&m_text);
    FreeMimeAttachmentList(m_count, &m_list);
    ExpectNoWorkDirectory();
}

TEST_F(FlatDecode, MissingReceiversGiveTheTextAndRemoveTheWorkDirectory)
{
    std::string path = Message("mixed.eml", flattest::kMixedWithAttachment);
    struct Case
    {
        bool count;
        bool list;
    };
    for (Case c : {Case{false, false}, Case{true, false}, Case{false, true}})
    {
        m_count = 99;
        m_list = reinterpret_cast<char**>(&m_count); // must be reset when given
        ASSERT_TRUE(DecodeMimeMessage(path.c_str(), &m_text, c.count ? &m_count : nullptr, c.list ? &m_list : nullptr));
        EXPECT_EQ(std::string(m_text), Crlf("First part\n"));
        if (c.count)
        {
            EXPECT_EQ(m_count, 0u);
        }
        if (c.list)
        {
            EXPECT_EQ(m_list, nullptr);
        }
        FreeMimeMsgText(&m_text);
        ExpectNoWorkDirectory();
    }
}

TEST_F(FlatDecode, UnopenableMessageFailsAndLeavesNothing)
{
    for (const std::string& path : {m_files.file("missing.eml"), m_files.path()})
    {
        m_text = reinterpret_cast<char*>(&m_count);
        m_list = reinterpret_cast<char**>(&m_count);
        EXPECT_FALSE(DecodeMimeMessage(path.c_str(), &m_text, &m_count, &m_list)) << path;
        EXPECT_EQ(m_text, nullptr);
        EXPECT_EQ(m_count, 0u);
        EXPECT_EQ(m_list, nullptr);
        ExpectNoWorkDirectory();
    }
    EXPECT_FALSE(DecodeMimeMessage(nullptr, &m_text, &m_count, &m_list));
    EXPECT_EQ(m_text, nullptr);
    ExpectNoWorkDirectory();
}

TEST_F(FlatDecode, ReadErrorInsideTheParserFailsAndLeavesNothing)
{
    // /proc/self/mem opens but every read at offset 0 fails: the file classes raise
    // CFileException, which must not leave the call.
    EXPECT_FALSE(DecodeMimeMessage("/proc/self/mem", &m_text, &m_count, &m_list));
    EXPECT_EQ(m_text, nullptr);
    EXPECT_EQ(m_count, 0u);
    EXPECT_EQ(m_list, nullptr);
    EXPECT_FALSE(DecodeNetscapeMessage("/proc/self/mem", &m_text, &m_count, &m_list));
    EXPECT_EQ(m_text, nullptr);
    ExpectNoWorkDirectory();
}

TEST_F(FlatDecode, NullTextReceiverFails)
{
    std::string path = Message("mixed.eml", flattest::kMixedWithAttachment);
    m_list = reinterpret_cast<char**>(&m_count);
    EXPECT_FALSE(DecodeMimeMessage(path.c_str(), nullptr, &m_count, &m_list));
    EXPECT_EQ(m_count, 0u);
    EXPECT_EQ(m_list, nullptr);
    EXPECT_FALSE(DecodeNetscapeMessage(path.c_str(), nullptr, nullptr, nullptr));
    ExpectNoWorkDirectory();
}

TEST_F(FlatDecode, InlinePartsAreAttachmentsOnlyForBodiesWithoutHeader)
{
    // A body as a mail program stores it: one preamble line, then the first delimiter.
    std::string body = Message("body.txt", std::string("Preamble line.\n") + kInlineParts);
    ASSERT_TRUE(DecodeNetscapeMessage(body.c_str(), &m_text, &m_count, &m_list));
    EXPECT_EQ(std::string(m_text), Crlf("Body text\n"));
    ASSERT_EQ(m_count, 1u);
    EXPECT_EQ(ReadFile(m_list[0]).compare(0, 6, "GIF89a"), 0);
    FreeMimeMsgText(&m_text);
    FreeMimeAttachmentList(m_count, &m_list);
    ExpectNoWorkDirectory();

    std::string message = Message("message.eml", std::string(kInlineHeader) + kInlineParts);
    ASSERT_TRUE(DecodeMimeMessage(message.c_str(), &m_text, &m_count, &m_list));
    EXPECT_EQ(std::string(m_text), Crlf("Body text\n"));
    EXPECT_EQ(m_count, 0u);
    EXPECT_EQ(m_list, nullptr);
    FreeMimeMsgText(&m_text);
    ExpectNoWorkDirectory();
}

TEST_F(FlatDecode, FreeingNothingDoesNothing)
{
    char* fake[1] = {nullptr};
    char** list = fake;
    FreeMimeAttachmentList(0, &list);
    EXPECT_EQ(list, fake);
    FreeMimeAttachmentList(3, nullptr);
    list = nullptr;
    FreeMimeAttachmentList(3, &list);
    EXPECT_EQ(list, nullptr);
    FreeMimeMsgText(nullptr);
    char* text = nullptr;
    FreeMimeMsgText(&text);
    EXPECT_EQ(text, nullptr);
}

TEST_F(FlatDecode, FreeingAListNeverEmptiesAForeignDirectory)
{
    // A list whose first path lies outside a work directory releases its memory and
    // leaves the files alone.
    std::string keep = m_files.file("keep.txt");
    WriteFile(keep, "mine");
    char** list = static_cast<char**>(std::malloc(sizeof(char*)));
    list[0] = strdup(keep.c_str());
    FreeMimeAttachmentList(1, &list);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(ReadFile(keep), "mine");
}

TEST_F(FlatDecode, RemovalDeletesALinkNotItsTarget)
{
    std::string path = Message("mixed.eml", flattest::kMixedWithAttachment);
    ASSERT_TRUE(DecodeMimeMessage(path.c_str(), &m_text, &m_count, &m_list));
    ASSERT_EQ(m_count, 1u);
    std::string workDir = DirectoryOf(m_list[0]);
    // Links planted in the work directory: to a file and to a directory outside it.
    std::string outsideFile = m_files.file("outside.txt");
    WriteFile(outsideFile, "outside");
    std::string outsideDir = m_files.mkdir("outside-dir");
    WriteFile(outsideDir + "/inner.txt", "inner");
    ASSERT_EQ(symlink(outsideFile.c_str(), (workDir + "/link-file").c_str()), 0);
    ASSERT_EQ(symlink(outsideDir.c_str(), (workDir + "/link-dir").c_str()), 0);

    FreeMimeMsgText(&m_text);
    FreeMimeAttachmentList(m_count, &m_list);
    EXPECT_FALSE(testsupport::Exists(workDir));
    EXPECT_EQ(ReadFile(outsideFile), "outside");
    EXPECT_EQ(ReadFile(outsideDir + "/inner.txt"), "inner");
}

} // namespace
