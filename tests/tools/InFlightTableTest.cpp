#include "tools/varnsim/InFlightTable.h"

#include <gtest/gtest.h>

namespace {

TEST(InFlightTableTest, TakesNoMoreThanItsCapacity) {
    InFlightTable table(3);
    EXPECT_NE(table.Take(0, 100), InFlightTable::kNoSlot);
    EXPECT_NE(table.Take(1, 100), InFlightTable::kNoSlot);
    EXPECT_NE(table.Take(2, 100), InFlightTable::kNoSlot);
    EXPECT_TRUE(table.Full());
    EXPECT_EQ(table.Take(3, 100), InFlightTable::kNoSlot);
    EXPECT_EQ(table.InFlight(), 3u);
    EXPECT_EQ(table.MaxInFlight(), 3u);
}

TEST(InFlightTableTest, AReplyFreesItsSlotAndGivesTheSendTime) {
    InFlightTable table(2);
    const uint16_t first = table.Take(10, 1000);
    const uint16_t second = table.Take(11, 2000);
    uint64_t sent = 0;
    // Replies may come in any order.
    ASSERT_TRUE(table.Complete(second, 11, &sent));
    EXPECT_EQ(sent, 2000u);
    ASSERT_TRUE(table.Complete(first, 10, &sent));
    EXPECT_EQ(sent, 1000u);
    EXPECT_EQ(table.InFlight(), 0u);
    EXPECT_EQ(table.MaxInFlight(), 2u);
    EXPECT_FALSE(table.Full());
}

TEST(InFlightTableTest, StaleDoubledAndForeignRepliesMatchNothing) {
    InFlightTable table(2);
    const uint16_t slot = table.Take(7, 1);
    EXPECT_FALSE(table.Complete(slot, 8, nullptr)) << "another sequence in the slot";
    EXPECT_FALSE(table.Complete(1, 7, nullptr)) << "a slot that is free";
    EXPECT_FALSE(table.Complete(500, 7, nullptr)) << "a slot beyond the table";
    EXPECT_TRUE(table.Complete(slot, 7, nullptr));
    EXPECT_FALSE(table.Complete(slot, 7, nullptr)) << "the same reply twice";
    EXPECT_EQ(table.InFlight(), 0u);
}

TEST(InFlightTableTest, AFreedSlotCarriesTheNextPacket) {
    InFlightTable table(1);
    const uint16_t slot = table.Take(0, 1);
    ASSERT_TRUE(table.Complete(slot, 0, nullptr));
    EXPECT_EQ(table.Take(1, 2), slot);
    EXPECT_FALSE(table.Complete(slot, 0, nullptr)) << "the old sequence must not match the new packet";
    EXPECT_TRUE(table.Complete(slot, 1, nullptr));
}

}  // namespace
