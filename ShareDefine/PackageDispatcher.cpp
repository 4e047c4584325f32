#include "ShareDefine/PackageDispatcher.h"

#include <zlib.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "infra/HexDump.h"
#include "ShareDefine/WireBytes.h"
#include "infra/Log.h"

namespace {

// A buffer that once held a huge frame gives its memory back rather than
// keeping 100 MiB per connection for the rest of the process.
constexpr size_t kKeepCapacity = 1 << 20;

// The CRC error line shows the frame in hex; beyond this many bytes only the
// start is shown, so a huge bad frame cannot flood the log.
constexpr size_t kMaxDumpBytes = 4096;

void ReleaseIfLarge(std::string& buffer) {
    if (buffer.capacity() > kKeepCapacity) std::string().swap(buffer);
}

uint32_t Crc32(const char* data, size_t len) {
    return static_cast<uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(len)));
}

}  // namespace

void TnPackageDispatcher::Feed(const char* chunk, int len) {
    if (len < 0 || (chunk == nullptr && len > 0)) return;
    if (m_OnRecvCheck.Func != nullptr && !m_OnRecvCheck.Func(m_OnRecvCheck.Context, chunk, len)) {
        // The refused chunk takes the pending start of its frame with it.
        ClearBuffer();
        return;
    }
    if (m_Pending.empty()) {
        // The common case: parse the caller's chunk in place.
        Parse(chunk, static_cast<size_t>(len), false);
        return;
    }
    // Only the pending frame is completed in the work buffer: the chunk
    // gives it the bytes it lacks, and the rest of the chunk is parsed in
    // place, so a read that follows a split frame is not copied whole.
    // Frames, log texts and drops are those of parsing pending bytes and
    // chunk as one buffer.
    const size_t taken = TopUpPending(chunk, static_cast<size_t>(len));
    // A swap, no copy: the pending store is empty while the closures run.
    m_Work.clear();
    m_Work.swap(m_Pending);
    bool goOn = false;
    try {
        goOn = Parse(m_Work.data(), m_Work.size(), true);
    } catch (...) {
        m_Work.clear();
        ReleaseIfLarge(m_Work);
        throw;
    }
    m_Work.clear();
    ReleaseIfLarge(m_Work);
    if (goOn && m_Pending.empty() && taken < static_cast<size_t>(len)) {
        Parse(chunk + taken, static_cast<size_t>(len) - taken, false);
    }
}

size_t TnPackageDispatcher::TopUpPending(const char* chunk, size_t len) {
    const size_t headLen = static_cast<size_t>(GetHeadLen());
    size_t taken = 0;
    if (m_Pending.size() < headLen) {
        taken = std::min(len, headLen - m_Pending.size());
        m_Pending.append(chunk, taken);
        if (m_Pending.size() < headLen) return taken;
    }
    // A bad head takes what it claims too; UnpackOne then reports it and
    // Feed drops the rest of the chunk with it.
    const uint64_t total = LengthValueAt(m_Pending.data()) + headLen;
    const uint64_t wanted = total > m_Pending.size() ? total - m_Pending.size() : 0;
    const size_t more = static_cast<size_t>(std::min<uint64_t>(len - taken, wanted));
    m_Pending.append(chunk + taken, more);
    return taken + more;
}

bool TnPackageDispatcher::Parse(const char* data, size_t len, bool dataIsWorkBuffer) {
    size_t offset = 0;
    while (offset < len) {
        const long long result = UnpackOne(data + offset, len - offset);
        if (result == kBad) return false;  // the rest of the buffer is dropped
        if (result == kNeedMore) {
            KeepPending(data, len - offset, offset, dataIsWorkBuffer);
            return true;
        }
        offset += static_cast<size_t>(result);
    }
    return true;
}

void TnPackageDispatcher::KeepPending(const char* data, size_t avail, size_t offset, bool dataIsWorkBuffer) {
    if (dataIsWorkBuffer && offset == 0 && m_Pending.empty()) {
        // Nothing was consumed: hand the whole work buffer back as the
        // pending store without copying it, which keeps a large frame that
        // arrives in small chunks linear in cost.
        m_Pending.swap(m_Work);
        return;
    }
    // Only the tail after a consumed frame is copied; it is never longer
    // than the chunk just fed.
    m_Pending.append(data + offset, avail);
}

uint64_t TnPackageDispatcher::LengthValueAt(const char* head) const {
    return m_LenMode == 0 ? wire::ReadLE16(head + 2) : wire::ReadLE32(head + 2);
}

