// PeerFlow: the traffic of one game, login or route sim connection. It
// numbers and stamps (SimPayload.h) the packets it sends while its budget
// (--count, the --duration deadline), its window and the pacing allow,
// matches replies through its InFlightTable, feeds their round-trip times to
// the process's LatencyStats and counts whatever else arrives. The role owns
// the flows; the flow shares its SimConnection with the event loop.
// Event-loop thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ShareDefine/PackHead.h"
#include "tools/varnsim/InFlightTable.h"
#include "tools/varnsim/SimConnection.h"
#include "tools/varnsim/SimOptions.h"
#include "tools/varnsim/SimSummary.h"

class LatencyStats;

namespace varnsim {

// How OnPacket classified a received packet.
enum class ReceivedKind { KeepAlive, Broadcast, LinkDown, Reply, Unmatched, Other };

class PeerFlow {
public:
    // `latency` is the role's and outlives the flow.
    PeerFlow(const PeerOptions& options, uint16_t index, LatencyStats* latency);
    PeerFlow(const PeerFlow&) = delete;
    PeerFlow& operator=(const PeerFlow&) = delete;

    void Attach(std::shared_ptr<SimConnection> connection);
    // The connection went away: nothing more is sent or expected on it.
    void Detach();
    void Close();
    SimConnection* Connection() const { return m_Connection.get(); }

    // Sending ends at this steady-clock time (0: no deadline).
    void SetDeadline(uint64_t deadlineNs) { m_DeadlineNs = deadlineNs; }
    // Queues up to `allowance` packets as far as budget, window and (without
    // replies) the write backlog permit; returns how many. The caller flushes.
    uint64_t SendSome(uint64_t allowance, uint64_t nowNs);
    void StopSending() { m_Stopped = true; }
    bool SendingDone() const;

    ReceivedKind OnPacket(const MMORPG::tagPackHead& head, const char* payload, uint32_t len, uint64_t nowNs,
                          uint32_t* replySeq);

    uint32_t Outstanding() const { return m_InFlight.InFlight(); }
    // Packets of a --count (without --duration) that were never sent.
    uint64_t Unsent() const;
    uint32_t MaxInFlight() const { return m_InFlight.MaxInFlight(); }
    uint64_t Sent() const { return m_Counters.sent; }
    // The counters, with the connection's byte counts.
    PeerCounters Counters() const;

private:
    // Without replies nothing limits the sender but the socket: this much
    // queued is enough to keep it busy.
    static constexpr size_t kUnansweredBacklog = 256 * 1024;

    bool MaySend(uint64_t nowNs);
    void SendOne(uint64_t nowNs);
    void MatchReply(const MMORPG::tagPackHead& head, const char* payload, uint32_t len, uint64_t nowNs,
                    ReceivedKind* kind, uint32_t* replySeq);

    const PeerOptions& m_Options;
    const uint16_t m_Index;
    LatencyStats* m_Latency;  // the role's; not owned
    std::shared_ptr<SimConnection> m_Connection;
    InFlightTable m_InFlight;
    MMORPG::tagPackHead m_Head;
    std::string m_Payload;  // filler, restamped for every packet
    uint64_t m_DeadlineNs = 0;
    uint32_t m_NextSeq = 0;
    uint32_t m_HighestReplySeq = 0;
    bool m_AnyReply = false;
    bool m_Stopped = false;
    bool m_Detached = false;
    PeerCounters m_Counters;
    uint64_t m_BytesReceived = 0;  // of a connection already gone
    uint64_t m_BytesSent = 0;
};

}  // namespace varnsim
