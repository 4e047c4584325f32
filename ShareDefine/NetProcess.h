// INetProcess: one listening service over the network module. It opens and
// closes the service, drains the service's message queue, keeps one server
// object per connection slot and the index of the online ones, and runs the
// send passes. It starts no thread: the core's process thread calls
// ProcessNetMsg and SendAll, the core's dispatch thread calls PushDisp and
// walks the online objects for broadcasts.
//
// The online index is changed only by the process thread; other threads read
// it one locked access at a time (GetOnlineCount, GetOnlineServerObj), so a
// broadcast never reads a list that is being changed. Server objects live as
// long as the process object, so a pointer read from the index stays valid.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "infra/AIndexListPro.h"
#include "infra/AList.h"
#include "infra/IWakeable.h"
#include "infra/LogRepeatLimiter.h"
#include "infra/PacketTotals.h"
#include "infra/SecCounter.h"
#include "modules/QXNetService/INetService.h"
#include "ShareDefine/ServerObj.h"

class INetProcess {
public:
    // targetQueue: the owner's receive queue, handed to every server object; not owned.
    explicit INetProcess(PacketQueue* targetQueue);
    INetProcess(const INetProcess&) = delete;
    INetProcess& operator=(const INetProcess&) = delete;

    /*  0 */ virtual void CreateServerObj(INetService* service, QXNetClient* client) = 0;
    /*  1 */ virtual void OnConnected(INetService* service, QXNetClient* client) = 0;
    /*  2 */ virtual void OnRecvData(INetService* service, QXNetClient* client, const char* data, int len) = 0;
    /*  3 */ virtual void OnDisconnected(INetService* service, QXNetClient* client) = 0;
    /*  4 */ virtual void OnClientNotify(INetService* service, QXNetClient* client) = 0;
    /*  5 */ virtual ~INetProcess();
    // Hook the core calls while it registers its threads.
    /*  6 */ virtual void PrepareThreads() {}
    /*  7 */ virtual bool StartService(uint16_t port, int count);
    /*  8 */ virtual void StopService();
    /*  9 */ virtual bool IsListening();
    /* 10 */ virtual int GetRecvCounterValue();
    /* 11 */ virtual int GetSendCounterValue();
    /* 12 */ virtual std::string GetRecvCounterText();
    // "%s(%0.2f kb)(Commit:%0.2f kb)": the send rate text, bytes sent and
    // bytes committed by the service, in KiB.
    /* 13 */ virtual std::string GetSendCounterText();
    // Drains the service's queue; a pass that ends early (a missing client
    // or object, or the pass budget spent) leaves the rest for the next
    // pass, see HasPendingWork.
    /* 14 */ virtual void ProcessNetMsg();
    /* 15 */ virtual void SendAll();
    // The service's count of live connections.
    /* 16 */ virtual int GetServiceOnlineCount();
    // Takes ownership of the packet; the process thread sends it to slot m_DestIndex.
    /* 17 */ virtual void PushDisp(MMORPG::MMORPGPacket* packet);
    /* 18 */ virtual IServerObj* GetServerObj(int index);
    /* 19 */ virtual int GetOnlineCount();
    /* 20 */ virtual IServerObj* GetOnlineServerObj(int index);

    // The process thread: woken when the service queues a message into an
    // empty queue, when a packet is pushed for dispatch, and when a packet
    // is queued for one of the server objects.
    void SetWakeTarget(IWakeable* target);
    // Hands the service's network work to `driver` (before the first
    // StartService); false when the service cannot take it and keeps an
    // I/O thread of its own.
    bool UseIoDriver(INetIoDriver* driver);

    // True when the last passes left work that no wake will announce: the
    // rest of a message pass that ended early, or dispatch packets left
    // behind a failed one. The process thread then calls again at once.
    bool HasPendingWork() { return m_MsgPassCut || GetDispQueueCount() > 0; }
    // Whether the passes since the last call took a message from the
    // service or handed a packet to a server object; the flag is cleared.
    // Process thread only.
    bool TakeFoundWork() { return std::exchange(m_FoundWork, false); }
    // Received bytes one ProcessNetMsg pass takes at most before it leaves
    // the rest for the next (0, the default: all). Short passes let the
    // process thread turn to the other services and its sockets between
    // the records of a peer that floods. Before the process thread starts.
    void SetPassBudgetBytes(int bytes) { m_PassBudgetBytes = bytes; }

