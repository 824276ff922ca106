// Round trips: trees composed by Pack and parsed by Unpack give back every data file.
#include "tests/unpack/unpacktest.h"

#include <gtest/gtest.h>
#include <random>

namespace
{

using testsupport::ReadFile;
using testsupport::WriteFile;
using unpacktest::Children;
using unpacktest::Shape;

std::string RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(gen() & 0xff);
    return s;
}

// Text of printable lines, each ended by the given line end.
std::string TextLines(int lines, const std::string& eol)
{
    std::string s;
    for (int i = 0; i < lines; ++i)
        s += "Line " + std::to_string(i) + " with some text, and more text." + eol;
    return s;
}

struct Leaf
{
    std::string name;
    CMIMEPart::_CONTENT_TYPE type;
    const char* subtype;
    CMIMEPart::_ENCODE_TYPE encoding;
    std::string data;
    std::string expected; // what the decoded file must hold
};

class RoundTrip : public ::testing::Test
{
protected:
    // Packs a multipart/mixed root with the leaves (and a nested multipart holding the
    // leaves again when nested is set), parses the result and checks every decoded file.
    void Check(const std::vector<Leaf>& leaves, bool nested)
    {
        testsupport::ScratchDir scratch;
        const std::string input = scratch.mkdir("in");
        const std::string work = scratch.mkdir("work");
        const std::string message = scratch.file("packed.eml");

        CMIMEEngine engine;
        CInputBlock* root = engine.StartCreate(nullptr, nullptr, CMIMEPart::CONTENT_MULTIPART, CMIMEPart::ENCODE_7BIT,
                                               "mixed", nullptr, TRUE, nullptr);
        ASSERT_NE(nullptr, root) << engine.GetErrorString();
        std::vector<CInputBlock*> parents = {root};
        if (nested)
        {
            CInputBlock* inner = engine.AddInputBlock(root, nullptr, nullptr, CMIMEPart::CONTENT_MULTIPART,
                                                      CMIMEPart::ENCODE_7BIT, "alternative", nullptr, TRUE, nullptr);
            ASSERT_NE(nullptr, inner) << engine.GetErrorString();
            parents.push_back(inner);
        }
        for (CInputBlock* parent : parents)
        {
            for (const Leaf& leaf : leaves)
            {
                const std::string path = input + "/" + leaf.name;
                WriteFile(path, leaf.data);
                ASSERT_NE(nullptr, engine.AddInputBlock(parent, path.c_str(), leaf.name.c_str(), leaf.type,
                                                        leaf.encoding, leaf.subtype, nullptr, TRUE, nullptr))
                    << leaf.name << ": " << engine.GetErrorString();
            }
        }
        char out[260];
        strcpy(out, message.c_str());
        ASSERT_EQ(CME_SUCCESS, engine.Pack(root, out, sizeof out, FALSE)) << engine.GetErrorString();
        engine.FreeBlocks(root);

        CString source(message.c_str());
        _CME_RC rc = CME_FAILURE;
        unpacktest::Tree parsed(engine.Unpack(source, work.c_str(), TRUE, rc));
        ASSERT_NE(nullptr, parsed);
        ASSERT_EQ(CME_SUCCESS, rc);

        auto top = Children(parsed.get());
        std::vector<std::vector<COutputBlock*>> groups;
        if (nested)
        {
            ASSERT_EQ(leaves.size() + 1, top.size()) << Shape(parsed.get());
            groups.push_back(Children(top[0]));
            groups.push_back(std::vector<COutputBlock*>(top.begin() + 1, top.end()));
        }
        else
        {
            groups.push_back(top);
        }
        for (const auto& group : groups)
        {
            ASSERT_EQ(leaves.size(), group.size()) << Shape(parsed.get());
            for (size_t i = 0; i < leaves.size(); ++i)
            {
                EXPECT_EQ(leaves[i].type, group[i]->GetContentType()) << leaves[i].name;
                EXPECT_EQ(leaves[i].encoding, group[i]->GetEncodeType()) << leaves[i].name;
                ASSERT_STRNE("", group[i]->GetDataFile()) << leaves[i].name;
                const std::string decoded = ReadFile(group[i]->GetDataFile());
                EXPECT_EQ(leaves[i].expected.size(), decoded.size()) << leaves[i].name;
                EXPECT_TRUE(leaves[i].expected == decoded) << leaves[i].name;
            }
        }
    }
};

const std::string kAll = testsupport::AllBytes() + testsupport::AllBytes();

TEST_F(RoundTrip, Base64ByteForByte)
{
    std::vector<Leaf> leaves;
    for (size_t n : {0u, 1u, 2u, 3u, 56u, 57u, 58u, 1000u})
    {
        std::string data = RandomBytes(n, static_cast<unsigned>(n));
        leaves.push_back({"r" + std::to_string(n) + ".bin", CMIMEPart::CONTENT_APPLICATION, "octet-stream",
                          CMIMEPart::ENCODE_BASE64, data, data});
    }
    leaves.push_back({"all.bin", CMIMEPart::CONTENT_APPLICATION, "octet-stream", CMIMEPart::ENCODE_BASE64, kAll, kAll});
    Check(leaves, false);
}

TEST_F(RoundTrip, QuotedPrintableByteForByte)
{
    const std::string text = TextLines(5, "\r\n") + "caf\xe9 = tab\there " + std::string(200, 'w') + "\r\n";
    const std::string longLine = std::string(3000, 'q') + "\r\n";
    Check({{"t.txt", CMIMEPart::CONTENT_TEXT, "plain", CMIMEPart::ENCODE_QUOTED_PRINTABLE, text, text},
           {"l.txt", CMIMEPart::CONTENT_TEXT, "plain", CMIMEPart::ENCODE_QUOTED_PRINTABLE, longLine, longLine}},
          false);
}

TEST_F(RoundTrip, BinaryByteForByte)
{
    Check({{"a.bin", CMIMEPart::CONTENT_APPLICATION, "octet-stream", CMIMEPart::ENCODE_BINARY, kAll, kAll},
           {"r.bin", CMIMEPart::CONTENT_APPLICATION, "octet-stream", CMIMEPart::ENCODE_BINARY, RandomBytes(10000, 7),
            RandomBytes(10000, 7)}},
          false);
}

// 7bit text comes back with CR LF line ends whatever it had.
TEST_F(RoundTrip, SevenBitTextWithCrLf)
{
    Check({{"crlf.txt", CMIMEPart::CONTENT_TEXT, "plain", CMIMEPart::ENCODE_7BIT, TextLines(20, "\r\n"),
            TextLines(20, "\r\n")},
           {"lf.txt", CMIMEPart::CONTENT_TEXT, "plain", CMIMEPart::ENCODE_7BIT, TextLines(20, "\n"),
            TextLines(20, "\r\n")}},
          false);
}

TEST_F(RoundTrip, NestedMultipartWithEveryEncoding)
{
    const std::string text = TextLines(3, "\r\n");
    Check({{"t.txt", CMIMEPart::CONTENT_TEXT, "plain", CMIMEPart::ENCODE_7BIT, text, text},
           {"q.txt", CMIMEPart::CONTENT_TEXT, "plain", CMIMEPart::ENCODE_QUOTED_PRINTABLE, text, text},
           {"b.bin", CMIMEPart::CONTENT_APPLICATION, "octet-stream", CMIMEPart::ENCODE_BASE64, kAll, kAll},
           {"x.bin", CMIMEPart::CONTENT_APPLICATION, "octet-stream", CMIMEPart::ENCODE_BINARY, kAll, kAll}},
          true);
}

} // namespace
