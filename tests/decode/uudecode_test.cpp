// Uuencoded lines and bodies, and where their files end up.
#include "decode/harness.h"
#include "extract/bodycodecs.h"
#include "extract/decoders.h"

#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <sstream>

namespace
{

using decodetest::DecodeRun;
using decodetest::Ends;
using decodetest::RunDecoder;
using decodetest::Tree;
using decodetest::WithEnds;

const Ends kBothEnds[] = {Ends::LF, Ends::CRLF};

// Plain uuencoder for fixtures: one line for up to 45 bytes, "`" for the value 0.
std::string UULine(const std::string& data)
{
    auto ch = [](unsigned v) { return static_cast<char>(v == 0 ? '`' : 32 + v); };
    std::string line(1, ch(static_cast<unsigned>(data.size())));
    for (size_t i = 0; i < data.size(); i += 3)
    {
        unsigned char b[3] = {0, 0, 0};
        for (size_t k = 0; k < 3 && i + k < data.size(); ++k)
            b[k] = static_cast<unsigned char>(data[i + k]);
        line += ch(b[0] >> 2);
        line += ch(((b[0] & 3) << 4) | (b[1] >> 4));
        line += ch(((b[1] & 15) << 2) | (b[2] >> 6));
        line += ch(b[2] & 63);
    }
    return line;
}

struct LineResult
{
    unsigned int rc;
    std::string bytes;
};

LineResult DecodeLine(const std::string& text)
{
    char line[LINE_BUFFER_SIZE];
    memset(line, 'J', sizeof line);
    memcpy(line, text.c_str(), text.size() + 1);
    unsigned char out[64];
    unsigned int count = 0;
    unsigned int rc = bodycodecs::UULineBytes(line, out, &count);
    EXPECT_LE(count, 63u);
    return {rc, std::string(reinterpret_cast<char*>(out), count)};
}

TEST(UULine, LinesAndResults)
{
    std::string random45;
    std::mt19937 rng(5);
    for (int i = 0; i < 45; ++i)
        random45 += static_cast<char>(rng() & 0xFF);
    struct Row
    {
        const char* name;
        std::string line;
        unsigned int rc;
        std::string bytes;
    } rows[] = {
        {"three bytes", "#86)C\n", CME_SUCCESS, "abc"},
        {"no line end", "#86)C", CME_SUCCESS, "abc"},
        {"grave accent is empty", "`\n", CME_UU_EMPTY_LINE, ""},
        {"space is empty", " \n", CME_UU_EMPTY_LINE, ""},
        {"line end only is empty", "\n", CME_UU_EMPTY_LINE, ""},
        {"nothing is empty", "", CME_UU_EMPTY_LINE, ""},
        {"one byte of a group", "!80``", CME_SUCCESS, "a"},
        {"two bytes of a group", "\"86(`", CME_SUCCESS, "ab"},
        {"full line, check character not tested", UULine(random45) + "Z\n", CME_SUCCESS, random45},
        {"full line cut at 79", UULine(random45) + std::string(18, ' ') + std::string(30, 'Q'), CME_SUCCESS, random45},
        {"dot-stuffed", ".." + UULine("abcdefghijklmn").substr(1) + "\n", CME_SUCCESS, "abcdefghijklmn"},
        {"tilde reads as caret", "!~~", CME_SUCCESS, "\xfb"},
        {"caret", "!^^", CME_SUCCESS, "\xfb"},
        // 'a' + 'b' + 'c' = 294, 294 mod 64 = 38, and 32 + 38 is "F".
        {"matching check character", "#86)C    F\n", CME_SUCCESS, "abc"},
        {"check character mismatch keeps the bytes", "#86)C    G\n", CME_UU_CHECKSUM, "abc"},
        {"white space where the check character goes", "#86)C    \t\n", CME_SUCCESS, "abc"},
        // 0xFF counts as -1: the sum is -3 and no check character can match it.
        {"negative sum never matches", "#____    `\n", CME_UU_CHECKSUM, "\xff\xff\xff"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        LineResult result = DecodeLine(row.line);
        EXPECT_EQ(row.rc, result.rc);
        EXPECT_EQ(row.bytes, result.bytes);
    }
}

TEST(UULine, LengthBeyondTheLineReadsNoFurtherThanItsBuffer)
{
    // "_" promises 63 bytes, more than 79 characters hold; the rest reads as NUL
    // characters, never from past the 80 bytes the caller must provide.
    char line[80];
    memset(line, '!', sizeof line);
    line[0] = '_';
    unsigned char out[64];
    unsigned int count = 0;
    bodycodecs::UULineBytes(line, out, &count);
    EXPECT_EQ(63u, count);
    EXPECT_EQ('\0', line[79]);
}

TEST(DecodeUULine, WritesTheBytesAndTheResult)
{
    testsupport::ScratchDir scratch;
    std::string path = scratch.file("out");
    {
        CFile out(path.c_str(), CFile::modeCreate | CFile::modeWrite);
        char a[LINE_BUFFER_SIZE] = "#86)C\n";
        EXPECT_EQ(CME_SUCCESS, DecodeUULine(a, &out));
        char b[LINE_BUFFER_SIZE] = "`\n";
        EXPECT_EQ(CME_UU_EMPTY_LINE, DecodeUULine(b, &out));
        char c[LINE_BUFFER_SIZE] = "!80      G\n";
        EXPECT_EQ(CME_UU_CHECKSUM, DecodeUULine(c, &out));
        char d[LINE_BUFFER_SIZE] = "#86)C";
        EXPECT_EQ(CME_SUCCESS, DecodeUULine(d, nullptr));
        out.Close();
    }
    EXPECT_EQ("abca", testsupport::ReadFile(path));
}

TEST(DecodeUULineToBuffer, AppendsAndCounts)
{
    unsigned char buffer[256];
    unsigned long count = 0;
    char a[LINE_BUFFER_SIZE] = "#86)C\n";
    EXPECT_EQ(1, DecodeUULineToBuffer(a, buffer, &count));
    char b[LINE_BUFFER_SIZE] = "`\n";
    EXPECT_EQ(1, DecodeUULineToBuffer(b, buffer, &count));
    char c[LINE_BUFFER_SIZE] = "#86)C    G\n";
    EXPECT_EQ(0, DecodeUULineToBuffer(c, buffer, &count));
    EXPECT_EQ(6u, count);
    EXPECT_EQ("abcabc", std::string(reinterpret_cast<char*>(buffer), count));
}

struct BodyRow
{
    const char* name;
    CMIMEPart::_ENCODE_TYPE encoding;
    const char* message;
    _CME_RC rc;
    const char* output;
    const char* next;
};

TEST(DecodeUUEncode, BodiesAndResults)
{
    const CMIMEPart::_ENCODE_TYPE X = CMIMEPart::ENCODE_X_UUENCODE;
    const CMIMEPart::_ENCODE_TYPE U = CMIMEPart::ENCODE_UUENCODE;
    const BodyRow rows[] = {
        {"begin to end", X, "begin 644 a.txt\n#86)C\n`\nend\n--b\n", CME_SUCCESS, "abc", "--b\n"},
        {"text before begin", X, "hello\n\nBEGIN 644 a.txt\n#86)C\n`\nend\n", CME_SUCCESS, "abc", ""},
        {"four mode digits", X, "begin 0644 a.txt\n#86)C\n`\nend\n", CME_UU_BAD_BEGIN, "", "#86)C\n`\nend\n"},
        {"mode not octal", X, "begin 64x a.txt\n#86)C\n", CME_UU_BAD_MODE, "", "#86)C\n"},
        {"mode with 8", X, "begin 648 a.txt\n", CME_UU_BAD_MODE, "", ""},
        {"two spaces before the name", X, "begin 644  a.txt\n", CME_UU_BAD_BEGIN, "", ""},
        {"no name", X, "begin 644\n#86)C\n", CME_UU_BAD_BEGIN, "", "#86)C\n"},
        {"no space", X, "beginning\n", CME_UU_BAD_MODE, "", ""},
        {"END is not end", X, "begin 644 a.txt\n#86)C\n`\nEND\n--b\n", CME_UU_BAD_DATA, "abc", "--b\n"},
        {"input ends before end", X, "begin 644 a.txt\n#86)C\n", CME_UU_BAD_DATA, "abc", ""},
        {"input ends after the empty line", X, "begin 644 a.txt\n#86)C\n`\n", CME_UU_BAD_DATA, "abc", ""},
        {"delimiter before begin", X, "text\n--b\nbegin 644 a.txt\n", CME_UU_NO_BEGIN, "", "begin 644 a.txt\n"},
        {"delimiter in the data", X, "begin 644 a.txt\n#86)C\n--B tail\n#86)C\n", CME_SUCCESS, "abc", "#86)C\n"},
        {"bad check character", X, "begin 644 a.txt\n#86)C    G\n#86)C\n", CME_UU_BAD_DATA, "abc", "#86)C\n"},
        {"no data at all", X, "hello\n", CME_SUCCESS, "", ""},
        {"bare lines", U, "#86)C\n#86)C\n--b\nx\n", CME_SUCCESS, "abcabc", "x\n"},
        {"white-space lines before bare lines", U, "\n #86)C\n#86)C\n`\n#86)C\n--b--\n", CME_SUCCESS, "abcabc", ""},
        {"bare lines to the end", U, "#86)C\n", CME_SUCCESS, "abc", ""},
        {"bare line bad", U, "#86)C    G\n#86)C\n", CME_UU_BAD_DATA, "abc", "#86)C\n"},
        {"bare delimiter first", U, "--b\n#86)C\n", CME_UU_NO_BEGIN, "", "#86)C\n"},
        // "b" promises two bytes from "egin" (values 5, 7, 9, 14: 0x14 and "r"); the check
        // position holds a space.
        {"begin line decoded as data", U, "begin 644 a.txt\n", CME_SUCCESS, "\x14r", ""},
    };
    for (const BodyRow& row : rows)
    {
        for (Ends ends : kBothEnds)
        {
            SCOPED_TRACE(std::string(row.name) + " " + decodetest::EndsName(ends));
            testsupport::ScratchDir scratch;
            Tree tree;
            tree.leaf()->SetEncodeType(row.encoding);
            DecodeRun run =
                RunDecoder(&CUnpacker::DecodeUUEncode, tree.leaf(), WithEnds(row.message, ends), scratch.mkdir("work"));
            EXPECT_EQ(row.rc, run.rc);
            EXPECT_EQ(row.output, run.output);
            EXPECT_EQ(WithEnds(row.next, ends), run.next);
            EXPECT_FALSE(run.dataFile.empty());
        }
    }
}

TEST(DecodeUUEncode, TheFileTakesTheNameFromTheBeginLine)
{
    for (Ends ends : kBothEnds)
    {
        SCOPED_TRACE(decodetest::EndsName(ends));
        testsupport::ScratchDir scratch;
        std::string work = scratch.mkdir("work");
        Tree tree;
        tree.leaf()->SetEncodeType(CMIMEPart::ENCODE_X_UUENCODE);
        DecodeRun run = RunDecoder(&CUnpacker::DecodeUUEncode, tree.leaf(),
                                   WithEnds("begin 644 a.txt\n#86)C\n`\nend\n--b\n", ends), work);
        EXPECT_EQ(CME_SUCCESS, run.rc);
        EXPECT_STREQ("a.txt", tree.leaf()->GetSuggestName());
        EXPECT_EQ(work + "/a.txt", run.dataFile);
        EXPECT_EQ("abc", run.output);
        EXPECT_EQ("a.txt\n", testsupport::ListTree(work));
    }
}

TEST(DecodeUUEncode, AnExistingFileIsNotReplaced)
{
    testsupport::ScratchDir scratch;
    std::string work = scratch.mkdir("work");
    testsupport::WriteFile(work + "/a.txt", "keep");
    Tree tree;
    tree.leaf()->SetEncodeType(CMIMEPart::ENCODE_X_UUENCODE);
    DecodeRun run = RunDecoder(&CUnpacker::DecodeUUEncode, tree.leaf(), "begin 644 a.txt\n#86)C\n`\nend\n--b\n", work);
    EXPECT_EQ(CME_SUCCESS, run.rc);
    EXPECT_EQ(work + "/a (2).txt", run.dataFile);
    EXPECT_EQ("abc", run.output);
    EXPECT_EQ("keep", testsupport::ReadFile(work + "/a.txt"));
}

TEST(DecodeUUEncode, ASuggestedNameIsKept)
{
    testsupport::ScratchDir scratch;
    std::string work = scratch.mkdir("work");
    Tree tree;
    tree.leaf()->SetEncodeType(CMIMEPart::ENCODE_X_UUENCODE);
    tree.leaf()->SetSuggestName("given.bin");
    DecodeRun run = RunDecoder(&CUnpacker::DecodeUUEncode, tree.leaf(), "begin 644 a.txt\n#86)C\n`\nend\n--b\n", work);
    EXPECT_EQ(CME_SUCCESS, run.rc);
    EXPECT_STREQ("given.bin", tree.leaf()->GetSuggestName());
    EXPECT_EQ(work + "/given.bin", run.dataFile);
    EXPECT_EQ("abc", run.output);
}

std::set<std::string> Lines(const std::string& text)
{
    std::set<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.insert(line);
    return lines;
}

TEST(DecodeUUEncode, HostileNamesStayInTheWorkDirectory)
{
    struct Row
    {
        const char* name;     // as on the "begin" line
        const char* expected; // file in the work directory; null: the work-file name stays
    } rows[] = {
        {"../x", "x"},
        {"../../../../x", "x"},
        {"/etc/x", "x"},
        {"C:\\x", "x"},
        {"C:x", "x"},
        {"..\\..\\y", "y"},
        {"a/../../z", "z"},
        {"dir/", nullptr},
        {".", nullptr},
        {"..", nullptr},
        {"../..", nullptr},
        {"x:y*z?.txt", "y_z_.txt"},
        {"name:x*y?.txt", "name_x_y_.txt"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        testsupport::ScratchDir scratch;
        std::string work = scratch.mkdir("l1/l2/work");
        std::string before = testsupport::ListTree(scratch.path());
        Tree tree;
        tree.leaf()->SetEncodeType(CMIMEPart::ENCODE_X_UUENCODE);
        std::string message = std::string("begin 644 ") + row.name + "\n#86)C\n`\nend\n--b\n";
        DecodeRun run = RunDecoder(&CUnpacker::DecodeUUEncode, tree.leaf(), message, work);
        EXPECT_EQ(CME_SUCCESS, run.rc);
        EXPECT_EQ("abc", run.output);
        ASSERT_EQ(0u, run.dataFile.rfind(work + "/", 0)) << run.dataFile;
        EXPECT_EQ(std::string::npos, run.dataFile.find('/', work.size() + 1)) << run.dataFile;
        if (row.expected != nullptr)
        {
            EXPECT_EQ(work + "/" + row.expected, run.dataFile);
        }

        // Everything new lies inside the work directory, and it is one file.
        std::set<std::string> old = Lines(before);
        int added = 0;
        for (const std::string& entry : Lines(testsupport::ListTree(scratch.path())))
        {
            if (old.count(entry) != 0)
                continue;
            EXPECT_EQ(0u, entry.rfind("l1/l2/work/", 0)) << entry;
            ++added;
        }
        EXPECT_EQ(1, added);
    }
}

TEST(DecodeUUEncode, AnEmptyNameIsRefused)
{
    testsupport::ScratchDir scratch;
    std::string work = scratch.mkdir("l1/work");
    std::string before = testsupport::ListTree(scratch.path());
    Tree tree;
    tree.leaf()->SetEncodeType(CMIMEPart::ENCODE_X_UUENCODE);
    DecodeRun run = RunDecoder(&CUnpacker::DecodeUUEncode, tree.leaf(), "begin 644 \n#86)C\n`\nend\n", work);
    EXPECT_EQ(CME_UU_BAD_BEGIN, run.rc);
    EXPECT_STREQ("", tree.leaf()->GetSuggestName());
    EXPECT_EQ(0u, run.dataFile.rfind(work + "/", 0));
}

} // namespace
