// Building composition trees through the engine: the block rules, creation and attaching,
// whole-tree validation, freeing, and Pack's hand-over.
#include "packtest.h"

#include <gtest/gtest.h>

using namespace packtest;
using testsupport::ScratchDir;

namespace
{

const char kMsg20001[] = "The specified file '%s' cannot be found.";
const char kMsg20005[] = "Please un-specified the data file for the selected MIME type.";
const char kMsg20006[] = "Please select either the data or header file with the unknown MIME type.";
const char kMsg20007[] = "Main type, sub type, and encode type have to be specified or unspecified together.";
const char kMsg20009[] = "Child item(s) are missing under the highlighted item.";
const char kMsg20010[] = "A header file must be specified for the highlighted (MESSAGE) item.";
const char kMsg20011[] = "The encoding type must be specified if the header is not automatically generated.";

std::string NotFound(const std::string& path)
{
    std::string text = kMsg20001;
    return text.replace(text.find("%s"), 2, path);
}

// A block that counts its destructions.
int g_destroyed = 0;
class CountedBlock : public CInputBlock
{
public:
    using CInputBlock::CInputBlock;
    ~CountedBlock() override { ++g_destroyed; }
};

struct RuleRow
{
    const char* name;
    CMIMEPart::_CONTENT_TYPE type;
    CMIMEPart::_ENCODE_TYPE encoding;
    const char* subType;
    const char* dataFile;
    const char* headerFile;
    BOOL generate;
    const char* message; // null: the block is valid
};

using CT = CMIMEPart::_CONTENT_TYPE;
constexpr CT kUnknown = CMIMEPart::CONTENT_UNKNOWN;
constexpr CT kText = CMIMEPart::CONTENT_TEXT;
constexpr CT kMessage = CMIMEPart::CONTENT_MESSAGE;
constexpr CT kMultipart = CMIMEPart::CONTENT_MULTIPART;
constexpr auto kNoEnc = CMIMEPart::ENCODE_UNKNOWN;
constexpr auto k7bit = CMIMEPart::ENCODE_7BIT;
constexpr auto kBase64 = CMIMEPart::ENCODE_BASE64;

const RuleRow kRuleRows[] = {
    {"multipart with a data file, all else valid", kMultipart, k7bit, "mixed", "d.bin", "", TRUE, kMsg20005},
    {"message with a data file", kMessage, k7bit, "rfc822", "d.eml", "h.hdr", TRUE, kMsg20005},
    {"unknown without files", kUnknown, k7bit, "", "", "", TRUE, kMsg20006},
    {"unknown with a header file only, no encoding", kUnknown, kNoEnc, "", "", "h.hdr", FALSE, kMsg20011},
    {"unknown with a header file only and 7bit", kUnknown, k7bit, "", "", "h.hdr", FALSE, nullptr},
    {"text/plain without encoding, header generated", kText, kNoEnc, "plain", "d.txt", "", TRUE, kMsg20007},
    {"text without subtype in base64, generated", kText, kBase64, "", "d.txt", "", TRUE, kMsg20007},
    {"text without subtype in base64, not generated", kText, kBase64, "", "d.txt", "", FALSE, nullptr},
    {"multipart with type only, generated", kMultipart, kNoEnc, "", "", "", TRUE, nullptr},
    {"multipart not generated without encoding", kMultipart, kNoEnc, "", "", "", FALSE, kMsg20011},
    {"all three given", kText, k7bit, "plain", "d.txt", "", TRUE, nullptr},
    {"none given, derived from the data file", kUnknown, kNoEnc, "", "d.gif", "", TRUE, nullptr},
    {"subtype only", kUnknown, kNoEnc, "plain", "d.txt", "", TRUE, kMsg20007},
    {"encoding only", kUnknown, k7bit, "", "d.txt", "", TRUE, kMsg20007},
};

class Composition : public ::testing::Test
{
protected:
    void SetUp() override { g_destroyed = 0; }
    std::string File(const char* name, const std::string& data = "x\r\n") { return MakeFile(dir.file(name), data); }

    ScratchDir dir;
    MimeDatabase noDatabase{nullptr};
    CMIMEEngine engine;
};

} // namespace

TEST(BlockRules, IsValidTable)
{
    for (const RuleRow& row : kRuleRows)
    {
        CInputBlock block(row.type, row.encoding, row.subType, row.dataFile, nullptr, row.headerFile, row.generate);
        CString message = "untouched";
        EXPECT_EQ(row.message == nullptr, block.IsValid(&message) != FALSE) << row.name;
        EXPECT_EQ(std::string(row.message ? row.message : "untouched"), std::string(message)) << row.name;
        EXPECT_EQ(row.message == nullptr, block.IsValid(nullptr) != FALSE) << row.name;
    }
}

