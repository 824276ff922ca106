// Flat composition interface: building the library-wide tree by UID, packing and clearing.
#include "api/flatinternal.h"
#include "codec/charset.h"
#include "flattest.h"
#include "mimeengine/mimeengine.h"

#include <cstring>
#include <string>

namespace
{

using flattest::TempDirScope;
using testsupport::ReadFile;
using testsupport::WriteFile;

// The number of children of block (0 without a child list).
int ChildCount(CBlock* block)
{
    return block->GetChildBlockList() != nullptr ? block->GetChildBlockList()->GetCount() : 0;
}

CBlock* Child(CBlock* block, int index)
{
    CObList* list = block->GetChildBlockList();
    POSITION pos = list->GetHeadPosition();
    CBlock* child = nullptr;
    for (int i = 0; i <= index; ++i)
        child = static_cast<CBlock*>(list->GetNext(pos));
    return child;
}

class FlatCompose : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ClearBlockList();
        m_savedFlag = g_bNeedsEncoding;
        std::memcpy(m_savedCharset, g_szDefaultCharset, sizeof m_savedCharset);
        m_text = m_files.file("body.txt");
        WriteFile(m_text, "Hello\n");
    }
    void TearDown() override
    {
        ClearBlockList();
        g_bNeedsEncoding = m_savedFlag;
        std::memcpy(g_szDefaultCharset, m_savedCharset, sizeof m_savedCharset);
    }
    // Acts as if start-up had seen the code page.
    void UseCodePage(unsigned int codePage) { SelectDefaultCharset(codePage, g_szDefaultCharset); }

    long AddMultipartRoot()
    {
        return AddBlockList(0, "", "", MIMEENGINE_CONTENT_MULTIPART, MIMEENGINE_ENCODE_UNKNOWN, "mixed", nullptr);
    }
    long AddText(long parent)
    {
        return AddBlockList(parent, m_text.c_str(), "body.txt", MIMEENGINE_CONTENT_TEXT, MIMEENGINE_ENCODE_7BIT,
                            "plain", nullptr);
    }

    TempDirScope m_temp;
    testsupport::ScratchDir m_files;
    std::string m_text;
    BOOL m_savedFlag = FALSE;
    char m_savedCharset[64] = {0};
};

TEST_F(FlatCompose, FirstAddWithParentZeroMakesRootAndItsUidAddsAChild)
{
    long root = AddMultipartRoot();
    ASSERT_GT(root, 0);
    ASSERT_NE(FlatRootForTesting(), nullptr);
    EXPECT_EQ(FlatRootForTesting()->GetUID(), root);
    EXPECT_EQ(FlatRootForTesting()->GetContentType(), CMIMEPart::CONTENT_MULTIPART);
    EXPECT_STREQ(FlatRootForTesting()->GetSubTypeString(), "mixed");
    EXPECT_TRUE(FlatRootForTesting()->GetGenerateHeader());

    long child = AddText(root);
    ASSERT_GT(child, root);
    ASSERT_EQ(ChildCount(FlatRootForTesting()), 1);
    CBlock* block = Child(FlatRootForTesting(), 0);
    EXPECT_EQ(block->GetUID(), child);
    EXPECT_EQ(block->GetParentBlock(), FlatRootForTesting());
    EXPECT_STREQ(block->GetDataFile(), m_text.c_str());
    EXPECT_STREQ(block->GetSuggestName(), "body.txt");
    EXPECT_EQ(block->GetEncodeType(), CMIMEPart::ENCODE_7BIT);
    EXPECT_STREQ(block->GetParameters(), "");
}

TEST_F(FlatCompose, ParentsAreFoundAtAnyDepthAndChildrenKeepTheirOrder)
{
    long root = AddMultipartRoot();
    long inner =
        AddBlockList(root, "", "", MIMEENGINE_CONTENT_MULTIPART, MIMEENGINE_ENCODE_UNKNOWN, "alternative", nullptr);
    long sibling = AddText(root);
    long deep = AddText(inner);
    ASSERT_GT(inner, 0);
    ASSERT_GT(sibling, 0);
    ASSERT_GT(deep, 0);
    ASSERT_EQ(ChildCount(FlatRootForTesting()), 2);
    CBlock* first = Child(FlatRootForTesting(), 0);
    EXPECT_EQ(first->GetUID(), inner);
    EXPECT_EQ(Child(FlatRootForTesting(), 1)->GetUID(), sibling);
    ASSERT_EQ(ChildCount(first), 1);
    EXPECT_EQ(Child(first, 0)->GetUID(), deep);
}

