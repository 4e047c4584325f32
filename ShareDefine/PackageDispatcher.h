// TnPackageDispatcher: cuts a received byte stream into frames and builds
// frames for sending (layout in IPackageDispatcher.h). Each connection owns
// one for receiving and each packet one for packing. Feed() hands every
// complete frame body to the SetOnPack closure synchronously, in stream
// order, as a pointer into the framer's own buffer that is valid only during
// the call. Incomplete frames wait in the pending store; the pending bytes
// are appended to, never copied again per chunk, so Feed costs time linear
// in the bytes fed. Closures must not call Feed on the same framer.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "ShareDefine/IPackageDispatcher.h"

// Raised by Feed when a frame's CRC does not match; ends that Feed.
class PackCRCError : public std::runtime_error {
public:
    PackCRCError() : std::runtime_error("Pack CRC Error") {}
};

class TnPackageDispatcher : public IPackageDispatcher {
public:
    TnPackageDispatcher() = default;
    TnPackageDispatcher(const TnPackageDispatcher&) = delete;
    TnPackageDispatcher& operator=(const TnPackageDispatcher&) = delete;

    void SetOnRecvCheck(PackCheckClosure closure) override { m_OnRecvCheck = closure; }
    void SetOnPack(PackClosure closure) override { m_OnPack = closure; }
    void SetOnLog(PackLogClosure closure) override { m_OnLog = closure; }
    void SetOnError(PackErrorClosure closure) override { m_OnError = closure; }
    void Feed(const char* chunk, int len) override;
    // Writes one frame for len bytes at data (which may already sit at
    // buffer + GetHeadLen()); returns the frame length, or 0 when refused.
    int PackData(const char* data, int len, char* buffer, int maxBuff) override;
    void ClearBuffer() override;
    int GetHeadLen() override { return m_LenMode == 0 ? kPackHeadLen16 : kPackHeadLen32; }
    void SetLenMode(int mode) override { m_LenMode = mode == 0 ? 0 : 1; }
    int GetCRCLen() override { return m_UseCRC ? kPackCRCLen : 0; }
    void SetUseCRC(bool useCRC) override { m_UseCRC = useCRC; }
    bool GetUseCRC() override { return m_UseCRC; }

    // Bytes of the incomplete frame waiting for the next chunk.
    size_t PendingBytes() const { return m_Pending.size(); }

private:
    // Answer of UnpackOne besides a frame length (> 0).
    static constexpr long long kNeedMore = 0;
    static constexpr long long kBad = -1;

    // False when it stopped at a bad frame (the rest is dropped).
    bool Parse(const char* data, size_t len, bool dataIsWorkBuffer);
    // Appends to the pending frame the bytes of `chunk` it still lacks, as
    // far as its head tells (all of the chunk when the head is bad); returns
    // how many it took.
    size_t TopUpPending(const char* chunk, size_t len);
    // The length field of a frame head, as the length mode reads it.
    uint64_t LengthValueAt(const char* head) const;
    long long UnpackOne(const char* data, size_t avail);
    void KeepPending(const char* data, size_t avail, size_t offset, bool dataIsWorkBuffer);
    void CheckCRC(const char* frame, size_t total);
    void LogToClosure(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void RaiseError();

    std::string m_Pending;   // start of an incomplete frame
    std::string m_Work;      // the completed pending frame while a Feed parses it
    int m_LenMode = 1;
    bool m_UseCRC = false;
    PackCheckClosure m_OnRecvCheck;
    PackClosure m_OnPack;
    PackLogClosure m_OnLog;
    PackErrorClosure m_OnError;
};
