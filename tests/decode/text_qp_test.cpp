// The text and quoted-printable body decoders.
#include "decode/harness.h"
#include "extract/bodycodecs.h"
#include "extract/decoders.h"

#include <gtest/gtest.h>

namespace
{

using decodetest::DecodeRun;
using decodetest::Ends;
using decodetest::RunDecoder;
using decodetest::Tree;
using decodetest::WithEnds;

const Ends kBothEnds[] = {Ends::LF, Ends::CRLF};

struct BodyRow
{
    const char* name;
    const char* message; // body lines ("\n" ends), then whatever follows the body
    const char* output;  // the decoded file
    _CME_RC rc;
    const char* line; // line buffer afterwards ("\n" ends); null: the input ended, not checked
    const char* next; // unread rest of the message ("\n" ends)
};

void CheckRows(decodetest::Decoder decoder, const BodyRow* rows, size_t count)
{
    for (size_t i = 0; i < count; ++i)
    {
        const BodyRow& row = rows[i];
        for (Ends ends : kBothEnds)
        {
            SCOPED_TRACE(std::string(row.name) + " " + decodetest::EndsName(ends));
            testsupport::ScratchDir scratch;
            Tree tree;
            DecodeRun run = RunDecoder(decoder, tree.leaf(), WithEnds(row.message, ends), scratch.mkdir("work"));
            EXPECT_EQ(row.rc, run.rc);
            EXPECT_EQ(row.output, run.output);
            if (row.line != nullptr)
            {
                EXPECT_EQ(row.line, run.line);
            }
            EXPECT_EQ(WithEnds(row.next, ends), run.next);
            EXPECT_FALSE(run.dataFile.empty());
        }
    }
}

TEST(DecodeText, BodiesUpToTheirDelimiter)
{
    const BodyRow rows[] = {
        {"hello", "Hello\n--b\nnext\n", "Hello\r\n", CME_SUCCESS, "--b\n", "next\n"},
        {"two lines", "a\nb\n--b--\n", "a\r\nb\r\n", CME_SUCCESS, "--b--\n", ""},
        {"empty body", "--b\nx\n", "", CME_SUCCESS, "--b\n", "x\n"},
        {"empty lines kept", "\n\nx\n\n--b\n", "\r\n\r\nx\r\n\r\n", CME_SUCCESS, "--b\n", ""},
        {"odd case and trailing text", "a\n--B  tail\n", "a\r\n", CME_SUCCESS, "--B  tail\n", ""},
        {"outer delimiter", "a\n--outer--\n", "a\r\n", CME_SUCCESS, "--outer--\n", ""},
        {"no delimiter", "a\nb", "a\r\nb", CME_SUCCESS, nullptr, ""},
        {"not a delimiter", " --b\n-b\n--b\n", " --b\r\n-b\r\n", CME_SUCCESS, "--b\n", ""},
    };
    CheckRows(&CUnpacker::DecodeText, rows, sizeof(rows) / sizeof(rows[0]));
}

TEST(DecodeText, LinesLongerThanOneReadArriveWhole)
{
    for (size_t length : {2045u, 2046u, 2047u, 4093u})
    {
        SCOPED_TRACE(length);
        testsupport::ScratchDir scratch;
        Tree tree;
        std::string text(length, 'x');
        DecodeRun run = RunDecoder(&CUnpacker::DecodeText, tree.leaf(), text + "\n--b\n", scratch.mkdir("work"));
        EXPECT_EQ(text + "\r\n", run.output);
        EXPECT_EQ("--b\n", run.line);
    }
}

TEST(QPEscape, EveryKindOfEscape)
{
    struct Row
    {
        const char* text;
        int result;
        int byte; // -1: none
    } rows[] = {
        {"=3D", 3, 0x3D}, {"=00", 3, 0x00}, {"=FF", 3, 0xFF}, {"=A9rest", 3, 0xA9}, {"=\n", 2, -1},
        {"=", 1, -1},     {"=3d", 0, -1},   {"=ff", 0, -1},   {"=G0", 0, -1},       {"=3", 0, -1},
        {"=3\n", 0, -1},  {"= \n", 0, -1},  {"=\r\n", 0, -1}, {"==", 0, -1},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.text);
        unsigned char byte = 0x55;
        EXPECT_EQ(row.result, bodycodecs::QPEscape(row.text, &byte));
        if (row.byte >= 0)
            EXPECT_EQ(row.byte, byte);
        else
            EXPECT_EQ(0x55, byte);
    }
}

TEST(DecodeQPEscape, WritesTheByteToTheFile)
{
    testsupport::ScratchDir scratch;
    std::string path = scratch.file("out");
    {
        CFile out(path.c_str(), CFile::modeCreate | CFile::modeWrite);
        EXPECT_EQ(3, DecodeQPEscape("=41", &out));
        EXPECT_EQ(2, DecodeQPEscape("=\n", &out));
        EXPECT_EQ(0, DecodeQPEscape("=4g", &out));
        EXPECT_EQ(3, DecodeQPEscape("=0A", &out));
        EXPECT_EQ(3, DecodeQPEscape("=42", nullptr));
        out.Close();
    }
    EXPECT_EQ("A\n", testsupport::ReadFile(path));
}

TEST(DecodeQuotedPrintable, BodiesUpToTheirDelimiter)
{
    const BodyRow rows[] = {
        {"soft break joins", "a=3Db=\nc\n--b\n", "a=bc", CME_SUCCESS, "--b\n", ""},
        {"line ends become CR LF", "a\nb\n--b\n", "a\r\nb", CME_SUCCESS, "--b\n", ""},
        {"lower-case escape", "=3d\n--b\n", "", CME_INVALID_ENCODING, "=3d\n", "--b\n"},
        {"bad escape keeps what came before", "ok\nx=ZZ\n--b\n", "ok\r\nx", CME_INVALID_ENCODING, "x=ZZ\n", "--b\n"},
        {"empty body", "--b\nx\n", "", CME_SUCCESS, "--b\n", "x\n"},
        {"one byte before the delimiter", "=41=\n--b\n", "", CME_SUCCESS, "--b\n", ""},
        {"trailing spaces copied", "a  \n--b\n", "a  ", CME_SUCCESS, "--b\n", ""},
        {"escaped CR LF", "a=0D=0A=\nb\n--b\n", "a\r\nb", CME_SUCCESS, "--b\n", ""},
        {"outer close delimiter", "x\n--outer--\nrest\n", "x", CME_SUCCESS, "--outer--\n", "rest\n"},
        {"no delimiter keeps the last line end", "x\ny\n", "x\r\ny\r\n", CME_SUCCESS, nullptr, ""},
        {"= at the very end", "x\ny=", "x\r\ny", CME_SUCCESS, "y=", ""},
        {"delimiter in odd case with text", "x\n--B--  end\n", "x", CME_SUCCESS, "--B--  end\n", ""},
    };
    CheckRows(&CUnpacker::DecodeQuotedPrintable, rows, sizeof(rows) / sizeof(rows[0]));
}

TEST(DecodeQuotedPrintable, EmbeddedNulBytesThroughEscapes)
{
    // "all escapes" above only compares up to the first NUL of its expected text.
    testsupport::ScratchDir scratch;
    Tree tree;
    DecodeRun run =
        RunDecoder(&CUnpacker::DecodeQuotedPrintable, tree.leaf(), "=00=01=7F=80=FF\n--b\n", scratch.mkdir("work"));
    EXPECT_EQ(std::string("\0\1\x7f\x80\xff", 5), run.output);
}

} // namespace
