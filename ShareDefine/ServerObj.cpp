#include "ShareDefine/ServerObj.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "diag/PackRecorderManager.h"
#include "infra/Log.h"
#include "infra/SourceLocation.h"
#include "modules/QXNetService/INetService.h"
#include "platform/LastError.h"
#include "infra/HexDump.h"
#include "ShareDefine/NetErrorText.h"

IServerObj::IServerObj(INetService* service, int poolIndex, PacketQueue* targetQueue)
    : m_Stream(service, poolIndex), m_TargetQueue(targetQueue), m_Service(service), m_PoolIndex(poolIndex) {
    m_Dispatcher.SetOnPack(PackClosure{&IServerObj::OnGetDispatchPackThunk, this});
    // A stream with a bad frame in it has lost its frame boundaries: what
    // follows would be read from an arbitrary offset. The connection is
    // closed instead of guessing, so a garbage peer costs one line and one
    // close, not a warning per chunk for as long as it keeps sending.
    m_Dispatcher.SetOnLog(PackLogClosure{&IServerObj::OnFramerLogThunk, this});
    m_Dispatcher.SetOnError(PackErrorClosure{&IServerObj::OnBadFrameThunk, this});
}

IServerObj::~IServerObj() = default;

void IServerObj::OnRecvBytes(const char* data, int len) {
    if (len <= 0 || m_CutForBadFrame) return;  // records queued behind the bad frame are dropped
    m_RecvCounter.AddBytes(static_cast<uint32_t>(len));
    m_BadFrameSeen = false;
    m_ReceiveStage.BeginBatch();
    m_Dispatcher.Feed(data, len);
    // Counted before the chunk's packets are handed on.
    if (m_PacketTotals != nullptr) {
        const EventTally framed = m_FramedIn.Take();
        m_PacketTotals->AddIn(framed.events, framed.bytes);
    }
    m_ReceiveStage.EndBatch();
    if (m_BadFrameSeen) CutForBadFrame(data, len);
}

void IServerObj::OnFramerLogThunk(void* context, const char* text) {
    auto* self = static_cast<IServerObj*>(context);
    std::snprintf(self->m_FramerText, sizeof(self->m_FramerText), "%s", text);
}

void IServerObj::OnBadFrameThunk(void* context) { static_cast<IServerObj*>(context)->m_BadFrameSeen = true; }

void IServerObj::CutForBadFrame(const char* chunk, int len) {
    m_CutForBadFrame = true;
    m_Dispatcher.ClearBuffer();
    QXNetClient* client = Client();
    // A short sample is enough to tell garbage from a desynchronised peer.
    constexpr int kSampleBytes = 16;
    char text[512];
    std::snprintf(text, sizeof(text), "IServerObj::OnRecvBytes, %s:%u bad frame (%s), connection closed, first bytes: %s",
                  GetPeerIP().c_str(), client != nullptr ? client->GetPeerPort() : 0u, m_FramerText,
                  HexDump(chunk, std::min(len, kSampleBytes)).c_str());
    WarnLimited("bad frame", text);
    if (m_Service != nullptr) m_Service->CloseClient(m_PoolIndex);
}

void IServerObj::WarnLimited(const char* kind, const std::string& text) {
    if (m_LogLimiter == nullptr) {
        GetLog()->LogWarn("%s", text.c_str());
        return;
    }
    const LogRepeatLimiter::Verdict verdict = m_LogLimiter->Admit(GetPeerIP(), kind);
    if (!verdict.summary.empty()) GetLog()->LogWarn("%s", verdict.summary.c_str());
    if (verdict.write) GetLog()->LogWarn("%s", text.c_str());
}

int IServerObj::PushSendPack(MMORPG::MMORPGPacket* packet) { return m_SendQueue.Push(packet); }

int IServerObj::GetSendQueueCount() { return m_SendQueue.Count(); }

