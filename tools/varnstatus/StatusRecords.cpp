#include "tools/varnstatus/StatusRecords.h"

#include <cstdio>

#include "tools/varnstatus/RecordReader.h"

namespace varnstatus {

MMORPG::tagPackHead ConsoleHead() {
    MMORPG::tagPackHead head;
    head.packType = MMORPG::atNormal;
    head.DestServerType = MMORPG::stGateway;
    head.SrcServerType = MMORPG::stStatusServer;
    return head;
}

bool ReadRecordKind(const std::string& record, RecordKind& kind) {
    RecordReader reader(record);
    return reader.U8(kind.type) && reader.U8(kind.subtype);
}

bool DecodeLogin(const std::string& record, LoginRecord& login) {
    RecordKind kind;
    if (!ReadRecordKind(record, kind) || kind != kLoginKind) return false;
    RecordReader reader(record);
    reader.Rest(2);
    uint8_t nameLength = 0;
    if (!reader.U16(login.fixedValue) || !reader.U16(login.reserved) || !reader.U8(nameLength)) return false;
    login.serverName = reader.Rest(nameLength);
    login.truncated = login.serverName.size() < nameLength;
    return true;
}

bool DecodeKeepAlive(const std::string& record, uint8_t& marker) {
    RecordKind kind;
    if (!ReadRecordKind(record, kind) || kind != kKeepAliveKind || record.size() < 3) return false;
    marker = static_cast<uint8_t>(record[2]);
    return true;
}

std::string EncodeBaseRequest() {
    const char bytes[] = {static_cast<char>(kBaseRequestKind.type), static_cast<char>(kBaseRequestKind.subtype), 0};
    return std::string(bytes, sizeof(bytes));
}

std::string EncodeCommonCmd(const std::string& name, const std::string& param) {
    const std::string keptName = name.substr(0, kCommandNameMax);
    const std::string keptParam = param.substr(0, kCommandParamMax);
    std::string record;
    record.push_back(static_cast<char>(kCommandKind.type));
    record.push_back(static_cast<char>(kCommandKind.subtype));
    record.push_back(0);  // flag
    record += keptName;
    record.append(kCommandNameField - keptName.size(), '\0');
    record.push_back(static_cast<char>(keptParam.size()));
    record += keptParam;
    return record;
}

ReplyDecode DecodeCommandReply(const std::string& record, CommandReply& reply) {
    RecordKind kind;
    if (!ReadRecordKind(record, kind) || kind != kCommandReplyKind) return ReplyDecode::NotAReply;
    RecordReader reader(record);
    reader.Rest(2);
    std::string nameField;
    uint32_t dataLength = 0;
    if (!reader.U8(reply.flag) || !reader.Bytes(kCommandNameField, nameField)) return ReplyDecode::Truncated;
    reply.name = nameField.substr(0, nameField.find('\0'));
    if (!reader.U32(dataLength)) return ReplyDecode::Truncated;
    reply.dataLength = static_cast<int32_t>(dataLength);
    if (reply.dataLength < 0) return ReplyDecode::BadLength;
    if (!reader.Bytes(dataLength, reply.data)) {
        reply.data = reader.Rest(dataLength);
        return ReplyDecode::Truncated;
    }
    uint8_t paramLength = 0;
    if (!reader.U8(paramLength)) return ReplyDecode::Truncated;
    if (!reader.Bytes(paramLength, reply.param)) {
        reply.param = reader.Rest(paramLength);
        return ReplyDecode::Truncated;
    }
    return ReplyDecode::Ok;
}

std::string HexBytes(const std::string& bytes, size_t limit) {
    const size_t shown = bytes.size() < limit ? bytes.size() : limit;
    std::string text;
    text.reserve(shown * 3 + 16);
    char digits[4];
    for (size_t i = 0; i < shown; ++i) {
        std::snprintf(digits, sizeof(digits), "%02X", static_cast<unsigned>(static_cast<uint8_t>(bytes[i])));
        if (i > 0) text.push_back(' ');
        text += digits;
    }
    if (shown < bytes.size()) text += " (+" + std::to_string(bytes.size() - shown) + " bytes)";
    return text;
}

}  // namespace varnstatus
