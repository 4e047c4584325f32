// CServerCore: the relay. It owns the DataServer link, the three listening
// cores (GameServers, LoginServers, RouteServers) and the one receive queue
// that all four fill; the dispatch thread routes each queued packet to the
// link or links its header names and sends keep-alives while idle, the
// process thread drives the listening cores' network events and sends.
//
// Threads: Start, Stop, StartThreads, the stage callback and the window's
// reads run on the window thread; DispatchPackWork on the dispatch thread;
// ProcessPackWork on the process thread. The core itself takes no lock: every
// hand-over goes through a locked queue. The registered threads call into the
// core until ThreadManager::ExitAll, so the window calls Stop, then StopAll
// and ExitAll, and only then ReleaseServerCore.
#pragma once

#include <cstdint>
#include <string>

#include "core/DataServerCore.h"
#include "core/GameServerCore.h"
#include "core/LoginServerCore.h"
#include "core/RouteServerCore.h"
#include "infra/PollPartners.h"
#include "infra/SecCounter.h"
#include "ShareDefine/ServerObj.h"

class SingleThread;

class CServerCore {
public:
    // Receives each start-up stage text, synchronously, on the thread that
    // called Start (the window thread): the status bar's text.
    using StageNotify = void (*)(void* context, const char* text, int length);

    static constexpr uint32_t kKeepAliveIntervalMs = 30000;
    static constexpr int kDispatchCounterPeriodMs = 1000;
    // Payload bytes and packets that may wait between the listening
    // services and the DataServer (the receive queue and the link's send
    // queue). Past either the process thread leaves the services' messages
    // where they are, so a peer that sends faster than the relay moves is
    // paused by its own receive backlog bound instead of growing these
    // queues and delaying everyone. Every packet queued here is one a
    // healthy peer's packet may wait behind: 128 KiB is a fraction of a
    // millisecond of relaying; the packet count bounds empty packets.
    static constexpr int64_t kMaxRelayBacklogBytes = 128 * 1024;
    static constexpr int kMaxRelayBacklogPackets = 512;
    // Received bytes the process thread takes from one service per pass:
    // between the records of a flooding peer it serves the other services
    // and its sockets.
    static constexpr int kServicePassBudgetBytes = 32 * 1024;
    // How soon a held-back process thread looks again (it serves the
    // network meanwhile).
    static constexpr int kHeldBackRetryMs = 1;
    // Packets the dispatch thread takes off its queue at a time.
    static constexpr int kDispatchBatch = 64;

    CServerCore();
    CServerCore(const CServerCore&) = delete;
    CServerCore& operator=(const CServerCore&) = delete;

    virtual ~CServerCore();
    // Connects the DataServer link, then opens the LoginServer, RouteServer
    // and GameServer services. On a failure everything opened so far is
    // closed again and false is returned; the window then retries.
    virtual bool Start(int loginPort, int loginCount, int routePort, int routeCount, int gamePort, int gameCount,
                       const char* dataServerIP, int dataServerPort);
    // Closes the RouteServer, LoginServer and GameServer services, then the DataServer link.
    virtual void Stop();

    // Registers the link's, the dispatch and the process threads (suspended)
    // and points every queue's wake-up at the thread that drains it.
    void StartThreads();
    // How long the process and DataServer send threads poll for more work
    // after a pass that found some, before they sleep (0: not at all).
    // After StartThreads.
    void SetWorkerSpinMicros(uint32_t micros);
    // The same bound for the dispatch thread. After StartThreads.
    void SetDispatchSpinMicros(uint32_t micros);

    bool IsRunning() const { return m_Running; }
    std::string GetServerConnectState();

    // For a packet whose m_DestIndex is -1: copies it to every usable link of
    // its DestServerType and frees it. A packet with any other m_DestIndex is
    // refused with an Error line and stays with the caller.
    void BroadcastSpecialPack(MMORPG::MMORPGPacket* packet);

    // Work callbacks (public so tests can drive one pass at a time). Each
    // returns 0 while it has work left, else how long its thread may sleep
    // unless woken.
    int DispatchPackWork();
    int ProcessPackWork();

    void SetStageNotify(StageNotify notify, void* context);
    const std::string& GetStageText() const { return m_StageText; }

    // Read access for the window (advisory values).
    int GetRecvQueueCount() const { return m_RecvQueue.Count(); }
    PacketQueue* GetRecvQueue() { return &m_RecvQueue; }
    SecCounter* GetDispatchCounter() { return &m_DispatchCounter; }
    DataServerCore* GetDataServerCore() { return &m_DataServer; }
    GameServerCore* GetGameServerCore() { return &m_GameServer; }
    LoginServerCore* GetLoginServerCore() { return &m_LoginServer; }
    RouteServerCore* GetRouteServerCore() { return &m_RouteServer; }

private:
    static int DispatchThunk(void* context, int threadIndex);
    static int ProcessThunk(void* context, int threadIndex);

    // Start's stage texts: announced (log, keep, show), reached (log, keep)
    // and failed (keep, show; the log line comes before the undoing).
    void AnnounceStage(const char* text);
    void ReachStage(const char* text);
    void ShowStage(const char* text);
    bool StartServiceStage(INetProcess& service, int port, int count, const char* announce, const char* failure,
                           const char* reached, int servicesToUndo);
    void UndoStart(int servicesToUndo);

    bool RelayBacklogFull();
    void Route(MMORPG::MMORPGPacket* packet);
    void BroadcastToAll(MMORPG::MMORPGPacket* packet);
    void BroadcastToService(INetProcess& service, uint8_t serverType, MMORPG::MMORPGPacket* packet);
    void SendKeepAlive();
    // Hands the listening services' socket work to the process thread's idle wait.
    void LetProcessThreadServeTheNetwork();
    // The idle sleep of the dispatch thread: until woken, or until the next keep-alive is due.
    int IdleSleepMs() const;
    void SendKeepAliveTo(INetProcess& service, uint8_t serverType);
    // Hands the packet to the DataServer link; a packet the link refuses is freed.
    void PushToDataServer(MMORPG::MMORPGPacket* packet);
    INetProcess* ServiceOf(uint8_t serverType);

    DataServerCore m_DataServer;
    GameServerCore m_GameServer;
    LoginServerCore m_LoginServer;
    RouteServerCore m_RouteServer;
    PacketQueue m_RecvQueue;  // every link pushes here; only the dispatch thread pops
    SecCounter m_DispatchCounter{kDispatchCounterPeriodMs};
    // The dispatch and process threads poll after work; kept off one CPU.
    PollPartners m_PollPartners;
    int m_FirstService = 0;            // process thread only: the service served first next pass
    uint32_t m_LastKeepAliveTick = 0;  // dispatch thread only
    bool m_KeepAliveSent = false;      // dispatch thread only: the first idle pass sends at once
    bool m_Running = false;
    StageNotify m_StageNotify = nullptr;
    void* m_StageContext = nullptr;
    std::string m_StageText;
    SingleThread* m_DispatchThread = nullptr;  // owned by the ThreadManager
    SingleThread* m_ProcessThread = nullptr;   // owned by the ThreadManager
};

// The one relay of the process, created on the first call (the window
// thread, during window creation; no lock).
CServerCore* GetServerCore();
// Deletes the relay (the window's destroy handler); a later GetServerCore()
// would create a new one.
void ReleaseServerCore();
