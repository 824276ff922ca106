// The part model: block fields and widths, UIDs, the child list, the name tables, the
// string table and the engine's error state. Many checks gather results in one string.
#include "mimeengine/engine/engine.h"
#include "model/nametables.h"
#include "resources/stringtable.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>
#include <sstream>

namespace
{

std::vector<long> g_destroyed;

// A block that logs its UID when destroyed, to observe what DeleteChildBlocks frees.
struct Tracked : COutputBlock
{
    ~Tracked() override { g_destroyed.push_back(GetUID()); }
};

// Type, encoding, generate-header flag and the text fields of a block; for an output
// block also boundary, description, body position and parse-child flag.
std::string Fields(const CBlock& b)
{
    std::ostringstream s;
    s << b.GetContentType() << b.GetEncodeType() << b.GetGenerateHeader() << " " << b.GetSubTypeString() << "|"
      << b.GetDataFile() << "|" << b.GetSuggestName() << "|" << b.GetHeaderFile() << "|" << b.GetParameters() << "|"
      << b.GetCharSetName();
    if (auto* o = dynamic_cast<const COutputBlock*>(&b))
        s << "|" << o->GetBoundary() << "|" << o->GetContentDesc() << " " << o->GetBodyPosition()
          << o->GetParseChildFlag();
    return s.str();
}

TEST(Block, DefaultsConstructionAndSetInputBlock)
{
    // UIDs count from 1 process-wide, so the first blocks are made in a fresh process.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(CInputBlock().GetUID() == 1 && COutputBlock().GetUID() == 2 ? 0 : 1),
                ::testing::ExitedWithCode(0), "");
    COutputBlock out;
    EXPECT_EQ("UNKNOWN/ 8BIT\n", testsupport::DumpTree(&out, ""));
    EXPECT_EQ("001 |||||;041 ||||||| 00", Fields(CInputBlock()) + ";" + Fields(out));
    CInputBlock b(CMIMEPart::CONTENT_IMAGE, CMIMEPart::ENCODE_BASE64, "gif", "d", "s", "h", FALSE, "p");
    std::string trace = Fields(b) + ";";
    // Zero and null keep their field; the generate-header flag is always stored.
    b.SetInputBlock(CMIMEPart::CONTENT_UNKNOWN, CMIMEPart::ENCODE_UNKNOWN, 0, 0, 0, 0, TRUE, 0);
    trace += Fields(b) + ";";
    b.SetInputBlock(CMIMEPart::CONTENT_AUDIO, CMIMEPart::ENCODE_BINARY, "", "", "new", "", FALSE, "");
    EXPECT_EQ("430 gif|d|s|h|p|;431 gif|d|s|h|p|;550 ||new|||", trace + Fields(b));
    for (unsigned t = 0; t <= 8; ++t)
        EXPECT_EQ(t == 2 || t == 3, CInputBlock(CMIMEPart::_CONTENT_TYPE(t)).IsCompositePart() != FALSE) << t;
    CBlock::SetUIDStartFrom(100);
    const long first = CInputBlock().GetUID(), second = COutputBlock().GetUID(), third = CBlock().GetUID();
    EXPECT_TRUE(first == 101 && second == 102 && third == 103);
}

// Every text field is cut at its width less one: values of width - 1, width and width + 1
// characters, a different letter per field so that a field running into the next would show.
TEST(Block, TextFieldsAreCutAtTheirWidthLessOne)
{
    for (int extra : {-1, 0, 1})
    {
        auto v = [extra](size_t width, char c) { return std::string(width + extra, c); };
        auto kept = [](size_t width, char c) { return std::string(width - 1, c); };
        COutputBlock b;
        b.SetInputBlock(CMIMEPart::CONTENT_UNKNOWN, CMIMEPart::ENCODE_UNKNOWN, v(64, 's').c_str(), v(260, 'd').c_str(),
                        v(260, 'n').c_str(), v(260, 'h').c_str(), TRUE, v(256, 'p').c_str());
        b.SetCharSetName(v(64, 'c').c_str());
        b.SetBoundary(v(73, 'b').c_str());
        b.SetContentDesc(v(128, 'x').c_str());
        EXPECT_EQ("041 " + kept(64, 's') + "|" + kept(260, 'd') + "|" + kept(260, 'n') + "|" + kept(260, 'h') + "|" +
                      kept(256, 'p') + "|" + kept(64, 'c') + "|" + kept(73, 'b') + "|" + kept(128, 'x') + " 00",
                  Fields(b))
            << extra;
        b.SetBoundary(nullptr);
        EXPECT_EQ(std::string::npos, Fields(b).find('b')) << "null empties a field";
    }
    char buf[5] = "####";
    CopyBlockField(buf, 0, "abc");     // nothing to write into
    CopyBlockField(buf + 1, 1, "abc"); // room for the terminator only
    EXPECT_EQ(std::string("#\0##", 4), std::string(buf, 4));
    const char unterminated[3] = {'x', 'y', 'z'}; // read no further than the part kept
    CopyBlockField(buf, 4, unterminated);
    EXPECT_STREQ("xyz", buf);
}

