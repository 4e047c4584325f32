#include "SSLogicProcess/StatusRecords.h"

#include <algorithm>
#include <cstring>

#include "ShareDefine/WireBytes.h"

namespace status {

namespace {

constexpr int kCommonCmdFixedSize = 36;    // up to and including P
constexpr int kCommonCmdReplyFixed = 40;   // without D and P bytes
constexpr size_t kMaxTextLength = 0xFFFF;  // u16 length field

void PutLE16(std::string& out, uint16_t value) {
    char bytes[2];
    wire::WriteLE16(bytes, value);
    out.append(bytes, 2);
}

void PutLE32(std::string& out, uint32_t value) {
    char bytes[4];
    wire::WriteLE32(bytes, value);
    out.append(bytes, 4);
}

void PutLE64(std::string& out, uint64_t value) {
    PutLE32(out, static_cast<uint32_t>(value & 0xFFFFFFFFu));
    PutLE32(out, static_cast<uint32_t>(value >> 32));
}

// The name field: at most 31 characters, NUL-padded to 32 bytes.
void PutName(std::string& out, const std::string& name) {
    char field[kCommandNameSize] = {};
    std::memcpy(field, name.data(), std::min(name.size(), static_cast<size_t>(kCommandNameSize - 1)));
    out.append(field, kCommandNameSize);
}

}  // namespace

MMORPG::tagPackHead StatusHead(int16_t destIndex) {
    MMORPG::tagPackHead head;
    head.DestIndex = destIndex;
    head.DestServerType = MMORPG::stStatusServer;
    head.SrcServerType = MMORPG::stStatusServer;
    return head;
}

std::string EncodeHead(const MMORPG::tagPackHead& head) {
    std::string bytes(MMORPG::kPackHeadSize, '\0');
    MMORPG::EncodePackHead(head, bytes.data());
    return bytes;
}

bool ReadRecordKind(const char* body, int length, uint8_t& type, uint8_t& subtype) {
    if (body == nullptr || length < 2) return false;
    type = static_cast<uint8_t>(body[0]);
    subtype = static_cast<uint8_t>(body[1]);
    return true;
}

std::string EncodeServerLogin(const std::string& serverName) {
    const size_t length = std::min(serverName.size(), static_cast<size_t>(0xFF));
    std::string record;
    record.push_back(1);
    record.push_back(1);
    PutLE16(record, kLoginFixedValue);
    PutLE16(record, 0);
    record.push_back(static_cast<char>(length));
    record.append(serverName.data(), length);
    return record;
}

std::string EncodeKeepAlive() { return std::string("\x01\x04\xB3", 3); }

std::string tagCSVCommonCmd::Name() const { return std::string(name, strnlen(name, kCommandNameSize)); }

int ReadCommonCmd(const char* data, int length, tagCSVCommonCmd& command, CommonCmdRead* outcome) {
    command = tagCSVCommonCmd{};
    CommonCmdRead result = CommonCmdRead::Short;
    int consumed = 0;
    // With a length the fixed part itself must be there; a length of 0 is
    // the caller's promise that it is.
    if (data != nullptr && (length == 0 || length >= kCommonCmdFixedSize)) {
        command.type = static_cast<uint8_t>(data[0]);
        command.subtype = static_cast<uint8_t>(data[1]);
        command.flag = static_cast<uint8_t>(data[2]);
        std::memcpy(command.name, data + 3, kCommandNameSize);
        const int paramLength = static_cast<uint8_t>(data[35]);
        const int needed = kCommonCmdFixedSize + paramLength;
        if (length == 0 || needed <= length) {
            command.param.assign(data + kCommonCmdFixedSize, static_cast<size_t>(paramLength));
            result = (length == 0 || length == needed) ? CommonCmdRead::Ok : CommonCmdRead::LengthMismatch;
            if (result == CommonCmdRead::Ok) consumed = needed;
        }
        command.name[kCommandNameSize - 1] = '\0';
    }
    if (outcome != nullptr) *outcome = result;
    return consumed;
}

std::string EncodeCommonCmd(const std::string& name, const std::string& param, uint8_t flag) {
    const size_t paramLength = std::min(param.size(), static_cast<size_t>(0xFF));
    std::string record;
    record.push_back(3);
    record.push_back(4);
    record.push_back(static_cast<char>(flag));
    PutName(record, name);
    record.push_back(static_cast<char>(paramLength));
    record.append(param.data(), paramLength);
    return record;
}

std::string EncodeCommonCmdReply(const tagCSVCommonCmd& request, const char* data, int dataLength) {
    const int length = (data != nullptr && dataLength > 0) ? dataLength : 0;
    const size_t paramLength = std::min(request.param.size(), static_cast<size_t>(0xFF));
    std::string record;
    record.reserve(kCommonCmdReplyFixed + static_cast<size_t>(length) + paramLength);
    record.push_back(1);
    record.push_back(5);
    record.push_back(0);
    PutName(record, request.Name());
    PutLE32(record, static_cast<uint32_t>(length));
    record.append(data != nullptr ? data : "", static_cast<size_t>(length));
    record.push_back(static_cast<char>(paramLength));
    record.append(request.param.data(), paramLength);
    return record;
}

uint32_t MakeInfoKey(int infoId, int group, int itemIndex, int serverType) {
    return (static_cast<uint32_t>(infoId) & 0x1FFu) | ((static_cast<uint32_t>(group) & 0xFFFu) << 9) |
           ((static_cast<uint32_t>(itemIndex) & 0x3Fu) << 21) | ((static_cast<uint32_t>(serverType) & 0x1Fu) << 27);
}

void tagSVCBaseInfoReply::AddNum(uint32_t key, uint64_t value) { m_Nums.emplace_back(key, value); }

void tagSVCBaseInfoReply::AddText(uint32_t key, const std::string& text) {
    m_Texts.emplace_back(key, text.substr(0, kMaxTextLength));
}

std::string tagSVCBaseInfoReply::Encode() const {
    std::string record;
    record.push_back(5);
    record.push_back(1);
    record.push_back(0);
    PutLE16(record, static_cast<uint16_t>(m_Nums.size()));
    for (const auto& [key, value] : m_Nums) {
        PutLE32(record, key);
        PutLE64(record, value);
    }
    PutLE16(record, static_cast<uint16_t>(m_Texts.size()));
    for (const auto& [key, text] : m_Texts) {
        PutLE32(record, key);
        PutLE16(record, static_cast<uint16_t>(text.size()));
        record.append(text);
    }
    return record;
}

}  // namespace status
