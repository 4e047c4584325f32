// The module's ISSNetCore: owns the link thread (reads the link, and re-makes
// it about once a second after a loss), the current socket and the bounded
// queue of received packets. Connect, Stop and Release come from the
// gateway's control thread and are serialised; Send, Receive and the queries
// may come from any thread at any time.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "modules/SSNetCore/ISSNetCore.h"
#include "modules/SSNetCore/SSPacketQueue.h"
#include "modules/SSNetCore/SSWakeEvent.h"

class CSSLinkSocket;

class CSSNetCore final : public ISSNetCore {
public:
    // Called by Release just before the object is deleted, so the export can
    // forget its instance.
    using ReleaseHook = void (*)(const CSSNetCore*);

    static constexpr std::chrono::seconds kConnectTimeout{3};
    static constexpr std::chrono::seconds kReconnectPause{1};
    static constexpr size_t kMaxQueuedPackets = 100000;
    static constexpr size_t kMaxQueuedBytes = 256u * 1024u * 1024u;

    explicit CSSNetCore(ReleaseHook onRelease);

    CSSNetCore(const CSSNetCore&) = delete;
    CSSNetCore& operator=(const CSSNetCore&) = delete;

    int Start() override;
    bool Connect(const char* ip, int port) override;
    int Run() override;
    void Stop() override;
    bool IsConnected() override;
    bool IsReconnected() override;
    void ClearReconnected() override;
    int Send(const char* head, int headLength, const char* body, int bodyLength) override;
    bool Receive(MMORPG::MMORPGPacket* packet) override;
    unsigned GetRecvCount() override;
    void Release() override;

private:
    ~CSSNetCore();

    // Body of the link thread; `socket` is the link Connect made.
    void LinkLoop(const std::string& ip, int port, std::shared_ptr<CSSLinkSocket> socket);
    // Returns when the link is lost, turns out to be broken, or Stop wakes it.
    void ReadUntilLoss(CSSLinkSocket& socket);
    // The next link, or nullptr once Stop was called.
    std::shared_ptr<CSSLinkSocket> Reconnect(const std::string& ip, int port);
    void Publish(std::shared_ptr<CSSLinkSocket> socket);
    std::shared_ptr<CSSLinkSocket> CurrentSocket() const;
    // Stops the link thread and drops the socket. Needs m_ControlMutex.
    void EndLink();

    const ReleaseHook m_OnRelease;
    CSSWakeEvent m_StopEvent;
    CSSPacketQueue m_RecvQueue{kMaxQueuedPackets, kMaxQueuedBytes};
    std::atomic<bool> m_Reconnected{false};

    std::mutex m_ControlMutex;
    std::thread m_LinkThread;  // guarded by m_ControlMutex

    mutable std::mutex m_SocketMutex;
    std::shared_ptr<CSSLinkSocket> m_Socket;  // guarded by m_SocketMutex; null while no link is up
};