TEST(BlockTree, AddInsertRemove)
{
    CString message("untouched");
    COutputBlock root, a, b, c, d, stranger;
    std::ostringstream t; // a chain of << is evaluated from left to right
    t << root.InsertAfter(&c, &a) << root.RemoveParticularChild(&a) << root.AddChildBlock(nullptr, message)
      << (root.GetChildBlockList() == nullptr) << root.AddChildBlock(&a, message) << root.AddChildBlock(&b, message)
      << " " << root.GetChildBlockList()->GetBlockSize() << " " << root.InsertAfter(&d, &stranger)
      << (d.GetParentBlock() == nullptr) << root.InsertAfter(&c, &a) << root.InsertAfter(&d, &b) << " "
      << (testsupport::Children(&root) == std::vector<COutputBlock*>{&a, &c, &b, &d}) << (message == "untouched")
      << (a.GetParentBlock() == &root && b.GetParentBlock() == &root && c.GetParentBlock() == &root)
      << (d.GetParentBlock() == &root) << root.AddChildBlock(&a, message) << root.RemoveParticularChild(&a)
      << root.RemoveParticularChild(&c) << root.RemoveParticularChild(&c) << (c.GetParentBlock() == &root)
      << (testsupport::Children(&root) == std::vector<COutputBlock*>{&b, &d, &a});
    // No list yet; a null child; the list grows by 10; a stranger; inserts; removing the
    // first of two a, c twice (a removed child keeps its parent).
    EXPECT_EQ("006100 10 0111 1111011011", t.str());
}

TEST(BlockTree, DeleteChildBlocks)
{
    CString message;
    COutputBlock root;
    Tracked *a = new Tracked, *a1 = new Tracked, *a2 = new Tracked, *b = new Tracked;
    for (auto [p, c] : {std::pair<CBlock*, CBlock*>{&root, a}, {a, a1}, {a, a2}, {&root, b}})
        p->AddChildBlock(c, message);
    // Each block after its descendants, siblings from head to tail.
    const std::vector<long> expected = {a1->GetUID(), a2->GetUID(), a->GetUID(), b->GetUID()};
    g_destroyed.clear();
    EXPECT_TRUE(root.DeleteChildBlocks() && root.GetChildBlockList() == nullptr && root.DeleteChildBlocks());
    EXPECT_EQ(expected, g_destroyed);
    std::unique_ptr<Tracked> parent(new Tracked), child(new Tracked);
    parent->AddChildBlock(child.get(), message);
    parent.reset(); // deleting a block leaves its children
    EXPECT_EQ(5u, g_destroyed.size());
    // A chain far deeper than a recursive delete could take.
    CBlock* tip = &root;
    for (int i = 0; i < 100000; ++i, tip = a)
        ASSERT_EQ(CME_SUCCESS, tip->AddChildBlock(a = new Tracked, message));
    const long tipUid = tip->GetUID();
    g_destroyed.clear();
    EXPECT_TRUE(root.DeleteChildBlocks());
    EXPECT_TRUE(g_destroyed.size() == 100000u && g_destroyed.front() == tipUid);
}

// strings.tsv: number, text ("(none)": no text for that number).
using Strings = ::testing::TestWithParam<testsupport::Row>;
TEST_P(Strings, Row)
{
    const char* text = AfxLookupStringResource(static_cast<UINT>(std::stoul(GetParam()[0])));
    EXPECT_EQ(GetParam()[1], text != nullptr ? text : "(none)");
}
INSTANTIATE_TEST_SUITE_P(Table, Strings, ::testing::ValuesIn(testsupport::ReadTable("model/strings.tsv")),
                         testsupport::CaseName());

// The last row of every name table holds a name, so a row count one too large would show.
TEST(Tables, Names)
{
    for (const char* last : {szContType[CONTENT_TYPE_ROWS - 1], szEncodeType[ENCODE_TYPE_ROWS - 1],
                             szTextSubType[TEXT_SUBTYPE_ROWS - 1], szMultipartSubType[MULTIPART_SUBTYPE_ROWS - 1],
                             szMessageSubType[MESSAGE_SUBTYPE_ROWS - 1], szImageSubType[IMAGE_SUBTYPE_ROWS - 1],
                             szApplicationSubType[APPLICATION_SUBTYPE_ROWS - 1], szAudioSubType[AUDIO_SUBTYPE_ROWS - 1],
                             szVideoSubType[VIDEO_SUBTYPE_ROWS - 1], szAccessType[ACCESS_TYPE_ROWS - 1]})
        EXPECT_STRNE("", last);
}

TEST(Engine, ErrorStateCopiesAndSubObjects)
{
    auto State = [](const CMIMEEngine& e) { return std::to_string(e.GetLastError()) + " " + e.GetErrorString() + ";"; };
    CMIMEEngine engine, other(static_cast<_ENCODE_MODE>(7));
    CString text("Out"); // the engine keeps its own copy of the text, and a null text keeps it
    engine.SetLastError(CME_OUTPUT_FILE_ERROR, &text);
    std::string trace = State(other) + State(engine);
    text = "changed";
    engine.SetLastError(CME_INVALID_BLOCK, nullptr);
    CMIMEEngine copy(engine), assigned;
    assigned = engine;
    copy.Initialize(ENCODE_MODE_MESSAGE); // clears that copy only
    trace += State(assigned) + State(copy) + State(engine);
    engine.SetErrorString(nullptr);
    EXPECT_EQ("0 ;8 Out;7 Out;0 ;7 Out;7 ;", trace + State(engine));
    CPacker packer;
    EXPECT_TRUE(packer.m_EncodeMode == ENCODE_MODE_MESSAGE && packer.m_FirstPart == FALSE);
}

} // namespace
