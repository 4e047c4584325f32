#include "tools/varnstatus/StatusConsole.h"

#include <cstdio>

#include "tools/varnstatus/ReplyFormatter.h"

namespace varnstatus {

StatusConsole::StatusConsole(asio::io_context& io, std::string bind, int port, ConsoleOutput& output)
    : m_Acceptor(io), m_Bind(std::move(bind)), m_Port(port), m_Output(output) {}

bool StatusConsole::Listen() {
    std::error_code error;
    const auto address = asio::ip::make_address(m_Bind, error);
    if (error) {
        m_Output.Error("cannot listen: bad address " + m_Bind + ": " + error.message());
        return false;
    }
    const asio::ip::tcp::endpoint endpoint(address, static_cast<uint16_t>(m_Port));
    m_Acceptor.open(endpoint.protocol(), error);
    // A console restarted at once must get its port back from TIME_WAIT.
    if (!error) m_Acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true), error);
    if (!error) m_Acceptor.bind(endpoint, error);
    if (!error) m_Acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (error) {
        m_Output.Error("cannot listen on " + m_Bind + ":" + std::to_string(m_Port) + ": " + error.message());
        return false;
    }
    const auto local = m_Acceptor.local_endpoint(error);
    m_Output.Line("listening: " + local.address().to_string() + ":" + std::to_string(local.port()));
    Accept();
    return true;
}

void StatusConsole::Stop() {
    m_Stopped = true;
    std::error_code ignored;
    m_Acceptor.close(ignored);
    if (m_Link) m_Link->Close();
    m_Link.reset();
}

bool StatusConsole::Send(const std::string& record) {
    if (!m_Link) return false;
    m_Link->Send(ConsoleHead(), record.data(), static_cast<uint32_t>(record.size()));
    m_Link->Flush();
    return true;
}

void StatusConsole::Accept() {
    m_Acceptor.async_accept([this](const std::error_code& error, asio::ip::tcp::socket socket) {
        OnAccepted(error, std::move(socket));
    });
}

void StatusConsole::OnAccepted(const std::error_code& error, asio::ip::tcp::socket socket) {
    if (m_Stopped) return;
    if (error) {
        // Out of descriptors and the like: the next gateway may still get in.
        if (error != asio::error::operation_aborted) Accept();
        return;
    }
    auto connection = std::make_shared<varnsim::SimConnection>(std::move(socket), this, m_NextIndex++);
    if (m_Link) {
        // A gateway whose host died leaves a link that looks open for hours;
        // its reconnect must not be locked out, so the newer link wins.
        m_Output.Event("link " + m_Link->PeerText() + " replaced by " + connection->PeerText() +
                       " (one gateway at a time)");
        m_Link->Close();
        m_Link.reset();
        if (m_Observer != nullptr) m_Observer->OnLinkClosed();
    }
    m_Link = connection;
    m_Output.Event("link accepted: " + connection->PeerText());
    connection->Start();
    Accept();
}

void StatusConsole::OnPacket(varnsim::SimConnection& connection, const MMORPG::tagPackHead& head,
                             const char* payload, uint32_t len) {
    const std::string record(payload, len);
    RecordKind kind;
    ReadRecordKind(record, kind);
    if (kind == kLoginKind) {
        ShowLogin(record);
    } else if (kind == kKeepAliveKind) {
        ShowKeepAlive(record);
    } else if (m_Observer == nullptr || !m_Observer->OnRecord(head, record)) {
        m_Output.Event(FormatOtherRecord(head, record));
    }
}

void StatusConsole::ShowLogin(const std::string& record) {
    LoginRecord login;
    if (!DecodeLogin(record, login)) {
        m_Output.Event("login record cut off: " + HexBytes(record));
        return;
    }
    char fixed[64];
    std::snprintf(fixed, sizeof(fixed), "fixed value 0x%04X (%s)", login.fixedValue,
                  login.fixedValue == kLoginFixedValue ? "as expected" : "expected 0x6A0D");
    std::string text = "login: server \"" + EscapeText(login.serverName) + "\", " + fixed;
    if (login.truncated) text += ", name cut off";
    if (++m_Logins > 1) text += ", logged in again (login " + std::to_string(m_Logins) + ")";
    m_Output.Event(text);
    if (m_OnLogin) m_OnLogin();
}

void StatusConsole::ShowKeepAlive(const std::string& record) {
    uint8_t marker = 0;
    if (!DecodeKeepAlive(record, marker)) {
        m_Output.Event("keep-alive cut off: " + HexBytes(record));
    } else if (marker != kKeepAliveMarker) {
        char text[64];
        std::snprintf(text, sizeof(text), "keep-alive with marker 0x%02X (expected 0xB3)", marker);
        m_Output.Event(text);
    } else {
        m_Output.Event("keep-alive");
    }
}

void StatusConsole::OnClosed(varnsim::SimConnection& connection, const std::error_code& error) {
    const bool bad = connection.BadFrames() > 0;
    m_Output.Event("link closed: " + connection.PeerText() + " (" +
                   (bad ? std::string("not a frame stream") : error.message()) + "); waiting for the gateway");
    // The read handler that reports the close still holds a reference.
    if (m_Link.get() == &connection) m_Link.reset();
    if (m_Observer != nullptr) m_Observer->OnLinkClosed();
}

}  // namespace varnstatus
