// A sleep that another thread can cut short. SleepFor(n) returns after n ms
// at most, or as soon as Wake() is called; a Wake() that comes while nobody
// sleeps is remembered, so the next SleepFor() returns at once. This is what
// lets an idle worker sleep without polling yet react within microseconds.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace plat {

class WakeableSleep {
public:
    // Returns true when woken, false when the full time passed.
    bool SleepFor(uint32_t ms);
    void Wake();

private:
    std::mutex m_Mutex;
    std::condition_variable m_WakeSignal;
    bool m_WakePending = false;  // guarded by m_Mutex
};

}  // namespace plat
