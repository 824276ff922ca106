#include "mimeengine/platform/afx.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using testsupport::ReadFile;
using testsupport::ScratchDir;
using testsupport::WriteFile;

namespace
{

// Reads every line with the given limit; each entry is what one ReadString call delivered.
std::vector<std::string> ReadAllLines(const std::string& path, UINT flags, UINT limit)
{
    CStdioFile f(path.c_str(), flags);
    std::vector<std::string> lines;
    std::vector<char> buf(limit + 8, 'Z');
    while (f.ReadString(buf.data(), limit) != nullptr)
        lines.emplace_back(buf.data());
    return lines;
}

const UINT kBufferSize = 64 * 1024; // the files' internal buffer

} // namespace

TEST(CStdioFileTest, TextModeTurnsCrLfIntoLfAndKeepsLoneCr)
{
    ScratchDir dir;
    std::string path = dir.file("t.txt");
    WriteFile(path, "one\r\ntwo\rthree\nfour\r\n\r\nlast");
    auto lines = ReadAllLines(path, CFile::modeRead, 2047);
    std::vector<std::string> want = {"one\n", "two\rthree\n", "four\n", "\n", "last"};
    EXPECT_EQ(want, lines);
    // Binary mode translates nothing.
    auto raw = ReadAllLines(path, CFile::modeRead | CFile::typeBinary, 2047);
    std::vector<std::string> rawWant = {"one\r\n", "two\rthree\n", "four\r\n", "\r\n", "last"};
    EXPECT_EQ(rawWant, raw);
}

TEST(CStdioFileTest, CrLfSplitAcrossBufferRefillIsOneLineEnd)
{
    ScratchDir dir;
    std::string path = dir.file("split.txt");
    // CR is the last byte of the first buffer fill and LF the first of the next.
    std::string first(kBufferSize - 1, 'a');
    for (size_t i = 100; i < first.size(); i += 100)
        first[i] = '\n';
    WriteFile(path, first + "\r\nafter\r\n");
    CStdioFile f(path.c_str(), CFile::modeRead);
    char buf[2048];
    std::string joined;
    std::string lastTwo[2];
    while (f.ReadString(buf, sizeof(buf) - 1) != nullptr)
    {
        joined += buf;
        lastTwo[0] = lastTwo[1];
        lastTwo[1] = buf;
    }
    EXPECT_EQ(std::string::npos, joined.find('\r'));
    EXPECT_EQ("after\n", lastTwo[1]);
    EXPECT_EQ('\n', lastTwo[0].back());
    EXPECT_EQ(first.size() + 1 + 6, joined.size());
}

TEST(CStdioFileTest, LongLinesArriveInPiecesOfLimitMinusOne)
{
    ScratchDir dir;
    std::string path = dir.file("long.txt");
    struct Row
    {
        size_t length; // characters before the CR LF
        std::vector<size_t> pieces;
    } rows[] = {
        {2045, {2046}},    // 2045 + "\n" fits one read of 2046
        {2046, {2046, 1}}, // the line end comes alone
        {2047, {2046, 2}},
        {4093, {2046, 2046, 2}}, // two full pieces, then the last character and "\n"
    };
    for (const auto& row : rows)
    {
        WriteFile(path, std::string(row.length, 'x') + "\r\nnext\r\n");
        auto lines = ReadAllLines(path, CFile::modeRead, 2047);
        ASSERT_EQ(row.pieces.size() + 1, lines.size()) << row.length;
        for (size_t i = 0; i < row.pieces.size(); ++i)
            EXPECT_EQ(row.pieces[i], lines[i].size()) << row.length << " piece " << i;
        EXPECT_EQ('\n', lines[row.pieces.size() - 1].back());
        EXPECT_EQ("next\n", lines.back());
    }
}

TEST(CStdioFileTest, CrAtTheLimitFollowedByLfIsDeliveredAsLineEnd)
{
    ScratchDir dir;
    std::string path = dir.file("edge.txt");
    WriteFile(path, std::string(2045, 'y') + "\r\nz");
    auto lines = ReadAllLines(path, CFile::modeRead, 2047);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(std::string(2045, 'y') + "\n", lines[0]);
    EXPECT_EQ("z", lines[1]);
}

TEST(CStdioFileTest, PositionsAreRawOffsetsInTextMode)
{
    ScratchDir dir;
    std::string path = dir.file("pos.txt");
    WriteFile(path, "H: 1\r\n\r\nbody\x01\r\nmore");
    CStdioFile f(path.c_str(), CFile::modeRead);
    char buf[2048];
    ASSERT_NE(nullptr, f.ReadString(buf, 2047));
    ASSERT_NE(nullptr, f.ReadString(buf, 2047));
    EXPECT_STREQ("\n", buf);
    ULONGLONG body = f.GetPosition();
    EXPECT_EQ(8u, body);
    // The same offset re-read in binary mode gives the raw bytes.
    CFile raw(path.c_str(), CFile::modeRead);
    raw.Seek(static_cast<LONGLONG>(body), CFile::begin);
    char bytes[8] = {0};
    EXPECT_EQ(7u, raw.Read(bytes, 7));
    EXPECT_EQ(std::string("body\x01\r\n"), std::string(bytes, 7));
    // Seeking the text file back re-reads the same line.
    ASSERT_NE(nullptr, f.ReadString(buf, 2047));
    f.Seek(static_cast<LONGLONG>(body), CFile::begin);
    ASSERT_NE(nullptr, f.ReadString(buf, 2047));
    EXPECT_STREQ("body\x01\n", buf);
}

