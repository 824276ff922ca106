// Composing messages, driven by the tables under tests/data/pack/ (each names its columns):
// encoders.tsv (input bytes -> encoded bytes), contenttype.tsv (file name or parsed block ->
// type, subtype, encoding, name), rules.tsv (one block -> IsValid and IsDataValid messages) and
// messages.tsv (trees built through the engine and packed; each compared with <case>.eml, the
// refusals, validation and failures with notes.txt, and read back by Python's email package).
// In cells "{N*text}" stands for text repeated N times and "{all}" for the bytes 0..255.
#include "mimeengine/mimeengine.h"
#include "mimeengine/platform/ctime.h"
#include "pack/encoders.h"
#include "platform/crt.h"
#include "platform/win32.h"
#include "support/testsupport.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>

using namespace testsupport;
using M = CMIMEPart;
using CT = CMIMEPart::_CONTENT_TYPE;
using ET = CMIMEPart::_ENCODE_TYPE;

namespace
{

// The value whose name (ignoring case) is name in one of the engine's name tables.
template <typename E> E Named(const char (*names)[32], const std::string& name)
{
    for (unsigned i = 0; i < 8; ++i)
        if (_stricmp(names[i], name.c_str()) == 0)
            return static_cast<E>(i);
    ADD_FAILURE() << "no such name: " << name;
    return E{};
}

// s with dir written as $DIR, and the separator after it as "/".
std::string Hide(std::string s, const std::string& dir)
{
    for (size_t at; (at = s.find(Join(dir, ""))) != std::string::npos;)
        s.replace(at, dir.size() + 1, "$DIR/");
    for (size_t at; (at = s.find(dir)) != std::string::npos;)
        s.replace(at, dir.size(), "$DIR");
    return s;
}

std::string QP(const std::string& data, bool text, size_t piece)
{
    mimepack::QPEncoderState state;
    std::string out;
    char buffer[6 * 4096 + 6];
    for (size_t at = 0, step = piece == 0 ? 4096 : piece; at < data.size(); at += step)
        out.append(buffer, mimepack::QPEncodeStep(state, reinterpret_cast<const unsigned char*>(data.data() + at),
                                                  std::min(step, data.size() - at), text, buffer));
    out.append(buffer, mimepack::QPEncodeStep(state, nullptr, 0, text, buffer)); // an empty piece adds nothing
    return out.append(buffer, mimepack::QPEncodeFinish(state, text, buffer));
}

// A data file name that only a POSIX file system holds: a backslash (a separator on
// Windows), CR or LF.
bool PosixOnlyName(const std::string& name)
{
    return name.find_first_of("\\\r\n") != std::string::npos;
}

int g_destroyed = 0;
int g_draws = 0;
struct Counted : CInputBlock
{
    using CInputBlock::CInputBlock;
    ~Counted() override { ++g_destroyed; }
};

} // namespace

using Encoders = ::testing::TestWithParam<Row>;
TEST_P(Encoders, Row)
{
    ScratchDir dir;
    CPacker packer;
    CString error;
    const Row& row = GetParam();
    const std::string data = row[1], expected = row[2], path = dir.file("data");
    for (size_t piece = 0; row[0][0] == 'q' && piece <= std::min<size_t>(data.size(), 300); ++piece)
        ASSERT_EQ(expected, QP(data, row[0] == "qp-text", piece)) << "pieces " << piece;
    WriteFile(path, data);
    CInputBlock block(row[0] == "qp-text" ? M::CONTENT_TEXT : M::CONTENT_APPLICATION,
                      Named<ET>(szEncodeType, row[0][0] == 'q' ? "quoted-printable" : row[0]), "x", path.c_str());
    CFile out;
    ASSERT_TRUE(out.Open(dir.file("out").c_str(), CFile::modeCreate | CFile::modeReadWrite));
    EXPECT_EQ(CME_SUCCESS, packer.WriteBody(&block, out, error));
    out.Close();
    EXPECT_EQ(expected, ReadFile(dir.file("out")));
}
INSTANTIATE_TEST_SUITE_P(Table, Encoders, ::testing::ValuesIn(ReadTable("pack/encoders.tsv")), CaseName());

// QPMustEscape tells for every byte whether the encoder escapes it inside a line.
TEST(Pack, QPMustEscape)
{
    for (int c = 0; c < 256; ++c)
        EXPECT_EQ(QP(std::string(1, char(c)) + "x", false, 0)[0] == '=', mimepack::QPMustEscape(c)) << c;
}

