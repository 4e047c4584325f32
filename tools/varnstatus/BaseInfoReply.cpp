#include "tools/varnstatus/BaseInfoReply.h"

#include "tools/varnstatus/RecordReader.h"
#include "tools/varnstatus/StatusRecords.h"

namespace varnstatus {
namespace {

constexpr uint32_t kIdMask = 0x1FF;
constexpr uint32_t kGroupMask = 0xFFF;
constexpr uint32_t kItemMask = 0x3F;
constexpr uint32_t kTypeMask = 0x1F;
constexpr int kGroupShift = 9;
constexpr int kItemShift = 21;
constexpr int kTypeShift = 27;

}  // namespace

InfoKey InfoKey::Decode(uint32_t key) {
    InfoKey decoded;
    decoded.id = key & kIdMask;
    decoded.group = (key >> kGroupShift) & kGroupMask;
    decoded.itemIndex = (key >> kItemShift) & kItemMask;
    decoded.serverType = (key >> kTypeShift) & kTypeMask;
    return decoded;
}

uint32_t InfoKey::Encode() const {
    return (id & kIdMask) | ((group & kGroupMask) << kGroupShift) | ((itemIndex & kItemMask) << kItemShift) |
           ((serverType & kTypeMask) << kTypeShift);
}

bool BaseInfoReply::Decode(const std::string& record) {
    *this = BaseInfoReply();
    RecordKind kind;
    if (!ReadRecordKind(record, kind) || kind != kBaseInfoReplyKind) return false;
    RecordReader reader(record);
    reader.Rest(2);
    uint8_t flag = 0;
    m_Truncated = true;  // until the last field has been read whole
    if (!reader.U8(flag) || !reader.U16(m_AnnouncedNumbers)) return true;
    for (uint16_t i = 0; i < m_AnnouncedNumbers; ++i) {
        uint32_t key = 0;
        NumericEntry entry;
        if (!reader.U32(key) || !reader.U64(entry.value)) return true;
        entry.key = InfoKey::Decode(key);
        m_Numbers.push_back(entry);
    }
    if (!reader.U16(m_AnnouncedTexts)) return true;
    m_TextCountPresent = true;
    for (uint16_t i = 0; i < m_AnnouncedTexts; ++i) {
        uint32_t key = 0;
        uint16_t length = 0;
        TextEntry entry;
        if (!reader.U32(key) || !reader.U16(length) || !reader.Bytes(length, entry.text)) return true;
        entry.key = InfoKey::Decode(key);
        m_Texts.push_back(std::move(entry));
    }
    m_Truncated = false;
    m_TrailingBytes = reader.Left();
    return true;
}

}  // namespace varnstatus
