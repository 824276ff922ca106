// Header block reading: the copy into the HDR work file, the MIME-Version check, where the
// message file is left, and the block that the fields fill; with LF and CR LF line ends.
#include "mimeengine/unpack/unpacker.h"
#include "tests/header/headertest.h"

#include <climits>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace
{
bool g_failNothrowNew = false;
}

// Lets a test make the library's non-throwing allocations fail.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    if (g_failNothrowNew)
        return nullptr;
    try
    {
        return ::operator new(size);
    }
    catch (...)
    {
        return nullptr;
    }
}

namespace
{

using headertest::LineEnds;
using headertest::ToLineEnds;
namespace fs = std::filesystem;

std::string Resource(unsigned int id)
{
    CString text;
    text.LoadString(id);
    return text.GetString();
}

// Offset just after the first empty line (LF or CR LF), or the size when there is none.
unsigned long ExpectedBodyPosition(const std::string& bytes)
{
    size_t start = 0;
    while (start < bytes.size())
    {
        const size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            break;
        const std::string line = bytes.substr(start, end - start);
        if (line.empty() || line == "\r")
            return static_cast<unsigned long>(end + 1);
        start = end + 1;
    }
    return static_cast<unsigned long>(bytes.size());
}

struct HeaderRun
{
    _CME_RC rc = CME_FAILURE;
    std::string error;
    std::unique_ptr<COutputBlock> block;
    std::vector<std::string> workFiles; // names in the work directory
    std::string headerCopy;             // bytes of the header work file, when there is one
    std::string nextLine;               // what the message file reads next ("<eof>" at its end)
};

class ReadHeaderRunner
{
public:
    ReadHeaderRunner() : m_work(m_dir.mkdir("work")) {}

    HeaderRun Run(const std::string& bytes, BOOL mimeVersion, COutputBlock* existing = nullptr)
    {
        HeaderRun run;
        m_message = m_dir.file("message.eml");
        testsupport::WriteFile(m_message, bytes);
        auto file = headertest::OpenForReading(m_message);
        EXPECT_TRUE(file->IsOpen());
        headertest::LinePair pair;
        CUnpacker unpacker;
        unpacker.m_WorkDirectory = m_work.c_str();
        CString error;
        COutputBlock* block = existing;
        run.rc = unpacker.ReadHeader(&pair.line, &pair.ahead, *file, m_message.c_str(), error, &block, mimeVersion);
        run.error = error.GetString();
        // A block that the call made is the caller's; a given one stays where it is.
        if (block != existing)
            run.block.reset(block);

        std::vector<char> next(LINE_BUFFER_SIZE);
        run.nextLine = file->ReadString(next.data(), LINE_READ_LIMIT) != nullptr ? next.data() : "<eof>";
        for (const auto& entry : fs::directory_iterator(m_work))
        {
            run.workFiles.push_back(entry.path().filename().string());
            run.headerCopy = testsupport::ReadFile(entry.path().string());
        }
        return run;
    }