int IServerObj::SendQueued() {
    m_SentThisPass = 0;
    MMORPG::MMORPGPacket* batch[kSendBatch];
    while (m_SendQueue.Count() > 0) {
        const int taken = m_SendQueue.PopSome(batch, kSendBatch);
        bool failed = false;
        for (int i = 0; i < taken && !failed; ++i) {
            // Framed straight from the queued packet: no scratch copy per packet.
            if (batch[i] != nullptr) failed = SendOne(*batch[i]) == 0;
        }
        CountSentBatch();
        // A failed send ends the connection (the caller resets this object):
        // the rest of the batch goes back to the pool with the sent ones.
        FreePackets(batch, taken);
        if (failed) return 0;
    }
    const int flushed = m_Stream.SendBuf_o(nullptr, 0);
    if (flushed <= 0 && plat::GetLastError() != NOTHING_TO_SEND) {
        char text[256];
        std::snprintf(text, sizeof(text), "%s, m_Recorder = %d, GameServer Send Failed, ret = %d, error : %s",
                      LocationText().c_str(), m_Recorder, flushed, NetErrorText(plat::GetLastError()).c_str());
        WarnLimited("send failed", text);
        return 0;
    }
    return 1;
}

void IServerObj::CountSentBatch() {
    const EventTally framed = m_FramedOut.Take();
    m_SendCounter.AddEvents(framed.events, framed.bytes);
    const EventTally sent = m_SentOut.Take();
    if (m_PacketTotals != nullptr) m_PacketTotals->AddOut(sent.events, sent.bytes);
}

int IServerObj::SendOne(MMORPG::MMORPGPacket& packet) {
    // Most frames are built straight into the stream's buffer; one too
    // large for it, or one behind a failed write, is built on its own.
    const int capacity = static_cast<int>(packet.FrameCapacity());
    int reserved = 1;
    char* frame = m_Stream.ReserveTail(capacity, &reserved);
    int len = 0;
    int written = 0;
    if (frame != nullptr) {
        len = static_cast<int>(packet.PackFrameAt(frame, static_cast<size_t>(capacity)));
        NoteFrame(packet, frame, len);
        m_Stream.CommitTail(len);
        // An empty frame (one the framer refused) flushes, as it always has.
        written = len > 0 ? len : m_Stream.SendBuf_o(nullptr, 0);
    } else {
        packet.BuildSendData(m_Frame);
        len = static_cast<int>(m_Frame.size());
        NoteFrame(packet, m_Frame.data(), len);
        written = reserved < 1 ? reserved : m_Stream.SendBuf_o(m_Frame.data(), len);
    }
    if (written < 1 && plat::GetLastError() != NOTHING_TO_SEND) return SendFailed();
    m_SentThisPass += len;
    m_SentOut.Add(static_cast<uint32_t>(MMORPG::kPackHeadSize + packet.GetDataLen()));
    return 1;
}

void IServerObj::NoteFrame(MMORPG::MMORPGPacket& packet, const char* frame, int len) {
    m_FramedOut.Add(static_cast<uint32_t>(len));
    if (PackRecorder* recorder = PackRecorderManager::Instance().FindRecorder(m_Recorder)) {
        recorder->Send().AddRecord(frame, len, static_cast<int32_t>(packet.GetContext()), 0);
    }
    OnBeforeSend(&packet, frame, len);
}

int IServerObj::SendFailed() {
    WarnLimited("send failed", LocationText() + ", GameServer Send Failed : " + NetErrorText(plat::GetLastError()));
    return 0;
}

std::string IServerObj::GetRecvCounterText() { return m_RecvCounter.GetRateText(); }

std::string IServerObj::GetSendCounterText() { return m_SendCounter.GetRateText(); }

int IServerObj::GetRecvCounterValue() { return m_RecvCounter.GetByteRate(); }

int IServerObj::GetSendCounterValue() { return m_SendCounter.GetByteRate(); }

void IServerObj::ResetObj() {
    m_CutForBadFrame = false;
    m_FramerText[0] = '\0';
    m_SendQueue.Clear();
    m_Dispatcher.ClearBuffer();
    m_RecvCounter.Reset();
    m_SendCounter.Reset();
}

