// Something that sleeps while idle and can be woken when work arrives for it
// (a worker thread). Wake() is safe from any thread and never blocks.
#pragma once

#include <cstdint>

// What a work callback returns when it is idle and every source of its work
// wakes its thread: the thread sleeps until woken, at most a second. A
// short fixed sleep would arm a fresh timer on every idle pass; on a virtual
// machine that costs more CPU than relaying the packet that ends the sleep.
constexpr int kIdleUntilWokenMs = 1000;

class IWakeable {
public:
    virtual void Wake() = 0;

protected:
    ~IWakeable() = default;
};

// A wait that a worker uses between work calls instead of its own sleep
// (SingleThread::SetIdleWait); the worker's wakes then go to it as well.
class IIdleWait : public IWakeable {
public:
    virtual ~IIdleWait() = default;
    // Waits up to ms for work or a Wake(); with 0, only does what is ready.
    virtual void WaitFor(uint32_t ms) = 0;
};
