// TnServerClient: the outbound link to one server (the DataServer). A
// blocking socket from the nqBlockClient module, a receive thread that frames
// the bytes into packets for the subclass (OnRecvPack), and a send queue that
// a send thread frames and writes.
//
// Losing the link: only the receive thread reconnects. A write failure on
// the send thread closes the socket it wrote to, which ends the receive
// thread's blocked read; the receive thread then reconnects to the stored
// address and, while that fails and no Disconnect() was asked for, tries
// again about once a second. OnDisconnected() runs once per loss, not once per
// attempt. The send thread keeps the bytes it could not write and sends them,
// before anything queued later, once the link is back, so no packet is lost
// or reordered by a reconnect.
//
// The fast path: while nothing is queued or being written, WriteOrPush
// gathers the caller's frames into a wave that FlushDirectWave writes in one
// write without blocking (the dispatch thread saves waking the send thread);
// a write that would block, a backlog, a link being made again and the bytes
// kept across a loss all stay with the send thread, which holds the same
// write lock for its pass, so order is the same either way.
//
// Threads: PushSend, WriteOrPush and FlushDirectWave on the core's dispatch
// thread; Connect and Disconnect on the window thread; OnRecvPack and
// OnDisconnected on the receive thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <sys/types.h>

#include "infra/PacketTotals.h"
#include "infra/SecCounter.h"
#include "lib/TestLib/NetStream.h"
#include "infra/IWakeable.h"
#include "ShareDefine/CThreadQueue.h"
#include "ShareDefine/MMORPGPacket.h"
#include "ShareDefine/PackageDispatcher.h"
#include "ShareDefine/PacketStage.h"

class INqBlockSocket;
class SingleThread;

class TnServerClient {
public:
    static constexpr int kRecvBufferSize = 64 * 1024;
    static constexpr uint32_t kRetryIntervalMs = 1000;
    // A re-made link lost within this time, before anything arrived on it,
    // continues the outage that was already announced.
    static constexpr uint32_t kLinkSettleMs = 1000;
    // A failed retry is logged on the first attempt of a loss and then once
    // every this many attempts, so a long outage does not flood the log.
    static constexpr int kRetryLogEvery = 60;

    TnServerClient();
    TnServerClient(const TnServerClient&) = delete;
    TnServerClient& operator=(const TnServerClient&) = delete;

    /* 0 */ virtual void OnRecvPack(MMORPG::tagPackHead* head, const char* data, int len) = 0;
    /* 1 */ virtual void OnDisconnected() {}
    /* 2 */ virtual ~TnServerClient();
    // Queues a pooled packet for the send thread and takes ownership of it.
    // False (with an Error line for bad header types) when the packet is
    // refused; the caller then still owns it.
    /* 3 */ virtual bool PushSend(MMORPG::MMORPGPacket* packet);
    /* 4 */ virtual bool Connect(const char* host, int port);
    // Ends automatic reconnects for good, drops the queued packets, closes the socket.
    /* 5 */ virtual void Disconnect();
    /* 6 */ virtual bool Reconnect();

    // PushSend, except that a packet finding the link idle (nothing queued,
    // held or being written, the link up) joins the caller's direct wave:
    // frames the caller writes itself, without blocking, in one write when
    // it calls FlushDirectWave. Once a wave is open every later packet
    // joins it, so order holds; PushSend flushes it first. A wave that
    // reaches kDirectWaveBytes is written at once, and the caller's later
    // packets until its FlushDirectWave are queued: a burst that large is
    // the send thread's, which writes it beside the caller instead of
    // keeping the caller from its other work. Only once a send thread is
    // there to take over (SetSenderWakeTarget).
    bool WriteOrPush(MMORPG::MMORPGPacket* packet);
    // Ends the caller's pass: writes the direct wave, and lets the next
    // packet open a new one. What the socket does not take at once (all of
    // it while the link is down) goes first on the send thread's next pass.
    void FlushDirectWave();
    static constexpr size_t kDirectWaveBytes = 128 * 1024;

    // Registers the receive and send threads with the thread manager.
    void CreateThreads();
    // The send thread's poll after work (SingleThread::SetSpinMicros). The
    // receive thread always blocks in its read. After CreateThreads.
    void SetSpinMicros(uint32_t micros);
    // The thread that runs ThreadSendPack: woken by every push and whenever
    // the link (re)connects, so it sleeps while there is nothing it can do.
    // Not owned; CreateThreads sets it.
    void SetSenderWakeTarget(IWakeable* sender);

    // Work callbacks of the two threads (public for tests that drive them directly).
    int ThreadRecvPack();
    int ThreadSendPack();

    bool SockIsConnected();
    const std::string& GetName() const { return m_Name; }
    int GetRecorder() const { return m_Recorder; }
    int GetSendQueueCount() { return m_SendQueue.Count(); }
    int64_t GetSendQueueBytes() const { return m_SendQueue.Bytes(); }
    bool GetStopFlag() const { return m_StopFlag.load(std::memory_order_acquire); }
    SecCounter& GetRecvCounter() { return m_RecvCounter; }
    SecCounter& GetSendCounter() { return m_SendCounter; }
    // Packets relayed over the link since the start, and the connects that
    // ended a loss (any thread).
    const PacketTotals& GetPacketTotals() const { return m_PacketTotals; }
    uint64_t GetReconnectCount() const { return m_Reconnects.load(std::memory_order_relaxed); }
    INqBlockSocket* GetSocket() const { return m_Socket; }
    // The address text that the last Connect was given (any thread).
    std::string GetConnectHost();

protected:
    // A subclass whose OnRecvPack stages its packets names the stage here
    // (not owned, lives as long as the subclass); the receive thread holds
    // each read's packets in it until the read is framed. Before
    // CreateThreads.
    void SetReceiveStage(PacketStage* stage) { m_ReceiveStage = stage; }

