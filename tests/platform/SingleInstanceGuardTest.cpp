#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "platform/SingleInstanceGuard.h"
#include "tests/platform/ChildProcess.h"

namespace {

using plat::SingleInstanceGuard;
using Outcome = plat::SingleInstanceGuard::Outcome;
using testsupport::ForkChild;
using testsupport::Pipe;
using testsupport::UniqueName;
using testsupport::WaitChild;

std::string GuardName() { return "Global\\_" + UniqueName("GuardTest"); }

// The 4 bytes as another process sees them; -1 when the object is not there.
int64_t StoredOwner(const std::string& name) {
    const int fd = ::shm_open(SingleInstanceGuard::SharedMemoryName(name).c_str(), O_RDONLY, 0);
    if (fd < 0) return -1;
    uint32_t value = 0;
    const bool ok = ::pread(fd, &value, sizeof(value), 0) == static_cast<ssize_t>(sizeof(value));
    ::close(fd);
    return ok ? static_cast<int64_t>(value) : -1;
}

TEST(SingleInstanceGuardTest, WindowsNameBecomesASharedMemoryNameWithoutSlashes) {
    EXPECT_EQ(SingleInstanceGuard::SharedMemoryName("Global\\_VarnholtServer"), "/varnholt-Global__VarnholtServer");
    EXPECT_EQ(SingleInstanceGuard::SharedMemoryName("a/b\\c"), "/varnholt-a_b_c");
    const std::string hashed = SingleInstanceGuard::SharedMemoryName(std::string(300, 'n'));
    EXPECT_LE(hashed.size(), 255u);
    EXPECT_EQ(hashed.find('/', 1), std::string::npos);
}

TEST(SingleInstanceGuardTest, FirstAcquirerOwnsAndPublishesItsPid) {
    const std::string name = GuardName();
    SingleInstanceGuard guard;
    ASSERT_EQ(guard.Acquire(name), Outcome::Owned);
    EXPECT_TRUE(guard.Owns());
    EXPECT_EQ(guard.OwnerPid(), ::getpid());
    EXPECT_EQ(StoredOwner(name), ::getpid());
}

TEST(SingleInstanceGuardTest, ReleaseClearsTheOwnerAndRemovesTheName) {
    const std::string name = GuardName();
    {
        SingleInstanceGuard guard;
        ASSERT_EQ(guard.Acquire(name), Outcome::Owned);
    }
    EXPECT_EQ(StoredOwner(name), -1);
    SingleInstanceGuard next;
    EXPECT_EQ(next.Acquire(name), Outcome::Owned);
}

TEST(SingleInstanceGuardTest, SecondAcquirerSeesTheFirstOwnersPid) {
    const std::string name = GuardName();
    Pipe ready;
    Pipe finish;
    const pid_t child = ForkChild([&] {
        ready.CloseRead();
        finish.CloseWrite();
        SingleInstanceGuard guard;
        if (guard.Acquire(name) != Outcome::Owned || !ready.Write(1)) return 1;
        uint32_t ignored;
        finish.Read(&ignored);
        return 0;
    });
    ready.CloseWrite();
    finish.CloseRead();
    uint32_t signal = 0;
    ASSERT_TRUE(ready.Read(&signal));

    SingleInstanceGuard second;
    EXPECT_EQ(second.Acquire(name), Outcome::OwnedByOther);
    EXPECT_FALSE(second.Owns());
    EXPECT_EQ(second.OwnerPid(), child);
    EXPECT_EQ(StoredOwner(name), child);  // the loser leaves the owner's value alone

    finish.CloseWrite();
    ASSERT_EQ(WaitChild(child), 0);
    EXPECT_EQ(second.Acquire(name), Outcome::Owned);
    EXPECT_EQ(second.OwnerPid(), ::getpid());
}

TEST(SingleInstanceGuardTest, OwnerThatEndedWithoutReleasingIsTakenOver) {
    const std::string name = GuardName();
    const pid_t child = ForkChild([&] {
        auto* guard = new SingleInstanceGuard;  // never released: the crash case
        return guard->Acquire(name) == Outcome::Owned ? 0 : 1;
    });
    ASSERT_EQ(WaitChild(child), 0);
    ASSERT_EQ(StoredOwner(name), child);  // the dead owner's pid is still there

    SingleInstanceGuard guard;
    EXPECT_EQ(guard.Acquire(name), Outcome::Owned);
    EXPECT_EQ(StoredOwner(name), ::getpid());
}

TEST(SingleInstanceGuardTest, KilledOwnerIsTakenOver) {
    const std::string name = GuardName();
    Pipe ready;
    const pid_t child = ForkChild([&] {
        ready.CloseRead();
        SingleInstanceGuard guard;
        if (guard.Acquire(name) != Outcome::Owned || !ready.Write(1)) return 1;
        ::pause();
        return 0;
    });
    ready.CloseWrite();
    uint32_t signal = 0;
    ASSERT_TRUE(ready.Read(&signal));
    ::kill(child, SIGKILL);
    ASSERT_EQ(WaitChild(child), 128 + SIGKILL);

    SingleInstanceGuard guard;
    EXPECT_EQ(guard.Acquire(name), Outcome::Owned);
}

TEST(SingleInstanceGuardTest, TwoGuardsInOneProcessExcludeEachOther) {
    const std::string name = GuardName();
    SingleInstanceGuard first;
    SingleInstanceGuard second;
    ASSERT_EQ(first.Acquire(name), Outcome::Owned);
    EXPECT_EQ(second.Acquire(name), Outcome::OwnedByOther);
    EXPECT_EQ(second.OwnerPid(), ::getpid());
    first.Release();
    EXPECT_EQ(second.Acquire(name), Outcome::Owned);
}

TEST(SingleInstanceGuardTest, RacingProcessesYieldExactlyOneOwner) {
    constexpr int kRacers = 6;
    for (int round = 0; round < 5; ++round) {
        const std::string name = GuardName();
        Pipe start;
        Pipe results;
        Pipe finish;
        std::vector<pid_t> racers;
        for (int i = 0; i < kRacers; ++i) {
            racers.push_back(ForkChild([&] {
                start.CloseWrite();
                results.CloseRead();
                finish.CloseWrite();
                uint32_t go = 0;
                if (!start.Read(&go)) return 1;
                SingleInstanceGuard guard;
                const Outcome outcome = guard.Acquire(name);
                // Each report: high bit = won, low bits = the owner seen.
                const uint32_t owner = static_cast<uint32_t>(guard.OwnerPid());
                if (!results.Write(outcome == Outcome::Owned ? (owner | 0x80000000u) : owner)) return 2;
                uint32_t ignored;
                finish.Read(&ignored);  // hold the sign until every racer has tried
                return outcome == Outcome::Failed ? 3 : 0;
            }));
        }
        start.CloseRead();
        results.CloseWrite();
        finish.CloseRead();
        for (int i = 0; i < kRacers; ++i) start.Write(1);

        std::vector<uint32_t> reports;
        uint32_t report = 0;
        while (reports.size() < kRacers && results.Read(&report)) reports.push_back(report);
        finish.CloseWrite();
        for (const pid_t racer : racers) EXPECT_EQ(WaitChild(racer), 0);

        ASSERT_EQ(reports.size(), static_cast<size_t>(kRacers));
        int winners = 0;
        uint32_t winner = 0;
        for (const uint32_t r : reports) {
            if (r & 0x80000000u) {
                ++winners;
                winner = r & 0x7FFFFFFFu;
            }
        }
        ASSERT_EQ(winners, 1) << "round " << round;
        for (const uint32_t r : reports) EXPECT_EQ(r & 0x7FFFFFFFu, winner);
    }
}

}  // namespace
