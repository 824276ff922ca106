// Messages composed by Pack are read back by an independent parser, Python's email package
// (tests/pack/interop.py): every part's type is seen and every body decodes to its data.
#include "packtest.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <random>

using namespace packtest;
using testsupport::ScratchDir;

namespace
{

using CT = CMIMEPart;

std::string RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s = testsupport::AllBytes();
    while (s.size() < n)
        s += static_cast<char>(gen() & 0xFF);
    // Ends in a byte that is no line end, so the data owns all of its own bytes.
    s.back() = 'Z';
    return s;
}

// Text with CR LF lines: long lines, trailing spaces and tabs, "=" signs and high bytes.
std::string Text(unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s;
    for (int line = 0; line < 40; ++line)
    {
        const size_t length = gen() % 200;
        for (size_t i = 0; i < length; ++i)
        {
            static const char pool[] = "abcdefghij KLMNOP=.,;:-_\t\xE9\xFC";
            s += pool[gen() % (sizeof pool - 1)];
        }
        if (line % 3 == 0)
            s += "   ";
        if (line % 5 == 0)
            s += '\t';
        s += "\r\n";
    }
    return s;
}

class Manifest
{
public:
    void Message(const std::string& path) { m_text += "MESSAGE " + path + "\n"; }
    void Part(const std::string& type, const std::string& mode, const std::string& data = "-")
    {
        m_text += "PART " + type + " " + mode + " " + data + "\n";
    }
    const std::string& text() const { return m_text; }

private:
    std::string m_text;
};

} // namespace