    const std::string& work() const { return m_work; }
    const std::string& message() const { return m_message; }

private:
    testsupport::ScratchDir m_dir;
    std::string m_work;
    std::string m_message;
};

// ---- Whole headers ----------------------------------------------------------------------

struct HeaderRow
{
    const char* name;
    std::string message; // LF line ends
    BOOL mimeVersion;
    _CME_RC rc;
    unsigned int errorId;   // 0: no error text
    std::string headerCopy; // LF line ends; stored with CR LF by text-mode writing
    std::string nextLine;
};

std::vector<HeaderRow> HeaderRows()
{
    const std::string longValue(3000, 'v');
    return {
        {"Simple", "MIME-Version: 1.0\nContent-Type: text/plain\n\nbody\n", TRUE, CME_SUCCESS, 0,
         "MIME-Version: 1.0\nContent-Type: text/plain\n", "body\n"},
        {"NoEmptyLineBeforeEnd", "MIME-Version: 1.0\nContent-Type: text/plain\n", TRUE, CME_SUCCESS, 0,
         "MIME-Version: 1.0\nContent-Type: text/plain\n", "<eof>"},
        {"VersionLineLast", "Subject: s\nMIME-Version: 1.0\n", TRUE, CME_SUCCESS, 0, "Subject: s\nMIME-Version: 1.0\n",
         "<eof>"},
        {"EmptyHeaderNeedsVersion", "\nbody\n", TRUE, CME_INVALID_HEADER, 20012, "", "body\n"},
        {"EmptyHeaderWithoutCheck", "\nbody\n", FALSE, CME_SUCCESS, 0, "", "body\n"},
        {"SplitVersionLine", "MIME-Version:\n 1.0\nContent-Type: text/plain\n\nbody\n", TRUE, CME_SUCCESS, 0,
         "MIME-Version:\n 1.0\nContent-Type: text/plain\n", "body\n"},
        {"SplitVersionLineAtEnd", "MIME-Version:\n 1.0\n", TRUE, CME_SUCCESS, 0, "MIME-Version:\n 1.0\n", "<eof>"},
        {"SecondVersionLineCopied", "MIME-Version: 1.0\nMIME-Version: 2.0\n\nbody\n", TRUE, CME_SUCCESS, 0,
         "MIME-Version: 1.0\nMIME-Version: 2.0\n", "body\n"},
        {"LineOfSpacesIsCopied", "MIME-Version: 1.0\nSubject: s\n   \n\t\nX: y\n\nbody\n", TRUE, CME_SUCCESS, 0,
         "MIME-Version: 1.0\nSubject: s\n   \n\t\nX: y\n", "body\n"},
        {"IndentedVersionLineDoesNotCount", "Subject: s\n MIME-Version: 1.0\n\nbody\n", TRUE, CME_INVALID_HEADER, 20012,
         "Subject: s\n MIME-Version: 1.0\n", "body\n"},
        {"LowerCaseVersion", "mime-version: 1.0\n\nbody\n", TRUE, CME_SUCCESS, 0, "mime-version: 1.0\n", "body\n"},
        {"UnclosedComment", "MIME-Version: 1.0 (no closing parenthesis\n\nbody\n", TRUE, CME_INVALID_HEADER, 20012,
         "MIME-Version: 1.0 (no closing parenthesis\n", "body\n"},
        {"NoVersionLine", "Subject: s\n\nbody\n", TRUE, CME_INVALID_HEADER, 20012, "Subject: s\n", "body\n"},
        {"NestedPartWithVersion2", "MIME-Version: 2.0\nContent-Type: text/html\n\nbody\n", FALSE, CME_SUCCESS, 0,
         "MIME-Version: 2.0\nContent-Type: text/html\n", "body\n"},
        {"FieldWithoutSubtype", "MIME-Version: 1.0\nContent-Type: text\n\nbody\n", TRUE, CME_INVALID_HEADER, 25001,
         "MIME-Version: 1.0\nContent-Type: text\n", "body\n"},
        {"LongOtherFieldCopiedInFull", "MIME-Version: 1.0\nX-Long: " + longValue + "\nContent-Type: image/gif\n\nb\n",
         TRUE, CME_SUCCESS, 0, "MIME-Version: 1.0\nX-Long: " + longValue + "\nContent-Type: image/gif\n", "b\n"},
        {"LongContentFieldFails", "MIME-Version: 1.0\nContent-Description: " + longValue + "\n\nb\n", TRUE,
         CME_INVALID_HEADER, 25000, "MIME-Version: 1.0\nContent-Description: " + longValue + "\n", "b\n"},
        // A line of exactly 2046 characters arrives as one full read and then its line end
        // alone; that piece is not the empty line that ends the header.
        {"LineOfOneFullReadIsNotCutShort",
         "MIME-Version: 1.0\nX-Long: " + std::string(2038, 'w') + "\nContent-Type: image/gif\n\nb\n", TRUE, CME_SUCCESS,
         0, "MIME-Version: 1.0\nX-Long: " + std::string(2038, 'w') + "\nContent-Type: image/gif\n", "b\n"},
        // The piece of a long line that happens to start with the version field is not one.
        {"VersionTextInsideALongLineDoesNotCount", "Subject: " + std::string(2037, 'x') + "MIME-Version: 1.0\n\nbody\n",
         TRUE, CME_INVALID_HEADER, 20012, "Subject: " + std::string(2037, 'x') + "MIME-Version: 1.0\n", "body\n"},
        {"BodyStartsWithContinuationLikeLine", "Content-Id: <a>\n\n body\n", FALSE, CME_SUCCESS, 0, "Content-Id: <a>\n",
         " body\n"},
    };
}

class ReadHeaderTest : public ::testing::TestWithParam<std::tuple<HeaderRow, LineEnds>>
{
};

TEST_P(ReadHeaderTest, CopiesChecksAndPositions)
{
    const HeaderRow& row = std::get<0>(GetParam());
    const LineEnds ends = std::get<1>(GetParam());
    const std::string bytes = ToLineEnds(row.message, ends);
    ReadHeaderRunner runner;
    const HeaderRun run = runner.Run(bytes, row.mimeVersion);

    EXPECT_EQ(run.rc, row.rc);
    EXPECT_EQ(run.error, row.errorId != 0 ? Resource(row.errorId) : std::string());
    // The header work file is left on the disk on every path.
    ASSERT_EQ(run.workFiles.size(), 1u);
    EXPECT_EQ(fs::path(run.workFiles[0]).extension().string(), ".HDR");
    EXPECT_EQ(run.headerCopy, ToLineEnds(row.headerCopy, LineEnds::CRLF));

    // A failed MIME-Version check creates no block; a failing field parser already had one.
    const bool versionFailed = row.errorId == 20012;
    ASSERT_EQ(run.block != nullptr, !versionFailed);
    if (!versionFailed)
    {
        EXPECT_EQ(std::string(run.block->GetHeaderFile()), runner.work() + "/" + run.workFiles[0]);
        EXPECT_STREQ(run.block->GetOrigFileName(), runner.message().c_str());
        EXPECT_EQ(run.block->GetBodyPosition(), ExpectedBodyPosition(bytes));
    }
    if (row.rc == CME_SUCCESS)
    {
        EXPECT_EQ(run.nextLine, row.nextLine);
    }
}

INSTANTIATE_TEST_SUITE_P(Headers, ReadHeaderTest,
                         ::testing::Combine(::testing::ValuesIn(HeaderRows()),
                                            ::testing::Values(LineEnds::LF, LineEnds::CRLF)),
                         [](const auto& test) {
                             return std::string(std::get<0>(test.param).name) + "_" +
                                    headertest::LineEndsName(std::get<1>(test.param));
                         });

TEST(ReadHeaderFieldsTest, FieldsOfTheCopyFillTheBlock)
{
    for (LineEnds ends : {LineEnds::LF, LineEnds::CRLF})
    {
        ReadHeaderRunner runner;
        const HeaderRun run = runner.Run(ToLineEnds("MIME-Version: 1.0\nContent-Description: a\n   \n"
                                                    "Content-Type: multipart/mixed;\n boundary=\"b\"\n"
                                                    "Content-Id: <x>\n\nbody\n",
                                                    ends),
                                         TRUE);
        ASSERT_EQ(run.rc, CME_SUCCESS);
        EXPECT_STREQ(run.block->GetContentDesc(), "a   ");
        EXPECT_EQ(run.block->GetContentType(), CMIMEPart::CONTENT_MULTIPART);
        EXPECT_STREQ(run.block->GetParameters(), "boundary=\"b\"");
        EXPECT_STREQ(run.block->GetContentId(), "<x>");
    }
}

TEST(ReadHeaderFieldsTest, DefaultsOfAnEmptyHeader)
{
    ReadHeaderRunner runner;
    const HeaderRun run = runner.Run("\nbody\n", FALSE);
    ASSERT_EQ(run.rc, CME_SUCCESS);
    EXPECT_EQ(run.block->GetContentType(), CMIMEPart::CONTENT_UNKNOWN);
    EXPECT_EQ(run.block->GetEncodeType(), CMIMEPart::ENCODE_8BIT);
    EXPECT_STREQ(run.block->GetSubTypeString(), "");
    EXPECT_EQ(run.block->GetBodyPosition(), 1u);
}

TEST(ReadHeaderFieldsTest, GivenBlockIsFilled)
{
    ReadHeaderRunner runner;
    COutputBlock block;
    block.SetContentId("<kept>");
    const std::string message = "Content-Type: image/png\nContent-Id: <new>\n\nbody\n";
    const HeaderRun run = runner.Run(message, FALSE, &block);
    ASSERT_EQ(run.rc, CME_SUCCESS);
    EXPECT_EQ(run.block, nullptr);
    EXPECT_EQ(block.GetContentType(), CMIMEPart::CONTENT_IMAGE);
    EXPECT_STREQ(block.GetContentId(), "<kept>");
    EXPECT_EQ(block.GetBodyPosition(), ExpectedBodyPosition(message));
}

// ---- MIME-Version values ------------------------------------------------------------------

struct VersionRow
{
    const char* value; // text after "MIME-Version:"
    bool accepted;
};

TEST(MimeVersionTest, OnlyOnePointZeroIsAccepted)
{
    const std::vector<VersionRow> rows = {
        {" 1.0", true},    {" 1.00", true},
        {" 01.0", true},   {" 1.0 (generated)", true},
        {"1.0", true},     {" (c) 1.0", true},
        {" 1 . x0", true}, {" 1.1", false},
        {" 2.0", false},   {" 1", false},
        {" 1.", false},    {" .0", false},
        {" 10.0", false},  {" 99999999999999999999.0", false},
        {" (1.0)", false}, {" 1.0 (open", false},
        {"", false},
    };
    for (const VersionRow& row : rows)
    {
        for (LineEnds ends : {LineEnds::LF, LineEnds::CRLF})
        {
            ReadHeaderRunner runner;
            const HeaderRun run =
                runner.Run(ToLineEnds(std::string("MIME-Version:") + row.value + "\n\nbody\n", ends), TRUE);
            EXPECT_EQ(run.rc, row.accepted ? CME_SUCCESS : CME_INVALID_HEADER) << "'" << row.value << "'";
        }
    }
}

TEST(MimeVersionTest, NumbersAreRead)
{
    struct Row
    {
        const char* line;
        BOOL read;
        int major;
        int minor;
    };
    const Row rows[] = {
        {"MIME-Version: 12.34\n", TRUE, 12, 34},
        {"MIME-Version: 1.0(x)2\n", TRUE, 1, 2}, // the comment goes, the text around it joins
        {"MIME-Version: v2 beta.7\n", TRUE, 2, 7},
        {"MIME-Version: 99999999999999999999.5\n", TRUE, INT_MAX, 5},
        {"MIME-Version: 3\n", FALSE, -1, -1},
        {"MIME-Version:\n", FALSE, -1, -1},
    };
    for (const Row& row : rows)
    {
        testsupport::ScratchDir dir;
        auto file = headertest::TextFile(dir, "m.eml", std::string(row.line) + "Next: x\n");
        headertest::LinePair pair;
        ASSERT_NE(file->ReadString(pair.line, LINE_READ_LIMIT), nullptr);
        CUnpacker unpacker;
        _UNFOLD_RC unfold = UNFOLD_NOT_RUN;
        int major = -1;
        int minor = -1;
        EXPECT_EQ(unpacker.GetMimeVersion(&pair.line, &pair.ahead, *file, nullptr, &unfold, &major, &minor), row.read)
            << row.line;
        EXPECT_EQ(unfold, UNFOLD_NEXT_LINE);
        EXPECT_STREQ(pair.ahead, "Next: x\n");
        if (row.read)
        {
            EXPECT_EQ(major, row.major) << row.line;
            EXPECT_EQ(minor, row.minor) << row.line;
        }
    }
}

TEST(MimeVersionTest, FoldTooLongFails)
{
    testsupport::ScratchDir dir;
    auto file = headertest::TextFile(
        dir, "m.eml", "MIME-Version: 1.0" + std::string(1500, ' ') + "\n" + std::string(600, ' ') + "\n");
    headertest::LinePair pair;
    ASSERT_NE(file->ReadString(pair.line, LINE_READ_LIMIT), nullptr);
    CUnpacker unpacker;
    _UNFOLD_RC unfold = UNFOLD_NOT_RUN;
    EXPECT_FALSE(unpacker.CheckMimeVersion(&pair.line, &pair.ahead, *file, nullptr, &unfold));
    EXPECT_EQ(unfold, UNFOLD_TOO_LONG);
}

// ---- Failures of the work file and of allocation -----------------------------------------

TEST(ReadHeaderFailureTest, HeaderFileThatCannotBeCreated)
{
    testsupport::ScratchDir dir;
    testsupport::WriteFile(dir.file("m.eml"), "MIME-Version: 1.0\n\nbody\n");
    auto file = headertest::OpenForReading(dir.file("m.eml"));
    headertest::LinePair pair;
    CUnpacker unpacker;
    const std::string missing = dir.file("no-such-directory");
    unpacker.m_WorkDirectory = missing.c_str();
    CString error;
    COutputBlock* block = nullptr;
    EXPECT_EQ(unpacker.ReadHeader(&pair.line, &pair.ahead, *file, "m.eml", error, &block, TRUE), CME_HEADER_FILE_ERROR);
    EXPECT_EQ(block, nullptr);
    const std::string text = error.GetString();
    EXPECT_EQ(text.rfind("Header file '" + missing, 0), 0u) << text;
    EXPECT_NE(text.find(".HDR' cannot be created."), std::string::npos) << text;
    EXPECT_FALSE(testsupport::Exists(missing));
}

TEST(ReadHeaderFailureTest, BlockThatCannotBeAllocated)
{
    ReadHeaderRunner runner;
    g_failNothrowNew = true;
    HeaderRun run = runner.Run("MIME-Version: 1.0\nContent-Type: text/plain\n\nbody\n", TRUE);
    g_failNothrowNew = false;
    EXPECT_EQ(run.rc, CME_NO_MEMORY);
    EXPECT_EQ(run.block, nullptr);
    EXPECT_EQ(run.workFiles.size(), 1u);
}

// ---- Headers of real messages ---------------------------------------------------------------

struct CorpusRow
{
    const char* file;
    BOOL mimeVersion;
    _CME_RC rc;
    CMIMEPart::_CONTENT_TYPE type;
    const char* subType;
    const char* parameters;
    CMIMEPart::_ENCODE_TYPE encoding;
    CMIMEPart::_DISPOSE_TYPE disposition;
    const char* suggestName;
    const char* nextLine;
};

class CorpusHeaderTest : public ::testing::TestWithParam<std::tuple<CorpusRow, LineEnds>>
{
};

TEST_P(CorpusHeaderTest, ParsesLikeTheMessageSays)
{
    const CorpusRow& row = std::get<0>(GetParam());
    const std::string lf = testsupport::ReadFile(std::string(MIMEENGINE_TEST_DATA_DIR) + "/header/" + row.file);
    ASSERT_FALSE(lf.empty());
    ReadHeaderRunner runner;
    const HeaderRun run = runner.Run(ToLineEnds(lf, std::get<1>(GetParam())), row.mimeVersion);
    ASSERT_EQ(run.rc, row.rc);
    const size_t headerEnd = lf.find("\n\n");
    ASSERT_NE(headerEnd, std::string::npos);
    EXPECT_EQ(run.headerCopy, ToLineEnds(lf.substr(0, headerEnd + 1), LineEnds::CRLF));
    if (row.rc != CME_SUCCESS)
        return;
    EXPECT_EQ(run.block->GetContentType(), row.type);
    EXPECT_STREQ(run.block->GetSubTypeString(), row.subType);
    EXPECT_STREQ(run.block->GetParameters(), row.parameters);
    EXPECT_EQ(run.block->GetEncodeType(), row.encoding);
    EXPECT_EQ(run.block->GetDisposition(), row.disposition);
    EXPECT_STREQ(run.block->GetSuggestName(), row.suggestName);
    EXPECT_EQ(run.nextLine, row.nextLine);
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, CorpusHeaderTest,
    ::testing::Combine(
        ::testing::Values(
            CorpusRow{"issue163-top.eml", TRUE, CME_SUCCESS, CMIMEPart::CONTENT_MULTIPART, "mixed",
                      "boundary=Apple-Mail-527767CA-F7D5-41A6-A360-696FC8DCE432", CMIMEPart::ENCODE_7BIT,
                      CMIMEPart::DISPOSE_UNKNOWN, "", "\n"},
            CorpusRow{"nonascii-filename-top.eml", TRUE, CME_SUCCESS, CMIMEPart::CONTENT_MULTIPART, "mixed",
                      "boundary=Apple-Mail-13-196941151", CMIMEPart::ENCODE_8BIT, CMIMEPart::DISPOSE_UNKNOWN, "", "\n"},
            CorpusRow{"nonascii-filename-part.eml", FALSE, CME_SUCCESS, CMIMEPart::CONTENT_TEXT, "plain",
                      "name=ci\xc3\xable.txt", CMIMEPart::ENCODE_7BIT, CMIMEPart::DISPOSE_ATTACHMENT,
                      "ci\xc3\xable.txt", "Hi there.\n"},
            CorpusRow{"m0014-part.eml", FALSE, CME_SUCCESS, CMIMEPart::CONTENT_TEXT, "plain",
                      "charset=iso-8859-1; name=\"=?iso-8859-1?Q?HasenundFr=F6sche=2Etxt?=\"",
                      CMIMEPart::ENCODE_QUOTED_PRINTABLE, CMIMEPart::DISPOSE_INLINE,
                      "=?iso-8859-1?Q?HasenundFr=F6sche=2Etxt?=", "Die Hasen und die Fr=F6sche\n"},
            CorpusRow{"malformedHeader-nocrlfcrlf.eml", TRUE, CME_INVALID_HEADER, CMIMEPart::CONTENT_UNKNOWN, "", "",
                      CMIMEPart::ENCODE_8BIT, CMIMEPart::DISPOSE_UNKNOWN, "", ""},
            CorpusRow{"malformedHeader-nocrlfcrlf.eml", FALSE, CME_SUCCESS, CMIMEPart::CONTENT_UNKNOWN, "", "",
                      CMIMEPart::ENCODE_8BIT, CMIMEPart::DISPOSE_UNKNOWN, "", "Body text\n"}),
        ::testing::Values(LineEnds::LF, LineEnds::CRLF)));

} // namespace
