// MMORPGPacket: one unit of traffic, a tagPackHead plus a payload, with the
// routing slot the core uses and the pool's in-use flag. Pooled packets are
// owned by the packet pool (MMORPGPacketPool.h) and used by one thread at a
// time: whoever holds one owns it until it pushes it into a queue or frees
// it. MMORPGPacket_Stack is the scratch packet send loops keep on the stack;
// the pool refuses to take it back. GetSendData gives the framed wire bytes:
// FF CC, 9 + payload length as 32-bit little-endian, the 9 header bytes, the
// payload.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "ShareDefine/IPackageDispatcher.h"
#include "ShareDefine/PackHead.h"

namespace MMORPG {

class MMORPGPacketPool;

class MMORPGPacket {
public:
    MMORPGPacket();
    virtual ~MMORPGPacket();
    // False for packets the pool must not take back.
    virtual bool CanFree() const { return true; }

    MMORPGPacket(const MMORPGPacket&) = delete;
    MMORPGPacket& operator=(const MMORPGPacket&) = delete;

    // Empties the payload and clears m_DestIndex and m_InUse; the header stays.
    void Reset();
    // Copies Len bytes into the payload (0 empties it); a negative Len is
    // logged and leaves the payload as it was. Returns Len.
    int ReadData(const char* lpData, int Len);
    const char* GetData() const { return m_Data.data(); }
    int GetDataLen() const { return static_cast<int>(m_Data.size()); }
    const std::string& Data() const { return m_Data; }
    // Replaces the payload. Inline on purpose: a module built apart from the
    // program fills packets the program lends it without calling into it.
    void AssignPayload(const char* data, size_t len) { m_Data.assign(data, len); }

    // Zeroes *head and decodes it from data. len 0 means "9 bytes are there";
    // any other len but 9 is logged with the bytes in hex, and at most len
    // bytes are read. Returns 9.
    static int ReadPackHead(tagPackHead* head, const char* data, int len);
    // A null head resets the packet; otherwise the header is copied in.
    void SetPackHead(const tagPackHead* head);
    // Copies header, m_DestIndex and payload (not m_InUse); null resets.
    void CopyFrom(const MMORPGPacket* src);

    uint8_t GetPackType() const { return m_PackHead.packType; }
    void SetPackType(uint8_t value) { m_PackHead.packType = value; }
    uint8_t GetDestServerType() const { return m_PackHead.DestServerType; }
    void SetDestServerType(uint8_t value) { m_PackHead.DestServerType = value; }
    uint8_t GetSrcServerType() const { return m_PackHead.SrcServerType; }
    void SetSrcServerType(uint8_t value) { m_PackHead.SrcServerType = value; }
    int16_t GetHeadDestIndex() const { return m_PackHead.DestIndex; }
    void SetHeadDestIndex(int16_t value) { m_PackHead.DestIndex = value; }
    uint32_t GetContext() const { return m_PackHead.Context; }
    void SetContext(uint32_t value) { m_PackHead.Context = value; }
    int32_t GetDestIndex() const { return m_DestIndex; }
    void SetDestIndex(int32_t value) { m_DestIndex = value; }
    bool IsInUse() const { return m_InUse != 0; }

    // The frame for this packet (empty when the framer refuses it). Out-of-
    // range server types are logged at Warn level; the packet is framed anyway.
    std::string GetSendData();
    // The same frame built into `frame`, whose capacity is reused: a send
    // loop that keeps one such buffer allocates nothing per packet.
    void BuildSendData(std::string& frame);
    // The same frame appended behind the frames already in `frames`.
    void AppendSendData(std::string& frames);
    // The most bytes the frame can take, and the frame packed at `frame`
    // (that many bytes long), for a caller that builds it in a buffer of
    // its own; returns the frame's length (0 when the framer refuses it).
    size_t FrameCapacity() const;
    size_t PackFrameAt(char* frame, size_t capacity);

    // Packets handed out by the pool now, and the peak seen when a packet
    // object was constructed. Changed by atomic operations from any thread.
    inline static std::atomic<int> m_Count{0};
    inline static std::atomic<int> m_MaxCount{0};

private:
    friend class MMORPGPacketPool;
    void WarnOnBadServerTypes() const;

    std::unique_ptr<IPackageDispatcher, PackageDispatcherDeleter> m_Dispatcher;  // packs only

public:
    tagPackHead m_PackHead;

private:
    std::string m_Data;  // keeps its capacity across Reset, so reuse allocates nothing

public:
    int32_t m_DestIndex = 0;  // core routing slot; -1 = every link of DestServerType

private:
    uint8_t m_InUse = 0;  // 1 while handed out by the pool; changed only by the pool
};

class MMORPGPacket_Stack : public MMORPGPacket {
public:
    bool CanFree() const override { return false; }
};

// The warnings for packets framed with a bad server type are limited for
// the whole process (a few lines, then a summary per interval); this
// forgets what was counted so far, for tests that each expect their line.
void ForgetBadTypeWarnings();

}  // namespace MMORPG
