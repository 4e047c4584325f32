// PeerRole: a GameServer, LoginServer or RouteServer sim. It opens its
// connections one after another (so a gateway that hands out slots in
// connect order gives connection i the slot --slot + i), then drives one
// PeerFlow per connection: as fast as the window allows (the next packet
// leaves when a reply frees a slot), or paced by a 1 ms timer at --rate.
// The run ends by itself when every flow is done and answered, when nothing
// progressed for --timeout seconds, or on Interrupt; it then stops the event
// loop. Timers hold a plain pointer to the role, which outlives the loop's
// run. Event-loop thread only.
#pragma once

#include <memory>
#include <vector>

#include <asio.hpp>

#include "tools/varnsim/LatencyStats.h"
#include "tools/varnsim/PeerFlow.h"
#include "tools/varnsim/SimConnection.h"
#include "tools/varnsim/SimOptions.h"
#include "tools/varnsim/SimSummary.h"

namespace varnsim {

class PeerRole : public ISimConnectionOwner {
public:
    PeerRole(asio::io_context& io, SimRole role, const PeerOptions& options);
    PeerRole(const PeerRole&) = delete;
    PeerRole& operator=(const PeerRole&) = delete;

    void Start();
    // SIGINT or SIGTERM: end the run now.
    void Interrupt();
    bool Finished() const { return m_Finished; }

    PeerSummary Summary() const;
    int ExitCode() const;

private:
    static constexpr auto kHousekeepingPeriod = std::chrono::milliseconds(20);
    static constexpr auto kPacePeriod = std::chrono::milliseconds(1);

    void ConnectNext();
    void OnConnected(const std::error_code& error);
    void FailConnect(const std::string& reason);
    void BeginTraffic();
    void ScheduleHousekeeping();
    void OnHousekeeping();
    void SchedulePace();
    void OnPace();
    void CheckFinished();
    void Finish();
    bool EveryFlowDone() const;
    bool Paced() const { return m_Options.rate > 0; }

    void OnPacket(SimConnection& connection, const MMORPG::tagPackHead& head, const char* payload,
                  uint32_t len) override;
    void OnReadDone(SimConnection& connection) override;
    void OnDrained(SimConnection& connection) override;
    void OnClosed(SimConnection& connection, const std::error_code& error) override;

    asio::io_context& m_Io;
    const SimRole m_Role;
    const PeerOptions m_Options;
    asio::ip::tcp::resolver::results_type m_Endpoints;
    std::unique_ptr<asio::ip::tcp::socket> m_Connecting;
    asio::steady_timer m_ConnectTimer;
    asio::steady_timer m_Housekeeping;
    asio::steady_timer m_PaceTimer;
    std::chrono::steady_clock::time_point m_NextPace;
    LatencyStats m_Latency;
    std::vector<std::unique_ptr<PeerFlow>> m_Flows;  // by connection index
    uint64_t m_StartNs = 0;
    uint64_t m_LastProgressNs = 0;  // last reply, drained write or send
    uint64_t m_LastActivityNs = 0;  // last reply (or, without replies, last drained write)
    uint32_t m_ConnectAttempt = 0;  // tells a stale connect time-out from the current one
    bool m_ConnectFailed = false;
    bool m_ConnectionLost = false;
    bool m_Started = false;
    bool m_Finished = false;
};

}  // namespace varnsim
