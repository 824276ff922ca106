// CParseUtilities: unfolding on the line pair (checking the joined line and the line left
// in the read-ahead buffer), comment filtering, option splitting, value extraction and
// parameter lookup.
#include "mimeengine/unpack/parseutilities.h"
#include "tests/header/headertest.h"
#include "unpack/parsetext.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace
{

using headertest::LineEnds;
using headertest::ToLineEnds;

// ---- Unfolding -------------------------------------------------------------------------

struct UnfoldRow
{
    const char* name;
    std::string file; // with LF line ends; run with CR LF as well
    _UNFOLD_RC result;
    std::string line;      // current line afterwards
    std::string readAhead; // read-ahead buffer afterwards
    std::string copied;    // what the copy file received, as stored (CR LF line ends)
};

std::vector<UnfoldRow> UnfoldRows()
{
    const std::string x2000(2000 - 1, 'x');
    const std::string c100 = " " + std::string(98, 'c');
    const std::string a1023(1023, 'a'); // 1024 with the line end
    const std::string b1023 = " " + std::string(1022, 'b');
    const std::string b1024 = " " + std::string(1023, 'b');
    return {
        {"ContinuationThenNextField", "Subject: a\n continued\nNext: x\n", UNFOLD_NEXT_LINE, "Subject: a continued\n",
         "Next: x\n", " continued\r\n"},
        {"EmptyLineIsNoContinuation", "Subject: a\n\nbody\n", UNFOLD_NEXT_LINE, "Subject: a\n", "\n", ""},
        {"SeveralContinuations", "A: 1\n 2\n\t3\nB: x\n", UNFOLD_NEXT_LINE, "A: 1 2\t3\n", "B: x\n", " 2\r\n\t3\r\n"},
        {"LineOfSpacesContinues", "A: 1\n   \nB: x\n", UNFOLD_NEXT_LINE, "A: 1   \n", "B: x\n", "   \r\n"},
        {"ContinuationAtEndOfFile", "A: 1\n 2\n", UNFOLD_END_OF_FILE, "A: 1 2\n", "", " 2\r\n"},
        {"ContinuationWithoutFinalLineEnd", "A: 1\n 2", UNFOLD_END_OF_FILE, "A: 1 2", "", " 2"},
        {"NothingFollows", "A: 1\n", UNFOLD_END_OF_FILE, "A: 1\n", "", ""},
        {"TooLongJoinsNothing", x2000 + "\n" + c100 + "\nB: x\n", UNFOLD_TOO_LONG, x2000 + "\n", c100 + "\n", ""},
        // Joined texts of exactly 2048 characters (line ends included) still fit.
        {"JoinOf2048", a1023 + "\n" + b1023 + "\nB: x\n", UNFOLD_NEXT_LINE, a1023 + b1023 + "\n", "B: x\n",
         b1023 + "\r\n"},
        {"JoinOf2049", a1023 + "\n" + b1024 + "\nB: x\n", UNFOLD_TOO_LONG, a1023 + "\n", b1024 + "\n", ""},
    };
}

class UnfoldTest : public ::testing::TestWithParam<std::tuple<UnfoldRow, LineEnds>>
{
};

TEST_P(UnfoldTest, JoinsContinuationLines)
{
    const UnfoldRow& row = std::get<0>(GetParam());
    const LineEnds ends = std::get<1>(GetParam());
    testsupport::ScratchDir dir;
    auto file = headertest::TextFile(dir, "in.txt", ToLineEnds(row.file, ends));
    ASSERT_TRUE(file->IsOpen());
    CStdioFile copy;
    ASSERT_TRUE(copy.Open(dir.file("copy.txt").c_str(), CFile::modeCreate | CFile::modeWrite));

    headertest::LinePair pair;
    ASSERT_NE(file->ReadString(pair.line, LINE_READ_LIMIT), nullptr);
    CParseUtilities utilities;
    EXPECT_EQ(utilities.UnfoldString(pair.line, pair.ahead, *file, &copy), row.result);
    EXPECT_EQ(std::string(pair.line), row.line);
    EXPECT_EQ(std::string(pair.ahead), row.readAhead);
    copy.Close();
    EXPECT_EQ(testsupport::ReadFile(dir.file("copy.txt")), row.copied);
}

INSTANTIATE_TEST_SUITE_P(Lines, UnfoldTest,
                         ::testing::Combine(::testing::ValuesIn(UnfoldRows()),
                                            ::testing::Values(LineEnds::LF, LineEnds::CRLF)),
                         [](const auto& test) {
                             return std::string(std::get<0>(test.param).name) + "_" +
                                    headertest::LineEndsName(std::get<1>(test.param));
                         });

TEST(UnfoldPiecesTest, LineInPiecesNeedsRoomForTheNul)
{
    // A line of 2046 characters arrives without its line end; a continuation of two more
    // characters would fill all 2048 bytes and leave none for the NUL.
    const std::string piece(2046, 'p');
    for (LineEnds ends : {LineEnds::LF, LineEnds::CRLF})
    {
        testsupport::ScratchDir dir;
        auto file = headertest::TextFile(dir, "in.txt", ToLineEnds(piece + " \nB: x\n", ends));
        headertest::LinePair pair;
        ASSERT_NE(file->ReadString(pair.line, LINE_READ_LIMIT), nullptr);
        ASSERT_EQ(strlen(pair.line), 2046u);
        CParseUtilities utilities;
        EXPECT_EQ(utilities.UnfoldString(pair.line, pair.ahead, *file, nullptr), UNFOLD_TOO_LONG);
        EXPECT_EQ(std::string(pair.line), piece);
        EXPECT_EQ(std::string(pair.ahead), " \n");

        // One character less fits: the input ends after a single space.
        auto shorter = headertest::TextFile(dir, "in2.txt", piece + " ");
        ASSERT_NE(shorter->ReadString(pair.line, LINE_READ_LIMIT), nullptr);
        EXPECT_EQ(utilities.UnfoldString(pair.line, pair.ahead, *shorter, nullptr), UNFOLD_END_OF_FILE);
        EXPECT_EQ(std::string(pair.line), piece + " ");
    }
}

struct JoinRow
{
    std::string line;
    std::string next;
    bool joined;
    std::string result;
};

TEST(JoinContinuationTest, RemovesOnlyTheLineBreak)
{
    const std::vector<JoinRow> rows = {
        {"a\n", " b\n", true, "a b\n"},
        {"a\r\n", "\tb\n", true, "a\tb\n"},
        {"a\rb\n", " c\n", true, "a c\n"}, // from the last CR, where one is left
        {"a", " b", true, "a b"},          // a piece without line end
        {"", " b\n", true, " b\n"},
        // 1001 + 1047 characters join into 2047; one more is refused.
        {std::string(1000, 'a') + "\n", " " + std::string(1045, 'b') + "\n", true,
         std::string(1000, 'a') + " " + std::string(1045, 'b') + "\n"},
        {std::string(1000, 'a') + "\n", " " + std::string(1046, 'b') + "\n", false, ""},
        {std::string(2046, 'a'), " ", true, std::string(2046, 'a') + " "},
        {std::string(2046, 'a'), " \n", false, ""},
    };
    for (const JoinRow& row : rows)
    {
        std::vector<char> buffer(LINE_BUFFER_SIZE + 16, '#');
        memcpy(buffer.data(), row.line.c_str(), row.line.size() + 1);
        EXPECT_EQ(parsetext::JoinContinuation(buffer.data(), row.next.c_str(), LINE_BUFFER_SIZE), row.joined)
            << row.line.size() << "+" << row.next.size();
        EXPECT_EQ(std::string(buffer.data()), row.joined ? row.result : row.line);
        EXPECT_EQ(std::string(buffer.data() + LINE_BUFFER_SIZE, 16), std::string(16, '#'));
    }
}

TEST(SwitchPointersTest, ExchangesThePair)
{
    char a[] = "a";
    char b[] = "b";
    char* first = a;
    char* second = b;
    CParseUtilities().SwitchPointers(first, second);
    EXPECT_EQ(first, b);
    EXPECT_EQ(second, a);
}

// ---- FilterData -------------------------------------------------------------------------

struct FilterRow
{
    std::string text;
    std::string result;
    int rc;
};

TEST(FilterDataTest, RemovesComments)
{
    const std::vector<FilterRow> rows = {
        {"  1.0 (produced by x)\n", "1.0 \n", 1},
        {"1.0 (open", "", 0},
        {"a (b) c (d", "a ", 0},
        {"a (b) c (d) e", "a  c  e", 1},
        {"(a (b) c)", " c)", 1},        // comments do not nest
        {"q \"(x)\" r", "q \"\" r", 1}, // quotes do not protect them
        {"a)b", "a)b", 1},
        {"x\r\ny (z)", "x", 1},   // cut at the first CR LF
        {"x\ny (z)", "x\ny ", 1}, // a lone LF stays
        {"\t \n1.0", "1.0", 1},   // leading white space, line ends included
        {"", "", 1},
        {"   ", "", 1},
        {"()", "", 1},
        {"\xb0(\xb1)\xb2", "\xb0\xb2", 1},
    };
    CParseUtilities utilities;
    for (const FilterRow& row : rows)
    {
        std::vector<char> text(row.text.begin(), row.text.end());
        text.push_back('\0');
        CString result("stale");
        EXPECT_EQ(utilities.FilterData(text.data(), result), row.rc) << row.text;
        EXPECT_EQ(std::string(result.GetString()), row.result) << row.text;
    }
}

TEST(FilterDataTest, WritesIntoTheCallersText)
{
    char text[] = "a (b) c\r\nd";
    CString result;
    CParseUtilities().FilterData(text, result);
    EXPECT_EQ(text[2], '\0'); // at the "("
    EXPECT_EQ(text[7], '\0'); // at the CR
    EXPECT_STREQ(result.GetString(), "a  c");
}

// ---- ExtractOptions ---------------------------------------------------------------------

struct OptionsRow
{
    std::string text;
    int mode;
    std::vector<std::string> options;
};

std::vector<std::string> Options(CStringList* list)
{
    std::vector<std::string> out;
    for (POSITION pos = list->GetHeadPosition(); pos != nullptr;)
        out.push_back(list->GetNext(pos).GetString());
    return out;
}

TEST(ExtractOptionsTest, SplitsAtTheSeparator)
{
    const std::vector<OptionsRow> rows = {
        {"a;;b", 1, {"a", "", "b"}},
        {"name=\"a;b\"", 1, {"name=\"a", "b\""}},
        {"charset=us-ascii; name=x\n", 1, {"charset=us-ascii", "name=x\n"}},
        {" a \t; \tb ", 1, {" a", "b "}},
        {"a;", 1, {"a"}},
        {"a; ", 1, {"a"}},
        {";a", 1, {"", "a"}},
        {";", 1, {""}},
        {" ", 1, {" "}},
        {"a b;c>d", 1, {"a b", "c>d"}},
        // Space mode: words up to a ">".
        {"a b c", 0, {"a b c"}},
        {"a b c>", 0, {"a", "b", "c"}},
        {"a  b>", 0, {"a", "b"}},
        {"<a@b> <c@d>", 0, {"<a@b"}},
        {"a b>c d", 0, {"a", "b"}},
        {">x", 0, {""}},
        {"a;b c>", 0, {"a;b", "c"}},
    };
    CParseUtilities utilities;
    for (const OptionsRow& row : rows)
    {
        CStringList* list = utilities.ExtractOptions(CString(row.text.c_str()), row.mode);
        ASSERT_NE(list, nullptr) << row.text;
        EXPECT_EQ(Options(list), row.options) << row.text << " mode " << row.mode;
        delete list;
    }
}

TEST(ExtractOptionsTest, EmptyTextGivesNoList)
{
    CParseUtilities utilities;
    EXPECT_EQ(utilities.ExtractOptions(CString(""), 1), nullptr);
    EXPECT_EQ(utilities.ExtractOptions(CString(""), 0), nullptr);
}

// ---- ExtractStringOrQuotedString --------------------------------------------------------

struct ValueRow
{
    std::string text;
    int start;
    std::string value;
    int quoted;
};

TEST(ExtractStringOrQuotedStringTest, TrimsAndUnquotes)
{
    const std::vector<ValueRow> rows = {
        {"name= \"x y\" ", 5, "x y", 1},
        {"name=\"\"", 5, "", 1},
        {"k=v", 2, "v", 0},
        {"k=", 2, "", 0},
        {"number=1", 7, "1", 0},
        {"k=\"", 2, "\"", 0}, // a lone quote is a value of its own
        {"k=\"abc", 2, "\"abc", 0},
        {"k= \"a\"b", 2, "\"a\"b", 0},
        {"k=\"a\" \r\n", 2, "a", 1},
        {"k=  abc  \n", 2, "abc", 0},
        {"k=\"\"\"", 2, "\"", 1}, // only one pair is removed
        {"k=v", 10, "", 0},       // a start past the end
    };
    CParseUtilities utilities;
    for (const ValueRow& row : rows)
    {
        CString value("stale");
        int quoted = -1;
        utilities.ExtractStringOrQuotedString(CString(row.text.c_str()), row.start, value, &quoted);
        EXPECT_EQ(std::string(value.GetString()), row.value) << row.text;
        EXPECT_EQ(quoted, row.quoted) << row.text;
        utilities.ExtractStringOrQuotedString(CString(row.text.c_str()), row.start, value);
        EXPECT_EQ(std::string(value.GetString()), row.value) << row.text;
    }
}

// ---- GetParameterData -------------------------------------------------------------------

struct ParameterRow
{
    std::vector<std::string> options;
    const char* name;
    int size;
    int result;
    std::string buffer; // afterwards; "#" marks an untouched buffer
    int quoted;
};

TEST(GetParameterDataTest, FindsTheFirstMatchingOption)
{
    const std::vector<ParameterRow> rows = {
        {{"charset=\"iso-8859-1\""}, "CHARSET", 11, 10, "iso-8859-1", 1},
        {{"charset=\"iso-8859-1\""}, "CHARSET", 10, -1, "#", 1},
        {{"charset=us-ascii"}, "charset", 64, 8, "us-ascii", 0},
        {{"name=a", "charset=a", "charset=b"}, "charset", 64, 1, "a", 0},
        {{"charset="}, "charset", 64, 0, "#", -1},   // nothing after the "="
        {{"charset =x"}, "charset", 64, 0, "#", -1}, // white space before the "="
        {{"charsetx=1"}, "charset", 64, 0, "#", -1},
        {{"charset=\"\""}, "charset", 64, 0, "", 1}, // empty after unquoting
        {{"charset= "}, "charset", 64, 0, "", 0},
        {{"format=flowed"}, "charset", 64, 0, "#", -1},
        {{"charset=x"}, "charset", 0, -1, "#", 0},
    };
    CParseUtilities utilities;
    for (const ParameterRow& row : rows)
    {
        CStringList list;
        for (const std::string& option : row.options)
            list.AddTail(CString(option.c_str()));
        char buffer[80];
        memset(buffer, '#', sizeof(buffer));
        buffer[1] = '\0';
        int quoted = -1;
        EXPECT_EQ(utilities.GetParameterData(&list, row.name, buffer, row.size, &quoted), row.result)
            << row.options.back();
        EXPECT_EQ(std::string(buffer), row.buffer) << row.options.back();
        EXPECT_EQ(quoted, row.quoted) << row.options.back();
    }
}

TEST(GetParameterDataTest, NoListOrNoName)
{
    char buffer[8] = "";
    CParseUtilities utilities;
    EXPECT_EQ(utilities.GetParameterData(nullptr, "charset", buffer, 8), 0);
    CStringList empty;
    EXPECT_EQ(utilities.GetParameterData(&empty, "charset", buffer, 8), 0);
}

// ---- White space ------------------------------------------------------------------------

TEST(WhiteSpaceTableTest, IsTheCSetWithoutHighBytes)
{
    for (int c = 0; c < 256; ++c)
    {
        const bool expected = c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
        EXPECT_EQ(parsetext::IsWhite(static_cast<char>(c)), expected) << c;
    }
}

} // namespace
