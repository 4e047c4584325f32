// The shared pointer lists: growth, insertion, bounds and ownership.
#include <gtest/gtest.h>

#include "infra/AIndexListPro.h"
#include "infra/AList.h"

namespace {

// Counts its destructions so ownership can be observed.
struct Tracked {
    explicit Tracked(int* deaths, int value = 0) : m_Deaths(deaths), m_Value(value) {}
    ~Tracked() { ++*m_Deaths; }
    int* m_Deaths;
    int m_Value;
};

TEST(AListTest, CapacityDoublesWhenAnAddFindsTheListFull) {
    int deaths = 0;
    AList<Tracked> list(true, 2);
    EXPECT_EQ(list.Capacity(), 2);
    list.Add(new Tracked(&deaths, 1));
    list.Add(new Tracked(&deaths, 2));
    EXPECT_EQ(list.Capacity(), 2);
    list.Add(new Tracked(&deaths, 3));
    EXPECT_EQ(list.Capacity(), 4);
    EXPECT_EQ(list.Count(), 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(list.Get(i)->m_Value, i + 1);
    list.Add(new Tracked(&deaths, 4));
    list.Add(new Tracked(&deaths, 5));
    EXPECT_EQ(list.Capacity(), 8);
    EXPECT_EQ(deaths, 0) << "growing moves pointers, never items";
}

TEST(AListTest, CapacityIsAtLeastOne) {
    AList<int> list(false, 0);
    EXPECT_EQ(list.Capacity(), 1);
    int a = 1, b = 2;
    list.Add(&a);
    list.Add(&b);
    EXPECT_EQ(list.Capacity(), 2);
}

TEST(AListTest, InsertMovesTheTailUp) {
    int values[4] = {0, 1, 2, 3};
    AList<int> list(false, 2);
    list.Add(&values[0]);
    list.Add(&values[2]);
    list.Insert(1, &values[1]);
    list.Insert(0, &values[3]);
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(list.Get(0), &values[3]);
    EXPECT_EQ(list.Get(1), &values[0]);
    EXPECT_EQ(list.Get(2), &values[1]);
    EXPECT_EQ(list.Get(3), &values[2]);
}

TEST(AListTest, GetOutsideTheItemsIsNull) {
    int value = 7;
    AList<int> list(false, 4);
    EXPECT_EQ(list.Get(0), nullptr);
    list.Add(&value);
    EXPECT_EQ(list.Get(0), &value);
    EXPECT_EQ(list.Get(1), nullptr) << "inside the capacity but past the count";
    EXPECT_EQ(list.Get(-1), nullptr);
    EXPECT_EQ(list.Get(100), nullptr);
}

TEST(AListTest, OwningClearDeletesAndNonOwningClearDoesNot) {
    int deaths = 0;
    {
        AList<Tracked> owning(true);
        owning.Add(new Tracked(&deaths));
        owning.Add(new Tracked(&deaths));
        owning.Clear();
        EXPECT_EQ(deaths, 2);
        EXPECT_EQ(owning.Count(), 0);
        EXPECT_EQ(owning.Get(0), nullptr);
        owning.Add(new Tracked(&deaths));
    }
    EXPECT_EQ(deaths, 3) << "the destructor clears too";

    Tracked kept(&deaths);
    {
        AList<Tracked> borrowing(false);
        borrowing.Add(&kept);
        borrowing.Clear();
    }
    EXPECT_EQ(deaths, 3);
}

TEST(AIndexListProTest, KeepsKeysSortedAndFindsThem) {
    int values[3] = {30, 10, 20};
    AIndexListPro<int, int> list(false);
    EXPECT_TRUE(list.Add(30, &values[0]));
    EXPECT_TRUE(list.Add(10, &values[1]));
    EXPECT_TRUE(list.Add(20, &values[2]));
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.KeyAt(0), 10);
    EXPECT_EQ(list.KeyAt(1), 20);
    EXPECT_EQ(list.KeyAt(2), 30);
    EXPECT_EQ(list.Find(20), &values[2]);
    EXPECT_EQ(list.Find(15), nullptr);
    EXPECT_EQ(list.Find(99), nullptr);
}

TEST(AIndexListProTest, DuplicateKeyIsRefusedAndItsValueDeletedWhenOwning) {
    int deaths = 0;
    AIndexListPro<int, Tracked> owning(true);
    auto* first = new Tracked(&deaths, 1);
    EXPECT_TRUE(owning.Add(5, first));
    EXPECT_FALSE(owning.Add(5, new Tracked(&deaths, 2)));
    EXPECT_EQ(deaths, 1) << "the refused value is deleted";
    EXPECT_EQ(owning.Find(5), first);
    EXPECT_EQ(owning.Count(), 1);
    owning.Clear();
    EXPECT_EQ(deaths, 2);
}

TEST(AIndexListProTest, DuplicateKeyIsRefusedButKeptWhenNotOwning) {
    int deaths = 0;
    Tracked first(&deaths, 1);
    Tracked second(&deaths, 2);
    AIndexListPro<int, Tracked> borrowing(false);
    EXPECT_TRUE(borrowing.Add(5, &first));
    EXPECT_FALSE(borrowing.Add(5, &second));
    EXPECT_EQ(deaths, 0);
    EXPECT_EQ(borrowing.Find(5), &first);
}

}  // namespace