using ContentTypes = ::testing::TestWithParam<Row>;
TEST_P(ContentTypes, Row)
{
    const Row& row = GetParam();
    if (row[0] == "registry" && !kHaveRegistry)
        GTEST_SKIP() << "no registry here";
    if (row[0] == "registry")
        SetEnv("MIMEENGINE_MIME_TYPES", nullptr); // nothing stands in for the registry
    else
        RegistrySetMimeTypesForTesting(row[0] == "-" ? nullptr : row[0].c_str());
    COutputBlock block;
    block.SetContentType(Named<CT>(szContType, row[2]));
    block.SetSubTypeString(row[3].c_str());
    block.SetEncodeType(Named<ET>(szEncodeType, row[4]));
    block.SetSuggestName(row[5].c_str());
    EXPECT_TRUE(row[1] == "type" ? CContentTypeMap().DeriveContentType(row[5].c_str(), &block)
                                 : CContentTypeMap().DeriveFileExtension(&block));
    EXPECT_EQ(row[6] + "/" + row[7] + " " + row[8] + " " + row[9],
              std::string(szContType[block.GetContentType()]) + "/" + block.GetSubTypeString() + " " +
                  szEncodeType[block.GetEncodeType()] + " " + block.GetSuggestName());
    RegistryResetForTesting();
}
INSTANTIATE_TEST_SUITE_P(Table, ContentTypes, ::testing::ValuesIn(ReadTable("pack/contenttype.tsv")), CaseName());

TEST(Pack, ContentTypesOfNothing)
{
    EXPECT_TRUE(DeriveContentType(nullptr, nullptr) && DeriveFileExtension(nullptr));
}

using BlockRules = ::testing::TestWithParam<Row>;
TEST_P(BlockRules, Row)
{
    ScratchDir dir;
    WriteFile(dir.file("ok"), "x");
    const Row& row = GetParam();
    const std::string data = row[3] == "." ? dir.path() : row[3].empty() ? "" : dir.file(row[3]);
    CInputBlock block(Named<CT>(szContType, row[0]), Named<ET>(szEncodeType, row[1]), row[2].c_str(), data.c_str(),
                      nullptr, (row[4].empty() ? "" : dir.file(row[4])).c_str(), row[5] == "1");
    CString unused, valid = "-", dataValid = "-";
    if (row[6] == "1")
        block.AddChildBlock(new CInputBlock(M::CONTENT_TEXT), unused);
    EXPECT_EQ(row[7] == "-" ? 2 : 0, !!block.IsValid(&valid) + !!block.IsValid(nullptr));
    EXPECT_EQ(row[8] == "-" ? 2 : 0, !!block.IsDataValid(&dataValid) + !!block.IsDataValid(nullptr));
    EXPECT_EQ(row[7] + "|" + row[8], Hide(std::string(valid) + "|" + std::string(dataValid), dir.path()));
    block.DeleteChildBlocks();
}
INSTANTIATE_TEST_SUITE_P(Table, BlockRules, ::testing::ValuesIn(ReadTable("pack/rules.tsv")), CaseName());

