// StatusConsole: the listening end of the gateway's status link. It keeps
// one gateway at a time (a newer connection replaces the linked one, as a
// reconnecting gateway must get in), shows the link's events (accepted,
// login, keep-alive, closed) and hands every other record to its observer;
// what the observer does not take is shown as kind and hex. Event-loop
// thread only; the io_context, output and observer must outlive it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <asio.hpp>

#include "tools/varnsim/SimConnection.h"
#include "tools/varnstatus/ConsoleOutput.h"
#include "tools/varnstatus/StatusRecords.h"

namespace varnstatus {

// Told about the link by the console, on the event-loop thread.
class ILinkObserver {
public:
    virtual ~ILinkObserver() = default;
    // A record other than login and keep-alive; true when it was taken.
    virtual bool OnRecord(const MMORPG::tagPackHead& head, const std::string& record) = 0;
    // The gateway's link ended (a request in flight will get no answer).
    virtual void OnLinkClosed() = 0;
};

class StatusConsole : public varnsim::ISimConnectionOwner {
public:
    StatusConsole(asio::io_context& io, std::string bind, int port, ConsoleOutput& output);
    StatusConsole(const StatusConsole&) = delete;
    StatusConsole& operator=(const StatusConsole&) = delete;

    // Opens the port and prints "listening: <address>:<port>"; false, with
    // the reason on the error stream, when it cannot be opened.
    bool Listen();
    // Stops accepting and closes the link.
    void Stop();

    void SetObserver(ILinkObserver* observer) { m_Observer = observer; }
    // Called after each login is shown (a reconnecting gateway logs in again).
    void SetOnLogin(std::function<void()> onLogin) { m_OnLogin = std::move(onLogin); }

    bool Linked() const { return m_Link != nullptr; }
    // Sends one record with the console's head; false when no gateway is linked.
    bool Send(const std::string& record);

private:
    void Accept();
    void OnAccepted(const std::error_code& error, asio::ip::tcp::socket socket);
    void ShowLogin(const std::string& record);
    void ShowKeepAlive(const std::string& record);

    void OnPacket(varnsim::SimConnection& connection, const MMORPG::tagPackHead& head, const char* payload,
                  uint32_t len) override;
    void OnClosed(varnsim::SimConnection& connection, const std::error_code& error) override;

    asio::ip::tcp::acceptor m_Acceptor;
    const std::string m_Bind;
    const int m_Port;
    ConsoleOutput& m_Output;
    ILinkObserver* m_Observer = nullptr;  // not owned
    std::function<void()> m_OnLogin;
    std::shared_ptr<varnsim::SimConnection> m_Link;
    uint32_t m_NextIndex = 0;
    uint64_t m_Logins = 0;
    bool m_Stopped = false;
};

}  // namespace varnstatus