TEST(Interop, PythonEmailReadsComposedMessages)
{
#ifndef MIMEENGINE_PYTHON3
    FAIL() << "python3 was not found when the build was configured";
#else
    ScratchDir dir;
    MimeDatabase noDatabase(nullptr);
    CMIMEEngine engine;
    Manifest manifest;
    auto file = [&](const char* name, const std::string& data) { return MakeFile(dir.file(name), data); };

    const std::string text1 = file("text1.txt", Text(1));
    const std::string text2 = file("text2.txt", Text(2));
    const std::string html =
        file("page.html", "<html><body><p>" + std::string(300, 'w') + "</p>  \r\n</body></html>\r\n");
    const std::string random = file("random.bin", RandomBytes(5000, 3));
    const std::string allBytes = file("all.bin", testsupport::AllBytes() + testsupport::AllBytes() + "Z");
    const std::string gif = file("pic.gif", RandomBytes(700, 4));
    const std::string au = file("sound.au", RandomBytes(3000, 5));
    const std::string inner = file("inner.eml", "Subject: inner\r\nContent-Type: text/plain\r\n\r\nInner body\r\n");
    const std::string rootHeader = file("root.hdr", "Subject: interop\r\nFrom: a@example.org\r\n");
    const std::string customHeader = file("custom.hdr", "Content-Type: text/x-custom\r\n");
    const std::string custom = file("custom.txt", "custom body\r\n");

    // One message with nested multiparts and every kind of leaf.
    {
        CInputBlock* root = engine.StartCreate(nullptr, nullptr, CT::CONTENT_MULTIPART, CT::ENCODE_UNKNOWN, "mixed",
                                               rootHeader.c_str(), TRUE, nullptr);
        ASSERT_NE(nullptr, root) << engine.GetErrorString();
        Tree owner(root);
        auto add = [&](CInputBlock* parent, const std::string& data, CT::_CONTENT_TYPE type, CT::_ENCODE_TYPE enc,
                       const char* sub, const char* params = nullptr) {
            CInputBlock* b = engine.AddInputBlock(parent, data.empty() ? nullptr : data.c_str(), nullptr, type, enc,
                                                  sub, nullptr, TRUE, params);
            EXPECT_NE(nullptr, b) << engine.GetErrorString();
            return b;
        };
        manifest.Message(dir.file("nested.eml"));
        manifest.Part("multipart/mixed", "type");
        add(root, text1, CT::CONTENT_TEXT, CT::ENCODE_QUOTED_PRINTABLE, "plain", "charset=iso-8859-1");
        manifest.Part("text/plain", "text", text1);
        CInputBlock* alternative = add(root, "", CT::CONTENT_MULTIPART, CT::ENCODE_UNKNOWN, "alternative");
        manifest.Part("multipart/alternative", "type");
        add(alternative, text2, CT::CONTENT_TEXT, CT::ENCODE_7BIT, "plain");
        manifest.Part("text/plain", "copytext", text2);
        add(alternative, html, CT::CONTENT_TEXT, CT::ENCODE_QUOTED_PRINTABLE, "html");
        manifest.Part("text/html", "text", html);
        add(root, random, CT::CONTENT_APPLICATION, CT::ENCODE_BASE64, "octet-stream");
        manifest.Part("application/octet-stream", "bytes", random);
        add(root, allBytes, CT::CONTENT_APPLICATION, CT::ENCODE_BINARY, "x-binary");
        manifest.Part("application/x-binary", "bytes", allBytes);
        add(root, allBytes, CT::CONTENT_APPLICATION, CT::ENCODE_QUOTED_PRINTABLE, "x-qp");
        manifest.Part("application/x-qp", "bytes", allBytes);
        add(root, gif, CT::CONTENT_UNKNOWN, CT::ENCODE_UNKNOWN, nullptr);
        manifest.Part("image/gif", "bytes", gif);
        // A message part packs its data file, which the block rules do not let the engine
        // attach; it is hung into the tree directly.
        auto* message = new CInputBlock(CT::CONTENT_MESSAGE, CT::ENCODE_7BIT, "rfc822", inner.c_str());
        CString unused;
        ASSERT_EQ(CME_SUCCESS, root->AddChildBlock(message, unused));
        manifest.Part("message/rfc822", "type");
        manifest.Part("text/plain", "type");
        CInputBlock* deep = add(root, "", CT::CONTENT_MULTIPART, CT::ENCODE_UNKNOWN, "mixed");
        manifest.Part("multipart/mixed", "type");
        CInputBlock* parallel = add(deep, "", CT::CONTENT_MULTIPART, CT::ENCODE_UNKNOWN, "parallel");
        manifest.Part("multipart/parallel", "type");
        add(parallel, au, CT::CONTENT_AUDIO, CT::ENCODE_BASE64, "basic");
        manifest.Part("audio/basic", "bytes", au);
        add(parallel, allBytes, CT::CONTENT_VIDEO, CT::ENCODE_BINARY, "mpeg");
        manifest.Part("video/mpeg", "bytes", allBytes);
        ASSERT_NE(nullptr, engine.AddInputBlock(deep, CT::CONTENT_TEXT, customHeader.c_str(), nullptr, custom.c_str()))
            << engine.GetErrorString();
        manifest.Part("text/x-custom", "copytext", custom);

        CString text;
        long uid = 0;
        // Only the message part breaks a rule: it has a data file.
        EXPECT_FALSE(engine.ValidateBlockList(root, text, &uid));
        EXPECT_EQ(message->GetUID(), uid);
        EXPECT_STREQ("Please un-specified the data file for the selected MIME type.", text);
        std::string path = dir.file("nested.eml");
        ASSERT_EQ(CME_SUCCESS, engine.Pack(root, &path[0], 0, FALSE)) << engine.GetErrorString();
    }

    // Single-part messages: nothing follows the body, so the data ends the file.
    struct Single
    {
        const char* name;
        CT::_CONTENT_TYPE type;
        CT::_ENCODE_TYPE encoding;
        const char* subType;
        std::string data;
        const char* mode;
    } singles[] = {
        {"qp-text.eml", CT::CONTENT_TEXT, CT::ENCODE_QUOTED_PRINTABLE, "plain", file("end.txt", Text(6) + "tail  "),
         "text"},
        {"qp-binary.eml", CT::CONTENT_APPLICATION, CT::ENCODE_QUOTED_PRINTABLE, "octet-stream", allBytes, "bytes"},
        {"base64.eml", CT::CONTENT_IMAGE, CT::ENCODE_BASE64, "png", random, "bytes"},
        {"binary.eml", CT::CONTENT_APPLICATION, CT::ENCODE_BINARY, "octet-stream", allBytes, "bytes"},
        {"7bit.eml", CT::CONTENT_TEXT, CT::ENCODE_7BIT, "plain", text2, "text"},
    };
    for (const Single& single : singles)
    {
        CInputBlock* root = engine.StartCreate(single.data.c_str(), nullptr, single.type, single.encoding,
                                               single.subType, nullptr, TRUE, nullptr);
        ASSERT_NE(nullptr, root) << engine.GetErrorString();
        std::string path = dir.file(single.name);
        ASSERT_EQ(CME_SUCCESS, engine.Pack(root, &path[0], 0, TRUE)) << engine.GetErrorString();
        manifest.Message(path);
        manifest.Part(std::string(szContType[single.type]) + "/" + single.subType, single.mode, single.data);
    }

    const std::string manifestPath = file("manifest.txt", manifest.text());
    const std::string log = dir.file("python.log");
    const std::string command = std::string("\"") + MIMEENGINE_PYTHON3 +
                                "\" \"" MIMEENGINE_SOURCE_DIR "/tests/pack/interop.py\" \"" + manifestPath + "\" > \"" +
                                log + "\" 2>&1";
    const int status = std::system(command.c_str());
    const std::string output = testsupport::ReadFile(log);
    EXPECT_EQ(0, status) << output;
    EXPECT_NE(std::string::npos, output.find("21 parts checked, 0 problems")) << output;
#endif
}
