// Something that sleeps while idle and can be woken when work arrives for it
// (a worker thread). Wake() is safe from any thread and never blocks.
#pragma once

class IWakeable {
public:
    virtual void Wake() = 0;

protected:
    ~IWakeable() = default;
};
