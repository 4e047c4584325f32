#include "admin/RelayFigures.h"

#include "core/ServerCore.h"
#include "infra/Log.h"
#include "modules/QXNetService/INetService.h"
#include "platform/CpuTimes.h"
#include "platform/ProcessMemory.h"
#include "ShareDefine/MMORPGPacket.h"
#include "ShareDefine/MMORPGPacketPool.h"

namespace {

PeerTraffic TrafficOf(const PacketTotals& totals) {
    PeerTraffic traffic;
    traffic.packetsIn = totals.PacketsIn();
    traffic.bytesIn = totals.BytesIn();
    traffic.packetsOut = totals.PacketsOut();
    traffic.bytesOut = totals.BytesOut();
    return traffic;
}

uint64_t NonNegative(int64_t value) { return value > 0 ? static_cast<uint64_t>(value) : 0; }

}  // namespace

bool RelayFigures::RelayRunning() const {
    // Stop disconnects the link before the window marks the relay stopped.
    return m_RelayRunning.load(std::memory_order_acquire) && !m_Core.GetDataServerCore()->GetStopFlag();
}

ServiceFigures RelayFigures::ServiceOf(const char* name, INetProcess& service) {
    ServiceFigures figures;
    figures.name = name;
    figures.traffic = TrafficOf(service.GetPacketTotals());
    figures.dispatchQueue = NonNegative(service.GetDispQueueCount());
    figures.online = NonNegative(service.GetOnlineCount());
    if (INetService* net = service.GetService()) {
        for (int k = 0; k < kCutReasonCount; ++k) figures.cuts[k] = net->GetValue(NETVALUE_MAXQUEUE_KICKOUT + k);
    }
    return figures;
}

RelaySnapshot RelayFigures::Collect() const {
    RelaySnapshot snapshot;
    snapshot.relayRunning = RelayRunning();
    DataServerCore& link = *m_Core.GetDataServerCore();
    snapshot.linkUp = link.SockIsConnected();
    snapshot.services[0] = ServiceOf("game", *m_Core.GetGameServerCore());
    snapshot.services[1] = ServiceOf("login", *m_Core.GetLoginServerCore());
    snapshot.services[2] = ServiceOf("route", *m_Core.GetRouteServerCore());
    snapshot.dataServer = TrafficOf(link.GetPacketTotals());
    snapshot.linkSendQueue = NonNegative(link.GetSendQueueCount());
    snapshot.reconnects = link.GetReconnectCount();
    snapshot.recvQueue = NonNegative(m_Core.GetRecvQueueCount());
    snapshot.poolInUse = NonNegative(MMORPG::MMORPGPacket::m_Count.load(std::memory_order_relaxed));
    snapshot.poolPeak = NonNegative(GetPacketPool()->GetPeakInUse());
    // The counts behind the window's log lights.
    LogService* log = GetLog();
    snapshot.logErrors = NonNegative(log->GetLevelCount(llError));
    snapshot.logFatals = NonNegative(log->GetLevelCount(llFatal));
    plat::CpuTimes cpu;
    if (plat::GetProcessCpuTimes(cpu)) snapshot.cpuSeconds = static_cast<double>(cpu.kernel100ns + cpu.user100ns) / 1e7;
    plat::ProcessMemoryCounters memory;
    if (plat::GetProcessMemoryCounters(memory)) snapshot.residentBytes = memory.workingSetBytes;
    return snapshot;
}

RelayHealth RelayFigures::Health() const {
    if (!RelayRunning()) return {false, "relay not running"};
    if (!m_Core.GetDataServerCore()->SockIsConnected()) return {false, "DataServer link down"};
    return {true, "ok"};
}
