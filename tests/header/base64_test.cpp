// Encoded words: encoding with the default charset, decoding of Base64 text and of
// "B" encoded words, and the working limits of both.
#include "codec/base64.h"
#include "codec/charset.h"
#include "mimeengine/mimeengine_flat.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace
{

// Sets the library's default charset and needs-encoding flag for one test and restores
// them afterwards.
class EncodedWordTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        memcpy(m_savedCharset, g_szDefaultCharset, sizeof(m_savedCharset));
        m_savedFlag = g_bNeedsEncoding;
    }
    void TearDown() override
    {
        memcpy(g_szDefaultCharset, m_savedCharset, sizeof(m_savedCharset));
        g_bNeedsEncoding = m_savedFlag;
    }
    static void Use(const char* charset, BOOL needsEncoding)
    {
        memset(g_szDefaultCharset, 0, sizeof(g_szDefaultCharset));
        strncpy(g_szDefaultCharset, charset, sizeof(g_szDefaultCharset) - 1);
        g_bNeedsEncoding = needsEncoding;
    }

private:
    char m_savedCharset[sizeof(g_szDefaultCharset)];
    BOOL m_savedFlag = FALSE;
};

std::string Encode(const std::string& source)
{
    // A word takes at most 3 + 5 + 63 + 2 characters besides 4 for every 3 source bytes,
    // and holds at least 3 source bytes.
    std::vector<char> out(source.size() * 30 + 256, '\x7f');
    std::vector<char> in(source.begin(), source.end());
    in.push_back('\0');
    EncodeBase64String(in.data(), out.data());
    return out.data();
}

std::string DecodeLine(const std::string& source)
{
    std::vector<char> in(source.begin(), source.end());
    in.push_back('\0');
    std::vector<char> out(in.size(), '\x7f');
    DecodeBase64Line(in.data(), out.data());
    return out.data();
}

// Decodes into a destination exactly as large as the source, as the callers size it.
std::string DecodeString(const std::string& source)
{
    std::vector<char> in(source.begin(), source.end());
    in.push_back('\0');
    std::vector<char> out(in.size(), '\x7f');
    DecodeBase64String(in.data(), out.data());
    return out.data();
}

std::vector<std::string> SplitWords(const std::string& encoded)
{
    std::vector<std::string> words;
    size_t start = 0;
    for (size_t at; (at = encoded.find("\r\n ", start)) != std::string::npos; start = at + 3)
        words.push_back(encoded.substr(start, at - start));
    words.push_back(encoded.substr(start));
    return words;
}

TEST_F(EncodedWordTest, FlagClearCopiesSourceUnchanged)
{
    Use("iso-8859-1", FALSE);
    EXPECT_EQ(Encode("Gr\xfc\xdf"
                     "e, =?x?B?abc?= \r\n"),
              "Gr\xfc\xdf"
              "e, =?x?B?abc?= \r\n");
}

TEST_F(EncodedWordTest, EmptySourceGivesEmptyDestination)
{
    Use("iso-2022-jp", TRUE);
    EXPECT_EQ(Encode(""), "");
}

TEST_F(EncodedWordTest, ThreeBytesGiveOneWord)
{
    Use("iso-2022-jp", TRUE);
    EXPECT_EQ(Encode("abc"), "=?iso-2022-jp?B?YWJj?=");
}

TEST_F(EncodedWordTest, PartialGroupsArePadded)
{
    Use("euc-jp", TRUE);
    EXPECT_EQ(Encode("a"), "=?euc-jp?B?YQ==?=");
    EXPECT_EQ(Encode("ab"), "=?euc-jp?B?YWI=?=");
    EXPECT_EQ(Encode("\xff\xfe\xfd"), "=?euc-jp?B?//79?=");
}

TEST_F(EncodedWordTest, ThirtyNineBytesGiveTwoWords)
{
    Use("iso-2022-jp", TRUE);
    std::string first = "=?iso-2022-jp?B?";
    for (int i = 0; i < 12; ++i)
        first += "YWFh"; // "aaa"
    first += "YWE=?=";   // the last two of 38 bytes
    EXPECT_EQ(Encode(std::string(39, 'a')), first + "\r\n =?iso-2022-jp?B?YQ==?=");
}

