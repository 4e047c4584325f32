// Workers that poll after work are parted when they poll on one CPU: real
// threads started together on one CPU, and the rules on a given clock.
#include "infra/PollPartners.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/Thread.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

cpu_set_t AllowedCpus() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    sched_getaffinity(0, sizeof(allowed), &allowed);
    return allowed;
}

int FirstCpu(const cpu_set_t& set) {
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &set)) return cpu;
    }
    return -1;
}

// Runs the caller on `cpu` while leaving it free to run on all of `allowed`:
// a widened mask does not move a running thread, though the kernel's load
// balancing may later.
void StartOn(int cpu, const cpu_set_t& allowed) {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    sched_setaffinity(0, sizeof(one), &one);
    sched_setaffinity(0, sizeof(allowed), &allowed);
}

class PollPartnersTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (CPU_COUNT(&allowed) < 2) GTEST_SKIP() << "needs two CPUs";
    }
    const cpu_set_t allowed = AllowedCpus();
};

TEST_F(PollPartnersTest, TwoWorkersPollingOnOneCpuArePartedByOneMoveThatPinsNeither) {
    PollPartners partners;
    const int firstCpu = FirstCpu(allowed);
    std::atomic<bool> parted{false};
    std::atomic<int> moverCpu{-1};
    std::atomic<bool> moverMaskRestored{false};
    auto poll = [&](int seat) {
        StartOn(firstCpu, allowed);
        const auto deadline = Clock::now() + 5s;
        while (!parted.load() && Clock::now() < deadline) {
            // A pair the kernel parted first proves nothing: back together.
            if (plat::CurrentCpu() != firstCpu) StartOn(firstCpu, allowed);
            if (partners.NotePollLook(seat, Clock::now())) {
                moverCpu = plat::CurrentCpu();
                const cpu_set_t after = AllowedCpus();
                moverMaskRestored = CPU_EQUAL(&after, &allowed) != 0;
                parted = true;
            }
            plat::YieldToOtherThreads();
        }
    };
    std::thread first(poll, partners.TakeSeat());
    std::thread second(poll, partners.TakeSeat());
    first.join();
    second.join();

    ASSERT_TRUE(parted.load()) << "the two pollers were never parted";
    EXPECT_EQ(partners.MoveCount(), 1u);
    EXPECT_NE(moverCpu.load(), firstCpu);
    EXPECT_TRUE(moverMaskRestored.load()) << "the mover was left pinned";
}

TEST_F(PollPartnersTest, OnlyPollsAtTheSameTimeMoveAWorkerAndMovesKeepTheirDistance) {
    PollPartners partners;
    const int seat = partners.TakeSeat();
    const int partner = partners.TakeSeat();
    StartOn(FirstCpu(allowed), allowed);
    const Clock::time_point start = Clock::now();

    // The partner's last look on this CPU is older than a poll: it sleeps.
    partners.NotePollLook(partner, start);
    EXPECT_FALSE(partners.NotePollLook(seat, start + PollPartners::kTogether + 1us));
    EXPECT_EQ(partners.MoveCount(), 0u);

    // Both look within the window: the second to look moves.
    const Clock::time_point later = start + 1s;
    partners.NotePollLook(partner, later);
    EXPECT_TRUE(partners.NotePollLook(seat, later + 10us));
    EXPECT_EQ(partners.MoveCount(), 1u);
    const cpu_set_t after = AllowedCpus();
    EXPECT_TRUE(CPU_EQUAL(&after, &allowed));

    // Together again at once: no second move until the cooldown has passed.
    StartOn(FirstCpu(allowed), allowed);
    const Clock::time_point soon = later + PollPartners::kMoveCooldown / 2;
    partners.NotePollLook(partner, soon);
    EXPECT_FALSE(partners.NotePollLook(seat, soon + 10us));
    const Clock::time_point afterCooldown = later + PollPartners::kMoveCooldown + 1ms;
    partners.NotePollLook(partner, afterCooldown);
    EXPECT_TRUE(partners.NotePollLook(seat, afterCooldown + 10us));
    EXPECT_EQ(partners.MoveCount(), 2u);
}

}  // namespace