TEST_F(FlatCompose, UnknownParentFailsAndChangesNothing)
{
    long root = AddMultipartRoot();
    ASSERT_GT(AddText(root), 0);
    CInputBlock* before = FlatRootForTesting();

    for (long parent : {root + 1000, -1L, -5L})
    {
        EXPECT_EQ(AddText(parent), -1) << parent;
        EXPECT_EQ(FlatRootForTesting(), before);
        EXPECT_EQ(ChildCount(before), 1);
    }
}

TEST_F(FlatCompose, ParentZeroWhileATreeExistsStartsANewTree)
{
    long first = AddMultipartRoot();
    ASSERT_GT(AddText(first), 0);
    long second = AddMultipartRoot();
    ASSERT_GT(second, first);
    EXPECT_EQ(FlatRootForTesting()->GetUID(), second);
    EXPECT_EQ(ChildCount(FlatRootForTesting()), 0);
    // The former tree is gone: its UIDs no longer name a parent.
    EXPECT_EQ(AddText(first), -1);
}

TEST_F(FlatCompose, AnyParentWhileNoTreeExistsStartsOne)
{
    long root = AddText(12345);
    ASSERT_GT(root, 0);
    EXPECT_EQ(FlatRootForTesting()->GetUID(), root);
}

TEST_F(FlatCompose, RefusedBlocksReturnMinusOne)
{
    long root = AddMultipartRoot();
    struct Case
    {
        const char* what;
        const char* dataFile;
        unsigned int type;
        unsigned int encoding;
        const char* subType;
    };
    const Case cases[] = {
        {"multipart with a data file", "x.txt", MIMEENGINE_CONTENT_MULTIPART, MIMEENGINE_ENCODE_UNKNOWN, "mixed"},
        {"text with subtype but no encoding", "x.txt", MIMEENGINE_CONTENT_TEXT, MIMEENGINE_ENCODE_UNKNOWN, "plain"},
        {"text with encoding but no subtype", "x.txt", MIMEENGINE_CONTENT_TEXT, MIMEENGINE_ENCODE_BASE64, ""},
        {"unknown type without files", "", MIMEENGINE_CONTENT_UNKNOWN, MIMEENGINE_ENCODE_UNKNOWN, ""},
        {"content type beyond the table", "x.txt", 8, MIMEENGINE_ENCODE_BASE64, "plain"},
        {"encoding beyond the table", "x.txt", MIMEENGINE_CONTENT_TEXT, 9, "plain"},
        {"encoding far beyond the table", "x.txt", MIMEENGINE_CONTENT_TEXT, 0xFFFFFFFFu, "plain"},
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(AddBlockList(root, c.dataFile, "", c.type, c.encoding, c.subType, nullptr), -1) << c.what;
        EXPECT_EQ(ChildCount(FlatRootForTesting()), 0) << c.what;
    }
}

TEST_F(FlatCompose, RefusedRootLeavesNoTree)
{
    ASSERT_GT(AddMultipartRoot(), 0);
    EXPECT_EQ(AddBlockList(0, "x.txt", "", MIMEENGINE_CONTENT_MULTIPART, 0, "mixed", nullptr), -1);
    EXPECT_EQ(FlatRootForTesting(), nullptr);
}

TEST_F(FlatCompose, NullStringsCountAsEmpty)
{
    long root = AddBlockList(0, nullptr, nullptr, MIMEENGINE_CONTENT_MULTIPART, 0, nullptr, nullptr);
    ASSERT_GT(root, 0);
    EXPECT_STREQ(FlatRootForTesting()->GetDataFile(), "");
    EXPECT_STREQ(FlatRootForTesting()->GetSubTypeString(), "");
}