TEST_F(Composition, IsDataValidRules)
{
    const std::string header = File("h.hdr", "Subject: x\r\n");
    const std::string data = File("d.txt");
    const std::string missing = dir.file("missing");
    struct Row
    {
        const char* name;
        CT type;
        CMIMEPart::_ENCODE_TYPE encoding;
        const char* subType;
        std::string dataFile;
        std::string headerFile;
        int children; // -1: a child added and removed again
        const char* message;
    } rows[] = {
        {"multipart without children", kMultipart, kNoEnc, "", "", "", 0, kMsg20009},
        {"multipart with a child", kMultipart, kNoEnc, "", "", "", 1, nullptr},
        {"multipart whose child was unlinked", kMultipart, kNoEnc, "", "", "", -1, nullptr},
        {"message with a child but no header", kMessage, k7bit, "rfc822", "", "", 1, kMsg20010},
        {"message whose header file is missing", kMessage, k7bit, "rfc822", "", missing, 1, nullptr},
        {"message with its header", kMessage, k7bit, "rfc822", "", header, 1, nullptr},
        {"leaf whose data file is missing", kText, k7bit, "plain", missing, "", 0, nullptr},
        {"leaf whose header file is missing", kText, k7bit, "plain", data, missing, 0, nullptr},
        {"leaf with both files", kText, k7bit, "plain", data, header, 0, nullptr},
        {"the block rules come first", kMultipart, kNoEnc, "", missing, "", 0, kMsg20005},
        {"a directory is no data file", kText, k7bit, "plain", dir.path(), "", 0, nullptr},
    };
    for (const Row& row : rows)
    {
        CInputBlock block(row.type, row.encoding, row.subType, row.dataFile.c_str(), nullptr, row.headerFile.c_str());
        if (row.children != 0)
        {
            auto* child = Add(&block, new CInputBlock(kText, k7bit, "plain", data.c_str()));
            if (row.children < 0)
            {
                ASSERT_TRUE(block.RemoveParticularChild(child));
                delete child;
            }
        }
        std::string expected = row.message ? row.message : "";
        if (row.message == nullptr && row.headerFile == missing)
            expected = NotFound(missing);
        else if (row.message == nullptr && row.dataFile != data && !row.dataFile.empty())
            expected = NotFound(row.dataFile);
        CString message;
        EXPECT_EQ(expected.empty(), block.IsDataValid(&message) != FALSE) << row.name;
        EXPECT_EQ(expected, std::string(message)) << row.name;
        EXPECT_EQ(expected.empty(), block.IsDataValid(nullptr) != FALSE) << row.name;
        block.DeleteChildBlocks();
    }
}

TEST_F(Composition, StartCreateAppliesTheBlockRules)
{
    for (const RuleRow& row : kRuleRows)
    {
        engine.Initialize(ENCODE_MODE_MESSAGE);
        engine.SetErrorString("previous");
        CInputBlock* block = engine.StartCreate(row.dataFile, "suggest", row.type, row.encoding, row.subType,
                                                row.headerFile, row.generate, "a=b");
        Tree owner(block);
        if (row.message == nullptr)
        {
            ASSERT_NE(nullptr, block) << row.name;
            EXPECT_EQ(row.type, block->GetContentType());
            EXPECT_EQ(row.encoding, block->GetEncodeType());
            EXPECT_STREQ(row.subType, block->GetSubTypeString());
            EXPECT_STREQ(row.dataFile, block->GetDataFile());
            EXPECT_STREQ(row.headerFile, block->GetHeaderFile());
            EXPECT_STREQ("suggest", block->GetSuggestName());
            EXPECT_STREQ("a=b", block->GetParameters());
            EXPECT_EQ(row.generate, block->GetGenerateHeader());
            EXPECT_EQ(nullptr, block->GetParentBlock());
            EXPECT_EQ(CME_SUCCESS, engine.GetLastError());
            EXPECT_STREQ("previous", engine.GetErrorString());
        }
        else
        {
            EXPECT_EQ(nullptr, block) << row.name;
            EXPECT_EQ(CME_INVALID_BLOCK, engine.GetLastError()) << row.name;
            EXPECT_STREQ(row.message, engine.GetErrorString()) << row.name;
        }
    }
}