// Builds the tree of the case whose first row is first through the engine and packs it into
// dir/<case>/out.eml; returns what was refused, found invalid or failed (notes.txt's lines).
// One fixed clock (a case named clock-<seconds> has its own), and the same draws per case.
std::string PackCase(const Row& first, const ScratchDir& dir)
{
    PlatformSetRandForTesting([] { return (g_draws++ * 12345 + 7) % 32768; });
    RegistrySetMimeTypesForTesting("image/png png\nmultipart/related mht\nmessage/rfc822 eml\n");
    std::string notes;
    CString message, again;
    const std::string name = first[0], caseDir = dir.mkdir(name);
    g_draws = 0;
    const CTime now(name.rfind("clock-", 0) == 0 ? std::stoll(name.substr(6)) : 944000000);
    CTime::SetCurrentTimeForTesting(&now);
    CMIMEEngine engine(static_cast<_ENCODE_MODE>(std::stoi(first[10])));
    std::vector<CInputBlock*> blocks, byDepth;
    for (const Row& r : ReadTable(first.table))
    {
        if (r[0] != name)
            continue;
        const std::string k = std::to_string(blocks.size()), sub = r[2].substr(r[2].find('/') + 1);
        auto file = [&](const std::string& cell, const std::string& path, const std::string& bytes) {
            if (!cell.empty() && bytes != "!")
                WriteFile(path, bytes);
            return cell.empty() ? "" : path;
        };
        const std::string data = file(r[4], caseDir + "/" + r[4], r[5]), suggest = r[7];
        const std::string header = file(r[6], caseDir + "/h" + k + ".hdr", r[6]);
        const size_t depth = std::stoul(r[1]);
        const bool shortForm = r[9] == "s";
        const CT type = Named<CT>(szContType, r[2].substr(0, r[2].find('/')));
        const ET enc = shortForm ? M::ENCODE_8BIT : Named<ET>(szEncodeType, r[3]);
        CInputBlock* parent = depth == 0 ? nullptr : byDepth[depth - 1];
        const char *d = data.c_str(), *h = header.c_str(), *s = suggest.c_str();
        CInputBlock* b =
            shortForm
                ? (parent ? engine.AddInputBlock(parent, type, h, s, d) : engine.StartCreate(type, h, s, d))
                : (parent ? engine.AddInputBlock(parent, d, s, type, enc, sub.c_str(), h, r[9] == "1", r[8].c_str())
                          : engine.StartCreate(d, s, type, enc, sub.c_str(), h, r[9] == "1", r[8].c_str()));
        if (b == nullptr)
        {
            // Refused blocks are hung into the tree directly, to see how they are written.
            notes += name + ": block " + k + " refused, rc " + std::to_string(engine.GetLastError()) + ": " +
                     engine.GetErrorString() + "\n";
            b = new CInputBlock(type, enc, shortForm ? "" : sub.c_str(), d, s, h, r[9] == "1", r[8].c_str());
            if (parent)
                parent->AddChildBlock(b, message);
        }
        byDepth.resize(depth + 1);
        byDepth[depth] = b;
        blocks.push_back(b);
    }
    long uid = -1;
    if (!engine.ValidateBlockList(blocks[0], message, &uid))
    {
        const auto k = std::find_if(blocks.begin(), blocks.end(), [&](CBlock* b) { return b->GetUID() == uid; });
        notes += name + ": block " + std::to_string(k - blocks.begin()) +
                 " invalid: " + Hide(message.GetString(), dir.path()) + "\n";
        EXPECT_FALSE(engine.ValidateBlockList(blocks[0], again, nullptr));
        EXPECT_EQ(std::string(message), std::string(again));
    }
    std::string out = caseDir + "/out.eml";
    const _CME_RC rc = engine.Pack(blocks[0], &out[0], 0, FALSE);
    if (rc != CME_SUCCESS)
        notes += name + ": rc " + std::to_string(rc) + ": " + Hide(engine.GetErrorString(), dir.path()) + "\n";
    EXPECT_TRUE(engine.FreeBlocks(blocks[0]));
    RegistryResetForTesting();
    CTime::SetCurrentTimeForTesting(nullptr);
    PlatformSetRandForTesting(nullptr);
    return notes;
}

// messages.tsv: each case (its rows) compared with <case>.eml and its lines of notes.txt.
using Messages = ::testing::TestWithParam<Row>;
TEST_P(Messages, Case)
{
    ScratchDir dir;
    const Row& first = GetParam();
    const std::vector<Row> rows = ReadTable(first.table);
    if (kSeparator == '\\' &&
        std::any_of(rows.begin(), rows.end(), [&](const Row& r) { return r[0] == first[0] && PosixOnlyName(r[4]); }))
        GTEST_SKIP() << "data file names this system cannot hold";
    const std::string notes = PackCase(first, dir);
    ExpectGolden("pack/" + first[0] + ".eml", ReadFile(dir.file(first[0] + "/out.eml")));
    ExpectGoldenSection("pack/notes.txt", first, notes, 0);
}
INSTANTIATE_TEST_SUITE_P(Table, Messages, ::testing::ValuesIn(FirstOfEach(ReadTable("pack/messages.tsv"), 0)),
                         CaseName());

// Every case packed, then read back by Python's email package.
TEST(Pack, MessagesReadByPython)
{
#if defined(MIMEENGINE_TESTS_UNDER_WINE)
    GTEST_SKIP() << "a program under Wine cannot start the host's Python";
#elif !defined(MIMEENGINE_PYTHON3)
    FAIL() << "python3 was not found when the build was configured";
#else
    ScratchDir dir;
    for (const Row& first : FirstOfEach(ReadTable("pack/messages.tsv"), 0))
        PackCase(first, dir);
    const std::string command = std::string("\"") + MIMEENGINE_PYTHON3 + "\" \"" MIMEENGINE_SOURCE_DIR +
                                "/tests/pack/interop.py\" \"" + DataPath("pack/messages.tsv") + "\" \"" + dir.path() +
                                "\" > \"" + dir.file("log") + "\" 2>&1";
    EXPECT_EQ(0, std::system(command.c_str())) << ReadFile(dir.file("log"));
    EXPECT_NE(std::string::npos, ReadFile(dir.file("log")).find(" parts checked, 0 problems\n"));
#endif
}

