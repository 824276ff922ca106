// Blocks: defaults, UIDs, SetInputBlock, setters at their widths and the tree operations.
#include "mimeengine/model/block.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace
{

// An input block that records its destruction, to observe what DeleteChildBlocks frees.
class TrackedBlock : public CInputBlock
{
public:
    explicit TrackedBlock(std::vector<long>* log, CMIMEPart::_CONTENT_TYPE t = CMIMEPart::CONTENT_TEXT)
        : CInputBlock(t), m_log(log)
    {
    }
    ~TrackedBlock() override { m_log->push_back(GetUID()); }

private:
    std::vector<long>* m_log;
};

std::vector<CBlock*> Children(const CBlock& b)
{
    std::vector<CBlock*> out;
    CObList* list = b.GetChildBlockList();
    if (list == nullptr)
        return out;
    for (POSITION pos = list->GetHeadPosition(); pos != nullptr;)
        out.push_back(static_cast<CBlock*>(list->GetNext(pos)));
    return out;
}

TEST(BlockDefaults, InputBlock)
{
    CInputBlock b;
    EXPECT_EQ(CMIMEPart::CONTENT_UNKNOWN, b.GetContentType());
    EXPECT_EQ(CMIMEPart::ENCODE_UNKNOWN, b.GetEncodeType());
    EXPECT_STREQ("", b.GetSubTypeString());
    EXPECT_STREQ("", b.GetHeaderFile());
    EXPECT_STREQ("", b.GetDataFile());
    EXPECT_STREQ("", b.GetParameters());
    EXPECT_STREQ("", b.GetSuggestName());
    EXPECT_STREQ("", b.GetCharSetName());
    EXPECT_EQ(nullptr, b.GetChildBlockList());
    EXPECT_EQ(nullptr, b.GetParentBlock());
    EXPECT_EQ(TRUE, b.GetGenerateHeader());
    EXPECT_FALSE(b.IsCompositePart());
}

TEST(BlockDefaults, OutputBlock)
{
    COutputBlock b;
    EXPECT_EQ(CMIMEPart::CONTENT_UNKNOWN, b.GetContentType());
    EXPECT_EQ(CMIMEPart::ENCODE_8BIT, b.GetEncodeType());
    EXPECT_EQ(CMIMEPart::DISPOSE_UNKNOWN, b.GetDisposition());
    EXPECT_EQ(0ul, b.GetBodyPosition());
    EXPECT_EQ(TRUE, b.GetGenerateHeader());
    EXPECT_EQ(FALSE, b.GetParseChildFlag());
    EXPECT_EQ(0u, b.GetSubTypeIndex());
    EXPECT_EQ(0u, b.GetPartialPart());
    EXPECT_EQ(0u, b.GetPartialTotal());
    EXPECT_EQ(CMIMEPart::ACCESS_UNKNOWN, b.GetAccessType());
    EXPECT_EQ(CMIMEPart::CHAR_UNKNOWN, b.GetCharType());
    const COutputBlock& cb = b;
    for (const char* s : {cb.GetSubTypeString(), cb.GetHeaderFile(), cb.GetDataFile(), cb.GetParameters(),
                          cb.GetSuggestName(), cb.GetCharSetName(), cb.GetExternalName(), cb.GetExternalSite(),
                          cb.GetOrigFileName(), cb.GetBoundary(), cb.GetContentId(), cb.GetContentDesc()})
        EXPECT_STREQ("", s);
    EXPECT_EQ(nullptr, b.GetChildBlockList());
    EXPECT_EQ(nullptr, b.GetParentBlock());
}

TEST(BlockConstruction, ArgumentsGoToTheirFields)
{
    CInputBlock b(CMIMEPart::CONTENT_IMAGE, CMIMEPart::ENCODE_BASE64, "gif", "/d/pic.gif", "pic.gif", "/d/h.txt", FALSE,
                  "name=x");
    EXPECT_EQ(CMIMEPart::CONTENT_IMAGE, b.GetContentType());
    EXPECT_EQ(CMIMEPart::ENCODE_BASE64, b.GetEncodeType());
    EXPECT_STREQ("gif", b.GetSubTypeString());
    EXPECT_STREQ("/d/pic.gif", b.GetDataFile());
    EXPECT_STREQ("pic.gif", b.GetSuggestName());
    EXPECT_STREQ("/d/h.txt", b.GetHeaderFile());
    EXPECT_EQ(FALSE, b.GetGenerateHeader());
    EXPECT_STREQ("name=x", b.GetParameters());
}

// The counter is process-wide, so the very first block is checked in a fresh process.
TEST(BlockUID, FirstBlockOfAProcessHasUIDOne)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            CInputBlock first;
            COutputBlock second;
            std::exit(first.GetUID() == 1 && second.GetUID() == 2 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(BlockUID, InputAndOutputBlocksShareOneCounter)
{
    CInputBlock a;
    COutputBlock b;
    CBlock c;
    EXPECT_EQ(a.GetUID() + 1, b.GetUID());
    EXPECT_EQ(b.GetUID() + 1, c.GetUID());
}

TEST(BlockUID, SetUIDStartFrom)
{
    CBlock::SetUIDStartFrom(100);
    CInputBlock a;
    COutputBlock b;
    EXPECT_EQ(101, a.GetUID());
    EXPECT_EQ(102, b.GetUID());
    CBlock::SetUIDStartFrom(-5);
    CInputBlock c;
    EXPECT_EQ(-4, c.GetUID());
}

TEST(SetInputBlock, ZeroAndNullKeepTheFields)
{
    CInputBlock b(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_7BIT, "plain", "d", "s", "h", TRUE, "p");
    b.SetInputBlock(CMIMEPart::CONTENT_UNKNOWN, CMIMEPart::ENCODE_UNKNOWN, nullptr, nullptr, nullptr, nullptr, FALSE,
                    nullptr);
    EXPECT_EQ(CMIMEPart::CONTENT_TEXT, b.GetContentType());
    EXPECT_EQ(CMIMEPart::ENCODE_7BIT, b.GetEncodeType());
    EXPECT_STREQ("plain", b.GetSubTypeString());
    EXPECT_STREQ("d", b.GetDataFile());
    EXPECT_STREQ("s", b.GetSuggestName());
    EXPECT_STREQ("h", b.GetHeaderFile());
    EXPECT_STREQ("p", b.GetParameters());
    // The generate-header flag is always stored.
    EXPECT_EQ(FALSE, b.GetGenerateHeader());
}

TEST(SetInputBlock, EmptyStringsEmptyAndValuesReplace)
{
    CInputBlock b(CMIMEPart::CONTENT_TEXT, CMIMEPart::ENCODE_7BIT, "plain", "d", "s", "h", FALSE, "p");
    b.SetInputBlock(CMIMEPart::CONTENT_AUDIO, CMIMEPart::ENCODE_BINARY, "", "", "new", "", TRUE, "");
    EXPECT_EQ(CMIMEPart::CONTENT_AUDIO, b.GetContentType());
    EXPECT_EQ(CMIMEPart::ENCODE_BINARY, b.GetEncodeType());
    EXPECT_STREQ("", b.GetSubTypeString());
    EXPECT_STREQ("", b.GetDataFile());
    EXPECT_STREQ("new", b.GetSuggestName());
    EXPECT_STREQ("", b.GetHeaderFile());
    EXPECT_STREQ("", b.GetParameters());
    EXPECT_EQ(TRUE, b.GetGenerateHeader());
}

// One row per text setter: its field width, the setter and the getter.
struct FieldCase
{
    const char* name;
    size_t width;
    std::function<void(COutputBlock&, const char*)> set;
    std::function<const char*(const COutputBlock&)> get;
};

std::vector<FieldCase> TextFields()
{
    return {
        {"SubType", 64, [](COutputBlock& b, const char* s) { b.SetSubTypeString(s); },
         [](const COutputBlock& b) { return b.GetSubTypeString(); }},
        {"HeaderFile", 260, [](COutputBlock& b, const char* s) { b.SetHeaderFile(s); },
         [](const COutputBlock& b) { return b.GetHeaderFile(); }},
        {"DataFile", 260, [](COutputBlock& b, const char* s) { b.SetDataFile(s); },
         [](const COutputBlock& b) { return b.GetDataFile(); }},
        {"Parameters", 256, [](COutputBlock& b, const char* s) { b.SetParameters(s); },
         [](const COutputBlock& b) { return b.GetParameters(); }},
        {"SuggestName", 260, [](COutputBlock& b, const char* s) { b.SetSuggestName(s); },
         [](const COutputBlock& b) { return b.GetSuggestName(); }},
        {"CharSetName", 64, [](COutputBlock& b, const char* s) { b.SetCharSetName(s); },
         [](const COutputBlock& b) { return b.GetCharSetName(); }},
        {"ExternalName", 260, [](COutputBlock& b, const char* s) { b.SetExternalName(s); },
         [](const COutputBlock& b) { return b.GetExternalName(); }},
        {"ExternalSite", 128, [](COutputBlock& b, const char* s) { b.SetExternalSite(s); },
         [](const COutputBlock& b) { return b.GetExternalSite(); }},
        {"OrigFileName", 260, [](COutputBlock& b, const char* s) { b.SetOrigFileName(s); },
         [](const COutputBlock& b) { return b.GetOrigFileName(); }},
        {"Boundary", 73, [](COutputBlock& b, const char* s) { b.SetBoundary(s); },
         [](const COutputBlock& b) { return b.GetBoundary(); }},
        {"ContentId", 256, [](COutputBlock& b, const char* s) { b.SetContentId(s); },
         [](const COutputBlock& b) { return b.GetContentId(); }},
        {"ContentDesc", 128, [](COutputBlock& b, const char* s) { b.SetContentDesc(s); },
         [](const COutputBlock& b) { return b.GetContentDesc(); }},
    };
}

// Values of width - 1 characters are kept whole; longer ones are cut there, and no other
// field of the block changes.
TEST(BlockSetters, CutAtWidthLessOneAndTouchNothingElse)
{
    for (const FieldCase& f : TextFields())
    {
        SCOPED_TRACE(f.name);
        for (size_t len : {f.width - 2, f.width - 1, f.width, f.width + 1, 5 * f.width})
        {
            COutputBlock b;
            std::string value(len, 'v');
            value[0] = 'A';
            f.set(b, value.c_str());
            size_t kept = len < f.width ? len : f.width - 1;
            EXPECT_EQ(value.substr(0, kept), std::string(f.get(b))) << "length " << len;
            for (const FieldCase& other : TextFields())
            {
                if (std::strcmp(other.name, f.name) != 0)
                {
                    EXPECT_STREQ("", other.get(b)) << other.name << " changed by a long " << f.name;
                }
            }
            EXPECT_EQ(CMIMEPart::ENCODE_8BIT, b.GetEncodeType());
            EXPECT_EQ(CMIMEPart::DISPOSE_UNKNOWN, b.GetDisposition());
        }
        COutputBlock b;
        f.set(b, "x");
        f.set(b, nullptr);
        EXPECT_STREQ("", f.get(b)) << "a null value empties the field";
    }
}

TEST(CopyBlockField, Limits)
{
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    CopyBlockField(buf, 1, "abc");
    EXPECT_EQ('\0', buf[0]);
    EXPECT_EQ('#', buf[1]);

    CopyBlockField(buf, 4, "abc");
    EXPECT_STREQ("abc", buf);
    CopyBlockField(buf, 4, "abcd");
    EXPECT_STREQ("abc", buf);
    EXPECT_EQ('#', buf[4]);

    // The source is read no further than the part that can be kept: an unterminated
    // source of n - 1 bytes is fine (the sanitizer build would catch an overread).
    std::unique_ptr<char[]> src(new char[3]{'x', 'y', 'z'});
    CopyBlockField(buf, 4, src.get());
    EXPECT_STREQ("xyz", buf);

    CopyBlockField(buf, 0, "abc"); // nothing to write into
    EXPECT_STREQ("xyz", buf);
    CopyBlockField(buf, 4, nullptr);
    EXPECT_STREQ("", buf);
}

TEST(BlockTree, AddChildBlockAppendsAndSetsParent)
{
    CString message("untouched");
    CInputBlock root(CMIMEPart::CONTENT_MULTIPART);
    auto* a = new CInputBlock(CMIMEPart::CONTENT_TEXT);
    auto* b = new CInputBlock(CMIMEPart::CONTENT_IMAGE);
    EXPECT_EQ(CME_SUCCESS, root.AddChildBlock(a, message));
    EXPECT_EQ(CME_SUCCESS, root.AddChildBlock(b, message));
    EXPECT_EQ((std::vector<CBlock*>{a, b}), Children(root));
    EXPECT_EQ(&root, a->GetParentBlock());
    EXPECT_EQ(&root, b->GetParentBlock());
    EXPECT_STREQ("untouched", message);
    EXPECT_EQ(10, root.GetChildBlockList()->GetBlockSize());
    EXPECT_TRUE(root.DeleteChildBlocks());
}

TEST(BlockTree, AddChildBlockRefusesNull)
{
    CString message;
    CInputBlock root(CMIMEPart::CONTENT_MULTIPART);
    EXPECT_EQ(6u, root.AddChildBlock(nullptr, message));
    EXPECT_EQ(nullptr, root.GetChildBlockList());
    EXPECT_TRUE(message.IsEmpty());
}

TEST(BlockTree, DeleteChildBlocksFreesDepthFirst)
{
    std::vector<long> destroyed;
    CString message;
    CInputBlock root(CMIMEPart::CONTENT_MULTIPART);
    auto* a = new TrackedBlock(&destroyed, CMIMEPart::CONTENT_MULTIPART);
    auto* a1 = new TrackedBlock(&destroyed);
    auto* a2 = new TrackedBlock(&destroyed);
    auto* b = new TrackedBlock(&destroyed);
    const std::vector<long> expected = {a1->GetUID(), a2->GetUID(), a->GetUID(), b->GetUID()};
    root.AddChildBlock(a, message);
    a->AddChildBlock(a1, message);
    a->AddChildBlock(a2, message);
    root.AddChildBlock(b, message);

    EXPECT_TRUE(root.DeleteChildBlocks());
    EXPECT_EQ(nullptr, root.GetChildBlockList());
    EXPECT_EQ(expected, destroyed);
    // A block without children answers TRUE as well.
    EXPECT_TRUE(root.DeleteChildBlocks());
}

TEST(BlockTree, DeletingABlockKeepsItsChildren)
{
    std::vector<long> destroyed;
    CString message;
    auto* parent = new CInputBlock(CMIMEPart::CONTENT_MULTIPART);
    auto* child = new TrackedBlock(&destroyed);
    parent->AddChildBlock(child, message);
    delete parent;
    EXPECT_TRUE(destroyed.empty());
    delete child;
    EXPECT_EQ(1u, destroyed.size());
}

// A tree far deeper than any call stack would allow to be freed recursively.
TEST(BlockTree, DeleteChildBlocksOfAVeryDeepTree)
{
    std::vector<long> destroyed;
    CString message;
    CInputBlock root(CMIMEPart::CONTENT_MESSAGE);
    CBlock* tip = &root;
    const int depth = 100000;
    for (int i = 0; i < depth; ++i)
    {
        auto* next = new TrackedBlock(&destroyed, CMIMEPart::CONTENT_MESSAGE);
        ASSERT_EQ(CME_SUCCESS, tip->AddChildBlock(next, message));
        tip = next;
    }
    const long deepest = tip->GetUID();
    EXPECT_TRUE(root.DeleteChildBlocks());
    ASSERT_EQ(static_cast<size_t>(depth), destroyed.size());
    EXPECT_EQ(deepest, destroyed.front());
}

TEST(BlockTree, RemoveTheOnlyChild)
{
    CString message;
    CInputBlock root(CMIMEPart::CONTENT_MULTIPART);
    CInputBlock child(CMIMEPart::CONTENT_TEXT);
    root.AddChildBlock(&child, message);
    EXPECT_TRUE(root.RemoveParticularChild(&child));
    ASSERT_NE(nullptr, root.GetChildBlockList());
    EXPECT_TRUE(root.GetChildBlockList()->IsEmpty());
    EXPECT_EQ(&root, child.GetParentBlock());
    EXPECT_FALSE(root.RemoveParticularChild(&child));
}

TEST(BlockTree, RemoveParticularChildFindsTheFirstMatchOnly)
{
    CString message;
    CInputBlock root(CMIMEPart::CONTENT_MULTIPART);
    CInputBlock a, b;
    root.AddChildBlock(&a, message);
    root.AddChildBlock(&b, message);
    root.AddChildBlock(&a, message);
    EXPECT_TRUE(root.RemoveParticularChild(&a));
    EXPECT_EQ((std::vector<CBlock*>{&b, &a}), Children(root));
    root.GetChildBlockList()->RemoveAll();

    CInputBlock noList;
    EXPECT_FALSE(noList.RemoveParticularChild(&a));
    EXPECT_EQ(nullptr, noList.GetChildBlockList());
}

TEST(BlockTree, InsertAfter)
{
    CString message;
    CInputBlock root(CMIMEPart::CONTENT_MULTIPART);
    CInputBlock a, b, c, stranger, newcomer;
    EXPECT_FALSE(root.InsertAfter(&newcomer, &a)) << "no child list yet";
    EXPECT_EQ(nullptr, root.GetChildBlockList());

    root.AddChildBlock(&a, message);
    root.AddChildBlock(&b, message);
    EXPECT_FALSE(root.InsertAfter(&newcomer, &stranger));
    EXPECT_EQ(nullptr, newcomer.GetParentBlock());
    EXPECT_EQ((std::vector<CBlock*>{&a, &b}), Children(root));

    EXPECT_TRUE(root.InsertAfter(&c, &a));
    EXPECT_EQ(&root, c.GetParentBlock());
    EXPECT_TRUE(root.InsertAfter(&newcomer, &b));
    EXPECT_EQ((std::vector<CBlock*>{&a, &c, &b, &newcomer}), Children(root));
    root.GetChildBlockList()->RemoveAll();
}

TEST(BlockTree, IsCompositePartByType)
{
    const struct
    {
        CMIMEPart::_CONTENT_TYPE type;
        BOOL composite;
    } cases[] = {{CMIMEPart::CONTENT_UNKNOWN, FALSE},
                 {CMIMEPart::CONTENT_TEXT, FALSE},
                 {CMIMEPart::CONTENT_MESSAGE, TRUE},
                 {CMIMEPart::CONTENT_MULTIPART, TRUE},
                 {CMIMEPart::CONTENT_IMAGE, FALSE},
                 {CMIMEPart::CONTENT_AUDIO, FALSE},
                 {CMIMEPart::CONTENT_VIDEO, FALSE},
                 {CMIMEPart::CONTENT_APPLICATION, FALSE},
                 {static_cast<CMIMEPart::_CONTENT_TYPE>(8), FALSE}};
    for (const auto& c : cases)
    {
        CInputBlock b(c.type);
        EXPECT_EQ(c.composite, b.IsCompositePart()) << "type " << c.type;
    }
}

} // namespace
