#include "tools/varnsim/SimConnection.h"

#include "tools/varnsim/SimPayload.h"

namespace varnsim {

SimConnection::SimConnection(asio::ip::tcp::socket socket, ISimConnectionOwner* owner, uint32_t index)
    : m_Socket(std::move(socket)), m_Owner(owner), m_Index(index), m_ReadBuffer(new char[kReadSize]) {
    std::error_code ignored;
    // Small packets answered one by one must not wait for Nagle's timer.
    m_Socket.set_option(asio::ip::tcp::no_delay(true), ignored);
    const auto remote = m_Socket.remote_endpoint(ignored);
    m_PeerText = remote.address().to_string() + ":" + std::to_string(remote.port());
    m_Framer.SetOnPack(PackClosure{&SimConnection::OnFrame, this});
    m_Framer.SetOnError(PackErrorClosure{&SimConnection::OnFramingError, this});
}

void SimConnection::Start() { Read(); }

void SimConnection::Read() {
    auto self = shared_from_this();
    m_Socket.async_read_some(asio::buffer(m_ReadBuffer.get(), kReadSize),
                             [self](const std::error_code& error, size_t len) { self->OnRead(error, len); });
}

void SimConnection::OnRead(const std::error_code& error, size_t len) {
    if (m_Closed) return;
    if (error) {
        Fail(error);
        return;
    }
    m_BytesReceived += len;
    m_ReadTimeNs = SteadyNowNs();
    m_Framer.Feed(m_ReadBuffer.get(), static_cast<int>(len));
    if (m_FramingError) {
        ++m_BadFrames;
        Fail(std::make_error_code(std::errc::protocol_error));
        return;
    }
    if (m_Closed) return;
    m_Owner->OnReadDone(*this);
    if (m_Closed) return;
    Flush();
    if (Backlog() > kMaxBacklog) {
        m_ReadPaused = true;
        return;
    }
    Read();
}

void SimConnection::OnFrame(void* context, const char* body, int len) {
    auto* self = static_cast<SimConnection*>(context);
    if (self->m_Closed) return;
    if (len < MMORPG::kPackHeadSize) {
        ++self->m_Malformed;
        return;
    }
    const MMORPG::tagPackHead head = MMORPG::DecodePackHead(body);
    self->m_Owner->OnPacket(*self, head, body + MMORPG::kPackHeadSize,
                            static_cast<uint32_t>(len - MMORPG::kPackHeadSize));
}

void SimConnection::OnFramingError(void* context) { static_cast<SimConnection*>(context)->m_FramingError = true; }

void SimConnection::Send(const MMORPG::tagPackHead& head, const char* payload, uint32_t len) {
    if (m_Closed) return;
    const int headLen = m_Packer.GetHeadLen();
    const int bodyLen = MMORPG::kPackHeadSize + static_cast<int>(len);
    char* frame = m_Pending.Extend(static_cast<size_t>(headLen + bodyLen));
    char* body = frame + headLen;
    MMORPG::EncodePackHead(head, body);
    if (len > 0) std::memcpy(body + MMORPG::kPackHeadSize, payload, len);
    // The body already sits where the frame wants it; PackData adds the head.
    m_Packer.PackData(body, bodyLen, frame, headLen + bodyLen);
}

void SimConnection::Flush() {
    if (m_Closed || m_Writing || m_Pending.Empty()) return;
    m_Outgoing.Swap(m_Pending);
    m_Writing = true;
    auto self = shared_from_this();
    asio::async_write(m_Socket, asio::buffer(m_Outgoing.Data(), m_Outgoing.Size()),
                      [self](const std::error_code& error, size_t len) { self->OnWritten(error, len); });
}

void SimConnection::OnWritten(const std::error_code& error, size_t len) {
    m_Writing = false;
    m_Outgoing.Clear();
    if (m_Closed) return;
    if (error) {
        Fail(error);
        return;
    }
    m_BytesSent += len;
    if (!m_Pending.Empty()) {
        Flush();
    } else {
        m_Owner->OnDrained(*this);
        if (m_Closed) return;
        Flush();  // the owner may have queued more
    }
    if (m_ReadPaused && Backlog() <= kMaxBacklog / 2) {
        m_ReadPaused = false;
        Read();
    }
}

void SimConnection::Close() {
    if (m_Closed) return;
    m_Closed = true;
    std::error_code ignored;
    m_Socket.close(ignored);
}

void SimConnection::Fail(const std::error_code& error) {
    if (m_Closed) return;
    Close();
    m_Owner->OnClosed(*this, error);
}

}  // namespace varnsim
