// INqBlockSocket over a plain POSIX socket. Connects are serialised by their
// own lock; the descriptor is shared by a blocked reader, writers and a
// closer, so every use registers itself under m_Lock and SockClose shuts the
// socket down (which wakes the users) and waits for them to leave before it
// closes the descriptor: its number can never be reused under a reader. A
// SockClose during a SockConnect makes that connect fail, so a close is never
// undone by a connect that was already under way.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "modules/nqBlockClient/INqBlockSocket.h"

class CNqBlockSocket final : public INqBlockSocket {
public:
    static constexpr int kDefaultConnectTimeoutMs = 3000;

    CNqBlockSocket() = default;
    ~CNqBlockSocket();
    CNqBlockSocket(const CNqBlockSocket&) = delete;
    CNqBlockSocket& operator=(const CNqBlockSocket&) = delete;

    bool SockConnect(const char* host, uint16_t port) override;
    int SockSend(const char* data, int len) override;
    int SockSendMore(const char* data, int len) override;
    int SockRecv(char* buffer, int size) override;
    int SockRecvNoWait(char* buffer, int size) override;
    int SockGetLastError() override { return m_LastError.load(std::memory_order_relaxed); }
    bool SockIsConnected() override;
    void SockClose() override;
    int SockGetHandle() override;
    void SockSetup(int connectTimeoutMs) override;

private:
    // A registered use of the descriptor: fd -1 when there is none to use.
    struct Use {
        int fd = -1;
        uint32_t generation = 0;
    };
    Use BeginUse();
    // BeginUse for a read or write: a use with fd -1 and the error set
    // (EINVAL, or ENOTCONN without a descriptor) when there is none.
    Use BeginTransfer(bool argumentsValid);
    int SendAll(const char* data, int len, int flags);
    int Recv(char* buffer, int size, int flags);
    // Ends a use; false when SockClose ran meanwhile (the result is void).
    bool EndUse(const Use& use);
    // One attempt on each resolved address until the deadline; the
    // connected descriptor or -1 (m_LastError set).
    int ConnectWithin(const char* host, uint16_t port, int timeoutMs);
    // Publishes the descriptor of a connect in progress so SockClose can
    // cut it short; false when SockClose already asked for that.
    bool SetConnecting(int fd);
    void Fail(int error) { m_LastError.store(error, std::memory_order_relaxed); }

    std::mutex m_ConnectLock;  // one SockConnect at a time
    std::mutex m_Lock;
    std::condition_variable m_Changed;  // users left, or a close finished
    int m_Fd = -1;
    bool m_Connected = false;
    bool m_Closing = false;
    int m_Users = 0;
    bool m_Connecting = false;      // a SockConnect is under way
    int m_ConnectingFd = -1;        // its descriptor while it waits for the peer
    bool m_ConnectAborted = false;  // SockClose ran during the current SockConnect
    uint32_t m_Generation = 0;  // counts closes, so a use can tell it was cut short
    std::atomic<int> m_LastError{0};
    std::atomic<int> m_ConnectTimeoutMs{kDefaultConnectTimeoutMs};
};
