#include "ChannelTable.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// Identifiers whose home slot under the key is slot 0 in every table of up to 2^bits slots:
// what an attacker who knew the key would write.
std::vector<uint32_t> CollidingIds(uint64_t key, size_t count, int bits)
{
    std::vector<uint32_t> ids;
    for (uint32_t id = 1; ids.size() < count; ++id)
        if (ChannelTable::HomeSlot(key, id, size_t{1} << bits) == 0)
            ids.push_back(id);
    return ids;
}

} // namespace

// A look-up never walks further than MaxProbe slots: identifiers crafted to share one home slot
// under the table's own key make it draw a new key (or grow) rather than queue up, and every
// identifier is still found, with its own index.
TEST(ChannelTable, CraftedCollisionsStayWithinTheProbeBound)
{
    ChannelTable table(12345);
    const std::vector<uint32_t> ids = CollidingIds(12345, 3 * ChannelTable::MaxProbe, 12);
    for (size_t i = 0; i < ids.size(); ++i)
        table.Add(ids[i], static_cast<uint32_t>(i));
    EXPECT_NE(table.HashKey(), 12345u) << "the colliding identifiers should have made the table draw a new key";
    EXPECT_EQ(table.Size(), ids.size());
    // Growing instead of drawing a new key would need 2^12 slots and more.
    EXPECT_LE(table.SlotCount(), 32 * (ids.size() + 1));
    for (size_t i = 0; i < ids.size(); ++i)
        EXPECT_EQ(table.Find(ids[i]), i);
    EXPECT_EQ(table.Find(0x0FFFFFFF), ChannelTable::None);
}

// Identifiers that a fixed multiplicative hash (id * 0x9E3779B9) sends to consecutive slots,
// consecutive identifiers and random ones are all found; the table stays at most four times
// the size their count needs.
TEST(ChannelTable, ManyIdentifiersFound)
{
    constexpr uint32_t InverseOfGolden = 0x144CBC89u; // 0x9E3779B9 * 0x144CBC89 = 1 mod 2^32
    static_assert(0x9E3779B9u * InverseOfGolden == 1u);
    std::vector<uint32_t> ids;
    for (uint32_t k = 1; k <= 40000; ++k)
        ids.push_back(k * InverseOfGolden);
    for (uint32_t k = 1; k <= 40000; ++k)
        ids.push_back(0x01000000u + k);
    ChannelTable table;
    for (size_t i = 0; i < ids.size(); ++i)
        table.Add(ids[i], static_cast<uint32_t>(i));
    for (size_t i = 0; i < ids.size(); ++i)
        ASSERT_EQ(table.Find(ids[i]), i) << std::hex << ids[i];
    EXPECT_LE(table.SlotCount(), 4 * ids.size());
    EXPECT_EQ(table.Find(0x7FFFFFFF), ChannelTable::None);
}

// Each process draws its own key, so no identifiers collide on every machine and every run.
TEST(ChannelTable, KeyDrawnPerProcess)
{
    EXPECT_EQ(ChannelTable::ProcessKey(), ChannelTable::ProcessKey());
    EXPECT_EQ(ChannelTable().HashKey(), ChannelTable::ProcessKey());
    EXPECT_NE(ChannelTable::ProcessKey(), 0u);
}
