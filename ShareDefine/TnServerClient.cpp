#include "ShareDefine/TnServerClient.h"

#include <sys/socket.h>

#include <cerrno>

#include "diag/PackRecorderManager.h"
#include "infra/Log.h"
#include "infra/SourceLocation.h"
#include "infra/SingleThread.h"
#include "infra/ThreadManager.h"
#include "platform/LastError.h"
#include "platform/Tick.h"
#include "infra/HexDump.h"
#include "infra/IWakeable.h"
#include "ShareDefine/NetLibAdapters.h"

TnServerClient::TnServerClient() : m_Socket(GetNqBlockSocket()) {
    if (m_Socket != nullptr) m_Socket->SockSetup(0);
    // Through the socket object, so a close on the receive thread can never
    // leave this thread writing to a descriptor number that was reused.
    m_SendStream.SetSocketObject(m_Socket);
    m_Dispatcher.SetOnPack(PackClosure{&TnServerClient::OnPackThunk, this});
}

TnServerClient::~TnServerClient() {
    GiveBackWavePackets();
    if (m_Socket != nullptr) FreeNqBlockSocket(m_Socket);
}

bool TnServerClient::PushSend(MMORPG::MMORPGPacket* packet) {
    if (packet == nullptr || !Accepts(*packet)) return false;
    WriteDirectWave();  // the wave is older than this packet
    m_SendQueue.Push(packet);
    return true;
}

bool TnServerClient::WriteOrPush(MMORPG::MMORPGPacket* packet) {
    if (packet == nullptr || !Accepts(*packet)) return false;
    if (m_DirectWave.empty() && (m_WaveFullThisPass || !LinkIdleForDirectWrite())) {
        m_SendQueue.Push(packet);
        return true;
    }
    AddToWave(*packet);
    m_WavePackets.push_back(packet);
    if (m_WavePackets.size() == kWavePacketsHeld) GiveBackWavePackets();
    if (m_DirectWave.size() >= kDirectWaveBytes) {
        WriteDirectWave();
        m_WaveFullThisPass = true;
    }
    return true;
}

bool TnServerClient::Accepts(MMORPG::MMORPGPacket& packet) {
    const int srcType = packet.GetSrcServerType();
    if (srcType < 1 || srcType > 13) {
        GetLog()->LogError("TnServerClient::PushSend  SrcServerType(%d) <= MMORPG::stMin || SrcServerType >= MMORPG::stMax",
                           srcType);
        return false;
    }
    const int packType = packet.GetPackType();
    if (packType < 1 || packType > 14) {
        GetLog()->LogError("TnServerClient::PushSend  Type(%d) < atNormal || Type >= atMax", packType);
        return false;
    }
    return packet.IsInUse();
}

bool TnServerClient::LinkIdleForDirectWrite() {
    // Without a send thread to finish a partial write or keep a failed one,
    // everything is queued.
    if (m_Sender.load(std::memory_order_acquire) == nullptr || m_SendQueue.Count() > 0) return false;
    if (m_LinkLost.load(std::memory_order_acquire) || GetStopFlag() || !SockIsConnected()) return false;
    std::unique_lock write(m_WriteLock, std::try_to_lock);
    if (!write.owns_lock()) return false;  // the send thread is writing
    // Anything older that still waits goes first, on the send thread. Once
    // this is seen empty it stays so while the wave is open: only this
    // thread queues, and it queues nothing until the wave is flushed.
    return m_HeldBytes.empty() && m_SendStream.BufferedBytes() == 0;
}

void TnServerClient::AddToWave(MMORPG::MMORPGPacket& packet) {
    const size_t start = m_DirectWave.size();
    packet.AppendSendData(m_DirectWave);
    const size_t frameLen = m_DirectWave.size() - start;
    RecordSentFrame(m_DirectWave.data() + start, frameLen);
    m_WaveCounted.Add(static_cast<uint32_t>(frameLen));
    const auto packetBytes = static_cast<uint32_t>(MMORPG::kPackHeadSize + packet.GetDataLen());
    m_WaveFrames.push_back(WaveFrame{m_DirectWave.size(), packetBytes});
}

void TnServerClient::FlushDirectWave() {
    WriteDirectWave();
    GiveBackWavePackets();
    m_WaveFullThisPass = false;
}

void TnServerClient::GiveBackWavePackets() {
    FreePackets(m_WavePackets.data(), static_cast<int>(m_WavePackets.size()));
    m_WavePackets.clear();
}

