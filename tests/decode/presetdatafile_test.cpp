// A block whose data file is already set gets no output file: the line decoders read its
// body up to the delimiter and write nothing; quoted-printable does not read at all.
#include "decode/harness.h"

#include <gtest/gtest.h>

namespace
{

using decodetest::DecodeRun;
using decodetest::RunDecoder;
using decodetest::Tree;

struct PresetRow
{
    const char* name;
    decodetest::Decoder decoder;
    CMIMEPart::_ENCODE_TYPE encoding;
    const char* body;
    const char* line; // line buffer afterwards; null: not checked
    const char* next; // what the source reads next
};

TEST(PresetDataFile, NothingIsWrittenAndTheBodyIsLeftAsEachDecoderSays)
{
    const PresetRow rows[] = {
        {"text", &CUnpacker::DecodeText, CMIMEPart::ENCODE_7BIT, "a\n--b\nnext\n", "--b\n", "next\n"},
        {"base64", &CUnpacker::DecodeBase64, CMIMEPart::ENCODE_BASE64, "SGVs\n--b\nafter\n", "--b", "after\n"},
        {"uuencode", &CUnpacker::DecodeUUEncode, CMIMEPart::ENCODE_X_UUENCODE, "begin 644 a.txt\n#86)C\n`\nend\n--b\n",
         nullptr, "--b\n"},
        // Quoted-printable returns before reading anything.
        {"quoted-printable", &CUnpacker::DecodeQuotedPrintable, CMIMEPart::ENCODE_QUOTED_PRINTABLE, "a\n--b\n", nullptr,
         "a\n--b\n"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        testsupport::ScratchDir scratch;
        std::string work = scratch.mkdir("work");
        Tree tree;
        tree.leaf()->SetEncodeType(row.encoding);
        tree.leaf()->SetDataFile((work + "/chosen").c_str());
        DecodeRun run = RunDecoder(row.decoder, tree.leaf(), row.body, work);
        EXPECT_EQ(CME_SUCCESS, run.rc);
        if (row.line != nullptr)
        {
            EXPECT_EQ(row.line, run.line);
        }
        EXPECT_EQ(row.next, run.next);
        EXPECT_EQ(work + "/chosen", run.dataFile);
        EXPECT_EQ("", testsupport::ListTree(work));
    }
}

} // namespace