TEST_F(Composition, ShortFormsCopyTheCallersHeaderAndData)
{
    CInputBlock* root = engine.StartCreate(kMultipart, "root.hdr", nullptr, nullptr);
    Tree owner(root);
    ASSERT_NE(nullptr, root) << engine.GetErrorString();
    EXPECT_EQ(CMIMEPart::ENCODE_8BIT, root->GetEncodeType());
    EXPECT_FALSE(root->GetGenerateHeader());
    EXPECT_STREQ("", root->GetSubTypeString());
    EXPECT_STREQ("", root->GetParameters());
    EXPECT_STREQ("root.hdr", root->GetHeaderFile());

    CInputBlock* leaf = engine.AddInputBlock(root, kUnknown, "leaf.hdr", "name.txt", "leaf.txt");
    ASSERT_NE(nullptr, leaf) << engine.GetErrorString();
    EXPECT_EQ(root, leaf->GetParentBlock());
    EXPECT_EQ(CMIMEPart::ENCODE_8BIT, leaf->GetEncodeType());
    EXPECT_FALSE(leaf->GetGenerateHeader());
    EXPECT_STREQ("name.txt", leaf->GetSuggestName());
    EXPECT_STREQ("leaf.txt", leaf->GetDataFile());

    // The rules still hold for the short forms.
    EXPECT_EQ(nullptr, engine.StartCreate(kMultipart, nullptr, nullptr, "data.bin"));
    EXPECT_EQ(CME_INVALID_BLOCK, engine.GetLastError());
    EXPECT_STREQ(kMsg20005, engine.GetErrorString());
    EXPECT_EQ(nullptr, engine.StartCreate(kUnknown, nullptr, "n", nullptr));
    EXPECT_STREQ(kMsg20006, engine.GetErrorString());
    EXPECT_EQ(nullptr, engine.AddInputBlock(root, kUnknown, nullptr, "n", nullptr));
    EXPECT_EQ(CME_NO_MEMORY, engine.GetLastError());
    EXPECT_STREQ(kMsg20006, engine.GetErrorString());
    EXPECT_EQ(1, root->GetChildBlockList()->GetCount());
}

TEST_F(Composition, AddInputBlockAppendsInOrderUnderAnyParent)
{
    CInputBlock* root = engine.StartCreate(nullptr, nullptr, kMultipart, kNoEnc, nullptr, nullptr, TRUE, nullptr);
    Tree owner(root);
    ASSERT_NE(nullptr, root);
    CInputBlock* first = engine.AddInputBlock(root, "a.txt", nullptr, kText, k7bit, "plain", nullptr, TRUE, nullptr);
    CInputBlock* second = engine.AddInputBlock(root, "b.txt", nullptr, kText, k7bit, "plain", nullptr, TRUE, nullptr);
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
    CObList* children = root->GetChildBlockList();
    ASSERT_EQ(2, children->GetCount());
    EXPECT_EQ(first, children->GetHead());
    EXPECT_EQ(second, children->GetTail());
    EXPECT_EQ(root, second->GetParentBlock());

    // A leaf parent is not examined.
    CInputBlock* grandchild =
        engine.AddInputBlock(first, "c.txt", nullptr, kText, k7bit, "plain", nullptr, TRUE, nullptr);
    ASSERT_NE(nullptr, grandchild);
    EXPECT_EQ(first, grandchild->GetParentBlock());

    // A refused child: CME_NO_MEMORY whatever the rule, with the rule's message.
    EXPECT_EQ(nullptr, engine.AddInputBlock(root, "d.txt", nullptr, kText, kNoEnc, "plain", nullptr, TRUE, nullptr));
    EXPECT_EQ(CME_NO_MEMORY, engine.GetLastError());
    EXPECT_STREQ(kMsg20007, engine.GetErrorString());
    EXPECT_EQ(2, children->GetCount());

    // A successful call leaves the last error as it was.
    EXPECT_NE(nullptr, engine.AddInputBlock(root, "e.txt", nullptr, kText, k7bit, "plain", nullptr, TRUE, nullptr));
    EXPECT_EQ(CME_NO_MEMORY, engine.GetLastError());
}

TEST_F(Composition, AddInputBlockWithoutParent)
{
    engine.SetErrorString("previous");
    EXPECT_EQ(nullptr, engine.AddInputBlock(nullptr, "a.txt", nullptr, kText, k7bit, "plain", nullptr, TRUE, nullptr));
    EXPECT_EQ(CME_INVALID_PARAMETER, engine.GetLastError());
    EXPECT_STREQ("previous", engine.GetErrorString());
    engine.Initialize(ENCODE_MODE_MESSAGE);
    EXPECT_EQ(nullptr, engine.AddInputBlock(nullptr, kText, "h.hdr", nullptr, nullptr));
    EXPECT_EQ(CME_INVALID_PARAMETER, engine.GetLastError());
}

