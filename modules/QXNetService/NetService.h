// The listening network service behind INetService: one acceptor, a fixed
// set of connection slots and one I/O thread running an Asio io_context from
// StartListen to StopListen, or, when given a driver, no thread of its own:
// its work then runs on the driver's context, on whichever thread drives it.
// The I/O side accepts, reads, closes, runs the write chains and queues every
// message; the other operations may be called from any thread and meet it
// under m_Lock, posting socket work to it. The one exception is SendTo on a
// connection with nothing queued, which writes without blocking on the
// caller's thread. The object owns its slots, connections and queue; only
// Release() destroys it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <thread>
#include <vector>

#include <asio.hpp>

#include "modules/QXNetService/INetService.h"
#include "modules/QXNetService/NetClient.h"
#include "modules/QXNetService/NetConnection.h"
#include "modules/QXNetService/NetIoDriver.h"
#include "modules/QXNetService/NetMsgQueue.h"
#include "modules/QXNetService/NetStatistics.h"

class CNetService final : public INetService {
public:
    CNetService();
    CNetService(const CNetService&) = delete;
    CNetService& operator=(const CNetService&) = delete;

    bool StartListen(uint16_t port, int count) override;
    void StopListen() override;
    uint16_t GetListenPort() override;
    int GetMaxClient() override;
    QXNetClient* GetClient(int poolIndex) override;
    bool GetMsg(tagNetMsg* msg) override;
    void SetMsgNotify(NetMsgNotify callback, void* context) override;
    int GetMsgCount() override;
    int GetParam(int id) override;
    int SendTo(int poolIndex, const char* data, int len) override;
    int SendToMore(int poolIndex, const char* data, int len) override;
    bool SetIoDriver(INetIoDriver* driver) override;
    void Reserved10() override {}
    void Reserved11() override {}
    void CloseClient(int poolIndex) override;
    bool IsListening() override;
    void Reserved14() override {}
    uint64_t GetValue(int id) override { return m_Stats.Get(id); }
    void Reserved16() override {}
    void Reserved17() override {}
    bool SetParam(int id, int value) override;
    int GetOnlineCount() override;
    void Release() override;

private:
    using ConnectionPtr = std::shared_ptr<CNetConnection>;

    // A notice to give after m_Lock is released: a message went into an
    // empty queue.
    struct PendingNotify {
        NetMsgNotify callback = nullptr;
        void* context = nullptr;
        void Fire() const {
            if (callback != nullptr) callback(context);
        }
    };

    struct Slot {
        std::unique_ptr<CNetClient> client;  // created on the slot's first connection
        ConnectionPtr connection;            // from accept until its close message is drained
    };

    ~CNetService();

    // The context the service's sockets live on: the driver's, or its own.
    asio::io_context& Io() { return m_Driver != nullptr ? m_Driver->Context() : m_Io; }
    // Wraps a handler of work queued on Io() so that m_QueuedWork counts it
    // until it has run: a driven StopListen runs work until none is left.
    template <typename Handler>
    auto Counted(Handler handler);
    void StopDriven();
    void StopOwnThread();

    // I/O side (the I/O thread, or the thread running the driver).
    void RunIoThread();
    void StartAccept();
    void OnAccept(const std::error_code& error, asio::ip::tcp::socket socket);
    // Reads without blocking and hands the bytes to OnRead; a socket found
    // empty is waited on (AwaitReadable) rather than read again, so a read
    // costs one system call, not a second one that finds nothing.
    void StartRead(const ConnectionPtr& connection);
    void ReadNow(const ConnectionPtr& connection);
    void AwaitReadable(const ConnectionPtr& connection);
    void OnRead(const ConnectionPtr& connection, const std::error_code& error, size_t bytes);
    void OnResume(const ConnectionPtr& connection);
    void StartWrite(const ConnectionPtr& connection);
    void OnWrite(const ConnectionPtr& connection, const std::error_code& error, size_t bytes, size_t requested);
    void FinishClose(const ConnectionPtr& connection, int kind, int param);
    // Gives a dropped send queue's memory back: a large one on a thread of
    // its own, so that unmapping hundreds of MiB does not stall the thread
    // that serves every other connection.
    void ReleaseQueue(CSendChunkQueue queue);
    void JoinReaper();
    void CloseAllOnIoThread();

    // Callers hold m_Lock.
    int RefusalStatisticLocked() const;
    int TakeFreeSlotLocked();
    PendingNotify PushLocked(int poolIndex, int kind, int param, const char* data = nullptr, int len = 0);
    // Queues one read as kind-101 records of at most kNetMsgDataSize bytes
    // each, in order; adds their number to *records.
    PendingNotify PushChunkLocked(int poolIndex, const char* data, size_t len, int* records);
    // Queues a completed read of `len` bytes: the records it filled in
    // place, then its overflow as copied records; adds their number to
    // *records.
    PendingNotify PushReadLocked(CNetConnection& connection, size_t len, int* records);
    // Writes the held bytes and then `data` without blocking on the
    // caller's thread; bytes taken, held ones first (error set and 0 on a
    // socket failure).
    size_t WriteDirectLocked(CNetConnection& connection, const char* data, size_t len, int flags, int* error);
    int Send(int poolIndex, const char* data, int len, int flags);
    // Queues for the write chain what the socket did not take: the tail of
    // the held bytes (if any), then `data`; 0 when that ends the connection.
    int QueueLocked(const ConnectionPtr& connection, std::string_view heldTail, const char* data, size_t len);
    void RequestCloseLocked(const ConnectionPtr& connection, int kind, int param);
    void AfterPopLocked(const tagNetMsg& msg);
    ConnectionPtr LiveConnectionLocked(int poolIndex) const;
    void PublishSendStateLocked(const CNetConnection& connection);
    void PublishGaugesLocked();
    int ParamLocked(int id) const { return m_Params[static_cast<size_t>(id)]; }

    void OpBegun();
    void OpEnded();

    // Members are destroyed bottom-up: the connections' sockets go before the
    // io_context they belong to. A driver's context is kept alive by the
    // reference released last in the destructor.
    asio::io_context m_Io;
    CNetIoDriver* m_Driver = nullptr;  // one reference held; set before the first StartListen
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> m_Work;
    std::thread m_IoThread;
    std::mutex m_ControlLock;  // serialises StartListen, StopListen, SetIoDriver and Release
    bool m_IoStarted = false;  // under m_ControlLock: from StartListen until StopListen
    bool m_EverStarted = false;  // under m_ControlLock
    std::atomic<int> m_QueuedWork{0};

    mutable std::mutex m_Lock;
    std::optional<asio::ip::tcp::acceptor> m_Acceptor;  // I/O side while listening
    std::optional<asio::steady_timer> m_AcceptRetry;    // I/O side: pause after a failed accept
    bool m_Listening = false;
    uint16_t m_Port = 0;
    int m_SlotCount = 0;
    std::vector<Slot> m_Slots;
    std::set<int> m_FreeSlots;  // below m_SlotCount, no connection
    int m_Online = 0;
    uint64_t m_PendingSendMessages = 0;
    uint64_t m_PendingSendBytes = 0;
    uint64_t m_ConnectionsWithUnsent = 0;
    CNetMsgQueue m_Queue;
    std::array<int, 9> m_Params{};
    NetMsgNotify m_Notify = nullptr;
    void* m_NotifyContext = nullptr;

    CNetStatistics m_Stats;
    // The last thread that freed a large dropped queue (I/O side; joined
    // before the next one starts and when the service stops).
    std::thread m_Reaper;
};
