#include "infra/ResGuard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

TEST(ResGuardTest, HolderMayEnterAgainAndTheCountTellsHowDeep) {
    SingletonEx::CResGuard guard;
    EXPECT_EQ(guard.EntryCount(), 0);
    {
        SingletonEx::CResGuard::CGuard outer(guard);
        {
            SingletonEx::CResGuard::CGuard inner(guard);
            guard.Lock();
            EXPECT_EQ(guard.EntryCount(), 3);
            guard.Unlock();
        }
        EXPECT_EQ(guard.EntryCount(), 1);
        EXPECT_TRUE(guard.IsGuarded());
    }
    EXPECT_EQ(guard.EntryCount(), 0);
    EXPECT_FALSE(guard.IsGuarded());
}

TEST(ResGuardTest, OtherThreadsWaitUntilTheLastLevelIsLeft) {
    SingletonEx::CResGuard guard;
    std::atomic<bool> entered{false};
    guard.Lock();
    guard.Lock();
    std::thread other([&] {
        SingletonEx::CResGuard::CGuard hold(guard);
        entered = true;
    });
    guard.Unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(entered.load());  // one level is still held
    guard.Unlock();
    other.join();
    EXPECT_TRUE(entered.load());
    EXPECT_EQ(guard.EntryCount(), 0);
}

}  // namespace
