// The unsent bytes of one connection, kept in fixed-size chunks of their own
// pages instead of one heap block per send. A peer that stops reading costs
// about one byte of resident memory per byte queued: no allocator header or
// rounding per message, no heap holes left behind once it is cut (a chunk's
// pages go back to the system when the chunk is written or dropped), and the
// bytes keep their order exactly. Message boundaries are kept as lengths (4
// bytes a message) only to count whole messages for the service's bounds.
// Not locked: the service's lock guards it. Queued bytes never move, so a
// write in flight may read them while more are appended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include <asio/buffer.hpp>

class CSendChunkQueue {
public:
    // 256 KiB: large enough that a chunk costs one mapping per 64 messages
    // of 4 KB, small enough that a queue of a few bytes wastes little.
    static constexpr size_t kChunkBytes = 256 * 1024;
    // A drained queue keeps its chunk when at most this much of it was
    // touched: an idle connection holds at most this much resident.
    static constexpr size_t kKeepTouchedBytes = 64 * 1024;

    CSendChunkQueue() = default;
    ~CSendChunkQueue();
    CSendChunkQueue(const CSendChunkQueue&) = delete;
    CSendChunkQueue& operator=(const CSendChunkQueue&) = delete;
    // Moving hands the chunks over; the source is left empty.
    CSendChunkQueue(CSendChunkQueue&& other) noexcept { Swap(other); }
    CSendChunkQueue& operator=(CSendChunkQueue&& other) noexcept {
        Clear();
        Swap(other);
        return *this;
    }
    void Swap(CSendChunkQueue& other) noexcept;

    // Appends one message; false (nothing queued) when memory ran out.
    bool Append(const char* data, size_t len);
    size_t Messages() const { return m_Lengths.size(); }
    uint64_t Bytes() const { return m_Bytes; }
    // Bytes held in chunks (resident once touched), for the bound's accounting.
    uint64_t ReservedBytes() const { return static_cast<uint64_t>(m_Chunks.size()) * kChunkBytes; }
    // Describes up to maxBuffers pieces, at most about maxBytes, from the front.
    size_t Gather(std::vector<asio::const_buffer>& buffers, size_t maxBuffers, size_t maxBytes) const;
    // Drops `bytes` written bytes from the front; returns the messages thereby completed.
    size_t Consume(size_t bytes);
    void Clear();

private:
    static char* MapChunk();
    static void UnmapChunk(char* chunk);
    void DropFrontChunk();

    std::deque<char*> m_Chunks;     // each kChunkBytes, filled front to back
    size_t m_FrontRead = 0;         // bytes of the front chunk already written
    size_t m_BackUsed = kChunkBytes;  // bytes of the back chunk in use (full when none)
    uint64_t m_Bytes = 0;           // unsent bytes
    std::deque<uint32_t> m_Lengths;  // unsent messages' lengths, the front one's written part included
    size_t m_FrontMessageDone = 0;  // bytes of the front message already written
};
