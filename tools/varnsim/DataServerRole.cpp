#include "tools/varnsim/DataServerRole.h"

#include <cstdio>

namespace varnsim {

DataServerRole::DataServerRole(asio::io_context& io, const DataServerOptions& options)
    : m_Options(options), m_Acceptor(io) {}

bool DataServerRole::Listen() {
    std::error_code error;
    const auto address = asio::ip::make_address(m_Options.bind, error);
    if (error) {
        std::fprintf(stderr, "cannot listen: bad address %s: %s\n", m_Options.bind.c_str(), error.message().c_str());
        return false;
    }
    const asio::ip::tcp::endpoint endpoint(address, static_cast<uint16_t>(m_Options.port));
    m_Acceptor.open(endpoint.protocol(), error);
    if (!error) m_Acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true), error);
    if (!error) m_Acceptor.bind(endpoint, error);
    if (!error) m_Acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (error) {
        std::fprintf(stderr, "cannot listen on %s:%d: %s\n", m_Options.bind.c_str(), m_Options.port,
                     error.message().c_str());
        return false;
    }
    const auto local = m_Acceptor.local_endpoint(error);
    std::printf("listening: %s:%u\n", local.address().to_string().c_str(), static_cast<unsigned>(local.port()));
    std::fflush(stdout);
    Accept();
    return true;
}

void DataServerRole::Stop() {
    m_Stopped = true;
    std::error_code ignored;
    m_Acceptor.close(ignored);
    for (auto& [index, link] : m_Links) {
        TakeConnectionCounters(*link.connection);
        link.connection->Close();
    }
    m_Links.clear();
    m_Counters.open = 0;
}

void DataServerRole::Accept() {
    m_Acceptor.async_accept([this](const std::error_code& error, asio::ip::tcp::socket socket) {
        OnAccepted(error, std::move(socket));
    });
}

void DataServerRole::OnAccepted(const std::error_code& error, asio::ip::tcp::socket socket) {
    if (m_Stopped) return;
    if (error) {
        // Out of descriptors and the like: keep serving the links there are.
        if (error != asio::error::operation_aborted) Accept();
        return;
    }
    const uint32_t index = m_NextIndex++;
    auto connection = std::make_shared<SimConnection>(std::move(socket), this, index);
    m_Links[index].connection = connection;
    ++m_Counters.connections;
    ++m_Counters.open;
    if (!m_Options.quiet) {
        std::printf("connected: %s (open: %llu)\n", connection->PeerText().c_str(),
                    static_cast<unsigned long long>(m_Counters.open));
    }
    connection->Start();
    Accept();
}

MMORPG::tagPackHead DataServerRole::EchoHead(const MMORPG::tagPackHead& head) {
    MMORPG::tagPackHead answer = head;
    answer.DestServerType = head.SrcServerType;
    answer.SrcServerType = MMORPG::stDataServer;
    if (head.SrcServerType == MMORPG::stGameServer || head.SrcServerType == MMORPG::stLoginServer) {
        answer.DestIndex = static_cast<int16_t>(head.Context >> 16);
    }
    return answer;
}

void DataServerRole::OnPacket(SimConnection& connection, const MMORPG::tagPackHead& head, const char* payload,
                              uint32_t len) {
    ++m_Counters.received;
    if (m_Options.print) {
        std::printf("recv: conn=%u ctx=%u dest_index=%d type=%u dest=%u src=%u len=%u\n", connection.Index(),
                    head.Context, head.DestIndex, head.packType, head.DestServerType, head.SrcServerType, len);
    }
    if (head.packType == MMORPG::atKeepAlive) {
        ++m_Counters.keepalives;
        return;
    }
    if (head.packType == MMORPG::atBroadcast) {
        ++m_Counters.broadcasts;
        if (len == 0) {
            ++m_Counters.linkDowns;
            std::printf("link-down: kind=%u\n", head.SrcServerType);
            std::fflush(stdout);
        }
        return;
    }
    if (m_Options.rule == AnswerRule::Sink) {
        CountUnanswered(m_Links[connection.Index()]);
        return;
    }
    connection.Send(EchoHead(head), payload, len);
    ++m_Counters.answered;
}

void DataServerRole::CountUnanswered(Link& link) {
    ++link.unanswered;
    if (link.unanswered > m_Counters.maxUnanswered) m_Counters.maxUnanswered = link.unanswered;
}

void DataServerRole::TakeConnectionCounters(const SimConnection& connection) {
    m_Counters.bytesReceived += connection.BytesReceived();
    m_Counters.bytesSent += connection.BytesSent();
    m_Counters.malformed += connection.Malformed();
    m_Counters.badFrames += connection.BadFrames();
}

void DataServerRole::OnClosed(SimConnection& connection, const std::error_code& error) {
    TakeConnectionCounters(connection);
    if (connection.BadFrames() > 0) {
        std::fprintf(stderr, "bad frame from %s: connection closed\n", connection.PeerText().c_str());
    }
    if (m_Counters.open > 0) --m_Counters.open;
    if (!m_Options.quiet) {
        std::printf("disconnected: %s (open: %llu)\n", connection.PeerText().c_str(),
                    static_cast<unsigned long long>(m_Counters.open));
        std::fflush(stdout);
    }
    // Last: the entry may hold the last reference besides the running handler's.
    m_Links.erase(connection.Index());
}

}  // namespace varnsim
