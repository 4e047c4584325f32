#include "tools/varnsim/PeerFlow.h"

#include <cstring>

#include "tools/varnsim/LatencyStats.h"
#include "tools/varnsim/SimPayload.h"

namespace varnsim {

PeerFlow::PeerFlow(const PeerOptions& options, uint16_t index, LatencyStats* latency)
    : m_Options(options),
      m_Index(index),
      m_Latency(latency),
      m_InFlight(options.expectReplies ? options.window : 1),
      m_Payload(FillerPayload(options.size)) {
    // The high 16 bits name this connection's slot in the gateway (the
    // DataServer sim answers GameServers and LoginServers there); the low
    // ones the connection within this process.
    m_Head.Context = (static_cast<uint32_t>(options.slot + index) << 16) | index;
    m_Head.DestIndex = static_cast<int16_t>(options.destIndex);
    m_Head.packType = static_cast<uint8_t>(options.packType);
    m_Head.DestServerType = static_cast<uint8_t>(options.destType);
    m_Head.SrcServerType = options.srcType;
}

void PeerFlow::Attach(std::shared_ptr<SimConnection> connection) { m_Connection = std::move(connection); }

void PeerFlow::Detach() {
    if (m_Connection) {
        m_BytesReceived = m_Connection->BytesReceived();
        m_BytesSent = m_Connection->BytesSent();
        m_Counters.malformed = m_Connection->Malformed();
        m_Counters.badFrames = m_Connection->BadFrames();
    }
    m_Detached = true;
    m_Stopped = true;
}

void PeerFlow::Close() {
    if (!m_Connection || m_Detached) return;
    Detach();
    m_Connection->Close();
}

bool PeerFlow::SendingDone() const {
    if (m_Stopped || m_Options.passive) return true;
    return m_Options.count > 0 && m_Counters.sent >= m_Options.count;
}

uint64_t PeerFlow::Unsent() const {
    if (m_Options.passive || m_Options.duration > 0 || m_Counters.sent >= m_Options.count) return 0;
    return m_Options.count - m_Counters.sent;
}

bool PeerFlow::MaySend(uint64_t nowNs) {
    if (SendingDone() || !m_Connection || m_Detached) return false;
    if (m_DeadlineNs != 0 && nowNs >= m_DeadlineNs) {
        m_Stopped = true;
        return false;
    }
    if (m_Options.expectReplies) return !m_InFlight.Full();
    return m_Connection->Backlog() < kUnansweredBacklog;
}

uint64_t PeerFlow::SendSome(uint64_t allowance, uint64_t nowNs) {
    uint64_t sent = 0;
    while (sent < allowance && MaySend(nowNs)) {
        SendOne(nowNs);
        ++sent;
    }
    return sent;
}

void PeerFlow::SendOne(uint64_t nowNs) {
    const uint32_t seq = m_NextSeq++;
    const uint16_t slot = m_Options.expectReplies ? m_InFlight.Take(seq, nowNs) : InFlightTable::kNoSlot;
    if (m_Options.size >= kStampBytes) WriteStamp(m_Payload.data(), SimStamp{seq, slot, m_Index, nowNs});
    m_Connection->Send(m_Head, m_Payload.data(), m_Options.size);
    ++m_Counters.sent;
}

ReceivedKind PeerFlow::OnPacket(const MMORPG::tagPackHead& head, const char* payload, uint32_t len, uint64_t nowNs,
                                uint32_t* replySeq) {
    if (head.packType == MMORPG::atKeepAlive) {
        ++m_Counters.keepalives;
        return ReceivedKind::KeepAlive;
    }
    if (head.packType == MMORPG::atBroadcast) {
        ++m_Counters.broadcasts;
        if (len != 0) return ReceivedKind::Broadcast;
        ++m_Counters.linkDowns;
        return ReceivedKind::LinkDown;
    }
    ++m_Counters.received;
    if (!m_Options.expectReplies) return ReceivedKind::Other;
    ReceivedKind kind = ReceivedKind::Unmatched;
    MatchReply(head, payload, len, nowNs, &kind, replySeq);
    if (kind == ReceivedKind::Unmatched) ++m_Counters.unmatched;
    return kind;
}

void PeerFlow::MatchReply(const MMORPG::tagPackHead& head, const char* payload, uint32_t len, uint64_t nowNs,
                          ReceivedKind* kind, uint32_t* replySeq) {
    if (len < kStampBytes) return;
    const SimStamp stamp = ReadStamp(payload);
    uint64_t sentNs = 0;
    if (stamp.connection != m_Index || !m_InFlight.Complete(stamp.slot, stamp.seq, &sentNs)) return;
    *kind = ReceivedKind::Reply;
    if (replySeq != nullptr) *replySeq = stamp.seq;
    ++m_Counters.replies;
    // The relay has to carry Context and every payload byte unchanged.
    if (len != m_Options.size || head.Context != m_Head.Context ||
        std::memcmp(payload + kStampBytes, m_Payload.data() + kStampBytes, len - kStampBytes) != 0) {
        ++m_Counters.corrupt;
    }
    if (m_AnyReply && stamp.seq < m_HighestReplySeq) ++m_Counters.outOfOrder;
    if (!m_AnyReply || stamp.seq > m_HighestReplySeq) m_HighestReplySeq = stamp.seq;
    m_AnyReply = true;
    m_Latency->Record(nowNs > sentNs ? (nowNs - sentNs) / 1000 : 0);
}

PeerCounters PeerFlow::Counters() const {
    PeerCounters counters = m_Counters;
    const bool live = m_Connection && !m_Detached;
    counters.bytesReceived = live ? m_Connection->BytesReceived() : m_BytesReceived;
    counters.bytesSent = live ? m_Connection->BytesSent() : m_BytesSent;
    if (live) {
        counters.malformed = m_Connection->Malformed();
        counters.badFrames = m_Connection->BadFrames();
    }
    return counters;
}

}  // namespace varnsim