TEST_F(FlatCompose, CharSetPartWithFlagClearIsA7BitTextThatMayStartATree)
{
    UseCodePage(1252);
    ASSERT_FALSE(g_bNeedsEncoding);
    long root = AddCharSetBlockList(0, m_text.c_str(), "body.txt");
    ASSERT_GT(root, 0);
    CInputBlock* block = FlatRootForTesting();
    EXPECT_EQ(block->GetUID(), root);
    EXPECT_EQ(block->GetContentType(), CMIMEPart::CONTENT_TEXT);
    EXPECT_EQ(block->GetEncodeType(), CMIMEPart::ENCODE_7BIT);
    EXPECT_STREQ(block->GetSubTypeString(), "plain");
    EXPECT_STREQ(block->GetHeaderFile(), "");
    EXPECT_STREQ(block->GetCharSetName(), "");
    EXPECT_TRUE(block->GetGenerateHeader());
}

TEST_F(FlatCompose, CharSetPartWithFlagSetNeverStartsATree)
{
    UseCodePage(932);
    ASSERT_TRUE(g_bNeedsEncoding);
    EXPECT_EQ(AddCharSetBlockList(0, m_text.c_str(), "body.txt"), -1);
    EXPECT_EQ(FlatRootForTesting(), nullptr);
    EXPECT_EQ(AddCharSetBlockList(77, m_text.c_str(), "body.txt"), -1);
    EXPECT_EQ(FlatRootForTesting(), nullptr);

    long root = AddMultipartRoot();
    EXPECT_EQ(AddCharSetBlockList(0, m_text.c_str(), "body.txt"), -1);
    EXPECT_EQ(AddCharSetBlockList(root + 1000, m_text.c_str(), "body.txt"), -1);
    EXPECT_EQ(FlatRootForTesting()->GetUID(), root);
    EXPECT_EQ(ChildCount(FlatRootForTesting()), 0);
}

TEST_F(FlatCompose, CharSetPartWithFlagSetIsABase64ChildInTheDefaultCharset)
{
    UseCodePage(932);
    long root = AddMultipartRoot();
    long child = AddCharSetBlockList(root, m_text.c_str(), "body.txt");
    ASSERT_GT(child, root);
    ASSERT_EQ(ChildCount(FlatRootForTesting()), 1);
    CBlock* block = Child(FlatRootForTesting(), 0);
    EXPECT_EQ(block->GetUID(), child);
    EXPECT_EQ(block->GetContentType(), CMIMEPart::CONTENT_TEXT);
    EXPECT_EQ(block->GetEncodeType(), CMIMEPart::ENCODE_BASE64);
    EXPECT_STREQ(block->GetSubTypeString(), "plain");
    EXPECT_STREQ(block->GetCharSetName(), "iso-2022-jp");
    EXPECT_STREQ(block->GetParameters(), "");
}

TEST_F(FlatCompose, DerivedTypePartNeedsADataFile)
{
    EXPECT_EQ(AddDeriveTypeBlockList(0, "", "name.txt"), -1);
    EXPECT_EQ(FlatRootForTesting(), nullptr);
    EXPECT_EQ(AddDeriveTypeBlockList(0, nullptr, nullptr), -1);

    long root = AddDeriveTypeBlockList(0, m_text.c_str(), "body.txt");
    ASSERT_GT(root, 0);
    CInputBlock* block = FlatRootForTesting();
    EXPECT_EQ(block->GetContentType(), CMIMEPart::CONTENT_UNKNOWN);
    EXPECT_EQ(block->GetEncodeType(), CMIMEPart::ENCODE_UNKNOWN);
    EXPECT_STREQ(block->GetSubTypeString(), "");
    EXPECT_STREQ(block->GetHeaderFile(), "");
    EXPECT_TRUE(block->GetGenerateHeader());
}

TEST_F(FlatCompose, EncodeWithoutTreeFails)
{
    std::string out = m_files.file("out.eml");
    std::vector<char> path(out.begin(), out.end());
    path.push_back('\0');
    EXPECT_EQ(MIMEEncode(path.data(), 0, TRUE), -1);
    EXPECT_FALSE(testsupport::Exists(out));
}

