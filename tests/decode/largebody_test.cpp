// Large bodies decode in one pass with bounded memory. The size is 16 MiB by default;
// MIMEENGINE_LARGE_BODY_MIB raises it (64 for the full-size check).
#include "decode/harness.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace
{

using decodetest::Tree;

size_t BodyBytes()
{
    const char* mib = std::getenv("MIMEENGINE_LARGE_BODY_MIB");
    size_t n = mib != nullptr ? static_cast<size_t>(std::atoi(mib)) : 16;
    return (n == 0 ? 16 : n) * 1024 * 1024;
}

long PeakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Deterministic bytes and a running FNV-1a hash of them.
struct Generator
{
    uint64_t state = 0x9E3779B97F4A7C15ull;
    unsigned char Next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<unsigned char>(state >> 24);
    }
};

struct Hash
{
    uint64_t value = 1469598103934665603ull;
    void Add(const char* p, size_t n)
    {
        for (size_t i = 0; i < n; ++i)
            value = (value ^ static_cast<unsigned char>(p[i])) * 1099511628211ull;
    }
};

uint64_t HashFile(const std::string& path, size_t* size)
{
    std::ifstream in(path, std::ios::binary);
    Hash hash;
    std::vector<char> buf(1 << 16);
    *size = 0;
    while (in.read(buf.data(), static_cast<std::streamsize>(buf.size())) || in.gcount() > 0)
    {
        hash.Add(buf.data(), static_cast<size_t>(in.gcount()));
        *size += static_cast<size_t>(in.gcount());
    }
    return hash.value;
}

struct Large
{
    std::string message;
    uint64_t hash;
    size_t size;
};

// A base64 body of n bytes in 76-character lines with CR LF ends, then the delimiter.
Large WriteBase64(const std::string& path, size_t n)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::ofstream out(path, std::ios::binary);
    Generator gen;
    Hash hash;
    std::string line;
    for (size_t i = 0; i < n; i += 3)
    {
        char b[3] = {static_cast<char>(gen.Next()), static_cast<char>(gen.Next()), static_cast<char>(gen.Next())};
        size_t take = n - i < 3 ? n - i : 3;
        hash.Add(b, take);
        unsigned v = (static_cast<unsigned char>(b[0]) << 16) | (static_cast<unsigned char>(b[1]) << 8) |
                     static_cast<unsigned char>(b[2]);
        line += alphabet[(v >> 18) & 63];
        line += alphabet[(v >> 12) & 63];
        line += take > 1 ? alphabet[(v >> 6) & 63] : '=';
        line += take > 2 ? alphabet[v & 63] : '=';
        if (line.size() == 76)
        {
            out << line << "\r\n";
            line.clear();
        }
    }
    out << line << "\r\n--b--\r\n";
    return {path, hash.value, n};
}

// A quoted-printable body of text lines with escapes and soft breaks; n decoded bytes
// or a little more.
Large WriteQuotedPrintable(const std::string& path, size_t n)
{
    std::ofstream out(path, std::ios::binary);
    Generator gen;
    Hash hash;
    size_t size = 0;
    static const char hex[] = "0123456789ABCDEF";
    while (size < n)
    {
        std::string encoded, decoded;
        for (int i = 0; i < 60; ++i)
        {
            unsigned char c = gen.Next();
            if (c >= 33 && c <= 126 && c != '=')
            {
                encoded += static_cast<char>(c);
                decoded += static_cast<char>(c);
            }
            else
            {
                encoded += '=';
                encoded += hex[c >> 4];
                encoded += hex[c & 15];
                decoded += static_cast<char>(c);
            }
        }
        // Every other line ends in a soft break, the rest in a hard line end.
        if (gen.Next() & 1)
            encoded += "=";
        else
            decoded += "\r\n";
        out << encoded << "\r\n";
        hash.Add(decoded.data(), decoded.size());
        size += decoded.size();
    }
    // The delimiter takes the last line end with it, unless the last line was soft.
    out << "X\r\n--b--\r\n";
    hash.Add("X", 1);
    return {path, hash.value, size + 1};
}

void DecodeLarge(const decodetest::Decoder& decoder, const Large& large, const testsupport::ScratchDir& scratch,
                 const char* what)
{
    Tree tree;
    CUnpacker unpacker;
    unpacker.m_WorkDirectory = scratch.mkdir("work").c_str();
    long before = PeakRssKiB();
    auto start = std::chrono::steady_clock::now();
    {
        CWfxFile file(CString(large.message.c_str()), CFile::shareDenyWrite, FALSE, TRUE);
        ASSERT_TRUE(file.IsOpen());
        char buffer[LINE_BUFFER_SIZE];
        char* line = buffer;
        EXPECT_EQ(CME_SUCCESS, decoder(unpacker, tree.leaf(), &line, &file));
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    long grown = PeakRssKiB() - before;
    size_t size = 0;
    EXPECT_EQ(large.hash, HashFile(tree.leaf()->GetDataFile(), &size));
    EXPECT_EQ(large.size, size);
    // Bounded: the decoders hold a line and a chunk, never the body.
    EXPECT_LT(grown, 16 * 1024) << "peak memory grew by " << grown << " KiB";
    ::testing::Test::RecordProperty(std::string(what) + "_MiB_per_s", static_cast<int>(size / seconds / (1024 * 1024)));
    std::printf("%s: %zu bytes in %.2f s (%.0f MiB/s)\n", what, size, seconds, size / seconds / (1024 * 1024));
}

TEST(LargeBody, Base64)
{
    testsupport::ScratchDir scratch;
    Large large = WriteBase64(scratch.file("large.eml"), BodyBytes());
    DecodeLarge(&CUnpacker::DecodeBase64, large, scratch, "base64");
}

TEST(LargeBody, QuotedPrintable)
{
    testsupport::ScratchDir scratch;
    Large large = WriteQuotedPrintable(scratch.file("large.eml"), BodyBytes());
    DecodeLarge(&CUnpacker::DecodeQuotedPrintable, large, scratch, "quoted-printable");
}

TEST(LargeBody, Binary)
{
    testsupport::ScratchDir scratch;
    std::string path = scratch.file("large.eml");
    Generator gen;
    Hash hash;
    size_t n = BodyBytes();
    {
        std::ofstream out(path, std::ios::binary);
        std::string chunk;
        for (size_t i = 0; i < n; ++i)
        {
            chunk += static_cast<char>(gen.Next());
            if (chunk.size() == 65536 || i + 1 == n)
            {
                hash.Add(chunk.data(), chunk.size());
                out << chunk;
                chunk.clear();
            }
        }
        out << "\r\n--b--\r\n";
    }
    DecodeLarge(&CUnpacker::DecodeBinary, {path, hash.value, n}, scratch, "binary");
}

} // namespace