void IServerObj::OnGetDispatchPackThunk(void* context, const char* body, int len) {
    static_cast<IServerObj*>(context)->OnGetDispatchPack(body, len);
}

void IServerObj::OnGetDispatchPack(const char* body, int len) {
    if (PackRecorder* recorder = PackRecorderManager::Instance().FindRecorder(m_Recorder)) {
        recorder->Recv().AddRecord(body, len);
    }
    if (len < MMORPG::kPackHeadSize) {
        WarnLimited("PackError", "IServerObj::OnGetDispatchPack, PackError : " + HexDump(body, len));
        return;
    }
    m_FramedIn.Add(static_cast<uint32_t>(len));
    MMORPG::tagPackHead head;
    MMORPG::MMORPGPacket::ReadPackHead(&head, body, 0);
    const char* dropLine = DropLineKind(head);
    if (dropLine != nullptr && !AdmitDropped(dropLine)) return;
    OnRecvPack(&head, body + MMORPG::kPackHeadSize, len - MMORPG::kPackHeadSize);
}

const char* IServerObj::DropLineKind(const MMORPG::tagPackHead& head) {
    const auto isLinkType = [](uint8_t type) {
        return type == MMORPG::stDataServer || type == MMORPG::stGameServer || type == MMORPG::stLoginServer ||
               type == MMORPG::stRouteServer;
    };
    if (head.packType == MMORPG::atKeepAlive) return nullptr;  // dropped without a word
    if (head.packType == MMORPG::atBroadcast && isLinkType(head.SrcServerType)) return nullptr;
    if (!isLinkType(head.DestServerType)) return "Unknown ServerType";
    // The DataServer link refuses what it could not frame for the DataServer.
    const bool srcValid = head.SrcServerType > MMORPG::stMin && head.SrcServerType < MMORPG::stMax;
    const bool typeValid = head.packType >= MMORPG::atNormal && head.packType < MMORPG::atMax;
    if (head.DestServerType == MMORPG::stDataServer && (!srcValid || !typeValid)) return "TnServerClient::PushSend";
    return nullptr;
}

bool IServerObj::AdmitDropped(const char* kind) {
    // The core (or the DataServer link) drops such a packet with a line each,
    // but it handles the packets of every peer on one thread and no longer
    // knows whose it was. Here the peer is known: its first ones go on and
    // are logged there as ever; repeats end here, counted into the peer's
    // summary line.
    if (m_LogLimiter == nullptr) return true;
    const LogRepeatLimiter::Verdict verdict = m_LogLimiter->Admit(GetPeerIP(), kind);
    if (!verdict.summary.empty()) GetLog()->LogWarn("%s", verdict.summary.c_str());
    return verdict.write;
}

QXNetClient* IServerObj::Client() { return m_Service ? m_Service->GetClient(m_PoolIndex) : nullptr; }

std::string IServerObj::GetPeerIP() {
    QXNetClient* client = Client();
    const char* ip = client ? client->GetPeerIP() : nullptr;
    return ip ? ip : "";
}

int IServerObj::GetSocket() {
    QXNetClient* client = Client();
    return client ? client->GetSocket() : -1;
}

bool IServerObj::IsUsable() {
    QXNetClient* client = Client();
    return client != nullptr && client->IsUsable();
}

int IServerObj::IsSendPending() {
    QXNetClient* client = Client();
    return client ? client->IsSendPending() : 0;
}

int IServerObj::IsWaitClose() {
    QXNetClient* client = Client();
    return client ? client->IsWaitClose() : 0;
}

unsigned IServerObj::GetRecvIdleTime() {
    QXNetClient* client = Client();
    return client ? client->GetRecvIdleTime() : 0;
}

unsigned IServerObj::GetRemainSendBuffLen() {
    QXNetClient* client = Client();
    return client ? client->GetRemainSendBuffLen() : 0;
}

unsigned IServerObj::GetCommitSendBuffLen() {
    QXNetClient* client = Client();
    return client ? client->GetCommitSendBuffLen() : 0;
}
