#include "modules/QXNetService/NetClient.h"

#include <chrono>
#include <cstdio>

CNetClient::CNetClient(int poolIndex) : m_PoolIndex(poolIndex) {}

uint32_t CNetClient::NowMs() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

uint32_t CNetClient::GetConnectedTime() {
    if (!m_Connected.load(std::memory_order_acquire)) return 0;
    return NowMs() - m_ConnectTick.load(std::memory_order_relaxed);
}

uint32_t CNetClient::GetRecvIdleTime() {
    if (!m_Connected.load(std::memory_order_acquire)) return 0;
    return NowMs() - m_LastRecvTick.load(std::memory_order_relaxed);
}

void CNetClient::OnConnected(int socket, const std::string& peerIp, uint16_t peerPort) {
    std::snprintf(m_PeerIp, sizeof(m_PeerIp), "%s", peerIp.c_str());
    const uint32_t now = NowMs();
    m_PeerPort.store(peerPort, std::memory_order_relaxed);
    m_Socket.store(socket, std::memory_order_relaxed);
    m_ConnectTick.store(now, std::memory_order_relaxed);
    m_LastRecvTick.store(now, std::memory_order_relaxed);
    m_RecvBytes.store(0, std::memory_order_relaxed);
    m_SentBytes.store(0, std::memory_order_relaxed);
    m_RemainSend.store(0, std::memory_order_relaxed);
    m_CommitSend.store(0, std::memory_order_relaxed);
    m_SendPending.store(false, std::memory_order_relaxed);
    m_RecvPaused.store(false, std::memory_order_relaxed);
    m_WaitClose.store(false, std::memory_order_relaxed);
    m_Serial.fetch_add(1, std::memory_order_relaxed);
    m_Connected.store(true, std::memory_order_release);
    m_Usable.store(true, std::memory_order_release);
}

void CNetClient::OnRecv(uint64_t bytes) {
    m_RecvBytes.fetch_add(bytes, std::memory_order_relaxed);
    m_LastRecvTick.store(NowMs(), std::memory_order_relaxed);
}

void CNetClient::SetSendState(bool pending, uint32_t commitBytes, uint32_t remainBytes) {
    m_SendPending.store(pending, std::memory_order_relaxed);
    m_CommitSend.store(commitBytes, std::memory_order_relaxed);
    m_RemainSend.store(remainBytes, std::memory_order_relaxed);
}

void CNetClient::OnClosing() {
    m_Usable.store(false, std::memory_order_release);
    m_WaitClose.store(true, std::memory_order_release);
    m_RecvPaused.store(false, std::memory_order_relaxed);
    m_SendPending.store(false, std::memory_order_relaxed);
    m_RemainSend.store(0, std::memory_order_relaxed);
    m_CommitSend.store(0, std::memory_order_relaxed);
    // The descriptor is closed right after this and its number may be handed
    // to another connection at once.
    m_Socket.store(-1, std::memory_order_relaxed);
}

void CNetClient::OnFreed() {
    m_WaitClose.store(false, std::memory_order_release);
    m_Connected.store(false, std::memory_order_release);
}