void TnServerClient::WriteDirectWave() {
    if (m_DirectWave.empty()) return;
    const EventTally framed = m_WaveCounted.Take();
    m_SendCounter.AddEvents(framed.events, framed.bytes);
    uint32_t generation = 0;
    ssize_t written = 0;
    {
        std::lock_guard write(m_WriteLock);
        written = WriteWaveLocked(&generation);
        SettleWaveLocked(written > 0 ? static_cast<size_t>(written) : 0);
        if (written >= 0 && m_HeldBytes.empty()) return;
    }
    if (written < 0) {
        // The link is failing: the wave is kept for the next link, as the
        // send thread keeps its frames; the receive thread reconnects.
        GetLog()->LogWarn("%s send Error", LocationText().c_str());
        OnWriteFailed(generation);
    }
    if (IWakeable* sender = m_Sender.load(std::memory_order_acquire)) sender->Wake();
}

ssize_t TnServerClient::WriteWaveLocked(uint32_t* generation) {
    if (GetStopFlag()) {
        // Disconnect() was asked for: the wave is given up with the queue.
        m_DirectWave.clear();
        m_WaveFrames.clear();
        return 0;
    }
    // Held while writing: the receive thread cannot close or re-make the
    // socket under this write; while it does either, the wave waits for the
    // send thread.
    std::unique_lock connect(m_ConnectLock, std::try_to_lock);
    if (!connect.owns_lock() || m_LinkLost.load(std::memory_order_acquire) || !SockIsConnected()) return 0;
    const ssize_t written = ::send(m_Socket->SockGetHandle(), m_DirectWave.data(), m_DirectWave.size(),
                                   MSG_DONTWAIT | MSG_NOSIGNAL);
    if (written >= 0) return written;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
    *generation = m_Generation.load(std::memory_order_acquire);
    return -1;
}

void TnServerClient::SettleWaveLocked(size_t written) {
    uint32_t sentPackets = 0;
    uint64_t sentBytes = 0;
    uint32_t heldPackets = 0;
    uint64_t heldBytes = 0;
    for (const WaveFrame& frame : m_WaveFrames) {
        if (frame.end <= written) {
            ++sentPackets;
            sentBytes += frame.packetBytes;
        } else {
            ++heldPackets;
            heldBytes += frame.packetBytes;
        }
    }
    if (sentPackets > 0) m_PacketTotals.AddOut(sentPackets, sentBytes);
    if (written < m_DirectWave.size()) {
        HoldBytes(m_DirectWave.data() + written, m_DirectWave.size() - written, heldPackets, heldBytes);
    }
    m_DirectWave.clear();
    m_WaveFrames.clear();
}

void TnServerClient::RecordSentFrame(const char* frame, size_t len) {
    if (PackRecorder* recorder = PackRecorderManager::Instance().FindRecorder(m_Recorder)) {
        recorder->Send().AddRecord(frame, static_cast<int>(len));
    }
}

void TnServerClient::HoldBytes(const char* data, size_t len, uint32_t packets, uint64_t packetBytes) {
    m_HeldBytes.append(data, len);
    m_HeldPackets += packets;
    m_HeldPacketBytes += packetBytes;
}

std::string TnServerClient::GetConnectHost() {
    std::lock_guard<std::mutex> lock(m_ConnectLock);
    return m_Host;
}

bool TnServerClient::Connect(const char* host, int port) {
    std::lock_guard lock(m_ConnectLock);
    m_Host = host ? host : "";
    m_Port = port;
    return ConnectLocked();
}

void TnServerClient::Disconnect() {
    m_StopFlag.store(true, std::memory_order_release);
    m_SendQueue.Clear();
    std::lock_guard lock(m_ConnectLock);
    if (m_Socket != nullptr) m_Socket->SockClose();
}

bool TnServerClient::Reconnect() {
    std::lock_guard lock(m_ConnectLock);
    // A Disconnect() that came in while this thread was on its way here wins.
    if (GetStopFlag()) return false;
    if (!m_LinkLost.exchange(true) && !LostBeforeSettlingLocked()) {
        m_FailedAttempts = 0;
        OnDisconnected();
    }
    if (m_Socket != nullptr) m_Socket->SockClose();
    m_LastAttemptTick = plat::GetTickMs();
    if (ConnectLocked()) return true;
    if (m_FailedAttempts++ % kRetryLogEvery == 0) {
        GetLog()->LogWarn("%s Reconnect %s:%d failed, attempt %d; retrying every %u ms", m_Name.c_str(),
                          m_Host.c_str(), m_Port, m_FailedAttempts, kRetryIntervalMs);
    }
    return false;
}

bool TnServerClient::LostBeforeSettlingLocked() const {
    return m_ReconnectedAfterLoss && !m_ReceivedSinceConnect.load(std::memory_order_relaxed) &&
           plat::GetTickMs() - m_ReconnectTick < kLinkSettleMs;
}

