// The transfer encoders: the base64 and quoted-printable step functions at every split of
// their input, the file loops at their read sizes, and the line break after each body.
#include "pack/encoders.h"
#include "packtest.h"

#include <gtest/gtest.h>
#include <random>

using namespace packtest;
using testsupport::ScratchDir;

namespace
{

std::string Base64(const std::string& data)
{
    std::string out((data.size() / 54 + 1) * 74, '\0');
    const size_t n =
        mimepack::Base64EncodeLines(reinterpret_cast<const unsigned char*>(data.data()), data.size(), &out[0]);
    out.resize(n);
    return out;
}

// Decodes the base64 text of the test's own alphabet, ignoring CR and LF.
std::string DecodeBase64(const std::string& text)
{
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (char c : text)
    {
        if (c == '\r' || c == '\n' || c == '=')
            continue;
        const size_t v = alphabet.find(c);
        if (v == std::string::npos)
            ADD_FAILURE() << "not base64: " << int(static_cast<unsigned char>(c));
        bits = (bits << 6) | static_cast<unsigned>(v);
        count += 6;
        if (count >= 8)
        {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

// Quoted-printable of data handed over in pieces of `piece` bytes (0: in one piece).
std::string QP(const std::string& data, bool text, size_t piece = 0)
{
    mimepack::QPEncoderState state;
    std::string out;
    char buffer[6 * 4096 + 6];
    // Whole-data runs go in the largest pieces the buffer allows.
    const size_t step = piece == 0 ? 4096 : piece;
    for (size_t at = 0; at < data.size(); at += step)
    {
        const size_t n = std::min(step, data.size() - at);
        if (n > 4096)
        {
            ADD_FAILURE() << "piece too large for the test buffer";
            return out;
        }
        out.append(buffer, mimepack::QPEncodeStep(state, reinterpret_cast<const unsigned char*>(data.data() + at), n,
                                                  text, buffer));
    }
    out.append(buffer, mimepack::QPEncodeFinish(state, text, buffer));
    return out;
}

// Decodes quoted-printable: soft breaks vanish, "=XX" becomes its byte, all else stays.
std::string DecodeQP(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] != '=')
        {
            out += text[i];
            continue;
        }
        if (text.compare(i, 3, "=\r\n") == 0)
        {
            i += 2;
            continue;
        }
        if (i + 2 >= text.size())
        {
            ADD_FAILURE() << "cut escape at " << i;
            break;
        }
        out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
        i += 2;
    }
    return out;
}

std::string Random(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(gen() & 0xFF);
    return s;
}

// Text-like data: letters, spaces, tabs, CR LF, lone CR and LF, and high bytes.
std::string RandomText(size_t n, unsigned seed)
{
    static const std::string pool = "abcXYZ019 .=\t\r\n\r\n  \xE9\x7F!@";
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = pool[gen() % pool.size()];
    return s;
}

} // namespace

// ---- base64 ----

struct Base64Row
{
    std::string data;
    std::string expected;
};

TEST(Base64Lines, KnownVectorsAndLineLimits)
{
    const std::string a54(54, 'A');
    const std::string line54 = [] {
        std::string s;
        for (int i = 0; i < 18; ++i)
            s += "QUFB";
        return s;
    }();
    const Base64Row rows[] = {
        {"", ""},
        {"f", "Zg==\r\n"},
        {"fo", "Zm8=\r\n"},
        {"foo", "Zm9v\r\n"},
        {"foob", "Zm9vYg==\r\n"},
        {"foobar", "Zm9vYmFy\r\n"},
        {std::string("\x00\xFF\xFE", 3), "AP/+\r\n"},
        {"GIF", "R0lG\r\n"},
        {a54, line54 + "\r\n"},                         // exactly one full line
        {a54 + "A", line54 + "\r\nQQ==\r\n"},           // 55: second line of 4 characters
        {a54 + "AA", line54 + "\r\nQUE=\r\n"},          // 56
        {a54 + a54, line54 + "\r\n" + line54 + "\r\n"}, // 108: two full lines
    };
    for (const Base64Row& row : rows)
        EXPECT_EQ(row.expected, Base64(row.data)) << "size " << row.data.size();
}

