// SimConnection: one TCP connection of a simulator process. It reads into a
// fixed buffer, cuts frames with the project's TnPackageDispatcher and hands
// each packet to its owner; packets to send are framed in place into a
// pending buffer and leave in one write per batch, with at most one write in
// flight while the next batch collects. Everything runs on the process's one
// event-loop thread. The connection lives in a shared_ptr: the owning role
// keeps one until OnClosed, and every pending read or write keeps one, so a
// completion never finds it gone. The owner must outlive the event loop's run.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <system_error>

#include <asio.hpp>

#include "ShareDefine/PackHead.h"
#include "ShareDefine/PackageDispatcher.h"
#include "tools/varnsim/SendBuffer.h"

namespace varnsim {

class SimConnection;

// What a connection tells the role that owns it, on the event-loop thread.
class ISimConnectionOwner {
public:
    virtual ~ISimConnectionOwner() = default;
    // One packet; payload points into the read buffer, valid during the call.
    virtual void OnPacket(SimConnection& connection, const MMORPG::tagPackHead& head, const char* payload,
                          uint32_t len) = 0;
    // After the packets of one read; what is sent here leaves in the same write.
    virtual void OnReadDone(SimConnection& connection) {}
    // Everything queued so far has been written.
    virtual void OnDrained(SimConnection& connection) {}
    // The peer closed, an I/O error happened or the stream was not framed;
    // not called for Close().
    virtual void OnClosed(SimConnection& connection, const std::error_code& error) = 0;
};

class SimConnection : public std::enable_shared_from_this<SimConnection> {
public:
    SimConnection(asio::ip::tcp::socket socket, ISimConnectionOwner* owner, uint32_t index);
    SimConnection(const SimConnection&) = delete;
    SimConnection& operator=(const SimConnection&) = delete;

    void Start();
    // Frames the packet into the pending buffer; Flush (or the end of the
    // current read) writes it.
    void Send(const MMORPG::tagPackHead& head, const char* payload, uint32_t len);
    void Flush();
    // Closes at once, dropping unsent bytes; the owner gets no OnClosed.
    void Close();

    uint32_t Index() const { return m_Index; }
    const std::string& PeerText() const { return m_PeerText; }
    bool IsOpen() const { return !m_Closed; }
    // Bytes queued or being written.
    size_t Backlog() const { return m_Pending.Size() + m_Outgoing.Size(); }
    // Steady-clock time at which the read being handled completed: one clock
    // read stands for every packet of the read.
    uint64_t ReadTimeNs() const { return m_ReadTimeNs; }
    uint64_t BytesReceived() const { return m_BytesReceived; }
    uint64_t BytesSent() const { return m_BytesSent; }
    uint64_t Malformed() const { return m_Malformed; }
    uint64_t BadFrames() const { return m_BadFrames; }

private:
    static constexpr size_t kReadSize = 64 * 1024;
    // A peer that sends faster than it reads stops being read from here on,
    // so the answers to it cannot pile up without bound.
    static constexpr size_t kMaxBacklog = 8u << 20;

    static void OnFrame(void* context, const char* body, int len);
    static void OnFramingError(void* context);

    void Read();
    void OnRead(const std::error_code& error, size_t len);
    void OnWritten(const std::error_code& error, size_t len);
    void Fail(const std::error_code& error);

    asio::ip::tcp::socket m_Socket;
    ISimConnectionOwner* m_Owner;  // the role; not owned
    const uint32_t m_Index;
    std::string m_PeerText;
    TnPackageDispatcher m_Framer;  // receiving side
    TnPackageDispatcher m_Packer;  // sending side (no pending state to share)
    std::unique_ptr<char[]> m_ReadBuffer;
    SendBuffer m_Pending;   // collecting the next batch
    SendBuffer m_Outgoing;  // being written
    bool m_Writing = false;
    bool m_ReadPaused = false;
    bool m_Closed = false;
    bool m_FramingError = false;
    uint64_t m_ReadTimeNs = 0;
    uint64_t m_BytesReceived = 0;
    uint64_t m_BytesSent = 0;
    uint64_t m_Malformed = 0;
    uint64_t m_BadFrames = 0;
};

}  // namespace varnsim
