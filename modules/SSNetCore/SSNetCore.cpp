#include "modules/SSNetCore/SSNetCore.h"

#include <system_error>
#include <utility>
#include <vector>

#include "ShareDefine/PackHead.h"
#include "modules/SSNetCore/SSFrameCodec.h"
#include "modules/SSNetCore/SSLinkSocket.h"

namespace {

constexpr size_t kReadChunk = 64 * 1024;

}  // namespace

CSSNetCore::CSSNetCore(ReleaseHook onRelease) : m_OnRelease(onRelease) {}

CSSNetCore::~CSSNetCore() {
    std::lock_guard lock(m_ControlMutex);
    EndLink();
}

int CSSNetCore::Start() { return m_StopEvent.Valid() ? 1 : 0; }

bool CSSNetCore::Connect(const char* ip, int port) {
    std::lock_guard lock(m_ControlMutex);
    EndLink();
    if (ip == nullptr || port < 1 || port > 65535 || !m_StopEvent.Valid()) return false;
    m_StopEvent.Reset();
    std::shared_ptr<CSSLinkSocket> socket = CSSLinkSocket::Open(ip, port, kConnectTimeout, m_StopEvent.Fd());
    if (!socket) return false;
    m_Reconnected = false;
    Publish(socket);
    try {
        m_LinkThread = std::thread(&CSSNetCore::LinkLoop, this, std::string(ip), port, std::move(socket));
    } catch (const std::system_error&) {
        // Without its thread the link could neither receive nor recover.
        Publish(nullptr);
        return false;
    }
    return true;
}

// The link thread starts with the link at Connect, so there is nothing left
// to start here.
int CSSNetCore::Run() { return 1; }

void CSSNetCore::Stop() {
    std::lock_guard lock(m_ControlMutex);
    EndLink();
    m_RecvQueue.Clear();
    m_Reconnected = false;
}

bool CSSNetCore::IsConnected() { return CurrentSocket() != nullptr; }

bool CSSNetCore::IsReconnected() { return m_Reconnected.load(); }

void CSSNetCore::ClearReconnected() { m_Reconnected = false; }

int CSSNetCore::Send(const char* head, int headLength, const char* body, int bodyLength) {
    if (head == nullptr || body == nullptr || headLength <= 0 || bodyLength <= 0) return 0;
    // Beyond this the StatusServer would refuse the frame anyway; it also
    // keeps the frame's size within the int result.
    if (static_cast<size_t>(headLength) + static_cast<size_t>(bodyLength) > CSSFrameCodec::kMaxBody) return 0;
    const std::shared_ptr<CSSLinkSocket> socket = CurrentSocket();
    if (!socket) return 0;
    const std::string frame = CSSFrameCodec::Encode(head, static_cast<size_t>(headLength), body,
                                                    static_cast<size_t>(bodyLength));
    // A failed write shut the socket down; the link thread sees the loss.
    if (!socket->WriteAll(frame)) return 0;
    return static_cast<int>(frame.size());
}

bool CSSNetCore::Receive(MMORPG::MMORPGPacket* packet) {
    if (packet == nullptr) return false;
    std::string body;
    if (!m_RecvQueue.Pop(body)) return false;
    // Only inline members of the packet: the module cannot call into the program.
    packet->m_PackHead = MMORPG::DecodePackHead(body.data());
    packet->AssignPayload(body.data() + MMORPG::kPackHeadSize, body.size() - MMORPG::kPackHeadSize);
    packet->m_DestIndex = 0;
    return true;
}

unsigned CSSNetCore::GetRecvCount() { return static_cast<unsigned>(m_RecvQueue.Size()); }

void CSSNetCore::Release() {
    Stop();
    if (m_OnRelease != nullptr) m_OnRelease(this);
    delete this;
}

void CSSNetCore::LinkLoop(const std::string& ip, int port, std::shared_ptr<CSSLinkSocket> socket) {
    while (socket) {
        ReadUntilLoss(*socket);
        socket->Shutdown();
        Publish(nullptr);
        socket = Reconnect(ip, port);
        if (!socket) return;
        Publish(socket);
        m_Reconnected = true;
    }
}

void CSSNetCore::ReadUntilLoss(CSSLinkSocket& socket) {
    CSSFrameCodec codec;
    std::vector<char> chunk(kReadChunk);
    std::string body;
    for (;;) {
        const ssize_t n = socket.Read(chunk.data(), chunk.size(), m_StopEvent.Fd());
        if (n <= 0) return;
        codec.Append(chunk.data(), static_cast<size_t>(n));
        for (;;) {
            const CSSFrameCodec::Result result = codec.Next(body);
            if (result == CSSFrameCodec::Result::Bad) return;
            if (result == CSSFrameCodec::Result::NeedMore) break;
            m_RecvQueue.Push(std::move(body));
        }
    }
}

std::shared_ptr<CSSLinkSocket> CSSNetCore::Reconnect(const std::string& ip, int port) {
    // The pause comes first so a StatusServer that accepts and drops at once
    // is not hammered.
    while (!m_StopEvent.WaitFor(kReconnectPause)) {
        std::shared_ptr<CSSLinkSocket> socket =
            CSSLinkSocket::Open(ip.c_str(), port, kConnectTimeout, m_StopEvent.Fd());
        if (socket) return socket;
    }
    return nullptr;
}

void CSSNetCore::Publish(std::shared_ptr<CSSLinkSocket> socket) {
    std::lock_guard lock(m_SocketMutex);
    m_Socket = std::move(socket);
}

std::shared_ptr<CSSLinkSocket> CSSNetCore::CurrentSocket() const {
    std::lock_guard lock(m_SocketMutex);
    return m_Socket;
}

void CSSNetCore::EndLink() {
    m_StopEvent.Signal();
    if (m_LinkThread.joinable()) m_LinkThread.join();
    Publish(nullptr);
}
