// One accepted TCP connection of the network service: its socket, its read
// buffer and its outgoing queue. The service keeps it through a shared_ptr
// from the slot and from every pending socket operation, so a completion that
// arrives after a close still finds the object. The socket and the read
// buffer are used on the I/O thread only; everything else is guarded by the
// service lock. The bytes of queued messages are read by the I/O thread's
// write while other threads append behind them: appending never moves
// queued bytes (CSendChunkQueue).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <asio.hpp>

#include "modules/QXNetService/INetService.h"
#include "modules/QXNetService/SendChunkQueue.h"

class CNetConnection {
public:
    CNetConnection(asio::ip::tcp::socket socket, int poolIndex);
    CNetConnection(const CNetConnection&) = delete;
    CNetConnection& operator=(const CNetConnection&) = delete;

    asio::ip::tcp::socket& Socket() { return m_Socket; }
    // The descriptor, fixed at accept: valid while `closing` is false.
    int Descriptor() const { return m_Descriptor; }
    int PoolIndex() const { return m_PoolIndex; }
    // One read takes up to kReadChunkBytes, so a peer that sends large
    // packets costs a system call per chunk, not per 4 KB record. The read
    // lands in message records taken beforehand (readRecords), as many as
    // the last read filled and one more, and only what overflows them into
    // the read buffer, to be copied into records when it is queued.
    static constexpr size_t kReadChunkBytes = 64 * 1024;
    static constexpr size_t kMaxReadRecords = kReadChunkBytes / kNetMsgDataSize;
    char* ReadOverflow() { return m_ReadBuffer.data(); }

    // Outgoing queue: one message per SendTo, written front to back; false
    // when memory for it ran out (nothing was queued).
    bool Append(const char* data, size_t len) { return m_Outgoing.Append(data, len); }
    size_t QueuedMessages() const { return m_Outgoing.Messages(); }
    uint64_t UnsentBytes() const { return m_Outgoing.Bytes(); }
    // Describes up to maxBuffers queued entries, at most about maxBytes, as
    // one gathered write; returns its byte count.
    size_t GatherBatch(std::vector<asio::const_buffer>& buffers, size_t maxBuffers, size_t maxBytes) const;
    // Drops `bytes` written bytes from the front; returns how many messages
    // were thereby written completely.
    size_t Consume(size_t bytes);
    // Hands the queue over after the socket was closed (I/O thread only);
    // the connection's queue is left empty.
    CSendChunkQueue TakeQueue() { return std::move(m_Outgoing); }

    // Counts the records of one completed read against the flood limit; true
    // when they make more than limitPerSecond records in the current
    // one-second window.
    bool CountRecordsAreFlood(uint32_t nowMs, int limitPerSecond, int records);

    // State guarded by the service lock.
    bool closing = false;          // a close was decided; no more messages or writes
    bool writing = false;          // a write chain is running on the I/O thread
    bool recvPaused = false;       // no read posted because of the receive backlog
    bool resumeRequested = false;  // a resume is posted to the I/O thread
    size_t inFlightBytes = 0;      // bytes handed to the write in flight
    uint64_t recvBacklog = 0;      // bytes of this connection's kind-101 records in the queue
    // SendToMore bytes held back for the next write, which hands them to
    // the kernel in the same call: a burst costs one system call instead of
    // one per stream buffer. Held only while no write chain runs (a queued
    // write would take later bytes first); the capacity is reused.
    std::string held;
    size_t heldMessages = 0;

    // I/O side only: the records the next read fills, and how many it takes.
    std::vector<std::unique_ptr<tagNetMsg>> readRecords;
    size_t readRecordsWanted = 1;

private:
    asio::ip::tcp::socket m_Socket;
    const int m_Descriptor;
    const int m_PoolIndex;
    std::vector<char> m_ReadBuffer = std::vector<char>(kReadChunkBytes);
    CSendChunkQueue m_Outgoing;
    uint32_t m_FloodWindowStart = 0;
    int m_FloodWindowReads = 0;
};
