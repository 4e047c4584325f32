// A sleep that another thread can cut short. SleepFor(n) returns after n ms
// at most, or as soon as Wake() is called; a Wake() that comes while nobody
// sleeps is remembered, so the next SleepFor() returns at once. This is what
// lets an idle worker sleep without polling yet react within microseconds.
//
// One thread sleeps on an object (its owner); any number may wake it. Built
// on one futex word: a wake costs one atomic exchange, plus one system call
// only when the owner is actually asleep.
#pragma once

#include <atomic>
#include <cstdint>

namespace plat {

class WakeableSleep {
public:
    // Returns true when woken, false when the full time passed.
    bool SleepFor(uint32_t ms);
    void Wake();

private:
    enum : uint32_t { kIdle = 0, kWakePending = 1, kSleeping = 2 };

    std::atomic<uint32_t> m_State{kIdle};
};

}  // namespace plat
