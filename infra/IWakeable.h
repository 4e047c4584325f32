// Something that sleeps while idle and can be woken when work arrives for it
// (a worker thread). Wake() is safe from any thread and never blocks.
#pragma once

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
