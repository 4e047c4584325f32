#include "core/ServerCore.h"

#include <algorithm>
#include <cstdio>

#include "infra/IWakeable.h"
#include "infra/Log.h"
#include "infra/SingleThread.h"
#include "infra/ThreadManager.h"
#include "platform/ServiceNotify.h"
#include "platform/Tick.h"
#include "ShareDefine/MMORPGPacketPool.h"
#include "ShareDefine/NetIoIdleWait.h"
#include "ShareDefine/NetLibAdapters.h"

namespace {

using MMORPG::MMORPGPacket;

// A pooled copy of the packet, or null (the pool has logged why) when the
// pool has none to give: that link then misses this packet.
MMORPGPacket* CopyOf(const MMORPGPacket* packet) {
    MMORPGPacket* copy = AllocPacket();
    if (copy != nullptr) copy->CopyFrom(packet);
    return copy;
}

// A keep-alive from this gateway for one link of the given server type.
MMORPGPacket* NewKeepAlive(uint8_t destServerType) {
    MMORPGPacket* packet = AllocPacket();
    if (packet == nullptr) return nullptr;
    packet->SetContext(0);
    packet->SetHeadDestIndex(-1);
    packet->SetPackType(MMORPG::atKeepAlive);
    packet->SetDestServerType(destServerType);
    packet->SetSrcServerType(MMORPG::stGateway);
    return packet;
}

bool IsPeerServerType(uint8_t type) {
    return type == MMORPG::stDataServer || type == MMORPG::stGameServer || type == MMORPG::stLoginServer ||
           type == MMORPG::stRouteServer;
}

// Deleted only by ReleaseServerCore: the process may end without the
// window's destroy handler, and then nothing must tear the relay down under
// threads that still run.
CServerCore* g_ServerCore = nullptr;

}  // namespace

CServerCore* GetServerCore() {
    if (g_ServerCore == nullptr) g_ServerCore = new CServerCore();
    return g_ServerCore;
}

void ReleaseServerCore() {
    delete g_ServerCore;
    g_ServerCore = nullptr;
}

// The link cores keep the queue's address only; none uses it before the
// queue is constructed.
CServerCore::CServerCore()
    : m_DataServer(&m_RecvQueue),
      m_GameServer(&m_RecvQueue),
      m_LoginServer(&m_RecvQueue),
      m_RouteServer(&m_RecvQueue) {
    m_RouteServer.SetPassBudgetBytes(kServicePassBudgetBytes);
    m_LoginServer.SetPassBudgetBytes(kServicePassBudgetBytes);
    m_GameServer.SetPassBudgetBytes(kServicePassBudgetBytes);
}

CServerCore::~CServerCore() = default;

// ---------------------------------------------------------------------------
// Start and stop
// ---------------------------------------------------------------------------

bool CServerCore::Start(int loginPort, int loginCount, int routePort, int routeCount, int gamePort, int gameCount,
                        const char* dataServerIP, int dataServerPort) {
    AnnounceStage("Connecting DataBase...");
    if (!m_DataServer.Connect(dataServerIP, dataServerPort)) {
        GetLog()->LogRun("Connect DataServer Fail!");
        ShowStage("Connect DataServer Fail!");
        return false;
    }
    ReachStage("Connect DataBase...OK!");

    if (!StartServiceStage(m_LoginServer, loginPort, loginCount, "Starting LoginServer Service...",
                           "LoginServer Service Start Fail!", "Start LoginServer Service...OK!", 1)) {
        return false;
    }
    if (!StartServiceStage(m_RouteServer, routePort, routeCount, "Starting RouteServer Service...",
                           "RouteServer Service Start Fail!", "Start RouteServer Service...OK!", 2)) {
        return false;
    }
    if (!StartServiceStage(m_GameServer, gamePort, gameCount, "Starting GameServer Service...",
                           "GameServer Start Fail!", "Start GameServer Service...OK!", 3)) {
        return false;
    }
    ShowStage("Start GameServer Service...OK!");
    m_Running = true;
    return true;
}

bool CServerCore::StartServiceStage(INetProcess& service, int port, int count, const char* announce,
                                    const char* failure, const char* reached, int servicesToUndo) {
    AnnounceStage(announce);
    if (!service.StartService(static_cast<uint16_t>(port), count)) {
        GetLog()->LogRun("%s", failure);
        UndoStart(servicesToUndo);
        ShowStage(failure);
        return false;
    }
    ReachStage(reached);
    return true;
}

// Closes the DataServer link and the first `services` services in start
// order (LoginServer, RouteServer, GameServer), the failed one included.
void CServerCore::UndoStart(int services) {
    m_DataServer.DropConnection();
    INetProcess* const inStartOrder[] = {&m_LoginServer, &m_RouteServer, &m_GameServer};
    for (int i = 0; i < services && i < 3; ++i) inStartOrder[i]->StopService();
}

