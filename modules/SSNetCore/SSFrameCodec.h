// The status link's frame format, both directions: FF CC, then the u32
// little-endian length L of what follows, then L bytes (the 9-byte
// tagPackHead and the record). 9 <= L <= 100 MiB; anything else is a
// protocol error. The codec does no I/O: it is fed the received bytes and
// hands out whole frame bodies. One codec per link, used by one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CSSFrameCodec {
public:
    static constexpr unsigned char kMagic0 = 0xFF;
    static constexpr unsigned char kMagic1 = 0xCC;
    static constexpr size_t kPrefixSize = 6;  // magic + length
    static constexpr uint32_t kMinBody = 9;   // a tagPackHead at least
    static constexpr uint32_t kMaxBody = 100u * 1024u * 1024u;

    enum class Result { Frame, NeedMore, Bad };

    // The whole frame for one packet; the caller keeps head + body within
    // kMaxBody.
    static std::string Encode(const char* head, size_t headLength, const char* body, size_t bodyLength);

    void Append(const char* data, size_t len);
    // Frame: `body` receives the next frame's L bytes. NeedMore: wait for
    // more bytes. Bad: the stream is broken for good; the link must close.
    Result Next(std::string& body);
    void Clear();

private:
    // Bad as soon as the prefix bytes present show it, so an oversized length
    // is refused before its body is buffered.
    bool PrefixIsBad(const unsigned char* prefix, size_t available) const;
    void Compact();

    std::string m_Buffer;
    size_t m_Offset = 0;  // start of the unparsed bytes in m_Buffer
};