bool TnServerClient::ConnectLocked() {
    if (m_Socket == nullptr || m_Host.empty()) return false;
    if (!m_Socket->SockConnect(m_Host.c_str(), static_cast<uint16_t>(m_Port))) return false;
    m_Generation.fetch_add(1, std::memory_order_acq_rel);
    m_ReconnectedAfterLoss = m_LinkLost.exchange(false, std::memory_order_acq_rel);
    if (m_ReconnectedAfterLoss) m_Reconnects.fetch_add(1, std::memory_order_relaxed);
    m_ReconnectTick = plat::GetTickMs();
    m_ReceivedSinceConnect.store(false, std::memory_order_relaxed);
    // Whatever waited for the link goes out now.
    if (IWakeable* sender = m_Sender.load(std::memory_order_acquire)) sender->Wake();
    return true;
}

bool TnServerClient::SockIsConnected() { return m_Socket != nullptr && m_Socket->SockIsConnected(); }

void TnServerClient::CreateThreads() {
    ThreadManager& manager = ThreadManager::Instance();
    manager.AddThread(m_Name + "_RecvThread", &TnServerClient::RecvThreadThunk, this, false);
    m_SendThread = manager.AddThread(m_Name + "_SendThread", &TnServerClient::SendThreadThunk, this, false);
    SetSenderWakeTarget(m_SendThread);
}

void TnServerClient::SetSpinMicros(uint32_t micros) {
    if (m_SendThread != nullptr) m_SendThread->SetSpinMicros(micros);
}

void TnServerClient::SetSenderWakeTarget(IWakeable* sender) {
    m_Sender.store(sender, std::memory_order_release);
    m_SendQueue.SetWakeTarget(sender);
}

int TnServerClient::RecvThreadThunk(void* context, int) { return static_cast<TnServerClient*>(context)->ThreadRecvPack(); }

int TnServerClient::SendThreadThunk(void* context, int) { return static_cast<TnServerClient*>(context)->ThreadSendPack(); }

int TnServerClient::ThreadRecvPack() {
    if (!SockIsConnected()) return RetryIfDue();
    // Blocks until bytes come: the kernel wakes this thread, on the CPU of
    // the DataServer's side of the link as a rule, and under load one wake
    // serves a whole batch of replies.
    const int received = m_Socket->SockRecv(m_RecvBuffer, kRecvBufferSize);
    if (received > 0) {
        m_ReceivedSinceConnect.store(true, std::memory_order_relaxed);
        if (m_ReceiveStage != nullptr) m_ReceiveStage->BeginBatch();
        m_Dispatcher.Feed(m_RecvBuffer, received);
        // Counted before the read's packets are handed on.
        const EventTally framed = m_ReadFrames.Take();
        m_RecvCounter.AddEvents(framed.events, framed.bytes);
        m_PacketTotals.AddIn(framed.events, framed.bytes);
        if (m_ReceiveStage != nullptr) m_ReceiveStage->EndBatch();
        return 0;
    }
    if (received < 0) {
        GetLog()->LogWarn("TnServerClient::ThreadRecvPack recv failed!WSAGetLastError()=%d", m_Socket->SockGetLastError());
    } else {
        GetLog()->LogWarn("TnServerClient::ThreadRecvPack Connection has been gracefully closed!");
    }
    // Whatever was half received belongs to the old connection.
    m_Dispatcher.ClearBuffer();
    if (!GetStopFlag()) Reconnect();
    return 1;
}

int TnServerClient::RetryIfDue() {
    if (GetStopFlag()) return kIdleUntilWokenMs;  // no reconnects after Disconnect
    if (!m_LinkLost.load(std::memory_order_acquire)) {
        // Never connected: the owner's Connect comes first. Connected once
        // and now down without a loss being handled (a failed write ended
        // the connection while this thread was not reading): handle it now.
        if (m_Generation.load(std::memory_order_acquire) == 0) return 1;
        return Reconnect() ? 0 : static_cast<int>(kRetryIntervalMs);
    }
    uint32_t lastAttempt;
    {
        std::lock_guard lock(m_ConnectLock);
        lastAttempt = m_LastAttemptTick;
    }
    const uint32_t sinceAttempt = plat::GetTickMs() - lastAttempt;
    if (sinceAttempt < kRetryIntervalMs) return static_cast<int>(kRetryIntervalMs - sinceAttempt);
    return Reconnect() ? 0 : static_cast<int>(kRetryIntervalMs);
}

