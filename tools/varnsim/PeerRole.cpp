#include "tools/varnsim/PeerRole.h"

#include <cstdio>

#include "tools/varnsim/SimPayload.h"

namespace varnsim {
namespace {

uint64_t SecondsToNs(double seconds) { return static_cast<uint64_t>(seconds * 1e9); }

}  // namespace

PeerRole::PeerRole(asio::io_context& io, SimRole role, const PeerOptions& options)
    : m_Io(io),
      m_Role(role),
      m_Options(options),
      m_ConnectTimer(io),
      m_Housekeeping(io),
      m_PaceTimer(io) {}

void PeerRole::Start() {
    std::error_code error;
    asio::ip::tcp::resolver resolver(m_Io);
    m_Endpoints = resolver.resolve(m_Options.host, std::to_string(m_Options.port), error);
    if (error) {
        FailConnect(error.message());
        return;
    }
    ConnectNext();
}

void PeerRole::ConnectNext() {
    m_Connecting = std::make_unique<asio::ip::tcp::socket>(m_Io);
    m_ConnectTimer.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(m_Options.timeout)));
    const uint32_t attempt = ++m_ConnectAttempt;
    m_ConnectTimer.async_wait([this, attempt](const std::error_code& error) {
        // Closing the socket makes the connect complete with operation_aborted.
        if (!error && attempt == m_ConnectAttempt && m_Connecting) m_Connecting->close();
    });
    asio::async_connect(*m_Connecting, m_Endpoints,
                        [this](const std::error_code& error, const asio::ip::tcp::endpoint&) { OnConnected(error); });
}

void PeerRole::OnConnected(const std::error_code& error) {
    m_ConnectTimer.cancel();
    if (m_Finished) return;
    if (error) {
        FailConnect(error == asio::error::operation_aborted ? "timed out" : error.message());
        return;
    }
    const auto index = static_cast<uint16_t>(m_Flows.size());
    auto flow = std::make_unique<PeerFlow>(m_Options, index, &m_Latency);
    auto connection = std::make_shared<SimConnection>(std::move(*m_Connecting), this, index);
    m_Connecting.reset();
    flow->Attach(connection);
    m_Flows.push_back(std::move(flow));
    connection->Start();
    if (m_Flows.size() < m_Options.connections) {
        ConnectNext();
        return;
    }
    if (!m_Options.quiet) {
        std::printf("connected: %u connection(s) to %s:%d\n", m_Options.connections, m_Options.host.c_str(),
                    m_Options.port);
    }
    BeginTraffic();
}

void PeerRole::FailConnect(const std::string& reason) {
    std::fprintf(stderr, "could not connect to %s:%d: %s\n", m_Options.host.c_str(), m_Options.port,
                 reason.c_str());
    m_ConnectFailed = true;
    Finish();
}

void PeerRole::BeginTraffic() {
    m_Started = true;
    m_StartNs = SteadyNowNs();
    m_LastProgressNs = m_StartNs;
    m_LastActivityNs = m_StartNs;
    if (m_Options.passive) return;  // counts what arrives until a signal
    if (m_Options.duration > 0) {
        for (auto& flow : m_Flows) flow->SetDeadline(m_StartNs + SecondsToNs(m_Options.duration));
    }
    if (Paced()) {
        m_NextPace = std::chrono::steady_clock::now();
        OnPace();
    } else {
        for (auto& flow : m_Flows) {
            flow->SendSome(UINT64_MAX, m_StartNs);
            flow->Connection()->Flush();
        }
    }
    ScheduleHousekeeping();
    CheckFinished();
}

void PeerRole::ScheduleHousekeeping() {
    m_Housekeeping.expires_after(kHousekeepingPeriod);
    m_Housekeeping.async_wait([this](const std::error_code& error) {
        if (!error) OnHousekeeping();
    });
}

void PeerRole::OnHousekeeping() {
    if (m_Finished) return;
    const uint64_t now = SteadyNowNs();
    if (m_Options.duration > 0 && now >= m_StartNs + SecondsToNs(m_Options.duration)) {
        for (auto& flow : m_Flows) flow->StopSending();
    }
    CheckFinished();
    if (m_Finished) return;
    if (now - m_LastProgressNs > SecondsToNs(m_Options.timeout)) {
        std::fprintf(stderr, "no progress for %.3f s: giving up\n", m_Options.timeout);
        Finish();
        return;
    }
    ScheduleHousekeeping();
}

void PeerRole::SchedulePace() {
    // Catch-up happens through the due count, not by firing faster.
    m_NextPace = std::max(m_NextPace + kPacePeriod, std::chrono::steady_clock::now());
    m_PaceTimer.expires_at(m_NextPace);
    m_PaceTimer.async_wait([this](const std::error_code& error) {
        if (!error) OnPace();
    });
}

void PeerRole::OnPace() {
    if (m_Finished) return;
    const uint64_t now = SteadyNowNs();
    const double elapsed = static_cast<double>(now - m_StartNs) / 1e9;
    // The first packet leaves at once, then one every 1/rate seconds.
    const auto due = static_cast<uint64_t>(m_Options.rate * elapsed) + 1;
    bool sending = false;
    for (auto& flow : m_Flows) {
        if (due > flow->Sent() && flow->SendSome(due - flow->Sent(), now) > 0) {
            m_LastProgressNs = now;
            flow->Connection()->Flush();
        }
        sending = sending || !flow->SendingDone();
    }
    if (sending) SchedulePace();
    CheckFinished();
}