TEST_F(Composition, ValidateBlockListFindsTheFirstFailureDepthFirst)
{
    const std::string data = File("d.txt");
    const std::string missing1 = dir.file("missing1");
    const std::string missing2 = dir.file("missing2");
    CInputBlock* root = engine.StartCreate(nullptr, nullptr, kMultipart, kNoEnc, nullptr, nullptr, TRUE, nullptr);
    Tree owner(root);
    CInputBlock* first =
        engine.AddInputBlock(root, nullptr, nullptr, kMultipart, kNoEnc, nullptr, nullptr, TRUE, nullptr);
    CInputBlock* second =
        engine.AddInputBlock(root, missing1.c_str(), nullptr, kText, k7bit, "plain", nullptr, TRUE, nullptr);
    CInputBlock* third =
        engine.AddInputBlock(root, missing2.c_str(), nullptr, kText, k7bit, "plain", nullptr, TRUE, nullptr);
    ASSERT_TRUE(root && first && second && third);

    engine.SetErrorString("engine text");
    CString message;
    long uid = -1;
    // The first child, a multipart without children, fails before the second is looked at.
    EXPECT_FALSE(engine.ValidateBlockList(root, message, &uid));
    EXPECT_EQ(first->GetUID(), uid);
    EXPECT_EQ(kMsg20009, std::string(message));

    CInputBlock* grandchild =
        engine.AddInputBlock(first, data.c_str(), nullptr, kText, k7bit, "plain", nullptr, TRUE, nullptr);
    ASSERT_NE(nullptr, grandchild);
    EXPECT_FALSE(engine.ValidateBlockList(root, message, &uid));
    EXPECT_EQ(second->GetUID(), uid);
    EXPECT_EQ(NotFound(missing1), std::string(message));

    // A null UID pointer still validates.
    message = "";
    EXPECT_FALSE(engine.ValidateBlockList(root, message, nullptr));
    EXPECT_EQ(NotFound(missing1), std::string(message));

    File("missing1");
    EXPECT_FALSE(engine.ValidateBlockList(root, message, &uid));
    EXPECT_EQ(third->GetUID(), uid);
    File("missing2");
    uid = -1;
    message = "kept";
    EXPECT_TRUE(engine.ValidateBlockList(root, message, &uid));
    EXPECT_EQ(-1, uid);
    EXPECT_EQ("kept", std::string(message));

    // Neither the last error nor the engine's text is touched.
    EXPECT_EQ(CME_SUCCESS, engine.GetLastError());
    EXPECT_STREQ("engine text", engine.GetErrorString());
    EXPECT_FALSE(engine.ValidateBlockList(nullptr, message, &uid));
}

TEST_F(Composition, FreeBlocksDestroysEveryLevel)
{
    EXPECT_TRUE(engine.FreeBlocks(nullptr));
    auto* root = new CountedBlock(kMultipart);
    auto* mid = Add(root, new CountedBlock(kMultipart));
    Add(mid, new CountedBlock(kText));
    Add(mid, new CountedBlock(kText));
    Add(root, new CountedBlock(kText));
    EXPECT_TRUE(engine.FreeBlocks(root));
    EXPECT_EQ(5, g_destroyed);

    COutputBlock* parsed = new COutputBlock;
    CString unused;
    parsed->AddChildBlock(new COutputBlock, unused);
    EXPECT_TRUE(engine.FreeBlocks(parsed));
}

TEST_F(Composition, PackFreesOnlyAfterSuccess)
{
    FixedBoundaries fixed(1000, {5});
    const std::string data = File("d.txt", "hello\r\n");
    std::string out = dir.file("out.eml");

    auto* root = new CountedBlock(kMultipart);
    Tree owner(root);
    auto* bad = Add(root, new CountedBlock(kText, k7bit, "plain", dir.file("nope").c_str()));
    engine.SetLastError(CME_INVALID_BLOCK, nullptr);
    EXPECT_EQ(CME_DATA_FILE_ERROR, engine.Pack(root, &out[0], 0, TRUE));
    EXPECT_EQ(0, g_destroyed);
    EXPECT_EQ("Data file '" + dir.file("nope") + "' cannot be opened.", std::string(engine.GetErrorString()));
    EXPECT_EQ(CME_INVALID_BLOCK, engine.GetLastError());

    bad->SetDataFile(data.c_str());
    EXPECT_EQ(CME_SUCCESS, engine.Pack(root, &out[0], 0, FALSE));
    EXPECT_EQ(0, g_destroyed);
    const std::string first = testsupport::ReadFile(out);
    EXPECT_EQ(CME_SUCCESS, engine.Pack(static_cast<CInputBlock*>(owner.release()), &out[0], 0, TRUE));
    EXPECT_EQ(2, g_destroyed);
    EXPECT_EQ(first, testsupport::ReadFile(out));
    EXPECT_NE(std::string::npos, first.find("\r\n\r\nhello\r\n--1000_ML=_MARIGOLD:00005--\r\n"));
    EXPECT_EQ(CME_INVALID_BLOCK, engine.GetLastError());
}