TEST(Base64Lines, RoundTripsAndKeepsLineLengthsAtEverySize)
{
    for (size_t n : {1u, 2u, 3u, 53u, 54u, 55u, 107u, 108u, 109u, 1079u, 1080u, 1081u, 2160u, 5000u})
    {
        const std::string data = Random(n, static_cast<unsigned>(n));
        const std::string text = Base64(data);
        EXPECT_EQ(data, DecodeBase64(text)) << n;
        size_t lines = 0;
        for (size_t at = 0; at < text.size();)
        {
            const size_t end = text.find("\r\n", at);
            ASSERT_NE(std::string::npos, end);
            const size_t length = end - at;
            const bool last = end + 2 == text.size();
            if (!last || n % 54 == 0)
                EXPECT_EQ(72u, length) << n;
            else
                EXPECT_EQ((n % 54 + 2) / 3 * 4, length) << n;
            ++lines;
            at = end + 2;
        }
        EXPECT_EQ((n + 53) / 54, lines) << n;
    }
}

// ---- quoted-printable ----

struct QPRow
{
    const char* name;
    std::string data;
    bool text;
    std::string expected;
};

TEST(QuotedPrintable, RulesTableAtEverySplit)
{
    const std::string a73(73, 'a');
    const QPRow rows[] = {
        {"space before CR LF, text", "a \r\nb", true, "a=20\r\nb"},
        {"space before CR LF, binary", "a \r\nb", false, "a=20=0D=0Ab"},
        {"high byte", "\xE9", true, "=E9"},
        {"control byte", "\x1F", false, "=1F"},
        {"tab is always escaped", "a\tb", true, "a=09b"},
        {"tab before CR", "a\t\r\n", true, "a=09\r\n"},
        {"equals sign", "a=b", false, "a=3Db"},
        {"space at the end of the data", "end ", true, "end=20"},
        {"tab at the end of the data", "end\t", false, "end=09"},
        {"two spaces before CR", "x  \r\n", true, "x =20\r\n"},
        {"space before a lone LF stays", "x \ny", true, "x \ny"},
        {"lone LF kept in text", "x\ny", true, "x\ny"},
        {"lone CR kept in text", "x\ry", true, "x\ry"},
        {"CR at the end of text data", "x\r", true, "x\r"},
        {"LF CR is two lone ends", "x\n\ry", true, "x\n\ry"},
        {"lone LF escaped outside text", "x\ny", false, "x=0Ay"},
        {"escape set punctuation", "!\"#$@[\\]^`{|}~\x7F", false, "=21=22=23=24=40=5B=5C=5D=5E=60=7B=7C=7D=7E=7F"},
        {"printable punctuation passes", "%&'()*+,-./09:;<>?AZ_az", false, "%&'()*+,-./09:;<>?AZ_az"},
        {"NUL and FF", std::string("\x00\xFF", 2), false, "=00=FF"},
        {"100 letters break after 73", std::string(100, 'a'), true, a73 + "=\r\n" + std::string(27, 'a')},
        {"exactly 73 letters: no break", a73, true, a73},
        {"74 letters", a73 + "b", true, a73 + "=\r\nb"},
        {"escape at column 72 reaches 75", std::string(72, 'a') + "=b", false, std::string(72, 'a') + "=3D=\r\nb"},
        {"CR LF resets the column", std::string(70, 'a') + "\r\n" + std::string(73, 'b') + "c", true,
         std::string(70, 'a') + "\r\n" + std::string(73, 'b') + "=\r\nc"},
        {"lone LF does not reset the column", std::string(70, 'a') + "\nbbb", true,
         std::string(70, 'a') + "\nbb=\r\nb"},
        {"CR LF at column 73 follows a soft break", a73 + "\r\nx", true, a73 + "=\r\n\r\nx"},
        {"empty data", "", true, ""},
    };
    for (const QPRow& row : rows)
    {
        EXPECT_EQ(row.expected, QP(row.data, row.text)) << row.name;
        for (size_t piece = 1; piece <= row.data.size(); ++piece)
            ASSERT_EQ(row.expected, QP(row.data, row.text, piece)) << row.name << ", pieces of " << piece;
    }
}

TEST(QuotedPrintable, EscapeSetIsExactlyTheListedValues)
{
    for (unsigned c = 0; c < 256; ++c)
    {
        const bool listed = c <= 0x1F || (c >= 0x21 && c <= 0x24) || c == 0x3D || c == 0x40 ||
                            (c >= 0x5B && c <= 0x5E) || c == 0x60 || c >= 0x7B;
        EXPECT_EQ(listed, mimepack::QPMustEscape(static_cast<unsigned char>(c))) << c;
    }
}

