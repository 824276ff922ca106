#include "mimeengine/platform/afx.h"

#include <gtest/gtest.h>
#include <vector>

namespace
{

struct Item : CObject
{
    explicit Item(int v) : value(v) {}
    int value;
};

std::vector<int> Values(const CObList& list)
{
    std::vector<int> out;
    for (POSITION pos = list.GetHeadPosition(); pos != nullptr;)
        out.push_back(static_cast<Item*>(list.GetNext(pos))->value);
    return out;
}

} // namespace

TEST(CObListTest, KeepsInsertionOrderAndSupportsInsertAfterAndRemoveAt)
{
    Item a(1), b(2), c(3), d(4);
    CObList list(10);
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(nullptr, list.GetHeadPosition());
    list.AddTail(&a);
    POSITION pb = list.AddTail(&b);
    list.AddTail(&d);
    list.InsertAfter(pb, &c);
    EXPECT_EQ((std::vector<int>{1, 2, 3, 4}), Values(list));
    EXPECT_EQ(&a, list.GetHead());
    EXPECT_EQ(&d, list.GetTail());

    list.RemoveAt(list.Find(&a));
    EXPECT_EQ((std::vector<int>{2, 3, 4}), Values(list));
    list.RemoveAt(list.GetTailPosition());
    EXPECT_EQ((std::vector<int>{2, 3}), Values(list));
    list.AddHead(&a);
    EXPECT_EQ((std::vector<int>{1, 2, 3}), Values(list));
    EXPECT_EQ(3, list.GetCount());
    EXPECT_EQ(nullptr, list.Find(&d));

    list.RemoveAll();
    EXPECT_EQ(0, list.GetCount());
    EXPECT_EQ(nullptr, list.GetTailPosition());
}

TEST(CObListTest, GetPrevWalksBackward)
{
    Item a(1), b(2), c(3);
    CObList list;
    list.AddTail(&a);
    list.AddTail(&b);
    list.AddTail(&c);
    std::vector<int> back;
    for (POSITION pos = list.GetTailPosition(); pos != nullptr;)
        back.push_back(static_cast<Item*>(list.GetPrev(pos))->value);
    EXPECT_EQ((std::vector<int>{3, 2, 1}), back);
    EXPECT_EQ(&b, list.GetAt(list.FindIndex(1)));
    EXPECT_EQ(nullptr, list.FindIndex(3));
}

TEST(CStringListTest, HoldsCopiesOfStrings)
{
    CStringList list(10);
    CString s("one");
    list.AddTail(s);
    s = "changed";
    list.AddTail(CString("two"));
    POSITION pos = list.GetHeadPosition();
    EXPECT_STREQ("one", static_cast<const char*>(list.GetNext(pos)));
    EXPECT_STREQ("two", static_cast<const char*>(list.GetNext(pos)));
    EXPECT_EQ(nullptr, pos);
    EXPECT_STREQ("one", static_cast<const char*>(list.RemoveHead()));
    EXPECT_EQ(1, list.GetCount());
}
