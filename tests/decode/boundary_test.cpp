// IsBoundaryLine: which multipart a line closes or separates, seen from a block.
#include "decode/harness.h"

#include <gtest/gtest.h>

namespace
{

using decodetest::Attach;
using decodetest::NewMultipart;
using decodetest::Tree;

struct BoundaryRow
{
    const char* line;
    int expected;
};

TEST(IsBoundaryLine, LinesSeenFromALeafOfANestedMultipart)
{
    const BoundaryRow rows[] = {
        {"--b\n", BOUNDARY_PART},
        {"--b", BOUNDARY_PART},
        {"--b--\n", BOUNDARY_END},
        {"--b--", BOUNDARY_END},
        {"--B\n", BOUNDARY_PART}, // case is ignored
        {"--B--\n", BOUNDARY_END},
        {"--bx\n", BOUNDARY_PART}, // only the beginning is compared
        {"--b trailing text\n", BOUNDARY_PART},
        {"--b   \n", BOUNDARY_PART},
        {"--b-\n", BOUNDARY_PART}, // one dash does not close
        {"--b---\n", BOUNDARY_END},
        {"--outer\n", BOUNDARY_OUTER_PART},
        {"--OUTER\n", BOUNDARY_OUTER_PART},
        {"--outer--\n", BOUNDARY_OUTER_END},
        {"--Outer-- x\n", BOUNDARY_OUTER_END},
        {"--oute\n", BOUNDARY_NONE},
        {"-b\n", BOUNDARY_NONE},
        {"--\n", BOUNDARY_NONE},
        {"- -b\n", BOUNDARY_NONE},
        {" --b\n", BOUNDARY_NONE},
        {"x--b\n", BOUNDARY_NONE},
        {"\n", BOUNDARY_NONE},
        {"", BOUNDARY_NONE},
    };
    Tree tree;
    for (const BoundaryRow& row : rows)
    {
        SCOPED_TRACE(row.line);
        EXPECT_EQ(row.expected, IsBoundaryLine(row.line, tree.leaf()));
    }
}

TEST(IsBoundaryLine, AMultipartBlockIsItsOwnNearestMultipart)
{
    Tree tree;
    EXPECT_EQ(BOUNDARY_PART, IsBoundaryLine("--b\n", tree.inner()));
    EXPECT_EQ(BOUNDARY_END, IsBoundaryLine("--b--\n", tree.inner()));
    EXPECT_EQ(BOUNDARY_OUTER_END, IsBoundaryLine("--outer--\n", tree.inner()));
    // The outermost multipart has nothing further out.
    EXPECT_EQ(BOUNDARY_PART, IsBoundaryLine("--outer\n", tree.outer()));
    EXPECT_EQ(BOUNDARY_NONE, IsBoundaryLine("--b\n", tree.outer()));
}

TEST(IsBoundaryLine, TheNearestMultipartWinsWhenDelimitersShareAPrefix)
{
    // "--b" is a prefix of "--bb": a line of the inner "--bb" must not be taken for the outer one.
    COutputBlock* outer = NewMultipart("--b");
    COutputBlock* inner = NewMultipart("--bb");
    COutputBlock* leaf = new COutputBlock;
    Attach(outer, inner);
    Attach(inner, leaf);
    EXPECT_EQ(BOUNDARY_PART, IsBoundaryLine("--bb\n", leaf));
    EXPECT_EQ(BOUNDARY_END, IsBoundaryLine("--bb--\n", leaf));
    EXPECT_EQ(BOUNDARY_OUTER_PART, IsBoundaryLine("--b\n", leaf));
    EXPECT_EQ(BOUNDARY_OUTER_END, IsBoundaryLine("--b--\n", leaf));
    outer->DeleteChildBlocks();
    delete outer;
}

TEST(IsBoundaryLine, BlocksWithoutEnclosingMultipartSeeNoDelimiter)
{
    COutputBlock lone;
    EXPECT_EQ(BOUNDARY_NONE, IsBoundaryLine("--b\n", &lone));
    EXPECT_EQ(BOUNDARY_NONE, IsBoundaryLine(nullptr, &lone));
    EXPECT_EQ(BOUNDARY_NONE, IsBoundaryLine("--b\n", nullptr));

    // A multipart without a delimiter would otherwise match every line.
    COutputBlock* empty = NewMultipart("");
    COutputBlock* leaf = new COutputBlock;
    Attach(empty, leaf);
    EXPECT_EQ(BOUNDARY_NONE, IsBoundaryLine("anything\n", leaf));
    EXPECT_EQ(BOUNDARY_NONE, IsBoundaryLine("", leaf));
    empty->DeleteChildBlocks();
    delete empty;
}

// multipart "--outer" > message/rfc822 > the embedded message's root (a leaf, or a
// multipart "--in" with a leaf).
TEST(IsBoundaryLine, AnEmbeddedMessageEndsAtTheDelimiterOfTheMultipartAroundIt)
{
    COutputBlock* outer = NewMultipart("--outer");
    COutputBlock* message = new COutputBlock;
    message->SetContentType(CMIMEPart::CONTENT_MESSAGE);
    COutputBlock* root = new COutputBlock;
    root->SetContentType(CMIMEPart::CONTENT_TEXT);
    Attach(outer, message);
    Attach(message, root);
    EXPECT_EQ(BOUNDARY_OUTER_PART, IsBoundaryLine("--outer\n", root));
    EXPECT_EQ(BOUNDARY_OUTER_END, IsBoundaryLine("--outer--\n", root));
    EXPECT_EQ(BOUNDARY_NONE, IsBoundaryLine("--in\n", root));
    // The message block itself looks through its own parent.
    EXPECT_EQ(BOUNDARY_PART, IsBoundaryLine("--outer\n", message));

    COutputBlock* nested = NewMultipart("--in");
    COutputBlock* leaf = new COutputBlock;
    Attach(message, nested);
    Attach(nested, leaf);
    EXPECT_EQ(BOUNDARY_PART, IsBoundaryLine("--in\n", leaf));
    EXPECT_EQ(BOUNDARY_END, IsBoundaryLine("--in--\n", leaf));
    EXPECT_EQ(BOUNDARY_OUTER_PART, IsBoundaryLine("--outer\n", leaf));
    EXPECT_EQ(BOUNDARY_OUTER_END, IsBoundaryLine("--outer--\n", leaf));
    outer->DeleteChildBlocks();
    delete outer;
}

TEST(IsBoundaryLine, DelimiterOfTheLongestBoundary)
{
    // 70 boundary characters fill the 73-byte field with "--" and the NUL.
    std::string delimiter = "--" + std::string(70, 'z');
    Tree tree(delimiter.c_str());
    EXPECT_EQ(BOUNDARY_PART, IsBoundaryLine((delimiter + "\n").c_str(), tree.leaf()));
    EXPECT_EQ(BOUNDARY_END, IsBoundaryLine((delimiter + "--").c_str(), tree.leaf()));
    EXPECT_EQ(BOUNDARY_NONE, IsBoundaryLine(delimiter.substr(0, 71).c_str(), tree.leaf()));
}

TEST(IsBoundaryLine, CloseDelimiterOfABoundaryCutToTheField)
{
    // A boundary longer than 70 characters is kept as its first 70; the rest of the real
    // delimiter follows on the line, and a final "--" marks the close delimiter.
    std::string field = "--" + std::string(70, 'z');
    Tree tree(field.c_str());
    struct Row
    {
        std::string line;
        int want;
    } rows[] = {
        {field + "zzzz\n", BOUNDARY_PART}, {field + "zzzz--\n", BOUNDARY_END}, {field + "zz--  \n", BOUNDARY_END},
        {field + "zz-\n", BOUNDARY_PART},  {field + "-\n", BOUNDARY_PART},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.want, IsBoundaryLine(row.line.c_str(), tree.leaf())) << row.line;
    // A shorter boundary keeps the exact rule: only "--" right after it closes.
    Tree shortTree("--abc");
    EXPECT_EQ(BOUNDARY_PART, IsBoundaryLine("--abcdef--\n", shortTree.leaf()));
}

} // namespace
