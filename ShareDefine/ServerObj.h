// IServerObj: one accepted connection slot of a listening service. It frames
// the bytes received on the slot into packets and hands each to its subclass
// (OnRecvPack), and it owns the slot's send queue and send stream.
//
// Threads: the process thread feeds bytes (OnRecvBytes), runs the send
// passes (SendQueued) and resets the object; the dispatch thread only pushes
// into the send queue (PushSendPack), which is locked. The window reads the
// counters and the per-slot values, which are advisory.
#pragma once

#include <memory>
#include <string>

#include "infra/LogRepeatLimiter.h"
#include "infra/PacketTotals.h"
#include "infra/SecCounter.h"
#include "lib/TestLib/ICOPNetStream.h"
#include "ShareDefine/CThreadQueue.h"
#include "ShareDefine/MMORPGPacket.h"
#include "ShareDefine/PackageDispatcher.h"
#include "ShareDefine/PacketStage.h"

class INetService;
class QXNetClient;

using PacketQueue = CThreadQueue<MMORPG::MMORPGPacket>;

class IServerObj {
public:
    // service: not owned, outlives the object. targetQueue: the core's
    // receive queue, not owned.
    IServerObj(INetService* service, int poolIndex, PacketQueue* targetQueue);
    IServerObj(const IServerObj&) = delete;
    IServerObj& operator=(const IServerObj&) = delete;

    /*  0 */ virtual void OnRecvPack(MMORPG::tagPackHead* head, const char* data, int len) = 0;
    /*  1 */ virtual ~IServerObj();
    /*  2 */ virtual void OnRecvBytes(const char* data, int len);
    // Takes ownership of the packet; returns 1.
    /*  3 */ virtual int PushSendPack(MMORPG::MMORPGPacket* packet);
    /*  4 */ virtual int GetSendQueueCount();
    // Writes every queued packet and flushes; 1 on success, 0 on a send failure.
    /*  5 */ virtual int SendQueued();
    // Called with each packet and its frame right before it is written.
    /*  6 */ virtual void OnBeforeSend(MMORPG::MMORPGPacket* packet, const char* bytes, int len) {}
    /*  7 */ virtual std::string GetRecvCounterText();
    /*  8 */ virtual std::string GetSendCounterText();
    /*  9 */ virtual int GetRecvCounterValue();
    /* 10 */ virtual int GetSendCounterValue();
    // Drops everything of the previous connection: queued packets go back to
    // the pool, the pending partial frame and both counters are cleared.
    /* 11 */ virtual void ResetObj();

    int GetPoolIndex() const { return m_PoolIndex; }
    int GetRecorder() const { return m_Recorder; }
    int GetSentThisPass() const { return m_SentThisPass; }
    void ClearSentThisPass() { m_SentThisPass = 0; }
    PacketQueue* GetTargetQueue() const { return m_TargetQueue; }
    // Where OnRecvPack puts its packets: the target queue, through a stage
    // that holds those of one OnRecvBytes until its bytes are framed.
    PacketStage& ReceiveStage() { return m_ReceiveStage; }
    // The thread that drains the send queue; woken when a push finds it empty.
    void SetWakeTarget(IWakeable* target) { m_SendQueue.SetWakeTarget(target); }
    // The owner's limiter for this object's per-peer warnings (process
    // thread); not owned, outlives the object. Null: every line is written.
    void SetLogLimiter(LogRepeatLimiter* limiter) { m_LogLimiter = limiter; }
    // The owner's totals, which outlive the slot's reuse (process thread);
    // not owned, outlives the object. Null: nothing is counted.
    void SetPacketTotals(PacketTotals* totals) { m_PacketTotals = totals; }
    // True from a bad frame (wrong magic, length over the bound) until the
    // next ResetObj: the connection is being closed and its bytes are dropped.
    bool IsCutForBadFrame() const { return m_CutForBadFrame; }
    // Writes a Warn line through the limiter, keyed by the peer's address:
    // a peer that closes under a burst of sends must not flood the log.
    void WarnLimited(const char* kind, const std::string& text);

    // Per-slot values for the window, read through the slot's client.
    std::string GetPeerIP();
    int GetSocket();
    bool IsUsable();
    int IsSendPending();
    int IsWaitClose();
    unsigned GetRecvIdleTime();
    unsigned GetRemainSendBuffLen();
    unsigned GetCommitSendBuffLen();

protected:
    int m_Recorder = 7;

private:
    static void OnGetDispatchPackThunk(void* context, const char* body, int len);
    static void OnFramerLogThunk(void* context, const char* text);
    static void OnBadFrameThunk(void* context);
    void OnGetDispatchPack(const char* body, int len);
    void CutForBadFrame(const char* chunk, int len);
    // For a packet that the core or the DataServer link would drop with a
    // line of its own: the kind of that line; null for one that goes on.
    static const char* DropLineKind(const MMORPG::tagPackHead& head);
    // False when the packet is a repeat to be dropped here, counted, unlogged.
    bool AdmitDropped(const char* kind);
    QXNetClient* Client();
    int SendOne(MMORPG::MMORPGPacket& packet);
    // The counters, recorder and send hook see every frame built, sent or not.
    void NoteFrame(MMORPG::MMORPGPacket& packet, const char* frame, int len);
    int SendFailed();
    // Feeds the counters with what the last batch framed and sent.
    void CountSentBatch();
    // Queued packets SendQueued takes at a time.
    static constexpr int kSendBatch = 64;

    CICOPNetStream m_Stream;
    // A frame that the stream's buffer cannot take in place; its capacity
    // is reused (process thread).
    std::string m_Frame;
    PacketQueue* m_TargetQueue;
    PacketStage m_ReceiveStage{m_TargetQueue};
    PacketQueue m_SendQueue;
    SecCounter m_RecvCounter{1000};
    SecCounter m_SendCounter{1000};
    TnPackageDispatcher m_Dispatcher;
    int m_SentThisPass = 0;
    // Process thread only: counted per chunk or send batch, not per packet.
    EventTally m_FramedIn;   // packets framed from the chunk being fed
    EventTally m_FramedOut;  // frames built by the send batch
    EventTally m_SentOut;    // packets the batch handed to the stream
    // The framer's last text: names the reason when a bad frame follows.
    char m_FramerText[96] = {};
    bool m_BadFrameSeen = false;    // set by the framer's error closure during a Feed
    bool m_CutForBadFrame = false;  // process thread
    LogRepeatLimiter* m_LogLimiter = nullptr;
    PacketTotals* m_PacketTotals = nullptr;
    INetService* m_Service;
    const int m_PoolIndex;
};
