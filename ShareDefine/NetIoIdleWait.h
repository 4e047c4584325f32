// The idle wait of the thread that drains the listening services: it waits
// in the services' I/O driver, so that thread serves their sockets itself
// whenever it has nothing else to do, and a wake ends the wait at once.
#pragma once

#include <cstdint>

#include "infra/IWakeable.h"
#include "modules/QXNetService/INetService.h"

class NetIoIdleWait final : public IIdleWait {
public:
    // Takes a reference to the driver and gives it back when destroyed.
    explicit NetIoIdleWait(INetIoDriver* driver);
    ~NetIoIdleWait() override;
    NetIoIdleWait(const NetIoIdleWait&) = delete;
    NetIoIdleWait& operator=(const NetIoIdleWait&) = delete;

    void WaitFor(uint32_t ms) override;
    void Wake() override;

private:
    INetIoDriver* const m_Driver;  // one reference held
};