void CServerCore::AnnounceStage(const char* text) {
    GetLog()->LogRun("%s", text);
    ShowStage(text);
}

void CServerCore::ReachStage(const char* text) {
    GetLog()->LogRun("%s", text);
    m_StageText = text;
}

void CServerCore::ShowStage(const char* text) {
    m_StageText = text;
    if (m_StageNotify != nullptr) {
        m_StageNotify(m_StageContext, m_StageText.c_str(), static_cast<int>(m_StageText.size()));
    }
}

void CServerCore::SetStageNotify(StageNotify notify, void* context) {
    m_StageNotify = notify;
    m_StageContext = context;
}

void CServerCore::Stop() {
    GetLog()->LogRun("Stoping RouteServer Service...");
    m_RouteServer.StopService();
    GetLog()->LogRun("Stoping RouteServer Service...OK!");
    GetLog()->LogRun("Stoping LoginServer Service...");
    m_LoginServer.StopService();
    GetLog()->LogRun("Stoping LoginServer Service...OK!");
    GetLog()->LogRun("Stoping GameServer Service...");
    m_GameServer.StopService();
    GetLog()->LogRun("Stoping GameServer Service...OK!");
    GetLog()->LogRun("DisConnecting   DataServer Service...");
    m_DataServer.Disconnect();
    GetLog()->LogRun("DisConnecting   DataServer Service...OK!");
    m_Running = false;
}

std::string CServerCore::GetServerConnectState() {
    char text[160];
    std::snprintf(text, sizeof(text),
                  "[ServerConnectState]\r\n DataServer Connect=%d\r\n GameServer Active=%d\r\n LoginServer Active=%d\r\n "
                  "RouteServer Active=%d",
                  m_DataServer.SockIsConnected() ? 1 : 0, m_GameServer.IsListening() ? 1 : 0,
                  m_LoginServer.IsListening() ? 1 : 0, m_RouteServer.IsListening() ? 1 : 0);
    return text;
}

// ---------------------------------------------------------------------------
// Threads
// ---------------------------------------------------------------------------

void CServerCore::StartThreads() {
    m_LoginServer.PrepareThreads();
    m_RouteServer.PrepareThreads();
    m_DataServer.CreateThreads();
    m_GameServer.PrepareThreads();
    ThreadManager& threads = ThreadManager::Instance();
    m_DispatchThread = threads.AddThread("DispatchPackThread Processer", &CServerCore::DispatchThunk, this, false);
    m_ProcessThread = threads.AddThread("ProcessPackThread Processer", &CServerCore::ProcessThunk, this, false);
    // Each hands the other its packets, and both poll after work: polling on
    // one CPU, they would yield it to each other while the peers' wake-ups
    // crossed to the other CPU.
    m_DispatchThread->SetPollPartners(&m_PollPartners);
    m_ProcessThread->SetPollPartners(&m_PollPartners);
    // The relay answers within microseconds only if a push ends the drainer's
    // idle sleep instead of waiting it out.
    m_RecvQueue.SetWakeTarget(m_DispatchThread);
    m_RouteServer.SetWakeTarget(m_ProcessThread);
    m_LoginServer.SetWakeTarget(m_ProcessThread);
    m_GameServer.SetWakeTarget(m_ProcessThread);
    LetProcessThreadServeTheNetwork();
}

void CServerCore::SetWorkerSpinMicros(uint32_t micros) {
    if (m_ProcessThread != nullptr) m_ProcessThread->SetSpinMicros(micros);
    m_DataServer.SetSpinMicros(micros);
}

void CServerCore::SetDispatchSpinMicros(uint32_t micros) {
    if (m_DispatchThread != nullptr) m_DispatchThread->SetSpinMicros(micros);
}

void CServerCore::LetProcessThreadServeTheNetwork() {
    // The process thread drains the three services anyway. When it also runs
    // their socket work while idle, received bytes reach it without a hand-over
    // from an I/O thread: one thread wake-up less per wave of packets.
    INetIoDriver* driver = CreateNetIoDriver();
    if (driver == nullptr) return;  // the services keep I/O threads of their own
    bool driven = m_RouteServer.UseIoDriver(driver);
    driven = m_LoginServer.UseIoDriver(driver) || driven;
    driven = m_GameServer.UseIoDriver(driver) || driven;
    if (driven) m_ProcessThread->SetIdleWait(std::make_unique<NetIoIdleWait>(driver));
    driver->Release();
}

int CServerCore::DispatchThunk(void* context, int) { return static_cast<CServerCore*>(context)->DispatchPackWork(); }

