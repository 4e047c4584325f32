#include "ShareDefine/MMORPGPacket.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "infra/HexDump.h"
#include "infra/Log.h"
#include "infra/LogRepeatLimiter.h"

namespace MMORPG {

namespace {

bool ServerTypeInRange(uint8_t type) { return type > stMin && type < stMax; }

void RaisePeak() {
    const int count = MMORPGPacket::m_Count.load(std::memory_order_relaxed);
    int peak = MMORPGPacket::m_MaxCount.load(std::memory_order_relaxed);
    while (count > peak && !MMORPGPacket::m_MaxCount.compare_exchange_weak(peak, count, std::memory_order_relaxed)) {
    }
}

// A peer can have the relay frame thousands of packets a second with a bad
// server type, and by then nobody knows which peer sent them: the lines are
// limited per field for the whole process, like a peer's own lines on the
// listening side. Taken only on the bad-type path, so the lock costs the
// relay nothing.
class BadTypeWarningLimit {
public:
    void Warn(const char* kind, const std::string& line) {
        std::lock_guard hold(m_Lock);
        const LogRepeatLimiter::Verdict verdict = m_Limiter->Admit(kSource, kind);
        if (!verdict.summary.empty()) GetLog()->LogWarn("%s", verdict.summary.c_str());
        if (verdict.write) GetLog()->LogWarn("%s", line.c_str());
    }
    void Forget() {
        std::lock_guard hold(m_Lock);
        m_Limiter = std::make_unique<LogRepeatLimiter>();
    }

private:
    static constexpr const char* kSource = "packets framed for sending";
    std::mutex m_Lock;
    std::unique_ptr<LogRepeatLimiter> m_Limiter = std::make_unique<LogRepeatLimiter>();
};

template <typename... Args>
std::string LineText(const char* format, Args... args) {
    char text[256];
    std::snprintf(text, sizeof(text), format, args...);
    return text;
}

BadTypeWarningLimit& BadTypeWarnings() {
    static BadTypeWarningLimit limit;
    return limit;
}

}  // namespace

void ForgetBadTypeWarnings() { BadTypeWarnings().Forget(); }

MMORPGPacket::MMORPGPacket() : m_Dispatcher(NewPackageDispatcher()) {
    RaisePeak();
    Reset();
}

MMORPGPacket::~MMORPGPacket() = default;

void MMORPGPacket::Reset() {
    m_Data.clear();
    m_DestIndex = 0;
    m_InUse = 0;
}

int MMORPGPacket::ReadData(const char* lpData, int Len) {
    if (Len < 0) {
        GetLog()->LogError("MMORPGPacket::ReadData(char *lpData, int Len), Len = %d", Len);
        return Len;
    }
    if (Len == 0 || lpData == nullptr) {
        m_Data.clear();
        return Len;
    }
    m_Data.assign(lpData, static_cast<size_t>(Len));
    return Len;
}

int MMORPGPacket::ReadPackHead(tagPackHead* head, const char* data, int len) {
    if (head == nullptr) return kPackHeadSize;
    if (len != 0 && len != kPackHeadSize) {
        const std::string dump = HexDump(data, len);
        GetLog()->LogWarn("Error in tagPackHead : %s ", dump.c_str());
    }
    if (data == nullptr || len < 0) {
        *head = tagPackHead{};
        return kPackHeadSize;
    }
    if (len == 0 || len >= kPackHeadSize) {
        // The whole header is there: decoded straight from the caller's
        // bytes (every packet takes this path twice per relay).
        *head = DecodePackHead(data);
        return kPackHeadSize;
    }
    // A short buffer is read only as far as it goes; the rest stays zero.
    char bytes[kPackHeadSize] = {};
    std::memcpy(bytes, data, static_cast<size_t>(len));
    *head = DecodePackHead(bytes);
    return kPackHeadSize;
}

void MMORPGPacket::SetPackHead(const tagPackHead* head) {
    if (head == nullptr) {
        Reset();
        return;
    }
    char bytes[kPackHeadSize];
    EncodePackHead(*head, bytes);
    ReadPackHead(&m_PackHead, bytes, kPackHeadSize);
}

void MMORPGPacket::CopyFrom(const MMORPGPacket* src) {
    if (src == nullptr) {
        Reset();
        return;
    }
    if (src == this) return;
    m_PackHead = src->m_PackHead;
    m_DestIndex = src->m_DestIndex;
    m_Data.assign(src->m_Data);
}

void MMORPGPacket::WarnOnBadServerTypes() const {
    if (!ServerTypeInRange(m_PackHead.DestServerType)) {
        BadTypeWarnings().Warn(
            "bad DestServerType",
            LineText("MMORPGPacket::GetSendData  m_PackHead.DestServerType <= stMin || "
                     "m_PackHead.DestServerType >= stMax  , packType=%d",
                     m_PackHead.packType));
    }
    if (!ServerTypeInRange(m_PackHead.SrcServerType)) {
        BadTypeWarnings().Warn(
            "bad SrcServerType",
            LineText("MMORPGPacket::GetSendData  m_PackHead.SrcServerType <= stMin || "
                     "m_PackHead.SrcServerType >= stMax  , SrcServerType=%d, packType=%d",
                     m_PackHead.SrcServerType, m_PackHead.packType));
    }
}

std::string MMORPGPacket::GetSendData() {
    std::string frame;
    BuildSendData(frame);
    return frame;
}

void MMORPGPacket::BuildSendData(std::string& frame) {
    frame.resize(FrameCapacity());
    frame.resize(PackFrameAt(frame.data(), frame.size()));
}

void MMORPGPacket::AppendSendData(std::string& frames) {
    const size_t start = frames.size();
    const size_t capacity = FrameCapacity();
    frames.resize(start + capacity);
    frames.resize(start + PackFrameAt(frames.data() + start, capacity));
}

size_t MMORPGPacket::FrameCapacity() const {
    return static_cast<size_t>(m_Dispatcher->GetHeadLen()) + kPackHeadSize + m_Data.size() +
           static_cast<size_t>(m_Dispatcher->GetCRCLen());
}

size_t MMORPGPacket::PackFrameAt(char* frame, size_t capacity) {
    m_Dispatcher->ClearBuffer();
    const size_t headLen = static_cast<size_t>(m_Dispatcher->GetHeadLen());
    const size_t bodyLen = kPackHeadSize + m_Data.size();
    WarnOnBadServerTypes();
    // The body is built where the frame wants it, so packing moves no byte twice.
    char* body = frame + headLen;
    EncodePackHead(m_PackHead, body);
    if (!m_Data.empty()) std::memcpy(body + kPackHeadSize, m_Data.data(), m_Data.size());
    const int written = m_Dispatcher->PackData(body, static_cast<int>(bodyLen), frame, static_cast<int>(capacity));
    return static_cast<size_t>(std::max(written, 0));
}

}  // namespace MMORPG
