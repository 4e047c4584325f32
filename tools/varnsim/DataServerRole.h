// DataServerRole: the DataServer end of the gateway's outbound link. It
// listens, accepts any number of connections (the gateway's link, or peers
// that benchmarks connect directly) and answers each packet by its rule on
// the connection it came from. Keep-alives and broadcasts are counted, never
// answered; a link-down notice (a broadcast with an empty payload) is printed
// as "link-down: kind=<n>". Runs on the event-loop thread only.
//
// Echo rule: the answer carries the packet's Context, packType and payload,
// SrcServerType 1 (DataServer), DestServerType = the packet's SrcServerType
// and, as DestIndex, the slot of the sender in the gateway: for RouteServers
// the header DestIndex (the gateway stamps the sender's slot there); for
// GameServers and LoginServers, whose DestIndex the gateway clears, the high
// 16 bits of Context, where the game and login sims put their --slot.
#pragma once

#include <map>
#include <memory>

#include <asio.hpp>

#include "tools/varnsim/SimConnection.h"
#include "tools/varnsim/SimOptions.h"
#include "tools/varnsim/SimSummary.h"

namespace varnsim {

class DataServerRole : public ISimConnectionOwner {
public:
    DataServerRole(asio::io_context& io, const DataServerOptions& options);
    DataServerRole(const DataServerRole&) = delete;
    DataServerRole& operator=(const DataServerRole&) = delete;

    // Opens the port and prints "listening: <address>:<port>"; false, with
    // the reason on stderr, when the port cannot be opened.
    bool Listen();
    // Stops accepting and closes every connection.
    void Stop();
    const DataServerCounters& Counters() const { return m_Counters; }

    // The answer the echo rule gives to `head` (see the contract above).
    static MMORPG::tagPackHead EchoHead(const MMORPG::tagPackHead& head);

private:
    struct Link {
        std::shared_ptr<SimConnection> connection;
        uint64_t unanswered = 0;
    };

    void Accept();
    void OnAccepted(const std::error_code& error, asio::ip::tcp::socket socket);
    void CountUnanswered(Link& link);
    void TakeConnectionCounters(const SimConnection& connection);

    void OnPacket(SimConnection& connection, const MMORPG::tagPackHead& head, const char* payload,
                  uint32_t len) override;
    void OnClosed(SimConnection& connection, const std::error_code& error) override;

    const DataServerOptions m_Options;
    asio::ip::tcp::acceptor m_Acceptor;
    std::map<uint32_t, Link> m_Links;  // by connection index
    uint32_t m_NextIndex = 0;
    bool m_Stopped = false;
    DataServerCounters m_Counters;
};

}  // namespace varnsim
