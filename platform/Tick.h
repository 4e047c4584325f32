// Millisecond tick: the 32-bit count of milliseconds since boot that the
// server measures every interval with (unsigned differences, wraps after
// about 49.7 days). Tests can pin the value with TestClock so that rate
// counters and keep-alive timers can be checked without sleeping.
// All functions are safe to call from any thread.
#pragma once

#include <cstdint>

namespace plat {

// Current tick: the pinned test value when TestClock is active, otherwise
// milliseconds since boot truncated to 32 bits.
uint32_t GetTickMs();

// The same kind of tick at the kernel timer's resolution (a few
// milliseconds), for code that reads the time on every packet, such as rate
// counters: it costs a quarter of GetTickMs. Its base may differ from
// GetTickMs, so the two are never compared with each other. TestClock pins
// it as well.
uint32_t GetCoarseTickMs();

// Test seam for GetTickMs(). While a TestClock object is alive the tick
// reads the value it holds; destroying it returns to the real clock.
class TestClock {
public:
    explicit TestClock(uint32_t start);
    ~TestClock();
    TestClock(const TestClock&) = delete;
    TestClock& operator=(const TestClock&) = delete;

    void Set(uint32_t now);
    void Advance(uint32_t ms);
};

}  // namespace plat
