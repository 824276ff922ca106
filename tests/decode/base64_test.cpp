// The base64 body decoder and its resumable line step.
#include "decode/harness.h"
#include "extract/bodycodecs.h"
#include "extract/decoders.h"

#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace
{

using decodetest::DecodeRun;
using decodetest::Ends;
using decodetest::RunDecoder;
using decodetest::Tree;
using decodetest::WithEnds;

const Ends kBothEnds[] = {Ends::LF, Ends::CRLF};

// Plain RFC 4648 encoder, independent of the library, for building fixtures.
std::string Encode(const std::string& data, size_t lineLength = 76)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t i = 0; i < data.size(); i += 3)
    {
        unsigned v = static_cast<unsigned char>(data[i]) << 16;
        if (i + 1 < data.size())
            v |= static_cast<unsigned char>(data[i + 1]) << 8;
        if (i + 2 < data.size())
            v |= static_cast<unsigned char>(data[i + 2]);
        text += alphabet[(v >> 18) & 63];
        text += alphabet[(v >> 12) & 63];
        text += i + 1 < data.size() ? alphabet[(v >> 6) & 63] : '=';
        text += i + 2 < data.size() ? alphabet[v & 63] : '=';
    }
    std::string lines;
    for (size_t i = 0; i < text.size(); i += lineLength)
        lines += text.substr(i, lineLength) + "\n";
    return lines;
}

std::string RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng() & 0xFF);
    return s;
}

TEST(DecodeBase64Group, ShortGroupsAndTheAlphabet)
{
    struct Row
    {
        const char* four;
        int count;
        const char* bytes;
    } rows[] = {
        {"SGVs", 3, "Hel"},          {"bG8=", 2, "lo"},           {"SA==", 1, "H"}, {"S===", 0, ""}, {"=AAA", 0, ""},
        {"////", 3, "\xff\xff\xff"}, {"++++", 3, "\xfb\xef\xbe"}, {"SG*s", 1, "H"}, {"S!Vs", 0, ""},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.four);
        unsigned char out[3] = {0, 0, 0};
        EXPECT_EQ(row.count, bodycodecs::Base64Quad(row.four, out));
        EXPECT_EQ(std::string(row.bytes), std::string(reinterpret_cast<char*>(out), static_cast<size_t>(row.count)));
        EXPECT_EQ(row.count > 0 ? TRUE : FALSE, DecodeBase64Group(row.four, out));
    }
}

TEST(Base64Value, TheAlphabetAndNothingElse)
{
    std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int c = 0; c < 256; ++c)
    {
        size_t at = alphabet.find(static_cast<char>(c));
        int expected = c != 0 && at != std::string::npos ? static_cast<int>(at) : 255;
        EXPECT_EQ(expected, bodycodecs::Base64Value(static_cast<unsigned char>(c))) << c;
    }
}

// Feeds the lines of text (without line ends) to the line step and collects the bytes.
std::string StepLines(const std::vector<std::string>& lines, bodycodecs::Base64State& state,
                      const testsupport::ScratchDir& scratch)
{
    std::string path = scratch.file("step.out");
    {
        CFile out(path.c_str(), CFile::modeCreate | CFile::modeWrite);
        bodycodecs::COutputSink sink(&out);
        for (const std::string& line : lines)
            bodycodecs::Base64Line(state, line.c_str(), sink);
        sink.Finish();
        out.Close();
    }
    return testsupport::ReadFile(path);
}

TEST(Base64Line, GroupsSplitAtEveryPointAcrossLines)
{
    testsupport::ScratchDir scratch;
    std::string data = RandomBytes(300, 7);
    std::string text = Encode(data, 100000);
    text.pop_back();
    // Every piece size from 1 to 9 characters: groups cut at every offset.
    for (size_t piece = 1; piece <= 9; ++piece)
    {
        SCOPED_TRACE(piece);
        std::vector<std::string> lines;
        for (size_t i = 0; i < text.size(); i += piece)
            lines.push_back(text.substr(i, piece));
        bodycodecs::Base64State state;
        EXPECT_EQ(data, StepLines(lines, state, scratch));
        EXPECT_EQ(0, state.carryLength);
    }
}

TEST(Base64Line, CommentsSpanLinesAndTheCarryWaits)
{
    testsupport::ScratchDir scratch;
    bodycodecs::Base64State second;
    EXPECT_EQ("Hello", StepLines({"SG", "V(a comment", "still (inside", "end)sbG", "8="}, second, scratch));
    EXPECT_TRUE(second.ended);
    EXPECT_FALSE(second.inComment);
}