struct ChunkRow
{
    const char* charset;
    size_t chunk;      // source bytes per word
    size_t wordLength; // characters of a full word
};

class ChunkSizeTest : public EncodedWordTest, public ::testing::WithParamInterface<ChunkRow>
{
};

TEST_P(ChunkSizeTest, WordsHoldChunkBytes)
{
    const ChunkRow& row = GetParam();
    Use(row.charset, TRUE);
    const std::string prefix = std::string("=?") + row.charset + "?B?";
    EXPECT_EQ(base64::ChunkSize(prefix.size()), row.chunk);

    for (size_t n : {row.chunk - 1, row.chunk, row.chunk + 1, 3 * row.chunk})
    {
        std::string source;
        for (size_t i = 0; i < n; ++i)
            source += static_cast<char>('A' + i % 26);
        const std::vector<std::string> words = SplitWords(Encode(source));
        ASSERT_EQ(words.size(), (n + row.chunk - 1) / row.chunk) << n;
        for (size_t w = 0; w < words.size(); ++w)
        {
            EXPECT_EQ(words[w].compare(0, prefix.size(), prefix), 0);
            EXPECT_EQ(words[w].substr(words[w].size() - 2), "?=");
            const size_t bytes = std::min(row.chunk, n - w * row.chunk);
            EXPECT_EQ(words[w].size(), prefix.size() + 4 * ((bytes + 2) / 3) + 2) << n << " word " << w;
            if (bytes == row.chunk)
            {
                EXPECT_EQ(words[w].size(), row.wordLength);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Charsets, ChunkSizeTest,
                         ::testing::Values(ChunkRow{"iso-2022-jp", 38, 70}, ChunkRow{"euc-jp", 42, 69},
                                           ChunkRow{"_iso-2022-jp$ESC", 32, 67}, ChunkRow{"_iso-2022-jp$SIO", 32, 67}));

TEST_F(EncodedWordTest, OverlongCharsetStillAdvances)
{
    Use(std::string(63, 'c').c_str(), TRUE);
    const std::vector<std::string> words = SplitWords(Encode("abcdefg"));
    EXPECT_EQ(words.size(), 3u);
    EXPECT_EQ(DecodeString(Encode("abcdefg")), "abcdefg");
}

TEST_F(EncodedWordTest, BoundedEncodingStopsAtTheBuffer)
{
    Use("iso-2022-jp", TRUE);
    const std::string full = Encode(std::string(100, 'x'));
    for (size_t size : {size_t{1}, size_t{10}, full.size(), full.size() + 1})
    {
        std::vector<char> out(size + 8, '#');
        EncodeBase64StringN(std::string(100, 'x').c_str(), out.data(), size);
        const size_t kept = std::min(size - 1, full.size());
        EXPECT_EQ(std::string(out.data()), full.substr(0, kept)) << size;
        EXPECT_EQ(std::string(out.data() + size, 8), std::string(8, '#')) << size;
    }
}

TEST_F(EncodedWordTest, NullArgumentsDoNothing)
{
    char out[8] = "keep";
    EncodeBase64String(nullptr, out);
    DecodeBase64String(nullptr, out);
    DecodeBase64Line(nullptr, out);
    EXPECT_STREQ(out, "keep");
    char in[] = "abc";
    EncodeBase64String(in, nullptr);
    DecodeBase64String(in, nullptr);
    DecodeBase64Line(in, nullptr);
    EncodeBase64StringN(in, out, 0);
    DecodeBase64StringN(in, out, 0);
    EXPECT_STREQ(out, "keep");
}

TEST_F(EncodedWordTest, RoundTripOfSeededPayloads)
{
    Use("iso-2022-jp", TRUE);
    std::mt19937 random(20240611);
    for (size_t n : {1, 2, 3, 37, 38, 39, 76, 77, 114, 200})
    {
        std::string source;
        for (size_t i = 0; i < n; ++i)
            source += static_cast<char>(1 + random() % 255);
        EXPECT_EQ(DecodeString(Encode(source)), source) << n;
    }
}

struct LineRow
{
    const char* source;
    const char* expected;
};

class DecodeLineTest : public ::testing::TestWithParam<LineRow>
{
};

TEST_P(DecodeLineTest, Decodes)
{
    EXPECT_EQ(DecodeLine(GetParam().source), GetParam().expected) << GetParam().source;
}

INSTANTIATE_TEST_SUITE_P(Groups, DecodeLineTest,
                         ::testing::Values(LineRow{"QUJD", "ABC"}, LineRow{"QUI=", "AB"}, LineRow{"QQ==", "A"},
                                           LineRow{"QUJ", ""}, LineRow{"QU(comment)JD", "ABC"},
                                           LineRow{"QQ==QUJD", "AABC"},
                                           LineRow{"QUJDQQ", "ABC"},   // leftover characters are ignored
                                           LineRow{"QQ=B", "A"},       // a pad in third place ends the group
                                           LineRow{"=QUJQUJD", "ABC"}, // a group starting with a pad yields nothing
                                           LineRow{"Q=UJQUJD", "ABC"}, // so does one with a pad in second place
                                           LineRow{"QU\r\nJD", "ABC"}, // line ends and white space are dropped
                                           LineRow{"Q U!J*D", "ABC"},  // as is every byte outside the alphabet
                                           LineRow{"Q(a)U(b(c)J)D", "ABC"},      // comments do not nest
                                           LineRow{"QUJD(unclosed QUJD", "ABC"}, // an open comment runs to the end
                                           LineRow{"QUJDAEFC", "ABC"},           // a zero byte ends the result
                                           LineRow{"", ""}));

TEST(DecodeLineLimitTest, SignificantCharactersAreCutAt255)
{
    std::string groups;
    for (int i = 0; i < 63; ++i)
        groups += "QUJD";
    std::string abc;
    for (int i = 0; i < 63; ++i)
        abc += "ABC";
    ASSERT_EQ(groups.size(), 252u);

    // 255 significant characters: 63 groups and three left over.
    EXPECT_EQ(DecodeLine(groups + "QUJ"), abc);
    // 256: the 64th group loses its last character and is dropped.
    EXPECT_EQ(DecodeLine(groups + "QUJD"), abc);
    EXPECT_EQ(DecodeLine(groups + "QQ=="), abc);
    // A 64th group fits when it replaces the last of 63.
    EXPECT_EQ(DecodeLine(groups.substr(0, 248) + "QQ=="), abc.substr(0, 186) + "A");
    // White space and comments do not count towards the limit.
    std::string spaced;
    for (int i = 0; i < 63; ++i)
        spaced += "Q U(x)J D\r\n";
    EXPECT_EQ(DecodeLine(spaced + "QUJ"), abc);
}

TEST(DecodeLineLimitTest, BoundedDecodingStopsAtTheBuffer)
{
    char out[8];
    memset(out, '#', sizeof(out));
    DecodeBase64LineN("QUJDREVG", out, 4);
    EXPECT_STREQ(out, "ABC");
    EXPECT_EQ(out[4], '#');
}

struct StringRow
{
    const char* source;
    const char* expected;
};

class DecodeStringTest : public ::testing::TestWithParam<StringRow>
{
};

TEST_P(DecodeStringTest, Decodes)
{
    EXPECT_EQ(DecodeString(GetParam().source), GetParam().expected) << GetParam().source;
}

INSTANTIATE_TEST_SUITE_P(Words, DecodeStringTest,
                         ::testing::Values(StringRow{"=?iso-8859-1?B?SGVsbG8=?=", "Hello"},
                                           StringRow{"=?iso-8859-1?B?SGVsbG8=?=\r\n =?iso-8859-1?B?V29ybGQ=?=",
                                                     "HelloWorld"},
                                           StringRow{" =?iso-8859-1?B?SGVsbG8=?=", " =?iso-8859-1?B?SGVsbG8=?="},
                                           StringRow{"=?iso-8859-1?Q?Hello?=", "=?iso-8859-1?Q?Hello?="},
                                           StringRow{"=?iso-8859-1?b?SGVsbG8=?=", "=?iso-8859-1?b?SGVsbG8=?="},
                                           StringRow{"=?iso-8859-1?Q?a_b?= =?iso-8859-1?B?SGVsbG8=?=", "Hello"},
                                           StringRow{"=?iso-8859-1?B?SGVsbG8=?= and more", "Hello"},
                                           StringRow{"=?x?B?SGVsbG8=?=, =?x?B?V29ybGQ=?= tail", "HelloWorld"},
                                           StringRow{"=?x?B?SGVsbG8=", "=?x?B?SGVsbG8="},     // no closing "?="
                                           StringRow{"=?x?B?SGVsbG8=?= =?x?B?V29y", "Hello"}, // second word not closed
                                           StringRow{"=?x?B?SGVsbG8=?= ?B?QUJD?=", "Hello"},  // no further "=?"
                                           StringRow{"=?x?B?SGVsbG8=?= =?x?Q?y?= tail", "Hello"}, // no further "?B?"
                                           StringRow{"=?x?B?SGVs(comment)bG8=?=", "Hello"}, // comments inside the text
                                           StringRow{"=?x?B?"
                                                     "?=",
                                                     ""}, // empty word
                                           StringRow{"plain text", "plain text"}, StringRow{"", ""}));

// A word whose closing "?=" lies n characters from its "?B?" marker, padded with white
// space (which does not count towards the 255 significant characters).
std::string WordWithRemainder(size_t remainder)
{
    const std::string text = "SGVsbG8=";
    return "=?x?B?" + text + std::string(remainder - 3 - text.size() - 2, ' ') + "?=";
}

TEST(DecodeStringLimitTest, RemainderOf511IsDecodedAnd512IsNot)
{
    EXPECT_EQ(DecodeString(WordWithRemainder(511)), "Hello");
    const std::string tooLong = WordWithRemainder(512);
    EXPECT_EQ(DecodeString(tooLong), tooLong);

    // The limit applies to each word: a second word past it ends the decoding.
    const std::string first = "=?x?B?V29ybGQ=?=";
    EXPECT_EQ(DecodeString(first + " " + WordWithRemainder(511)), "WorldHello");
    EXPECT_EQ(DecodeString(first + " " + WordWithRemainder(512)), "World");
}

TEST(DecodeStringLimitTest, LongSourceWithManyWords)
{
    std::string source;
    std::string expected;
    for (int i = 0; i < 500; ++i)
    {
        source += "=?x?B?SGVsbG8=?=\r\n ";
        expected += "Hello";
    }
    EXPECT_EQ(DecodeString(source), expected);
}

TEST(DecodeStringLimitTest, BoundedDecodingCutsCopyAndResult)
{
    char out[16];
    memset(out, '#', sizeof(out));
    DecodeBase64StringN("=?x?B?SGVsbG8=?=", out, 4);
    EXPECT_STREQ(out, "Hel");
    EXPECT_EQ(out[4], '#');
    DecodeBase64StringN("plain text", out, 6);
    EXPECT_STREQ(out, "plain");
    EXPECT_EQ(out[6], '#');
}

TEST(Base64TableTest, AlphabetValuesAndOthers)
{
    const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    int inAlphabet = 0;
    for (int c = 0; c < 256; ++c)
    {
        const char* at = c != 0 ? strchr(alphabet, c) : nullptr;
        const unsigned char expected = at != nullptr ? static_cast<unsigned char>(at - alphabet) : 255;
        EXPECT_EQ(base64::Value(static_cast<unsigned char>(c)), expected) << c;
        inAlphabet += at != nullptr;
    }
    EXPECT_EQ(inAlphabet, 64);
}

} // namespace