TEST(QuotedPrintable, RandomPayloadsRoundTripAtEverySplitWithShortLines)
{
    for (unsigned seed = 1; seed <= 6; ++seed)
    {
        for (bool text : {true, false})
        {
            const std::string data = seed % 2 ? Random(700, seed) : RandomText(700, seed);
            const std::string whole = QP(data, text);
            EXPECT_EQ(data, DecodeQP(whole)) << seed;
            for (size_t piece : {1u, 2u, 3u, 7u, 126u, 127u, 128u, 4096u})
                ASSERT_EQ(whole, QP(data, text, piece)) << seed << " " << piece;
            // Lines, up to each CR LF, hold at most 76 characters with the soft "=".
            for (size_t at = 0; at < whole.size();)
            {
                size_t end = whole.find("\r\n", at);
                if (end == std::string::npos)
                    end = whole.size();
                EXPECT_LE(end - at, 76u) << seed;
                at = end + 2;
            }
        }
    }
}

// ---- the file loops and the body writer ----

class BodyWriter : public ::testing::Test
{
protected:
    // Runs WriteBody for block into a scratch file; returns what was written.
    std::string Body(CInputBlock* block, _CME_RC expected = CME_SUCCESS)
    {
        return WriteToFile(dir.file("out"),
                           [&](CFile& out) { EXPECT_EQ(expected, packer.WriteBody(block, out, error)); });
    }

    ScratchDir dir;
    CPacker packer;
    CString error;
};

TEST_F(BodyWriter, QuotedPrintableSplitsAtTheReadSize)
{
    const std::string a126(126, 'a');
    const std::string prefix = std::string(73, 'a') + "=\r\n" + std::string(53, 'a');
    struct Row
    {
        const char* name;
        CMIMEPart::_CONTENT_TYPE type;
        std::string data;
        std::string expected;
    } rows[] = {
        {"space as byte 127, CR as 128", CMIMEPart::CONTENT_TEXT, a126 + " \r\nb", prefix + "=20\r\nb"},
        {"space as byte 127, letter as 128", CMIMEPart::CONTENT_TEXT, a126 + " b", prefix + " b"},
        {"space as the last byte, 127", CMIMEPart::CONTENT_TEXT, a126 + " ", prefix + "=20"},
        {"tab as byte 127", CMIMEPart::CONTENT_TEXT, a126 + "\tb", prefix + "=09b"},
        {"CR as 127, LF as 128, text", CMIMEPart::CONTENT_TEXT, a126 + "\r\n" + std::string(80, 'c'),
         prefix + "\r\n" + std::string(73, 'c') + "=\r\n" + std::string(7, 'c')},
        {"CR as 127, LF as 128, binary", CMIMEPart::CONTENT_APPLICATION, a126 + "\r\n" + std::string(80, 'c'),
         prefix + "=0D=0A" + std::string(14, 'c') + "=\r\n" + std::string(66, 'c')},
        {"CR as the very last byte", CMIMEPart::CONTENT_TEXT, a126 + "\r", prefix + "\r"},
        {"space as byte 254 of two reads", CMIMEPart::CONTENT_APPLICATION, std::string(253, 'z') + " ",
         std::string(73, 'z') + "=\r\n" + std::string(73, 'z') + "=\r\n" + std::string(73, 'z') + "=\r\n" +
             std::string(34, 'z') + "=20"},
    };
    for (const Row& row : rows)
    {
        CInputBlock block(row.type, CMIMEPart::ENCODE_QUOTED_PRINTABLE, "x",
                          MakeFile(dir.file("data"), row.data).c_str());
        EXPECT_EQ(row.expected, Body(&block)) << row.name;
    }
}

TEST_F(BodyWriter, LargeFilesMatchTheStepFunctions)
{
    const std::string data = Random(100000, 7);
    MakeFile(dir.file("data"), data);
    CInputBlock qp(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_QUOTED_PRINTABLE, "x", dir.file("data").c_str());
    EXPECT_EQ(QP(data, true), Body(&qp));
    CInputBlock b64(CMIMEPart::CONTENT_IMAGE, CMIMEPart::ENCODE_BASE64, "x", dir.file("data").c_str());
    const std::string text = Body(&b64);
    EXPECT_EQ(Base64(data), text);
    EXPECT_EQ(data, DecodeBase64(text));
    CInputBlock copy(CMIMEPart::CONTENT_APPLICATION, CMIMEPart::ENCODE_8BIT, "x", dir.file("data").c_str());
    EXPECT_EQ(data, Body(&copy));
}