    std::string m_Name = "TnServerClient";
    int m_Recorder = 7;

private:
    static int RecvThreadThunk(void* context, int threadIndex);
    static int SendThreadThunk(void* context, int threadIndex);
    static void OnPackThunk(void* context, const char* body, int len);
    void OnGetDispatchPack(const char* body, int len);

    // While the link is down: reconnects when the retry is due and returns
    // how long the receive thread may sleep before looking again.
    int RetryIfDue();
    // Writes bytes still held from a failed write; false while they wait.
    bool WriteHeldBytes(uint32_t generation);
    bool SendOne(MMORPG::MMORPGPacket& packet, uint32_t generation);
    // Whether PushSend takes the packet (an Error line when it does not).
    bool Accepts(MMORPG::MMORPGPacket& packet);
    // Writes the wave and hands whatever the socket did not take to the
    // send thread.
    void WriteDirectWave();
    void GiveBackWavePackets();
    // Whether a packet may open a direct wave: a send thread runs, and
    // nothing is queued, held or being written on a link that is up.
    bool LinkIdleForDirectWrite();
    void AddToWave(MMORPG::MMORPGPacket& packet);
    // The non-blocking write of the wave (caller holds m_WriteLock): the
    // bytes the socket took, or -1 when the link failed under it.
    ssize_t WriteWaveLocked(uint32_t* generation);
    // Counts the wave's packets that went out whole and hands the rest to
    // the send thread (caller holds m_WriteLock).
    void SettleWaveLocked(size_t written);
    // The recorder sees every frame as it goes out; the per-second counter
    // too, a wave's frames together as the wave is written.
    void RecordSentFrame(const char* frame, size_t len);
    // Keeps frames (or an unsent tail) to go out first on the next pass,
    // behind any kept before; `packets` and `packetBytes` are counted once
    // they are out.
    void HoldBytes(const char* data, size_t len, uint32_t packets, uint64_t packetBytes);
    // A write on the connection of `generation` failed: close that connection
    // (not a newer one) so the receive thread notices and reconnects.
    void OnWriteFailed(uint32_t generation);
    bool ConnectLocked();
    // Whether the link being lost now is a re-made one that never came to
    // life (caller holds m_ConnectLock).
    bool LostBeforeSettlingLocked() const;

    INqBlockSocket* m_Socket;  // from GetNqBlockSocket, freed by the destructor
    SecCounter m_RecvCounter{1000};
    SecCounter m_SendCounter{1000};
    PacketTotals m_PacketTotals;
    std::atomic<uint64_t> m_Reconnects{0};
    std::atomic<bool> m_StopFlag{false};
    CThreadQueue<MMORPG::MMORPGPacket> m_SendQueue;
    TnPackageDispatcher m_Dispatcher;
    PacketStage* m_ReceiveStage = nullptr;

    std::mutex m_ConnectLock;  // guards the address, the socket's connect/close and the fields below
    std::string m_Host;
    int m_Port = 0;
    std::atomic<uint32_t> m_Generation{0};  // bumped by every successful connect
    std::atomic<bool> m_LinkLost{false};    // a loss was announced and the link is not back yet
    uint32_t m_LastAttemptTick = 0;
    int m_FailedAttempts = 0;
    // The connect that ended the last announced loss, and whether anything
    // came in on it: a link that dies at once without a byte (a DataServer
    // killed while the kernel still completed our connect to its listener)
    // belongs to the same outage and is not announced again.
    uint32_t m_ReconnectTick = 0;
    bool m_ReconnectedAfterLoss = false;
    std::atomic<bool> m_ReceivedSinceConnect{false};
    std::atomic<IWakeable*> m_Sender{nullptr};
    SingleThread* m_SendThread = nullptr;  // owned by the ThreadManager

    // Held by whichever thread writes to the socket: the send thread for its
    // pass, the dispatch thread for a direct write. Guards the fields below.
    std::mutex m_WriteLock;
    CNetStream m_SendStream;
    std::string m_HeldBytes;        // bytes whose write failed or was cut short, sent first
    uint32_t m_HeldPackets = 0;     // the packets they belong to, counted once they are out
    uint64_t m_HeldPacketBytes = 0;
    std::string m_Frame;            // the send thread's frame; its capacity is reused

    // The dispatch thread's open wave: its frames back to back, and where
    // each ends with its packet's size, to count what a short write took.
    struct WaveFrame {
        size_t end;
        uint32_t packetBytes;
    };
    std::string m_DirectWave;
    EventTally m_WaveCounted;  // its frames, for the send counter
    bool m_WaveFullThisPass = false;
    std::vector<WaveFrame> m_WaveFrames;
    // Packets already framed into the wave, given back to the pool together
    // (dispatch thread only).
    std::vector<MMORPG::MMORPGPacket*> m_WavePackets;
    static constexpr size_t kWavePacketsHeld = 64;
    char m_RecvBuffer[kRecvBufferSize];
    EventTally m_ReadFrames;  // receive thread only: the frames of the read being framed
};