long long TnPackageDispatcher::UnpackOne(const char* data, size_t avail) {
    const size_t headLen = static_cast<size_t>(GetHeadLen());
    if (avail < headLen) {
        LogToClosure("需要等待的封包:0x%x,%d", static_cast<int>(static_cast<signed char>(data[0])),
                     static_cast<int>(avail));
        return kNeedMore;
    }
    const uint16_t magic = wire::ReadLE16(data);
    if (magic != kPackMagic) {
        LogToClosure("封包错误:0x%x", static_cast<unsigned>(magic));
        RaiseError();
        return kBad;
    }
    const uint64_t lengthValue = LengthValueAt(data);
    const uint64_t total = lengthValue + headLen;  // 64 bits: no wrap-around
    if (total > kMaxFrameBytes) {
        LogToClosure("封包过长: %lld", static_cast<long long>(total));
        RaiseError();
        return kBad;
    }
    if (m_UseCRC && lengthValue < kPackCRCLen) {
        // No room for the CRC: nothing trustworthy can follow this head.
        LogToClosure("封包长度错误: %lld", static_cast<long long>(lengthValue));
        RaiseError();
        return kBad;
    }
    if (total > avail) {
        LogToClosure("需要等待的封包:0x%x,%d", static_cast<int>(static_cast<signed char>(data[0])),
                     static_cast<int>(avail));
        return kNeedMore;
    }
    size_t bodyLen = static_cast<size_t>(total) - headLen;
    if (m_UseCRC) {
        bodyLen -= kPackCRCLen;
        CheckCRC(data, static_cast<size_t>(total));
    }
    if (m_OnPack.Func != nullptr) m_OnPack.Func(m_OnPack.Context, data + headLen, static_cast<int>(bodyLen));
    return static_cast<long long>(total);
}

void TnPackageDispatcher::CheckCRC(const char* frame, size_t total) {
    const uint32_t computed = Crc32(frame, total - kPackCRCLen);
    const uint32_t stored = wire::ReadLE32(frame + total - kPackCRCLen);
    if (computed == stored) return;
    const std::string dump = HexDump(frame, static_cast<int>(std::min(total, kMaxDumpBytes)));
    GetLog()->LogError("Pack CRC Error! curCRC = %d, packCRC = %d, pack = %s", static_cast<int>(computed),
                       static_cast<int>(stored), dump.c_str());
    throw PackCRCError();
}

int TnPackageDispatcher::PackData(const char* data, int len, char* buffer, int maxBuff) {
    if (len < 0 || (data == nullptr && len > 0) || buffer == nullptr) {
        GetLog()->LogFatal("TnPackageDispatcher::PackData len(%d) < 0 || data == NULL || buffer == NULL", len);
        return 0;
    }
    const int headLen = GetHeadLen();
    const long long lengthValue = static_cast<long long>(len) + GetCRCLen();
    if (m_LenMode == 0 && lengthValue > 0xFFFF) {
        // The 16-bit field cannot say how long the frame is; a truncated
        // length would make the peer cut the stream in the wrong place.
        GetLog()->LogFatal("TnPackageDispatcher::PackData totalPackLen(%lld) > 0xFFFF", lengthValue);
        return 0;
    }
    if (headLen + lengthValue > maxBuff) {
        GetLog()->LogFatal("TnPackageDispatcher::PackData packHeadLen(%d) + totalPackLen(%d) > maxBuff(%d)", headLen,
                           static_cast<int>(lengthValue), maxBuff);
        return 0;
    }
    wire::WriteLE16(buffer, kPackMagic);
    if (m_LenMode == 0) {
        wire::WriteLE16(buffer + 2, static_cast<uint16_t>(lengthValue));
    } else {
        wire::WriteLE32(buffer + 2, static_cast<uint32_t>(lengthValue));
    }
    // memmove: the body may overlap the buffer; built in place, it stays.
    if (len > 0 && data != buffer + headLen) std::memmove(buffer + headLen, data, static_cast<size_t>(len));
    int written = headLen + len;
    if (m_UseCRC) {
        wire::WriteLE32(buffer + written, Crc32(buffer, static_cast<size_t>(written)));
        written += kPackCRCLen;
    }
    return written;
}

void TnPackageDispatcher::ClearBuffer() {
    m_Pending.clear();
    ReleaseIfLarge(m_Pending);
}

void TnPackageDispatcher::LogToClosure(const char* format, ...) {
    if (m_OnLog.Func == nullptr) return;  // formatting costs nothing when nobody listens
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    m_OnLog.Func(m_OnLog.Context, text);
}

void TnPackageDispatcher::RaiseError() {
    if (m_OnError.Func != nullptr) m_OnError.Func(m_OnError.Context);
}

extern "C" IPackageDispatcher* NewPackageDispatcher() { return new TnPackageDispatcher(); }

extern "C" void FreePackageDispatcher(IPackageDispatcher* dispatcher) { delete dispatcher; }