TEST(Pack, FreeingAndOutputFiles)
{
    ScratchDir dir;
    CMIMEEngine engine;
    CPacker packer;
    CString error;
    std::string path = dir.file("message"), target = dir.file("no/such/out.eml"), data = dir.file("d.txt");
    // The engine frees a tree only when asked and after success, and leaves the last error.
    auto* tree = new Counted(M::CONTENT_MULTIPART);
    tree->AddChildBlock(new Counted(M::CONTENT_TEXT, M::ENCODE_7BIT, "plain", data.c_str()), error);
    engine.SetLastError(CME_INVALID_BLOCK, nullptr);
    EXPECT_EQ(CME_DATA_FILE_ERROR, engine.Pack(tree, &path[0], 0, TRUE));
    WriteFile(data, "x");
    EXPECT_EQ(CME_SUCCESS, engine.Pack(tree, &path[0], 0, FALSE));
    EXPECT_EQ(0, g_destroyed);
    EXPECT_EQ(CME_SUCCESS, engine.Pack(tree, &path[0], 0, TRUE));
    EXPECT_EQ(2, g_destroyed);
    EXPECT_EQ(CME_INVALID_BLOCK, engine.GetLastError());
    EXPECT_TRUE(engine.FreeBlocks(nullptr));
    EXPECT_FALSE(engine.ValidateBlockList(nullptr, error, nullptr));
    EXPECT_EQ(nullptr, engine.AddInputBlock(nullptr, "a", nullptr, M::CONTENT_TEXT, M::ENCODE_7BIT, "plain", nullptr,
                                            TRUE, nullptr));
    EXPECT_EQ(CME_INVALID_PARAMETER, engine.GetLastError());
    engine.Initialize(ENCODE_MODE_MESSAGE);
    EXPECT_EQ(nullptr, engine.AddInputBlock(nullptr, M::CONTENT_TEXT, "h", nullptr, nullptr));
    EXPECT_EQ(CME_INVALID_PARAMETER, engine.GetLastError());
    // An existing output file is cut; one that cannot be opened fails with its name.
    CInputBlock root(M::CONTENT_TEXT, M::ENCODE_7BIT, "plain", data.c_str(), nullptr, nullptr, FALSE);
    const std::string expected = "MIME-Version: 1.0\r\n\r\nx";
    WriteFile(path, std::string(5000, 'z'));
    EXPECT_EQ(CME_SUCCESS, packer.Pack(&root, &path[0], 0, error));
    EXPECT_EQ(expected, ReadFile(path));
    EXPECT_FALSE(packer.m_FirstPart);
    EXPECT_EQ(CME_OUTPUT_FILE_ERROR, packer.Pack(&root, &target[0], 0, error));
    EXPECT_EQ("Output file '" + target + "' cannot be accessed.", std::string(error));
    EXPECT_EQ(CME_INVALID_PARAMETER, packer.Pack(nullptr, nullptr, 0, error));
    // An empty path: a new .MME file in the temporary directory, its path copied back into a
    // buffer of the size given (none: the buffer stays), cut to fit and NUL-terminated.
    const char* oldTmp = std::getenv(kTempVariable);
    const std::string saved = oldTmp ? oldTmp : "", tmp = dir.mkdir("tmp");
    SetEnv(kTempVariable, tmp.c_str());
    char none[MAX_PATH] = "", full[MAX_PATH] = "", small[9] = "\0#######";
    EXPECT_EQ(CME_SUCCESS, packer.Pack(&root, none, 0, error));
    EXPECT_STREQ("", none);
    EXPECT_EQ(CME_SUCCESS, packer.Pack(&root, full, sizeof full, error));
    EXPECT_EQ(Join(tmp, ""), std::string(full).substr(0, tmp.size() + 1));
    EXPECT_EQ(".MME", std::string(full).substr(std::strlen(full) - 4));
    EXPECT_EQ(expected, ReadFile(full));
    EXPECT_EQ(CME_SUCCESS, packer.Pack(&root, small, 6, error));
    EXPECT_EQ(tmp.substr(0, 5) + std::string(1, '\0') + "##", std::string(small, 8));
    const std::string all = ListTree(tmp);
    EXPECT_EQ(3, std::count(all.begin(), all.end(), '\n')) << all;
    SetEnv(kTempVariable, oldTmp ? saved.c_str() : nullptr);
}