TEST_F(BodyWriter, Base64AtReadSizeLimits)
{
    for (size_t n : {0u, 54u, 55u, 1079u, 1080u, 1081u, 2160u})
    {
        const std::string data = Random(n, 11);
        CInputBlock block(CMIMEPart::CONTENT_IMAGE, CMIMEPart::ENCODE_BASE64, "gif",
                          MakeFile(dir.file("data"), data).c_str());
        const std::string text = Body(&block);
        EXPECT_EQ(Base64(data), text) << n;
        EXPECT_EQ(data, DecodeBase64(text)) << n;
        if (n == 0)
        {
            EXPECT_EQ("", text);
        }
    }
}

TEST_F(BodyWriter, LineBreakAfterTheBodyDependsOnEncodingAndParent)
{
    enum Parent
    {
        None,
        Multipart,
        Message
    };
    struct Row
    {
        CMIMEPart::_ENCODE_TYPE encoding;
        Parent parent;
        std::string expected;
    } rows[] = {
        {CMIMEPart::ENCODE_QUOTED_PRINTABLE, None, "ab"},
        {CMIMEPart::ENCODE_QUOTED_PRINTABLE, Multipart, "ab\r\n"},
        {CMIMEPart::ENCODE_QUOTED_PRINTABLE, Message, "ab\r\n"},
        {CMIMEPart::ENCODE_BINARY, None, "ab"},
        {CMIMEPart::ENCODE_BINARY, Multipart, "ab\r\n"},
        {CMIMEPart::ENCODE_BINARY, Message, "ab"},
        {CMIMEPart::ENCODE_BASE64, Multipart, "YWI=\r\n"},
        {CMIMEPart::ENCODE_BASE64, None, "YWI=\r\n"},
        {CMIMEPart::ENCODE_7BIT, Multipart, "ab"},
        {CMIMEPart::ENCODE_8BIT, Multipart, "ab"},
        {CMIMEPart::ENCODE_UNKNOWN, Multipart, "ab"},
        {CMIMEPart::ENCODE_X_UUENCODE, Multipart, "ab"},
        {CMIMEPart::ENCODE_UUENCODE, Multipart, "ab"},
    };
    MakeFile(dir.file("data"), "ab");
    for (const Row& row : rows)
    {
        CInputBlock parent(row.parent == Message ? CMIMEPart::CONTENT_MESSAGE : CMIMEPart::CONTENT_MULTIPART);
        auto* leaf = new CInputBlock(CMIMEPart::CONTENT_TEXT, row.encoding, "plain", dir.file("data").c_str());
        Tree owner(leaf);
        if (row.parent != None)
        {
            Add(&parent, static_cast<CInputBlock*>(owner.release()));
        }
        EXPECT_EQ(row.expected, Body(leaf)) << row.encoding << " under " << row.parent;
        parent.DeleteChildBlocks();
    }
}

TEST_F(BodyWriter, EmptyDataFiles)
{
    MakeFile(dir.file("empty"), "");
    for (auto encoding : {CMIMEPart::ENCODE_BASE64, CMIMEPart::ENCODE_7BIT, CMIMEPart::ENCODE_QUOTED_PRINTABLE})
    {
        CInputBlock block(CMIMEPart::CONTENT_TEXT, encoding, "plain", dir.file("empty").c_str());
        EXPECT_EQ("", Body(&block)) << encoding;
    }
}

TEST_F(BodyWriter, MissingDataFileFailsWithItsName)
{
    struct Row
    {
        std::string dataFile;
    } rows[] = {{""}, {dir.file("missing.bin")}, {dir.path()}};
    for (const Row& row : rows)
    {
        CInputBlock block(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_BASE64, "plain", row.dataFile.c_str());
        error = "before";
        EXPECT_EQ("", Body(&block, CME_DATA_FILE_ERROR)) << row.dataFile;
        EXPECT_EQ("Data file '" + row.dataFile + "' cannot be opened.", std::string(error));
    }
}