int CServerCore::ProcessThunk(void* context, int) { return static_cast<CServerCore*>(context)->ProcessPackWork(); }

int CServerCore::ProcessPackWork() {
    // The services take turns at going first, so that while the relay is
    // held back one busy service cannot keep the others waiting.
    INetProcess* const services[] = {&m_RouteServer, &m_LoginServer, &m_GameServer};
    constexpr int kServiceCount = 3;
    bool heldBack = false;
    for (int i = 0; i < kServiceCount; ++i) {
        if (RelayBacklogFull()) {
            heldBack = true;
            break;
        }
        services[(m_FirstService + i) % kServiceCount]->ProcessNetMsg();
    }
    m_FirstService = (m_FirstService + 1) % kServiceCount;
    for (INetProcess* service : services) service->SendAll();
    bool foundWork = false;
    for (INetProcess* service : services) foundWork = service->TakeFoundWork() || foundWork;
    if (heldBack) return kHeldBackRetryMs;
    const bool workLeft =
        m_RouteServer.HasPendingWork() || m_LoginServer.HasPendingWork() || m_GameServer.HasPendingWork();
    // A pass that found work is followed by another at once, and the thread's
    // poll after work runs from there: the next wave of a busy peer, or the
    // replies the dispatch thread routes meanwhile, are taken without a sleep
    // in the I/O driver and a wake-up from another CPU.
    if (workLeft || foundWork) return 0;
    // Everything else that reaches this thread wakes it.
    return kIdleUntilWokenMs;
}

bool CServerCore::RelayBacklogFull() {
    return m_RecvQueue.Bytes() + m_DataServer.GetSendQueueBytes() >= kMaxRelayBacklogBytes ||
           m_RecvQueue.Count() + m_DataServer.GetSendQueueCount() >= kMaxRelayBacklogPackets;
}

// ---------------------------------------------------------------------------
// Routing (dispatch thread)
// ---------------------------------------------------------------------------

int CServerCore::DispatchPackWork() {
    // Busy or idle, a dispatch thread that still passes here keeps the
    // service manager's watchdog fed; a stuck one lets it fire.
    plat::service::PingWatchdogIfDue();
    int queued = m_RecvQueue.Count();
    if (queued == 0) {
        SendKeepAlive();
        m_DataServer.FlushDirectWave();  // the DataServer's keep-alive
        return IdleSleepMs();
    }
    // One pass routes what was queued when it began; the packets it sends
    // the DataServer go out together at its end, so a wave of requests
    // waits neither for the replies behind it nor for a send thread.
    MMORPGPacket* batch[kDispatchBatch];
    while (queued > 0) {
        const int taken = m_RecvQueue.PopSome(batch, std::min(queued, kDispatchBatch));
        if (taken == 0) break;
        queued -= taken;
        EventTally routed;
        for (int i = 0; i < taken; ++i) {
            if (batch[i] == nullptr) continue;
            routed.Add(static_cast<uint32_t>(batch[i]->GetDataLen()));
            Route(batch[i]);
        }
        m_DispatchCounter.AddEvents(routed.events, routed.bytes);
    }
    m_DataServer.FlushDirectWave();
    return 0;
}

void CServerCore::Route(MMORPGPacket* packet) {
    if (packet->GetPackType() == MMORPG::atBroadcast && IsPeerServerType(packet->GetSrcServerType())) {
        BroadcastToAll(packet);
        return;
    }
    if (packet->GetPackType() == MMORPG::atKeepAlive) {
        FreePacket(packet);  // keep-alives of the peers end here
        return;
    }
    if (packet->GetDestIndex() == -1) {
        BroadcastSpecialPack(packet);
        return;
    }
    const uint8_t destType = packet->GetDestServerType();
    if (destType == MMORPG::stDataServer) {
        PushToDataServer(packet);
    } else if (INetProcess* service = ServiceOf(destType)) {
        service->PushDisp(packet);
    } else {
        FreePacket(packet);
        GetLog()->LogAlarm("Unknown ServerType = %d", destType);
    }
}

void CServerCore::BroadcastSpecialPack(MMORPGPacket* packet) {
    if (packet->GetDestIndex() != -1) {
        GetLog()->LogError("CServerCore::BroadcastSpecialPack  DestIndex!= -1");
        return;
    }
    const uint8_t destType = packet->GetDestServerType();
    if (destType == MMORPG::stDataServer) {
        if (MMORPGPacket* copy = CopyOf(packet)) PushToDataServer(copy);
    } else if (INetProcess* service = ServiceOf(destType)) {
        if (service->IsListening()) {
            const int online = service->GetOnlineCount();
            for (int k = 0; k < online; ++k) {
                IServerObj* serverObj = service->GetOnlineServerObj(k);
                if (serverObj == nullptr || !serverObj->IsUsable()) continue;
                if (MMORPGPacket* copy = CopyOf(packet)) serverObj->PushSendPack(copy);
            }
        }
    } else {
        FreePacket(packet);
        GetLog()->LogAlarm("Error target ServerType = %d", destType);
        return;
    }
    FreePacket(packet);
}