int TnServerClient::ThreadSendPack() {
    std::lock_guard write(m_WriteLock);
    const bool hasWork = !m_HeldBytes.empty() || m_SendStream.BufferedBytes() > 0 || m_SendQueue.Count() > 0;
    // A push wakes this thread, and so does the link when it comes back.
    if (!hasWork || !SockIsConnected()) return kIdleUntilWokenMs;

    uint32_t generation;
    {
        // The receive thread holds the lock while it connects; rather than
        // wait out a connect, come back on the next turn.
        std::unique_lock lock(m_ConnectLock, std::try_to_lock);
        if (!lock.owns_lock() || m_LinkLost.load(std::memory_order_acquire)) return 1;
        generation = m_Generation.load(std::memory_order_acquire);
    }
    if (!WriteHeldBytes(generation)) return 1;

    while (m_SendQueue.Count() > 0) {
        // Framed straight from the queued packet: no scratch copy per packet.
        MMORPG::MMORPGPacket* packet = m_SendQueue.Pop();
        if (packet == nullptr) continue;
        const bool sent = SendOne(*packet, generation);
        FreePacket(packet);
        if (!sent) return 1;
    }
    const int flushed = m_SendStream.SendBuf_o(nullptr, 0);
    if (flushed <= 0 && plat::GetLastError() != NOTHING_TO_SEND) {
        GetLog()->LogWarn("%s send Error", LocationText().c_str());
        if (GetStopFlag()) {
            m_SendStream.DropBuffered();
        } else {
            OnWriteFailed(generation);
        }
        return 1;
    }
    return 0;
}

bool TnServerClient::WriteHeldBytes(uint32_t generation) {
    // Bytes the stream kept from a failed write are older than the held frame.
    if (m_SendStream.BufferedBytes() > 0) {
        const int flushed = m_SendStream.SendBuf_o(nullptr, 0);
        if (flushed <= 0) {
            OnWriteFailed(generation);
            return false;
        }
    }
    if (m_HeldBytes.empty()) return true;
    const int written = m_SendStream.SendBuf_o(m_HeldBytes.data(), static_cast<int>(m_HeldBytes.size()));
    if (written <= 0) {
        OnWriteFailed(generation);
        return false;
    }
    // Counted now that it went out, as the packet it is (without its frame prefix).
    m_PacketTotals.AddOut(m_HeldPackets, m_HeldPacketBytes);
    m_HeldBytes.clear();
    m_HeldPackets = 0;
    m_HeldPacketBytes = 0;
    return true;
}

bool TnServerClient::SendOne(MMORPG::MMORPGPacket& packet, uint32_t generation) {
    packet.BuildSendData(m_Frame);
    const int len = static_cast<int>(m_Frame.size());
    RecordSentFrame(m_Frame.data(), m_Frame.size());
    m_SendCounter.AddBytes(static_cast<uint32_t>(m_Frame.size()));
    const int written = m_SendStream.SendBuf_o(m_Frame.data(), len);
    if (written > 0 || plat::GetLastError() == NOTHING_TO_SEND) {
        m_PacketTotals.AddOut(static_cast<uint32_t>(MMORPG::kPackHeadSize + packet.GetDataLen()));
        return true;
    }
    GetLog()->LogWarn("%s send Error", LocationText().c_str());
    if (GetStopFlag()) {
        // Disconnect() was asked for: this packet is given up.
        m_SendStream.DropBuffered();
        return true;
    }
    HoldBytes(m_Frame.data(), m_Frame.size(), 1, MMORPG::kPackHeadSize + packet.GetDataLen());
    OnWriteFailed(generation);
    return false;
}

void TnServerClient::OnWriteFailed(uint32_t generation) {
    std::lock_guard lock(m_ConnectLock);
    if (m_Generation.load(std::memory_order_acquire) == generation && m_Socket != nullptr) m_Socket->SockClose();
}

void TnServerClient::OnPackThunk(void* context, const char* body, int len) {
    static_cast<TnServerClient*>(context)->OnGetDispatchPack(body, len);
}

void TnServerClient::OnGetDispatchPack(const char* body, int len) {
    if (len < MMORPG::kPackHeadSize) {
        GetLog()->LogWarn("TnServerClient::OnGetDispatchPack, PackError : %s", HexDump(body, len).c_str());
        return;
    }
    MMORPG::tagPackHead head;
    MMORPG::MMORPGPacket::ReadPackHead(&head, body, 0);
    m_ReadFrames.Add(static_cast<uint32_t>(len));
    OnRecvPack(&head, body + MMORPG::kPackHeadSize, len - MMORPG::kPackHeadSize);
    if (PackRecorder* recorder = PackRecorderManager::Instance().FindRecorder(m_Recorder)) {
        recorder->Recv().AddRecord(body, len);
    }
}