void PeerRole::OnPacket(SimConnection& connection, const MMORPG::tagPackHead& head, const char* payload,
                        uint32_t len) {
    PeerFlow& flow = *m_Flows[connection.Index()];
    uint32_t seq = 0;
    const ReceivedKind kind = flow.OnPacket(head, payload, len, connection.ReadTimeNs(), &seq);
    if (kind == ReceivedKind::Reply) {
        m_LastProgressNs = connection.ReadTimeNs();
        m_LastActivityNs = connection.ReadTimeNs();
    }
    if (m_Options.print) {
        if (kind == ReceivedKind::Reply) {
            std::printf("recv: conn=%u ctx=%u dest_index=%d type=%u dest=%u src=%u len=%u seq=%u\n",
                        connection.Index(), head.Context, head.DestIndex, head.packType, head.DestServerType,
                        head.SrcServerType, len, seq);
        } else {
            std::printf("recv: conn=%u ctx=%u dest_index=%d type=%u dest=%u src=%u len=%u\n", connection.Index(),
                        head.Context, head.DestIndex, head.packType, head.DestServerType, head.SrcServerType, len);
        }
    }
    if (kind == ReceivedKind::LinkDown) std::printf("link-down: kind=%u\n", head.SrcServerType);
}

void PeerRole::OnReadDone(SimConnection& connection) {
    if (m_Finished || !m_Started) return;
    PeerFlow& flow = *m_Flows[connection.Index()];
    if (!Paced() && m_Options.expectReplies && flow.SendSome(UINT64_MAX, connection.ReadTimeNs()) > 0) {
        m_LastProgressNs = connection.ReadTimeNs();
    }
    CheckFinished();
}

void PeerRole::OnDrained(SimConnection& connection) {
    if (m_Finished || !m_Started) return;
    const uint64_t now = SteadyNowNs();
    m_LastProgressNs = now;
    if (!m_Options.expectReplies) {
        m_LastActivityNs = now;
        if (!Paced()) m_Flows[connection.Index()]->SendSome(UINT64_MAX, now);
    }
    CheckFinished();
}

void PeerRole::OnClosed(SimConnection& connection, const std::error_code& error) {
    PeerFlow& flow = *m_Flows[connection.Index()];
    const bool wanted = !flow.SendingDone() || flow.Outstanding() > 0;
    flow.Detach();
    if (m_Finished) return;
    std::fprintf(stderr, "connection %u to %s:%d closed: %s\n", connection.Index(), m_Options.host.c_str(),
                 m_Options.port, error == asio::error::eof ? "closed by peer" : error.message().c_str());
    if (wanted && !m_Options.passive) m_ConnectionLost = true;
    bool anyOpen = false;
    for (const auto& other : m_Flows) anyOpen = anyOpen || (other->Connection() && other->Connection()->IsOpen());
    // Connections still being opened keep the run alive.
    if (!anyOpen && m_Flows.size() == m_Options.connections) {
        Finish();
    } else {
        CheckFinished();
    }
}

bool PeerRole::EveryFlowDone() const {
    for (const auto& flow : m_Flows) {
        // A lost connection waits for nothing more; its losses count as missing.
        if (!flow->Connection()->IsOpen()) continue;
        if (!flow->SendingDone() || flow->Outstanding() > 0) return false;
        // Without replies, done means written.
        if (!m_Options.expectReplies && flow->Connection()->IsOpen() && flow->Connection()->Backlog() > 0) {
            return false;
        }
    }
    return true;
}

void PeerRole::CheckFinished() {
    if (m_Finished || !m_Started || m_Options.passive) return;
    if (EveryFlowDone()) Finish();
}

void PeerRole::Interrupt() { Finish(); }

void PeerRole::Finish() {
    if (m_Finished) return;
    m_Finished = true;
    m_ConnectTimer.cancel();
    m_Housekeeping.cancel();
    m_PaceTimer.cancel();
    if (m_Connecting) m_Connecting->close();
    for (auto& flow : m_Flows) flow->Close();
    m_Io.stop();
}

PeerSummary PeerRole::Summary() const {
    PeerSummary summary;
    summary.role = RoleName(m_Role);
    summary.connections = static_cast<uint32_t>(m_Flows.size());
    for (const auto& flow : m_Flows) {
        summary.counters.Add(flow->Counters());
        if (m_Options.expectReplies) summary.missing += flow->Outstanding();
        summary.missing += flow->Unsent();
        summary.maxInFlight = std::max(summary.maxInFlight, flow->MaxInFlight());
    }
    if (m_Started && m_LastActivityNs > m_StartNs) {
        summary.elapsedSeconds = static_cast<double>(m_LastActivityNs - m_StartNs) / 1e9;
    }
    summary.TakeLatency(m_Latency);
    return summary;
}

int PeerRole::ExitCode() const {
    if (m_ConnectFailed) return kExitNoConnection;
    if (m_Options.passive) return kExitOk;
    if (!m_Started) return kExitRepliesMissing;  // interrupted before every connection was open
    const PeerSummary summary = Summary();
    return summary.missing > 0 || m_ConnectionLost ? kExitRepliesMissing : kExitOk;
}

}  // namespace varnsim
