// BaseInfoReply: the gateway's answer to a base-information request, decoded
// defensively. A reply whose counts promise more than its bytes hold keeps
// every whole entry and says it was truncated; nothing is read past the end.
// Pure: no I/O, one caller at a time.
//
// Record (type 5, subtype 1), little-endian, no gaps:
//   u8 5 | u8 1 | u8 flag | u16 N | N x (u32 key, u64 value)
//   | u16 M | M x (u32 key, u16 L, L text bytes)
// Info key, 32 bits: bits 0-8 info id, 9-20 group, 21-26 item index,
// 27-31 server type.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnstatus {

struct InfoKey {
    uint32_t id = 0;
    uint32_t group = 0;
    uint32_t itemIndex = 0;
    uint32_t serverType = 0;

    static InfoKey Decode(uint32_t key);
    // Each field masked to its width, as the gateway builds keys.
    uint32_t Encode() const;
};

struct NumericEntry {
    InfoKey key;
    uint64_t value = 0;
};

struct TextEntry {
    InfoKey key;
    std::string text;
};

class BaseInfoReply {
public:
    // False only when the record is not a base-information reply at all;
    // a cut-off reply decodes as far as it is whole and sets Truncated().
    bool Decode(const std::string& record);

    const std::vector<NumericEntry>& Numbers() const { return m_Numbers; }
    const std::vector<TextEntry>& Texts() const { return m_Texts; }
    uint16_t AnnouncedNumbers() const { return m_AnnouncedNumbers; }
    uint16_t AnnouncedTexts() const { return m_AnnouncedTexts; }
    bool Truncated() const { return m_Truncated; }
    // False when the reply ends before the text count (so M is unknown).
    bool TextCountPresent() const { return m_TextCountPresent; }
    // Bytes after the last text entry; the gateway sends none.
    size_t TrailingBytes() const { return m_TrailingBytes; }

private:
    std::vector<NumericEntry> m_Numbers;
    std::vector<TextEntry> m_Texts;
    uint16_t m_AnnouncedNumbers = 0;
    uint16_t m_AnnouncedTexts = 0;
    bool m_Truncated = false;
    bool m_TextCountPresent = false;
    size_t m_TrailingBytes = 0;
};

}  // namespace varnstatus