void CServerCore::BroadcastToAll(MMORPGPacket* packet) {
    if (packet->GetSrcServerType() != MMORPG::stDataServer && m_DataServer.SockIsConnected()) {
        packet->SetDestServerType(MMORPG::stDataServer);
        if (MMORPGPacket* copy = CopyOf(packet)) PushToDataServer(copy);
    }
    BroadcastToService(m_GameServer, MMORPG::stGameServer, packet);
    BroadcastToService(m_LoginServer, MMORPG::stLoginServer, packet);
    BroadcastToService(m_RouteServer, MMORPG::stRouteServer, packet);
    FreePacket(packet);
}

void CServerCore::BroadcastToService(INetProcess& service, uint8_t serverType, MMORPGPacket* packet) {
    if (!service.IsListening()) return;
    packet->SetDestServerType(serverType);
    // The sender's slot, as its own link core stamped it into the header.
    const int senderIndex = static_cast<uint16_t>(packet->GetHeadDestIndex());
    const bool fromThisService = packet->GetSrcServerType() == serverType;
    const int online = service.GetOnlineCount();
    for (int k = 0; k < online; ++k) {
        IServerObj* serverObj = service.GetOnlineServerObj(k);
        if (serverObj == nullptr || !serverObj->IsUsable()) continue;
        if (fromThisService && serverObj->GetPoolIndex() == senderIndex) continue;
        if (MMORPGPacket* copy = CopyOf(packet)) serverObj->PushSendPack(copy);
    }
}

void CServerCore::SendKeepAlive() {
    const uint32_t now = plat::GetTickMs();
    // Unsigned difference: the wrap of the 32-bit tick is harmless. The
    // first idle pass sends whatever the tick reads (a host up for less than
    // 30 s, or a tick just past its wrap, would otherwise delay it).
    if (m_KeepAliveSent && now - m_LastKeepAliveTick < kKeepAliveIntervalMs) return;
    m_KeepAliveSent = true;
    m_LastKeepAliveTick = now;
    SendKeepAliveTo(m_RouteServer, MMORPG::stRouteServer);
    SendKeepAliveTo(m_GameServer, MMORPG::stGameServer);
    SendKeepAliveTo(m_LoginServer, MMORPG::stLoginServer);
    if (MMORPGPacket* packet = NewKeepAlive(MMORPG::stDataServer)) PushToDataServer(packet);
}

int CServerCore::IdleSleepMs() const {
    // Every push to the receive queue wakes this thread; only the next
    // keep-alive needs a timed wake.
    const uint32_t sinceLast = plat::GetTickMs() - m_LastKeepAliveTick;
    if (!m_KeepAliveSent || sinceLast >= kKeepAliveIntervalMs) return 1;
    const uint32_t untilDue = kKeepAliveIntervalMs - sinceLast;
    int sleepMs = static_cast<int>(std::min<uint32_t>(untilDue, kIdleUntilWokenMs));
    // A short watchdog interval must not pass during one idle sleep.
    const int watchdogMs = plat::service::WatchdogPingIntervalMs();
    if (watchdogMs > 0) sleepMs = std::min(sleepMs, watchdogMs);
    return sleepMs;
}

void CServerCore::SendKeepAliveTo(INetProcess& service, uint8_t serverType) {
    const int online = service.GetOnlineCount();
    for (int k = 0; k < online; ++k) {
        IServerObj* serverObj = service.GetOnlineServerObj(k);
        if (serverObj == nullptr) continue;
        if (MMORPGPacket* packet = NewKeepAlive(serverType)) serverObj->PushSendPack(packet);
    }
}

void CServerCore::PushToDataServer(MMORPGPacket* packet) {
    // While the link is idle, the packets of a wave are written by this
    // thread in one write once the wave ends (DispatchPackWork), without
    // waking the link's send thread. The link leaves a refused packet with
    // its caller; dropping it here keeps it from leaking out of the pool.
    if (!m_DataServer.WriteOrPush(packet)) FreePacket(packet);
}

INetProcess* CServerCore::ServiceOf(uint8_t serverType) {
    switch (serverType) {
        case MMORPG::stGameServer:
            return &m_GameServer;
        case MMORPG::stLoginServer:
            return &m_LoginServer;
        case MMORPG::stRouteServer:
            return &m_RouteServer;
        default:
            return nullptr;
    }
}
