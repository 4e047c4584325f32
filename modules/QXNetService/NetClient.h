// One connection slot as the program sees it (QXNetClient): the values of
// the slot's current connection, published by the service and read by any
// thread without a lock. The service owns the object for its whole life and
// is the only writer; the peer address text is written only while the slot is
// free, so a reader's pointer stays valid and the text stays put for as long
// as a connection lives.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "modules/QXNetService/INetService.h"

class CNetClient final : public QXNetClient {
public:
    explicit CNetClient(int poolIndex);
    ~CNetClient() = default;
    CNetClient(const CNetClient&) = delete;
    CNetClient& operator=(const CNetClient&) = delete;

    // QXNetClient
    int GetPoolIndex() override { return m_PoolIndex; }
    void* GetUserObj() override { return m_UserObj.load(std::memory_order_acquire); }
    void BindUserObj(void* userObj) override { m_UserObj.store(userObj, std::memory_order_release); }
    uint32_t GetConnectSerial() override { return m_Serial.load(std::memory_order_relaxed); }
    uint16_t GetPeerPort() override { return m_PeerPort.load(std::memory_order_relaxed); }
    void Reserved5() override {}
    int GetSocket() override { return m_Socket.load(std::memory_order_relaxed); }
    bool IsUsable() override { return m_Usable.load(std::memory_order_acquire); }
    uint8_t IsSendPending() override { return m_SendPending.load(std::memory_order_relaxed) ? 1 : 0; }
    uint32_t GetConnectedTime() override;
    uint8_t IsWaitClose() override { return m_WaitClose.load(std::memory_order_acquire) ? 1 : 0; }
    void Reserved11() override {}
    uint32_t GetRecvIdleTime() override;
    void Reserved13() override {}
    uint64_t GetRecvBytes() override { return m_RecvBytes.load(std::memory_order_relaxed); }
    uint64_t GetSentBytes() override { return m_SentBytes.load(std::memory_order_relaxed); }
    void Reserved16() override {}
    const char* GetPeerIP() override { return m_PeerIp; }
    bool IsRecvPaused() override { return m_RecvPaused.load(std::memory_order_relaxed); }
    uint32_t GetRemainSendBuffLen() override { return m_RemainSend.load(std::memory_order_relaxed); }
    void Reserved20() override {}
    void Reserved21() override {}
    uint32_t GetCommitSendBuffLen() override { return m_CommitSend.load(std::memory_order_relaxed); }

    // Service side, under the service lock.
    void OnConnected(int socket, const std::string& peerIp, uint16_t peerPort);
    void OnRecv(uint64_t bytes);
    void OnSent(uint64_t bytes) { m_SentBytes.fetch_add(bytes, std::memory_order_relaxed); }
    void SetRecvPaused(bool paused) { m_RecvPaused.store(paused, std::memory_order_relaxed); }
    void SetSendState(bool pending, uint32_t commitBytes, uint32_t remainBytes);
    void OnClosing();  // no longer usable; waits for its close message to be drained
    void OnFreed();    // the close message was drained: the slot is free

    // Milliseconds of the service's monotonic clock (wraps like a 32-bit tick).
    static uint32_t NowMs();

private:
    const int m_PoolIndex;
    std::atomic<void*> m_UserObj{nullptr};
    std::atomic<uint32_t> m_Serial{0};
    std::atomic<uint16_t> m_PeerPort{0};
    std::atomic<int> m_Socket{-1};
    std::atomic<bool> m_Usable{false};
    std::atomic<bool> m_SendPending{false};
    std::atomic<bool> m_WaitClose{false};
    std::atomic<bool> m_RecvPaused{false};
    std::atomic<bool> m_Connected{false};
    std::atomic<uint32_t> m_ConnectTick{0};
    std::atomic<uint32_t> m_LastRecvTick{0};
    std::atomic<uint64_t> m_RecvBytes{0};
    std::atomic<uint64_t> m_SentBytes{0};
    std::atomic<uint32_t> m_RemainSend{0};
    std::atomic<uint32_t> m_CommitSend{0};
    char m_PeerIp[64] = {};
};
