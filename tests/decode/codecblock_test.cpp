// The quick paths of the body decoders: the vector base64 loops against the portable loop,
// whole-line QP, and the buffered line runs against ReadString. fuzz/codec_fuzz.cpp (with
// its saved inputs, replayed by CTest) checks whole-line QP and uuencode against the line steps.
#include "codec/base64block.h"
#include "codec/qpblock.h"
#include "extract/bodycodecs.h"
#include "mimeengine/unpack/parseutilities.h"
#include "support/testsupport.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <random>

namespace
{

using base64block::Level;

// Rows: length of the text, position of a character outside the alphabet (-1 none), that
// character (0xC1 and 0xE1 are "A" and "a" with bit 7 set). Every version must use the same
// characters and give the same bytes.
TEST(Base64Blocks, SimdMatchesScalar)
{
    const int rows[][3] = {{0, -1, 0},    {4, -1, 0},     {16, -1, 0},   {28, -1, 0},    {32, -1, 0},    {76, -1, 0},
                           {100, -1, 0},  {1024, -1, 0},  {32, 31, '='}, {64, 0, '-'},   {76, 40, '\r'}, {76, 75, 0},
                           {96, 33, ' '}, {96, 50, 0x80}, {80, 16, '.'}, {96, 20, 0xC1}, {76, 70, 0xE1}};
    std::mt19937 gen(7);
    for (const auto& row : rows)
    {
        const size_t length = static_cast<size_t>(row[0]);
        std::string text(length, 'A');
        for (char& c : text)
            c = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[gen() % 64];
        if (row[1] >= 0)
            text[static_cast<size_t>(row[1])] = static_cast<char>(row[2]);
        std::vector<unsigned char> want(length + 8), got(length + 8);
        const size_t used = base64block::Decode(text.data(), text.size(), want.data(), Level::Scalar);
        EXPECT_EQ(used, row[1] < 0 ? length / 4 * 4 : static_cast<size_t>(row[1]) / 4 * 4);
        for (Level level : {Level::Sse41, Level::Avx2, Level::Avx512Vbmi})
        {
            EXPECT_EQ(used, base64block::Decode(text.data(), text.size(), got.data(), level)) << length;
            EXPECT_TRUE(std::equal(want.begin(), want.begin() + used / 4 * 3, got.begin())) << length;
        }
        // Encoding back gives the text again, whichever version encodes.
        for (Level level : {Level::Scalar, Level::Sse41, Level::Avx2, Level::Avx512Vbmi})
        {
            std::string again(used + 4, '?');
            again.resize(base64block::Encode(want.data(), used / 4 * 3, &again[0], level));
            EXPECT_EQ(text.substr(0, used), again);
        }
    }
}

// Whole lines of 54 bytes, 0 to 5 of them, through each version at every alignment of the
// bytes and of the text up to 64: each line's characters as the portable encoder gives
// them, then CR LF.
TEST(Base64Blocks, LinesMatchScalar)
{
    std::mt19937 gen(9);
    for (size_t lines = 0; lines <= 5; ++lines)
        for (size_t align = 0; align < 64; ++align)
        {
            std::vector<unsigned char> in(align + 54 * lines + 10);
            for (unsigned char& b : in)
                b = static_cast<unsigned char>(gen());
            std::string want;
            for (size_t line = 0; line < lines; ++line)
            {
                std::string text(72, '?');
                base64block::Encode(&in[align + 54 * line], 54, &text[0], Level::Scalar);
                want += text + "\r\n";
            }
            for (Level level : {Level::Scalar, Level::Sse41, Level::Avx2, Level::Avx512Vbmi})
            {
                std::string got(align + 74 * lines + 6, '?');
                base64block::EncodeLines54(&in[align], lines, &got[align], level);
                EXPECT_EQ(want, got.substr(align, 74 * lines)) << lines << " " << align;
            }
        }
}

// Uuencoded groups, 0 to 24 of them, through each version: the same bytes, nothing written
// past 3 * groups + 1, and FALSE exactly where a CR, LF, "~" or NUL (not a byte from 0x80 up,
// which is none of them) stands at one of the places, each place in turn.
TEST(UUGroups, SimdMatchesScalar)
{
    std::mt19937 gen(3);
    for (size_t groups = 0; groups <= 24; ++groups)
        for (int special = -1; special < static_cast<int>(4 * groups); ++special)
        {
            std::string text(4 * groups, ' ');
            for (char& c : text)
                c = static_cast<char>(' ' + gen() % 64);
            if (special >= 0)
                text[static_cast<size_t>(special)] = "\r\n~\0\x8d\xfe"[special % 6];
            const bool plain = special < 0 || special % 6 >= 4;
            std::vector<unsigned char> want(3 * groups + 8, 0xAA), got(3 * groups + 8, 0xAA);
            EXPECT_EQ(plain, base64block::DecodeUUGroups(text.data(), groups, want.data(), Level::Scalar));
            EXPECT_EQ(plain, base64block::DecodeUUGroups(text.data(), groups, got.data(), Level::Sse41)) << special;
            EXPECT_TRUE(std::equal(want.begin(), want.begin() + 3 * groups, got.begin())) << groups;
            EXPECT_TRUE(std::all_of(got.begin() + 3 * groups + 1, got.end(), [](unsigned char b) { return b == 0xAA; }))
                << groups;
        }
}

// tests/data/decode/qpblock.tsv: a line without its line end, and its bytes or "general".
using QPBlocks = ::testing::TestWithParam<testsupport::Row>;
TEST_P(QPBlocks, Row)
{
    const testsupport::Row& row = GetParam();
    for (bool vector : {false, true})
    {
        unsigned char out[256];
        size_t n = 0;
        const bool quick = qpblock::DecodeLine(row[0].data(), row[0].size(), out, &n, vector);
        EXPECT_EQ(row[1], quick ? std::string(reinterpret_cast<char*>(out), n) : "general") << row.line;
    }
}
INSTANTIATE_TEST_SUITE_P(Table, QPBlocks, ::testing::ValuesIn(testsupport::ReadTable("decode/qpblock.tsv")),
                         testsupport::CaseName());

// The vector path against the portable loop, at every length up to 80 and every alignment
// of the text and of the output: plain bytes with escapes and runs of escapes, a final "=" or
// CR; one line in four also has a bad escape, a lone "=" or a NUL somewhere.
TEST(QPVector, MatchesPortable)
{
    std::mt19937 gen(5);
    const std::string pieces[] = {"=3D", "=C3=A9", "=0D", "\r", " ", "=", "=4", "=g1", std::string(1, '\0')};
    size_t quick = 0;
    for (size_t length = 0; length <= 80; ++length)
        for (size_t align = 0; align < 16; ++align)
        {
            const unsigned kinds = gen() % 4 == 0 ? 9 : 5;
            std::string line;
            while (line.size() < length)
            {
                const unsigned pick = gen() % 30;
                line += pick < kinds ? pieces[pick] : std::string(1, static_cast<char>('a' + pick));
            }
            line.resize(length);
            if (length > 0 && gen() % 3 == 0)
                line.back() = gen() % 2 ? '=' : '\r';
            std::vector<char> text(align + length + 1);
            std::copy(line.begin(), line.end(), text.begin() + static_cast<std::ptrdiff_t>(align));
            std::vector<unsigned char> want(length + qpblock::kSlack), got(align + length + qpblock::kSlack);
            size_t wantLength = 0, gotLength = 0;
            const bool portable = qpblock::DecodeLine(text.data() + align, length, want.data(), &wantLength, false);
            ASSERT_EQ(portable, qpblock::DecodeLine(text.data() + align, length, got.data() + align, &gotLength))
                << length << " " << align;
            if (!portable)
                continue;
            ++quick;
            ASSERT_EQ(wantLength, gotLength) << length << " " << align;
            EXPECT_TRUE(std::equal(want.begin(), want.begin() + static_cast<std::ptrdiff_t>(wantLength),
                                   got.begin() + static_cast<std::ptrdiff_t>(align)))
                << length << " " << align;
        }
    // Most lines must have been decoded, not left to the general path.
    EXPECT_GT(quick, 81u * 16 / 2);
}

// The delimiter leads of the run tests: "-" only.
const bool* DashLead()
{
    static bool lead[256] = {};
    lead['-'] = true;
    return lead;
}

const qpblock::Level kRunLevels[] = {qpblock::Level::Portable, qpblock::Level::Sse2, qpblock::Level::Ssse3,
                                     qpblock::Level::Avx2, qpblock::Level::Avx512Vbmi2};

// tests/data/decode/qprun.tsv: a run, text or binary mode, the longest line, and the bytes
// and raw length of the lines decoded, the same at every level.
using QPRuns = ::testing::TestWithParam<testsupport::Row>;
TEST_P(QPRuns, Row)
{
    const testsupport::Row& row = GetParam();
    for (qpblock::Level level : kRunLevels)
    {
        const std::vector<char> text(row[0].begin(), row[0].end());
        std::vector<unsigned char> out(2 * text.size() + 200 + qpblock::kRunSlack);
        size_t used = 0, n = 0;
        qpblock::DecodeRun(text.data(), text.size(), row[1] == "text", DashLead(), std::stoul(row[2]), out.data(),
                           out.size(), &used, &n, level);
        EXPECT_EQ(row[3], std::string(reinterpret_cast<char*>(out.data()), n)) << row.line;
        EXPECT_EQ(std::stoul(row[4]), used) << row.line;
    }
}
INSTANTIATE_TEST_SUITE_P(Table, QPRuns, ::testing::ValuesIn(testsupport::ReadTable("decode/qprun.tsv")),
                         testsupport::CaseName());

// The vector walks of a run against the portable one, line by line through DecodeLine, at
// every run length up to 400 and every alignment, in both modes: lines of about 40 bytes
// with an escape about every 8, so that escapes fall at every place of a vector step and
// across its end, plain digits, raw 8-bit bytes, CRs, soft breaks and delimiter leads; in one
// run in four also bad escapes (lower-case digits and 8-bit bytes among them) and NULs; a
// short maxLine and little room now and then.
TEST(QPRunVector, MatchesLines)
{
    std::mt19937 gen(9);
    const std::string pieces[] = {"=3D", "=C3=A9", "=0D", "\r", "A9", "\xC3\xA9"};
    const std::string ends[] = {"\n", "\r\n", "\n-", "\r\n-", "=\n", "=\r\n", "=\n-", "=\r\n-"};
    const std::string bad[] = {"=", "=4", "=g1", "=c3", "=3d", std::string(1, '\0'), "=\xB3\xC1"};
    size_t decoded = 0;
    const size_t longest = 400;
    for (size_t length = 1; length <= longest; ++length)
        for (size_t align = 0; align < 16; ++align)
        {
            const bool flawed = gen() % 4 == 0;
            std::string run;
            while (run.size() < length - 1)
            {
                const unsigned pick = gen() % 64;
                run += pick < 2                  ? ends[gen() % 8]
                       : pick < 12               ? pieces[pick % 6]
                       : flawed && pick % 8 == 0 ? bad[gen() % 7]
                                                 : std::string(1, static_cast<char>('a' + pick));
            }
            run.resize(length - 1);
            run += '\n';
            const bool textMode = gen() % 2 == 0;
            // One run in four outside any multipart: no lead bytes at all.
            static const bool noLead[256] = {};
            const bool* lead = gen() % 4 == 0 ? noLead : DashLead();
            const size_t maxLine = gen() % 4 == 0 ? 10 + gen() % 120 : 2045;
            const size_t room = maxLine + qpblock::kRunSlack + (gen() % 8 == 0 ? gen() % 20 : 1000);
            std::vector<char> text(align + length);
            std::copy(run.begin(), run.end(), text.begin() + static_cast<std::ptrdiff_t>(align));
            std::vector<unsigned char> want(room);
            size_t wantUsed = 0, wantLength = 0;
            qpblock::DecodeRun(text.data() + align, length, textMode, lead, maxLine, want.data(), room, &wantUsed,
                               &wantLength, qpblock::Level::Portable);
            decoded += wantUsed;
            for (qpblock::Level level : kRunLevels)
            {
                if (level == qpblock::Level::Portable)
                    continue; // the reference itself
                std::vector<unsigned char> got(align + room);
                size_t gotUsed = 0, gotLength = 0;
                qpblock::DecodeRun(text.data() + align, length, textMode, lead, maxLine, got.data() + align, room,
                                   &gotUsed, &gotLength, level);
                ASSERT_EQ(wantUsed, gotUsed) << length << " " << align << " " << static_cast<int>(level);
                ASSERT_EQ(wantLength, gotLength) << length << " " << align << " " << static_cast<int>(level);
                EXPECT_TRUE(std::equal(want.begin(), want.begin() + static_cast<std::ptrdiff_t>(wantLength),
                                       got.begin() + static_cast<std::ptrdiff_t>(align)))
                    << length << " " << align << " " << static_cast<int>(level);
            }
        }
    // A good part of the runs must have been decoded, not left to the line-by-line decoder.
    EXPECT_GT(decoded, longest * (longest + 1) / 2 * 16 / 8);
}

// Runs of base64 lines through DecodeRun, every version, against Decode line by line, at
// every run length up to 160 and alignment up to 32, in both modes: whole groups, odd
// lengths, "=", CR, space, NUL, CR LF, delimiter leads ("-", and "Z" of the alphabet), a
// short maxLine and little room now and then.
TEST(Base64Runs, MatchLines)
{
    bool lead[256] = {};
    lead['-'] = lead['Z'] = true;
    std::mt19937 gen(17);
    const std::string pieces[] = {"QUJD", "ZGVm", "\n", "\r\n", "\n-", "=", "\r", "A", " ", std::string(1, '\0')};
    size_t decoded = 0;
    for (size_t length = 1; length <= 160; ++length)
        for (size_t align = 0; align < 32; ++align)
        {
            const unsigned kinds = gen() % 4 == 0 ? 10 : 4;
            std::string run;
            while (run.size() < length - 1)
                run += pieces[gen() % 8 < 6 ? gen() % 2 : gen() % kinds];
            run = run.substr(0, length - 1) + '\n';
            const bool textMode = gen() % 2 == 0;
            const size_t maxLine = gen() % 8 == 0 ? 8 : 2045, room = 8 + (gen() % 8 == 0 ? gen() % 20 : 1000);
            std::string want, text = std::string(align, '.') + run;
            size_t used = 0;
            for (size_t end; (end = run.find('\n', used)) != std::string::npos; used = end + 1)
            {
                const size_t n = end - used - (textMode && end > used && run[end - 1] == '\r');
                unsigned char bytes[256];
                if (n > 0 && (n % 4 != 0 || n > maxLine || lead[static_cast<unsigned char>(run[used])] ||
                              want.size() + n / 4 * 3 + 8 > room ||
                              base64block::Decode(&run[used], n, bytes, Level::Scalar) != n))
                    break;
                want.append(reinterpret_cast<char*>(bytes), n / 4 * 3);
            }
            for (Level level : {Level::Scalar, Level::Sse41, Level::Avx2, Level::Avx512Vbmi})
            {
                std::vector<unsigned char> got(align + room);
                size_t n = 0;
                ASSERT_EQ(used, base64block::DecodeRun(&text[align], length, textMode, lead, maxLine, &got[align], room,
                                                       &n, level));
                EXPECT_EQ(want, std::string(reinterpret_cast<char*>(&got[align]), n)) << length << " " << align;
            }
            decoded += used;
        }
    EXPECT_GT(decoded, 160u * 161 / 2 * 32 / 16); // most runs are not left to the line-by-line path
}

// Runs of uuencoded lines decoded in one walk against UUTextBytes line by line, in both
// modes: lines of every length character, with as many groups as promised or one character
// more or fewer, some with a CR, a "~", a NUL or a "." among them, some empty, LF or CR LF line ends, and
// little room now and then. The walk may stop early, but what it decodes must be what the
// lines give one at a time.
TEST(UURuns, MatchLines)
{
    std::mt19937 gen(13);
    size_t lines = 0;
    for (int round = 0; round < 2000; ++round)
    {
        std::string run;
        for (int k = 0; k < 6; ++k)
        {
            const unsigned bytes = gen() % 8 == 0 ? gen() % 64 : 45;
            std::string line(1, static_cast<char>(bytes == 0 ? '`' : 32 + bytes));
            const int extra = gen() % 6 == 0 ? static_cast<int>(gen() % 3) - 1 : 0;
            const size_t length = 4 * ((bytes + 2) / 3) + static_cast<size_t>(1 + extra);
            while (line.size() < length)
                line += static_cast<char>(32 + gen() % 64);
            if (gen() % 10 == 0)
                line[gen() % line.size()] = "\r~\0."[gen() % 4];
            if (gen() % 40 == 0)
                line.clear();
            run += line + (gen() % 2 ? "\r\n" : "\n");
        }
        const bool textMode = gen() % 2 == 0;
        const size_t room = gen() % 4 == 0 ? 64 + gen() % 100 : 1000;
        std::vector<char> text(run.begin(), run.end());
        std::vector<unsigned char> got(room);
        size_t count = 0;
        const size_t used = bodycodecs::UUTextRun(text.data(), text.size(), textMode, got.data(), room, &count);
        std::string want;
        for (size_t p = 0; p < used; ++lines)
        {
            const size_t end = run.find('\n', p);
            ASSERT_LT(end, used) << round;
            const size_t n = end - p - (textMode && end > p && run[end - 1] == '\r');
            unsigned char bytes[72];
            unsigned int got1 = 0;
            ASSERT_EQ(static_cast<unsigned>(CME_SUCCESS), bodycodecs::UUTextBytes(run.data() + p, n, bytes, &got1))
                << round;
            want.append(reinterpret_cast<char*>(bytes), got1);
            p = end + 1;
        }
        ASSERT_EQ(want, std::string(reinterpret_cast<char*>(got.data()), count)) << round;
    }
    // Most of the lines are of the usual form: the walk must have taken a good part of them.
    EXPECT_GT(lines, 2000u * 6 / 5);
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
            // Every third line through ReadString, the others in place where they can be.
            const char* text = nullptr;
            size_t n = 0;
            const bool peeked = k % 3 != 0 && run.Peek(&text, &n);
            char* got = peeked ? (memcpy(b, text, n), memcpy(b + n, "\n", 2), run.Take(), b) : run.ReadString(b);
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
