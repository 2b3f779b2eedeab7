#include <gtest/gtest.h>

#include "HIDDeviceEx.h"
#include "QXList.h"
#include "ResultCodes.h"

namespace {

void Fill(QXListT<int>& list, std::initializer_list<int> values)
{
    for (int v : values)
        list.Append(std::make_unique<int>(v));
}

} // namespace

TEST(ResultCodeName, NamedCodesUseTheirNames)
{
    EXPECT_EQ(ResultCodeName(ERR_NO_PATH), "ERR_NO_PATH");
    EXPECT_EQ(ResultCodeName(ERR_TIMEOUT), "ERR_TIMEOUT");
    EXPECT_EQ(ResultCodeName(ERR_COMMAND_ERR), "ERR_COMMAND_ERR");
    EXPECT_EQ(ResultCodeName(ERR_VERIFY_ERR), "ERR_VERIFY_ERR");
    EXPECT_EQ(ResultCodeName(ERR_CANCELLED), "ERR_CANCELLED");
    EXPECT_EQ(ResultCodeName(ERR_FILE_SIG), "ERR_FILE_SIG");
}

// Success, the gap at 0x204 and unit status codes have no name.
TEST(ResultCodeName, UnnamedCodesAreHex)
{
    EXPECT_EQ(ResultCodeName(0), "Error 0x00000000");
    EXPECT_EQ(ResultCodeName(0x204), "Error 0x00000204");
    EXPECT_EQ(ResultCodeName(0x100000AB), "Error 0x100000AB");
    EXPECT_EQ(ResultCodeName(0x7F), "Error 0x0000007F");
}

TEST(Checksum, ComplementOfWrappingSum)
{
    const uint8_t abc[] = {0x61, 0x62, 0x63};
    EXPECT_EQ(Checksum(abc, 3), 0xD9);
    EXPECT_EQ(Checksum(nullptr, 0), 0xFF);
    const uint8_t wrap[] = {0xFF, 0x02};
    EXPECT_EQ(Checksum(wrap, 2), static_cast<uint8_t>(~0x01));
}

TEST(ProductMatches, Patterns)
{
    EXPECT_TRUE(ProductMatches(0x0801, 0x0801));
    EXPECT_FALSE(ProductMatches(0x0801, 0x0800));
    // 0x08FF matches 0x0800 to 0x08FF.
    EXPECT_TRUE(ProductMatches(0x08FF, 0x0800));
    EXPECT_TRUE(ProductMatches(0x08FF, 0x08FF));
    EXPECT_FALSE(ProductMatches(0x08FF, 0x0900));
    // 0xFF01 matches any product whose low byte is 01.
    EXPECT_TRUE(ProductMatches(0xFF01, 0x1201));
    EXPECT_FALSE(ProductMatches(0xFF01, 0x1202));
    EXPECT_TRUE(ProductMatches(0xFFFF, 0x1234));
}

TEST(QXListT, FirstNextWalkInArrivalOrder)
{
    QXListT<int> list;
    Fill(list, {1, 2, 3});
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(*list.First(), 1);
    EXPECT_EQ(*list.Next(), 2);
    EXPECT_EQ(*list.Next(), 3);
    EXPECT_EQ(list.Next(), nullptr);
    // The cursor stays on the tail after a failed Next.
    EXPECT_EQ(*list.RemoveCurrent(), 3);
}

TEST(QXListT, RemoveCurrentOnOneElementListEmptiesIt)
{
    QXListT<int> list;
    Fill(list, {7});
    list.First();
    auto item = list.RemoveCurrent();
    ASSERT_TRUE(item);
    EXPECT_EQ(*item, 7);
    EXPECT_EQ(list.Count(), 0u);
    // No cursor is left behind.
    EXPECT_EQ(list.RemoveCurrent(), nullptr);
    EXPECT_EQ(list.First(), nullptr);
}

TEST(QXListT, RemoveCurrentMovesCursor)
{
    QXListT<int> list;
    Fill(list, {1, 2, 3, 4});
    list.First();
    list.Next(); // on 2
    EXPECT_EQ(*list.RemoveCurrent(), 2);
    // In the middle the cursor moves to the follower.
    EXPECT_EQ(*list.RemoveCurrent(), 3);
    EXPECT_EQ(list.Count(), 2u);
    // On the head the cursor moves to the new head.
    list.First();
    EXPECT_EQ(*list.RemoveCurrent(), 1);
    EXPECT_EQ(*list.RemoveCurrent(), 4);
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(list.PopFront(), nullptr);
    EXPECT_EQ(list.PopBack(), nullptr);
}

TEST(QXListT, RemoveCurrentOnTailClearsCursor)
{
    QXListT<int> list;
    Fill(list, {1, 2});
    list.First();
    list.Next();
    EXPECT_EQ(*list.RemoveCurrent(), 2);
    EXPECT_EQ(list.RemoveCurrent(), nullptr);
    EXPECT_EQ(*list.PopBack(), 1);
}

TEST(QXListT, CapacityDropsOldestItems)
{
    QXListT<int> list(2);
    for (int v = 1; v <= 4; ++v)
        list.Append(std::make_unique<int>(v));
    EXPECT_EQ(list.Count(), 2u);
    EXPECT_EQ(*list.PopFront(), 3);
    EXPECT_EQ(*list.PopFront(), 4);
}

// A long queue is destroyed without recursing once per node.
TEST(QXListT, LongListIsFreedIteratively)
{
    QXListT<int> list;
    for (int v = 0; v < 200000; ++v)
        list.Append(std::make_unique<int>(v));
    list.RemoveAll();
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(list.First(), nullptr);
}
