// The quick paths of the body decoders against the general ones: the vector base64 loops
// against the portable loop, whole-line QP and uuencode against their line-by-line steps,
// and the buffered line runs against ReadString.
#include "codec/base64block.h"
#include "codec/qpblock.h"
#include "extract/bodycodecs.h"
#include "mimeengine/unpack/parseutilities.h"
#include "support/testsupport.h"

#include <cstring>
#include <gtest/gtest.h>
#include <random>

namespace
{

using base64block::Level;

std::string Alphabet(std::mt19937& gen, size_t n)
{
    static const char a[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string s(n, 'A');
    for (char& c : s)
        c = a[gen() % 64];
    return s;
}

// Rows: length of the text, position of a character outside the alphabet (-1 none), that
// character. Every version must use the same characters and give the same bytes.
TEST(Base64Blocks, SimdMatchesScalar)
{
    const struct
    {
        size_t length;
        int bad;
        char c;
    } rows[] = {{0, -1, 0},    {4, -1, 0},       {16, -1, 0},   {28, -1, 0},  {32, -1, 0},    {76, -1, 0},
                {100, -1, 0},  {1024, -1, 0},    {32, 31, '='}, {64, 0, '-'}, {76, 40, '\r'}, {76, 75, '\0'},
                {96, 33, ' '}, {96, 50, '\x80'}, {80, 16, '.'}, {48, 47, '~'}};
    std::mt19937 gen(7);
    for (const auto& row : rows)
    {
        std::string text = Alphabet(gen, row.length);
        if (row.bad >= 0)
            text[static_cast<size_t>(row.bad)] = row.c;
        std::vector<unsigned char> want(row.length + 8), got(row.length + 8);
        const size_t used = base64block::Decode(text.data(), text.size(), want.data(), Level::Scalar);
        EXPECT_EQ(used, row.bad < 0 ? row.length / 4 * 4 : static_cast<size_t>(row.bad) / 4 * 4);
        for (Level level : {Level::Sse41, Level::Avx2})
        {
            EXPECT_EQ(used, base64block::Decode(text.data(), text.size(), got.data(), level)) << row.length;
            EXPECT_TRUE(std::equal(want.begin(), want.begin() + used / 4 * 3, got.begin())) << row.length;
        }
        // Encoding back gives the text again, whichever version encodes.
        for (Level level : {Level::Scalar, Level::Sse41, Level::Avx2})
        {
            std::string again(used + 4, '?');
            again.resize(base64block::Encode(want.data(), used / 4 * 3, &again[0], level));
            EXPECT_EQ(text.substr(0, used), again);
        }
    }
}

TEST(Base64Blocks, EncodePadding)
{
    const std::pair<std::string, std::string> rows[] = {
        {"", ""}, {"M", "TQ=="}, {"Ma", "TWE="}, {"Man", "TWFu"}, {"\xff\xfe\xfd", "//79"}};
    for (const auto& [in, want] : rows)
        for (Level level : {Level::Scalar, Level::Sse41, Level::Avx2})
        {
            char out[8];
            size_t n = base64block::Encode(reinterpret_cast<const unsigned char*>(in.data()), in.size(), out, level);
            EXPECT_EQ(want, std::string(out, n));
        }
}

// Rows: line (without its line end), bytes, or "general" for lines left to the general path.
TEST(QPBlocks, WholeLines)
{
    const std::pair<std::string, std::string> rows[] = {{"", "\r\n"},
                                                        {"plain text", "plain text\r\n"},
                                                        {"caf=C3=A9", "caf\xc3\xa9\r\n"},
                                                        {"soft=", "soft"},
                                                        {"=41=42", "AB\r\n"},
                                                        {"lone\r", "lone\r\n"},
                                                        {"=0D\r", "\r\r\n"},
                                                        {"a=3D=\r", "general"},
                                                        {"x=4", "general"},
                                                        {"bad=a1", "general"},
                                                        {"=G0", "general"},
                                                        {std::string("nul\0x", 5), "general"},
                                                        {"twenty-four plain chars=", "twenty-four plain chars"},
                                                        {"12345678=41", "12345678A\r\n"}};
    for (const auto& [line, want] : rows)
    {
        unsigned char out[64];
        size_t n = 0;
        const bool quick = qpblock::DecodeLine(line.data(), line.size(), out, &n);
        EXPECT_EQ(want, quick ? std::string(reinterpret_cast<char*>(out), n) : "general") << line;
    }
}

TEST(UUBlocks, WholeLinesMatchLineSteps)
{
    std::mt19937 gen(3);
    for (int i = 0; i < 2000; ++i)
    {
        std::string text(gen() % 90, ' ');
        for (char& c : text)
            c = static_cast<char>(gen() % 8 == 0 ? "\r\0~`.\t \x7f"[gen() % 8] : 32 + gen() % 64);
        char line[LINE_BUFFER_SIZE] = {};
        memcpy(line, text.data(), text.size());
        line[text.size()] = '\n';
        unsigned char want[64], got[64];
        unsigned int wantCount = 0, gotCount = 0;
        EXPECT_EQ(bodycodecs::UULineBytes(line, want, &wantCount),
                  bodycodecs::UUTextBytes(text.data(), text.size(), got, &gotCount));
        ASSERT_EQ(wantCount, gotCount);
        EXPECT_EQ(0, memcmp(want, got, wantCount)) << text;
    }
}

// Lines of every kind across the 64 KiB buffer: whole runs, CR LF split by a fill, lone CRs,
// NULs and lines at and past the 2046-character limit, read both ways from the same file.
TEST(LineRuns, MatchReadString)
{
    std::mt19937 gen(11);
    std::string data;
    const size_t lengths[] = {0, 1, 75, 76, 2044, 2045, 2046, 3000, 65535};
    while (data.size() < 300 * 1024)
    {
        std::string line(lengths[gen() % 9] + gen() % 3, 'x');
        for (char& c : line)
            c = gen() % 50 == 0 ? "\r\0-"[gen() % 3] : static_cast<char>('a' + gen() % 26);
        data += line + (gen() % 2 ? "\r\n" : "\n");
    }
    testsupport::ScratchDir dir;
    const std::string path = dir.file("lineruns.txt");
    testsupport::WriteFile(path, data);
    for (UINT mode : {0u, static_cast<UINT>(CFile::typeBinary)})
    {
        CStdioFile plain(path.c_str(), CFile::modeRead | mode), quick(path.c_str(), CFile::modeRead | mode);
        bodycodecs::CLineRun run(&quick);
        char a[LINE_BUFFER_SIZE], b[LINE_BUFFER_SIZE];
        for (int k = 0;; ++k)
        {
            const char* text = nullptr;
            size_t n = 0;
            char* got = nullptr;
            if (k % 3 != 0 && run.Peek(&text, &n))
            {
                memcpy(b, text, n);
                memcpy(b + n, "\n", 2);
                run.Take();
                got = b;
            }
            else
                got = run.ReadString(b);
            char* want = plain.ReadString(a, LINE_READ_LIMIT);
            ASSERT_EQ(want == nullptr, got == nullptr);
            if (want == nullptr)
                break;
            ASSERT_EQ(0, memcmp(want, got, strlen(want) + 1)) << k;
            ASSERT_EQ(plain.GetPosition(), quick.GetPosition()) << k;
        }
    }
}

} // namespace