TEST_F(FlatCompose, EncodeWithFreeingEndsTheTree)
{
    long root = AddMultipartRoot();
    ASSERT_GT(AddText(root), 0);
    std::string out = m_files.file("out.eml");
    std::vector<char> path(out.begin(), out.end());
    path.push_back('\0');
    ASSERT_EQ(MIMEEncode(path.data(), 0, TRUE), 0);
    EXPECT_EQ(FlatRootForTesting(), nullptr);
    std::string message = ReadFile(out);
    EXPECT_EQ(message.compare(0, 19, "MIME-Version: 1.0\r\n"), 0) << message;
    EXPECT_NE(message.find("Hello"), std::string::npos);

    ClearBlockList(); // nothing left to free
    EXPECT_EQ(FlatRootForTesting(), nullptr);
    long fresh = AddMultipartRoot();
    ASSERT_GT(fresh, root);
    EXPECT_EQ(FlatRootForTesting()->GetUID(), fresh);
    EXPECT_EQ(ChildCount(FlatRootForTesting()), 0);
}

TEST_F(FlatCompose, EncodeWithoutFreeingKeepsTheTree)
{
    long root = AddMultipartRoot();
    ASSERT_GT(AddText(root), 0);
    std::string out = m_files.file("out.eml");
    std::vector<char> path(out.begin(), out.end());
    path.push_back('\0');
    ASSERT_EQ(MIMEEncode(path.data(), 0, FALSE), 0);
    ASSERT_NE(FlatRootForTesting(), nullptr);
    EXPECT_EQ(FlatRootForTesting()->GetUID(), root);
    EXPECT_GT(AddText(root), 0);
}

TEST_F(FlatCompose, EncodeWithEmptyPathReturnsTheGeneratedName)
{
    ASSERT_GT(AddText(0), 0);
    char path[4096] = "";
    ASSERT_EQ(MIMEEncode(path, sizeof path, TRUE), 0);
    std::string name = path;
    ASSERT_GT(name.size(), 4u);
    EXPECT_EQ(name.substr(name.size() - 4), ".MME");
    EXPECT_EQ(name.compare(0, m_temp.path().size(), m_temp.path()), 0) << name;
    EXPECT_EQ(ReadFile(name).compare(0, 19, "MIME-Version: 1.0\r\n"), 0);
}

TEST_F(FlatCompose, EncodeWithNullPathWritesATemporaryFile)
{
    ASSERT_GT(AddText(0), 0);
    ASSERT_EQ(MIMEEncode(nullptr, 100, TRUE), 0);
    std::string listing = testsupport::ListTree(m_temp.path());
    EXPECT_NE(listing.find(".MME"), std::string::npos) << listing;
}

TEST_F(FlatCompose, FailedEncodeKeepsTheTree)
{
    long root = AddMultipartRoot();
    ASSERT_GT(AddText(root), 0);
    std::string out = m_files.file("missing-dir/out.eml");
    std::vector<char> path(out.begin(), out.end());
    path.push_back('\0');
    EXPECT_EQ(MIMEEncode(path.data(), 0, TRUE), -1);
    ASSERT_NE(FlatRootForTesting(), nullptr);
    EXPECT_EQ(FlatRootForTesting()->GetUID(), root);
}

TEST_F(FlatCompose, UnreadableDataFileFailsWithoutAnException)
{
    // Reading /proc/self/mem at offset 0 fails with an I/O error, which the file classes
    // raise as CFileException.
    ASSERT_GT(AddBlockList(0, "/proc/self/mem", "mem.bin", MIMEENGINE_CONTENT_APPLICATION, MIMEENGINE_ENCODE_BASE64,
                           "octet-stream", nullptr),
              0);
    std::string out = m_files.file("out.eml");
    std::vector<char> path(out.begin(), out.end());
    path.push_back('\0');
    EXPECT_EQ(MIMEEncode(path.data(), 0, TRUE), -1);
    EXPECT_NE(FlatRootForTesting(), nullptr);
}

TEST_F(FlatCompose, ClearWithoutTreeDoesNothing)
{
    ClearBlockList();
    ClearBlockList();
    EXPECT_EQ(FlatRootForTesting(), nullptr);
    long root = AddMultipartRoot();
    ASSERT_GT(AddText(root), 0);
    ClearBlockList();
    EXPECT_EQ(FlatRootForTesting(), nullptr);
    // The old UID names nothing now, so the part starts a new tree.
    long fresh = AddText(root);
    ASSERT_GT(fresh, root);
    EXPECT_EQ(FlatRootForTesting()->GetUID(), fresh);
    EXPECT_EQ(ChildCount(FlatRootForTesting()), 0);
}

} // namespace
