#include "modules/SSNetCore/SSFrameCodec.h"

#include "ShareDefine/WireBytes.h"

std::string CSSFrameCodec::Encode(const char* head, size_t headLength, const char* body, size_t bodyLength) {
    std::string frame;
    frame.reserve(kPrefixSize + headLength + bodyLength);
    char prefix[kPrefixSize];
    prefix[0] = static_cast<char>(kMagic0);
    prefix[1] = static_cast<char>(kMagic1);
    wire::WriteLE32(prefix + 2, static_cast<uint32_t>(headLength + bodyLength));
    frame.append(prefix, kPrefixSize);
    frame.append(head, headLength);
    frame.append(body, bodyLength);
    return frame;
}

void CSSFrameCodec::Append(const char* data, size_t len) { m_Buffer.append(data, len); }

CSSFrameCodec::Result CSSFrameCodec::Next(std::string& body) {
    const size_t available = m_Buffer.size() - m_Offset;
    const char* start = m_Buffer.data() + m_Offset;
    if (PrefixIsBad(reinterpret_cast<const unsigned char*>(start), available)) return Result::Bad;
    if (available < kPrefixSize) {
        Compact();
        return Result::NeedMore;
    }
    const uint32_t length = wire::ReadLE32(start + 2);
    if (available - kPrefixSize < length) {
        Compact();
        return Result::NeedMore;
    }
    body.assign(start + kPrefixSize, length);
    m_Offset += kPrefixSize + length;
    return Result::Frame;
}

void CSSFrameCodec::Clear() {
    m_Buffer.clear();
    m_Offset = 0;
}

bool CSSFrameCodec::PrefixIsBad(const unsigned char* prefix, size_t available) const {
    if (available >= 1 && prefix[0] != kMagic0) return true;
    if (available >= 2 && prefix[1] != kMagic1) return true;
    if (available < kPrefixSize) return false;
    const uint32_t length = wire::ReadLE32(reinterpret_cast<const char*>(prefix) + 2);
    return length < kMinBody || length > kMaxBody;
}

// Keeps only the unparsed tail, so the buffer never holds more than one
// partial frame however long the link runs.
void CSSFrameCodec::Compact() {
    if (m_Offset == 0) return;
    m_Buffer.erase(0, m_Offset);
    m_Offset = 0;
}
