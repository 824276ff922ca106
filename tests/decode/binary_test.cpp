// The BINARY body copy: raw bytes up to the CR LF before the delimiter line.
#include "decode/harness.h"

#include <gtest/gtest.h>
#include <random>

namespace
{

using decodetest::DecodeRun;
using decodetest::RunDecoder;
using decodetest::Tree;

// Runs DecodeBinary on a message of one header line, an empty line and body.
DecodeRun RunBinary(Tree& tree, const std::string& body, const std::string& work)
{
    return RunDecoder(&CUnpacker::DecodeBinary, tree.leaf(), "H: x\r\n\r\n" + body, work, 2);
}

TEST(DecodeBinary, BodiesUpToTheirDelimiter)
{
    struct Row
    {
        const char* name;
        std::string body;
        std::string output;
        std::string next; // where the source stands afterwards
    } rows[] = {
        {"CR LF before the delimiter is not kept", "ab\r\n\r\n--b\r\nnext", "ab\r\n", "--b\r\nnext"},
        {"bare LF is data", "a\nb\n--b\r\n\r\n--b--\r\n", "a\nb\n--b\r\n", "--b--\r\n"},
        {"lone CRs are data", "\r\ra\rb\r\n--b\r\n", "\r\ra\rb", "--b\r\n"},
        {"odd case with trailing text", "x\r\n--B  tail\r\n", "x", "--B  tail\r\n"},
        {"outer delimiter", "x\r\n--outer--\r\n", "x", "--outer--\r\n"},
        {"prefix of the delimiter", "x\r\n--\r\n-b\r\n--b\r\n", "x\r\n--\r\n-b", "--b\r\n"},
        {"empty body", "--b\r\nnext", "", "--b\r\nnext"},
        {"no delimiter", "x\r\ny\r\n", "x\r\ny\r\n", "x\r\ny\r\n"},
        {"CR as the last byte", "x\r", "x\r", "x\r"},
        {"CR LF as the last bytes", "x\r\n", "x\r\n", "x\r\n"},
        {"NUL bytes", std::string("\0\r\n\0", 4) + "\r\n--b\r\n", std::string("\0\r\n\0", 4), "--b\r\n"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        testsupport::ScratchDir scratch;
        Tree tree;
        DecodeRun run = RunBinary(tree, row.body, scratch.mkdir("work"));
        EXPECT_EQ(CME_SUCCESS, run.rc);
        EXPECT_EQ(row.output, run.output);
        EXPECT_EQ(row.next, run.next);
    }
}

TEST(DecodeBinary, EveryByteValueRoundTrips)
{
    testsupport::ScratchDir scratch;
    Tree tree;
    std::string data = testsupport::AllBytes() + "\r\n" + testsupport::AllBytes() + "\r";
    DecodeRun run = RunBinary(tree, data + "\r\n--b--\r\n", scratch.mkdir("work"));
    EXPECT_EQ(data, run.output);
    EXPECT_EQ("--b--\r\n", run.next);
}

TEST(DecodeBinary, DelimiterAtEveryOffsetAroundAReadBoundary)
{
    // The copy reads 64 KiB at a time and looks up to 128 bytes past a CR LF; put the
    // CR LF and the delimiter at every offset around the first refill, with the longest
    // delimiter, so that it straddles two reads in every possible way.
    std::string delimiter = "--" + std::string(70, 'q');
    testsupport::ScratchDir scratch;
    std::string work = scratch.mkdir("work");
    std::mt19937 rng(3);
    std::string filler(65536 + 300, '\0');
    for (char& c : filler)
        c = static_cast<char>('a' + rng() % 26);
    const size_t header = 8; // "H: x\r\n\r\n"
    for (size_t end = 65536 - 200; end <= 65536 + 200; ++end)
    {
        Tree tree(delimiter.c_str());
        std::string body = filler.substr(0, end - header);
        DecodeRun run = RunBinary(tree, body + "\r\n" + delimiter + "--\r\n", work);
        ASSERT_EQ(body.size(), run.output.size()) << "body ending at " << end;
        ASSERT_TRUE(body == run.output) << "body ending at " << end;
        ASSERT_EQ(delimiter + "--\r\n", run.next) << "body ending at " << end;
        std::remove(run.dataFile.c_str());
    }
}

TEST(DecodeBinary, ADelimiterCutByTheEndOfTheFileIsNotOne)
{
    testsupport::ScratchDir scratch;
    Tree tree("--boundary");
    DecodeRun run = RunBinary(tree, "x\r\n--bound", scratch.mkdir("work"));
    EXPECT_EQ("x\r\n--bound", run.output);
    EXPECT_EQ("x\r\n--bound", run.next);
}

TEST(CopyBinaryBody, WithoutABlockFindsTheDelimiterAndWritesNothing)
{
    testsupport::ScratchDir scratch;
    std::string work = scratch.mkdir("work");
    std::string source = scratch.file("m.eml");
    std::string message = "H: x\r\n\r\n" + testsupport::AllBytes() + "\r\n--b\r\nnext";
    testsupport::WriteFile(source, message);
    Tree tree;
    CUnpacker unpacker;
    unpacker.m_WorkDirectory = work.c_str();

    unsigned long position = 8;
    EXPECT_EQ(CME_SUCCESS, unpacker.SkipBinaryBody(source.c_str(), &position, tree.leaf()));
    EXPECT_EQ(message.find("\r\n--b\r\n") + 2, position);
    EXPECT_EQ(nullptr, unpacker.m_pSkipContext);

    // The same through CopyBinaryBody with the part walk's context.
    position = 8;
    unpacker.m_pSkipContext = tree.leaf();
    EXPECT_EQ(CME_SUCCESS, unpacker.CopyBinaryBody(source.c_str(), &position, nullptr));
    EXPECT_EQ(message.find("\r\n--b\r\n") + 2, position);

    // Without any context no delimiter can be known: the position stays.
    position = 8;
    unpacker.m_pSkipContext = nullptr;
    EXPECT_EQ(CME_SUCCESS, unpacker.CopyBinaryBody(source.c_str(), &position, nullptr));
    EXPECT_EQ(8u, position);

    EXPECT_EQ("", testsupport::ListTree(work));
    EXPECT_EQ("", std::string(tree.leaf()->GetDataFile()));
}

TEST(CopyBinaryBody, AMissingSourceRaisesAFileException)
{
    testsupport::ScratchDir scratch;
    Tree tree;
    CUnpacker unpacker;
    unpacker.m_WorkDirectory = scratch.path().c_str();
    unsigned long position = 0;
    EXPECT_THROW(unpacker.CopyBinaryBody(scratch.file("missing").c_str(), &position, tree.leaf()), CFileException);
    EXPECT_EQ("", std::string(tree.leaf()->GetDataFile()));
}

} // namespace
