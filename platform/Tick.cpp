#include "Tick.h"

#include <atomic>
#include <ctime>

namespace plat {
namespace {

std::atomic<bool> g_testClockActive{false};
std::atomic<uint32_t> g_testClockValue{0};

uint32_t ClockMs(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u +
                        static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

uint32_t TickOf(clockid_t clock) {
    if (g_testClockActive.load(std::memory_order_acquire)) {
        return g_testClockValue.load(std::memory_order_acquire);
    }
    return ClockMs(clock);
}

}  // namespace

// CLOCK_BOOTTIME keeps counting while the host is suspended, like the
// Windows multimedia timer does.
uint32_t GetTickMs() { return TickOf(CLOCK_BOOTTIME); }

// The coarse clock is the kernel's last timer-interrupt time, read from the
// vDSO without touching the clock source.
uint32_t GetCoarseTickMs() { return TickOf(CLOCK_MONOTONIC_COARSE); }

TestClock::TestClock(uint32_t start) {
    g_testClockValue.store(start, std::memory_order_release);
    g_testClockActive.store(true, std::memory_order_release);
}

TestClock::~TestClock() { g_testClockActive.store(false, std::memory_order_release); }

void TestClock::Set(uint32_t now) { g_testClockValue.store(now, std::memory_order_release); }

void TestClock::Advance(uint32_t ms) { g_testClockValue.fetch_add(ms, std::memory_order_acq_rel); }

}  // namespace plat