    INetService* GetService() const { return m_Service; }
    PacketQueue* GetTargetQueue() const { return m_TargetQueue; }
    const std::string& GetName() const { return m_Name; }
    int GetRecorder() const { return m_Recorder; }
    // Routed packets waiting for the process thread, those left behind a
    // failed dispatch pass included.
    int GetDispQueueCount() { return m_DispQueue.Count() + m_DispCarried.load(std::memory_order_relaxed); }
    // Packets relayed with this service's peers since the start (any thread).
    const PacketTotals& GetPacketTotals() const { return m_PacketTotals; }
    // Server objects ever created (one per connection slot used), online or
    // not; the window's lists read it while the process thread adds to it.
    int GetServerObjCount();
    // Parameter of the network service (id 1, 5, 6, 7, 8).
    void SetServiceParam(int id, int value);

protected:
    // For CreateServerObj: binds the object to the client and keeps it.
    void AddServerObj(QXNetClient* client, std::unique_ptr<IServerObj> serverObj);

    std::string m_Name = "INetProcessUnNamed";
    int m_Recorder = 7;

private:
    static constexpr int kParamMaxSendBufferBytes = 1;
    static constexpr int kMaxSendBufferBytes = 0x20000000;
    // Routed packets taken off the dispatch queue at a time.
    static constexpr int kDispBatch = 64;

    static void OnServiceMsgThunk(void* context);

    // Each returns false when the pass has to end.
    bool OnMsgRecv(int poolIndex, const char* data, int len);
    bool OnMsgConnect(int poolIndex);
    bool OnMsgDisconnect(int poolIndex, int kind, int param);
    // The service ended the connection for a limit: one line naming the
    // peer and the limit (through the repeat limiter).
    void LogLimitClose(QXNetClient* client, int statistic);
    bool OnMsgNotify(int poolIndex);
    bool OnMsgCreate(int poolIndex);

    bool ThreadDispToAllClient();
    // Queues one routed packet on its connection's object; false (after
    // logging and freeing it) when the connection is gone.
    bool HandToClient(MMORPG::MMORPGPacket* packet);
    // The packets a dispatch pass took but did not reach because it
    // stopped; the next pass takes them before the queue.
    int TakeCarried(MMORPG::MMORPGPacket** batch);
    void Carry(MMORPG::MMORPGPacket* const* packets, int count);
    // Writes the summaries of held-back warnings whose interval is over; at
    // most once a second, so a quiet service pays nothing for it.
    void WriteDueLogSummaries();
    bool SendPass();
    bool IsOnline(IServerObj* serverObj);
    bool AddOnline(IServerObj* serverObj);
    void RemoveOnline(IServerObj* serverObj);

    // Added to by the process thread, read by the window: an add may move
    // the list's storage, so both sides hold the lock. Objects are never
    // removed before the service is destroyed, so a pointer read stays valid.
    AList<IServerObj> m_ServerObjs{true, 10};
    std::mutex m_ServerObjsLock;
    AIndexListPro<IServerObj*, IServerObj> m_OnlineClients{false};
    std::mutex m_OnlineLock;  // guards m_OnlineClients against readers on other threads
    SecCounter m_RecvCounter{1000};
    SecCounter m_SendCounter{1000};
    PacketTotals m_PacketTotals;  // fed by the server objects
    INetService* m_Service;  // released by the destructor
    PacketQueue* m_TargetQueue;
    PacketQueue m_DispQueue;
    std::vector<MMORPG::MMORPGPacket*> m_DispCarry;  // process thread only; owned
    std::atomic<int> m_DispCarried{0};               // its size, for readers on other threads
    std::atomic<bool> m_Running{false};  // set on the window thread, read by the process thread
    IWakeable* m_WakeTarget = nullptr;
    bool m_MsgPassCut = false;  // process thread only
    bool m_FoundWork = false;   // process thread only, see TakeFoundWork
    int m_PassBudgetBytes = 0;
    // Repeated warnings of one peer (or of this service) are summarised
    // instead of written one by one (process thread only).
    LogRepeatLimiter m_LogLimiter;
    uint32_t m_LastSummaryCheck = 0;  // process thread only
};