TEST(DecodeBase64, BodiesUpToTheirDelimiter)
{
    struct Row
    {
        const char* name;
        const char* message;
        const char* output;
        _CME_RC rc;
        const char* line; // without its line end, as the decoder cuts it
        const char* next;
    } rows[] = {
        {"two lines", "SGVs\nbG8=\n--b\nnext\n", "Hello", CME_SUCCESS, "--b", "next\n"},
        {"group spans the line end", "SGV\nsbG8=\n--b\n", "Hello", CME_SUCCESS, "--b", ""},
        {"line after padding ignored", "SGVsbG8=\nQUJD\n--b\n", "Hello", CME_SUCCESS, "--b", ""},
        {"groups after padding on the same line", "SGVsbG8=QUJD\n--b\n", "HelloABC", CME_SUCCESS, "--b", ""},
        {"comment", "SGV(comment)sbG8=\n--b\n", "Hello", CME_SUCCESS, "--b", ""},
        {"delimiter inside a group", "SGVsbG\n--b\n", "Hel", CME_INVALID_ENCODING, "--b", ""},
        {"junk dropped", "S G V s * b G 8 =\n--b\n", "Hello", CME_SUCCESS, "--b", ""},
        {"empty body", "--b\nx\n", "", CME_SUCCESS, "--b", "x\n"},
        {"close delimiter in odd case", "QUJD\n--B-- trailer\n", "ABC", CME_SUCCESS, "--B-- trailer", ""},
        {"outer delimiter", "QUJD\n--outer\n", "ABC", CME_SUCCESS, "--outer", ""},
        {"end without delimiter drops the carry", "QUJDRA", "ABC", CME_SUCCESS, nullptr, ""},
        {"carry after padding is no error", "SGVsbG8=\nQU\n--b\n", "Hello", CME_SUCCESS, "--b", ""},
    };
    for (const Row& row : rows)
    {
        for (Ends ends : kBothEnds)
        {
            SCOPED_TRACE(std::string(row.name) + " " + decodetest::EndsName(ends));
            testsupport::ScratchDir scratch;
            Tree tree;
            DecodeRun run =
                RunDecoder(&CUnpacker::DecodeBase64, tree.leaf(), WithEnds(row.message, ends), scratch.mkdir("work"));
            EXPECT_EQ(row.rc, run.rc);
            EXPECT_EQ(row.output, run.output);
            if (row.line != nullptr)
            {
                EXPECT_EQ(row.line, run.line);
            }
            EXPECT_EQ(WithEnds(row.next, ends), run.next);
        }
    }
}

TEST(DecodeBase64, EveryByteValueRoundTrips)
{
    for (size_t lineLength : {4u, 76u, 75u, 2044u})
    {
        for (Ends ends : kBothEnds)
        {
            SCOPED_TRACE(std::to_string(lineLength) + " " + decodetest::EndsName(ends));
            testsupport::ScratchDir scratch;
            Tree tree;
            std::string data = testsupport::AllBytes() + testsupport::AllBytes().substr(1);
            DecodeRun run = RunDecoder(&CUnpacker::DecodeBase64, tree.leaf(),
                                       WithEnds(Encode(data, lineLength) + "--b--\n", ends), scratch.mkdir("work"));
            EXPECT_EQ(CME_SUCCESS, run.rc);
            EXPECT_EQ(data, run.output);
        }
    }
}

TEST(DecodeBase64, LargeBodyAcrossManyBufferRefills)
{
    // About 400 KiB of text: lines and groups straddle the reader's buffer many times,
    // and the decoded bytes pass the writer's chunking several times.
    testsupport::ScratchDir scratch;
    Tree tree;
    std::string data = RandomBytes(300 * 1024 + 7, 11);
    for (size_t lineLength : {76u, 73u})
    {
        SCOPED_TRACE(lineLength);
        tree.leaf()->SetDataFile("");
        DecodeRun run = RunDecoder(&CUnpacker::DecodeBase64, tree.leaf(), Encode(data, lineLength) + "--b\n",
                                   scratch.mkdir("work" + std::to_string(lineLength)));
        EXPECT_EQ(CME_SUCCESS, run.rc);
        EXPECT_TRUE(run.output == data) << "decoded body differs";
    }
}

} // namespace
