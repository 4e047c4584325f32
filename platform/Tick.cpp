#include "Tick.h"

#include <atomic>
#include <ctime>

namespace plat {
namespace {

std::atomic<bool> g_testClockActive{false};
std::atomic<uint32_t> g_testClockValue{0};

uint32_t RealTickMs() {
    timespec now{};
    // CLOCK_BOOTTIME keeps counting while the host is suspended, like the
    // Windows multimedia timer does.
    clock_gettime(CLOCK_BOOTTIME, &now);
    const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u +
                        static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

}  // namespace

uint32_t GetTickMs() {
    if (g_testClockActive.load(std::memory_order_acquire)) {
        return g_testClockValue.load(std::memory_order_acquire);
    }
    return RealTickMs();
}

TestClock::TestClock(uint32_t start) {
    g_testClockValue.store(start, std::memory_order_release);
    g_testClockActive.store(true, std::memory_order_release);
}

TestClock::~TestClock() { g_testClockActive.store(false, std::memory_order_release); }

void TestClock::Set(uint32_t now) { g_testClockValue.store(now, std::memory_order_release); }

void TestClock::Advance(uint32_t ms) { g_testClockValue.fetch_add(ms, std::memory_order_acq_rel); }

}  // namespace plat