TEST(CStdioFileTest, TextModeWritingStoresCrLf)
{
    ScratchDir dir;
    std::string path = dir.file("w.txt");
    {
        CStdioFile f(path.c_str(), CFile::modeCreate | CFile::modeWrite);
        f.WriteString("a\nb");
        f.WriteString("\n\n");
        f.Write("c\nd", 3);
        f.Close();
    }
    EXPECT_EQ("a\r\nb\r\n\r\nc\r\nd", ReadFile(path));
    {
        CStdioFile f(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary);
        f.WriteString("a\nb");
    }
    EXPECT_EQ("a\nb", ReadFile(path));
}

TEST(CStdioFileTest, ReadStringIntoCStringDropsTheLineEnd)
{
    ScratchDir dir;
    std::string path = dir.file("s.txt");
    WriteFile(path, std::string(3000, 'k') + "\r\nshort\r\nend");
    CStdioFile f(path.c_str(), CFile::modeRead);
    CString line;
    ASSERT_TRUE(f.ReadString(line));
    EXPECT_EQ(3000, line.GetLength());
    ASSERT_TRUE(f.ReadString(line));
    EXPECT_STREQ("short", static_cast<const char*>(line));
    ASSERT_TRUE(f.ReadString(line));
    EXPECT_STREQ("end", static_cast<const char*>(line));
    EXPECT_FALSE(f.ReadString(line));
}

TEST(CFileTest, ManySmallWritesAndReadsRoundTrip)
{
    ScratchDir dir;
    std::string path = dir.file("bin");
    std::string all = testsupport::AllBytes();
    {
        CFile f(path.c_str(), CFile::modeCreate | CFile::modeWrite);
        for (int i = 0; i < 1000; ++i)
            f.Write(all.data() + (i % 256), 1);
        f.Write(all.data(), 256);
        std::string big(200000, 'B');
        f.Write(big.data(), static_cast<UINT>(big.size()));
        EXPECT_EQ(1000u + 256u + 200000u, f.GetPosition());
        EXPECT_EQ(1000u + 256u + 200000u, f.GetLength());
    }
    std::string content = ReadFile(path);
    ASSERT_EQ(201256u, content.size());
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(static_cast<char>(i % 256), content[static_cast<size_t>(i)]);
    EXPECT_EQ(all, content.substr(1000, 256));

    CFile f(path.c_str(), CFile::modeRead);
    char c;
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(1u, f.Read(&c, 1));
    std::string rest(300000, '\0');
    EXPECT_EQ(200256u, f.Read(&rest[0], static_cast<UINT>(rest.size())));
    EXPECT_EQ(0u, f.Read(&c, 1));
}

TEST(CFileTest, ReadWriteModeMixesReadsSeeksAndWrites)
{
    ScratchDir dir;
    std::string path = dir.file("rw");
    WriteFile(path, "0123456789");
    CFile f(path.c_str(), CFile::modeReadWrite);
    char buf[4] = {0};
    EXPECT_EQ(3u, f.Read(buf, 3));
    f.Write("abc", 3);
    EXPECT_EQ(6u, f.GetPosition());
    f.Seek(-2, CFile::end);
    EXPECT_EQ(2u, f.Read(buf, 2));
    EXPECT_EQ(std::string("89"), std::string(buf, 2));
    f.SetLength(4);
    EXPECT_EQ(4u, f.GetLength());
    f.Close();
    EXPECT_EQ("012a", ReadFile(path));
}

TEST(CFileTest, OpenFailuresAndExceptions)
{
    ScratchDir dir;
    CFile f;
    CFileException e;
    EXPECT_FALSE(f.Open(dir.file("missing").c_str(), CFile::modeRead, &e));
    EXPECT_EQ(CFileException::fileNotFound, e.m_cause);
    EXPECT_EQ(CFile::hFileNull, f.m_hFile);
    // A directory is never a file.
    EXPECT_FALSE(f.Open(dir.path().c_str(), CFile::modeRead, &e));
    EXPECT_FALSE(f.Open("", CFile::modeRead, &e));
    EXPECT_THROW(CFile(dir.file("missing").c_str(), CFile::modeRead), CFileException);
    EXPECT_THROW(CStdioFile(dir.file("nodir/x").c_str(), CFile::modeCreate | CFile::modeWrite), CFileException);
}

TEST(CFileTest, CreateNeverFollowsASymbolicLink)
{
    ScratchDir dir;
    std::string target = dir.file("target");
    WriteFile(target, "precious");
    ASSERT_EQ(0, ::symlink(target.c_str(), dir.file("link").c_str()));
    CFile f;
    EXPECT_FALSE(f.Open(dir.file("link").c_str(), CFile::modeCreate | CFile::modeWrite));
    EXPECT_EQ("precious", ReadFile(target));
    CFileStatus st;
    EXPECT_TRUE(CFile::GetStatus(dir.file("link").c_str(), st));
    ::unlink(target.c_str());
    // A dangling link still exists as a name.
    EXPECT_TRUE(CFile::GetStatus(dir.file("link").c_str(), st));
    EXPECT_FALSE(CFile::GetStatus(dir.file("none").c_str(), st));
}

TEST(CFileTest, CreateTruncatesAndStatusReportsSize)
{
    ScratchDir dir;
    std::string path = dir.file("t");
    WriteFile(path, "long old content");
    {
        CFile f(path.c_str(), CFile::modeCreate | CFile::modeWrite);
        f.Write("new", 3);
    }
    EXPECT_EQ("new", ReadFile(path));
    CFileStatus st;
    ASSERT_TRUE(CFile::GetStatus(path.c_str(), st));
    EXPECT_EQ(3u, st.m_size);
    EXPECT_EQ(0, st.m_attribute);
    ASSERT_TRUE(CFile::GetStatus(dir.path().c_str(), st));
    EXPECT_EQ(0x10, st.m_attribute);
}
