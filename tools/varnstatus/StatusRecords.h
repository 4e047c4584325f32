// The StatusServer end of the status link's records: what the console sends
// (base-information request, common command) and what it reads back (login,
// keep-alive, common-command reply). Pure byte codecs, no I/O: decoders are
// given the record (the packet body after the 9-byte head) and never read
// past its length.
//
// Every record starts with u8 type, u8 subtype; integers are little-endian
// and fields follow each other without gaps.
//   1/1  login           u8 1 | u8 1 | u16 fixed 0x6A0D | u16 0 | u8 N | N name bytes
//   1/4  keep-alive      u8 1 | u8 4 | u8 0xB3
//   1/5  command reply   u8 1 | u8 5 | u8 flag | 32-byte name, NUL-padded
//                        | i32 D | D data bytes | u8 P | P parameter bytes
//   3/4  common command  u8 3 | u8 4 | u8 flag 0 | 32-byte name, NUL-padded
//                        (the gateway keeps 31 characters) | u8 P | P bytes
//   5/1  base-info reply (BaseInfoReply.h)
//   6/1  base request    u8 6 | u8 1 | u8 0 (the gateway reads two bytes)
#pragma once

#include <cstdint>
#include <string>

#include "ShareDefine/PackHead.h"

namespace varnstatus {

struct RecordKind {
    uint8_t type = 0;
    uint8_t subtype = 0;
    bool operator==(const RecordKind&) const = default;
};

inline constexpr RecordKind kLoginKind{1, 1};
inline constexpr RecordKind kKeepAliveKind{1, 4};
inline constexpr RecordKind kCommandReplyKind{1, 5};
inline constexpr RecordKind kCommandKind{3, 4};
inline constexpr RecordKind kBaseInfoReplyKind{5, 1};
inline constexpr RecordKind kBaseRequestKind{6, 1};

inline constexpr uint16_t kLoginFixedValue = 0x6A0D;
inline constexpr uint8_t kKeepAliveMarker = 0xB3;
inline constexpr size_t kCommandNameField = 32;
// The gateway forces the field's last byte to NUL.
inline constexpr size_t kCommandNameMax = kCommandNameField - 1;
inline constexpr size_t kCommandParamMax = 255;  // P travels in one byte

// The head of every packet the console sends: Context 0, DestIndex 0,
// packType 1, bound for the gateway (2) from the StatusServer (13).
MMORPG::tagPackHead ConsoleHead();

// False when the record is shorter than its two kind bytes.
bool ReadRecordKind(const std::string& record, RecordKind& kind);

struct LoginRecord {
    uint16_t fixedValue = 0;
    uint16_t reserved = 0;
    std::string serverName;
    bool truncated = false;  // fewer name bytes than N announces (the name holds those present)
};
// False when the record is not a login or its fixed fields are cut off.
bool DecodeLogin(const std::string& record, LoginRecord& login);

// The keep-alive's third byte; false when the record is not a whole keep-alive.
bool DecodeKeepAlive(const std::string& record, uint8_t& marker);

std::string EncodeBaseRequest();
// Names longer than 31 characters are cut there, as the gateway would read
// them; parameters longer than 255 bytes are cut to fit P.
std::string EncodeCommonCmd(const std::string& name, const std::string& param);

struct CommandReply {
    uint8_t flag = 0;
    std::string name;  // up to the first NUL of the field
    int32_t dataLength = 0;
    std::string data;
    std::string param;
};
enum class ReplyDecode { Ok, NotAReply, Truncated, BadLength };
// Truncated: the record ends inside a field (what was whole is kept);
// BadLength: D is negative. Bytes after the parameter are ignored.
ReplyDecode DecodeCommandReply(const std::string& record, CommandReply& reply);

// "AB CD ..": two upper-case digits and a blank per byte, at most `limit`
// bytes shown and "(+N bytes)" after a cut.
std::string HexBytes(const std::string& bytes, size_t limit = 512);

}  // namespace varnstatus
