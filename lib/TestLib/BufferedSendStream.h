// The coalescing send logic shared by CNetStream and CICOPNetStream: packets
// are appended to an 8 KB PackBufer and written out when it is full or when
// the owner flushes at the end of a send pass. Subclasses supply the write
// primitive and whether a failed flush keeps the buffered bytes. One stream
// belongs to one connection and is used by its one sending thread.
#pragma once

#include <cstdint>

#include "lib/TestLib/PackBuffer.h"

// The last-error value of a flush that found nothing to write; callers treat
// a 0 result with this last error as success.
inline constexpr uint32_t NOTHING_TO_SEND = 0x20000001u;

class BufferedSendStream {
public:
    static constexpr int kBufferSize = 8192;

    BufferedSendStream() = default;
    virtual ~BufferedSendStream() = default;
    BufferedSendStream(const BufferedSendStream&) = delete;
    BufferedSendStream& operator=(const BufferedSendStream&) = delete;

    // len > 0: queue (or write) the bytes; (nullptr, 0): flush.
    int SendBuf_o(const char* data, int len);

    // Room at the end of the buffer for a packet of up to `len` bytes to be
    // built in place, the buffered bytes written out first when they leave
    // too little (as SendBuf_o would before queueing it). Null when the
    // packet would not fit an empty buffer, *result then 1 (send it with
    // SendBuf_o), or when that write failed, *result then its result.
    char* ReserveTail(int len, int* result);
    // Counts `len` bytes built at ReserveTail's pointer as queued.
    void CommitTail(int len) { m_Buffer.Commit(len); }

    int BufferedBytes() const { return m_Buffer.Used(); }
    // Forgets the buffered bytes (a link that gave up on them).
    void DropBuffered() { m_Buffer.Clear(); }

protected:
    // Writes all bytes; the byte count, or a result of 0 or below on failure.
    virtual int Write(const char* data, int len) = 0;
    // Write for a full buffer that the packet behind it follows at once: the
    // connection may hold the bytes back until the next Write, so a burst
    // of packets leaves in as few segments as the buffer size allows.
    virtual int WriteMore(const char* data, int len) { return Write(data, len); }
    // Whether a failed flush drops the buffered bytes.
    virtual bool ClearAfterFailedFlush() const = 0;
    // Class name for the Fatal line of an unexpected exception.
    virtual const char* StreamName() const = 0;

private:
    // Room for `len` bytes behind the buffered ones, written out first when
    // they leave too little; null as ReserveTail describes.
    char* RoomFor(int len, int* result);
    int Queue(const char* data, int len);
    int Flush();

    PackBufer m_Buffer{kBufferSize};
};
