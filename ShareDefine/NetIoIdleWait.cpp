#include "ShareDefine/NetIoIdleWait.h"

#include <algorithm>
#include <climits>

NetIoIdleWait::NetIoIdleWait(INetIoDriver* driver) : m_Driver(driver) { m_Driver->AddRef(); }

NetIoIdleWait::~NetIoIdleWait() { m_Driver->Release(); }

void NetIoIdleWait::WaitFor(uint32_t ms) { m_Driver->RunFor(static_cast<int>(std::min<uint32_t>(ms, INT_MAX))); }

void NetIoIdleWait::Wake() { m_Driver->Wake(); }
