// The records that the gateway and the StatusServer exchange inside packet
// bodies, encoded and decoded byte by byte. All integers are little-endian
// and fields follow each other without gaps; every record starts with u8
// type and u8 subtype. Pure code without I/O or logging, so that the script
// library builds it in as well; callers log what a read reports.
//
//  type/sub  record                 direction
//  1 / 1     server login           gateway -> StatusServer
//  1 / 4     keep-alive             gateway -> StatusServer
//  1 / 5     tagCSVCommonCmdReply   gateway -> StatusServer
//  3 / 4     tagCSVCommonCmd        StatusServer -> gateway
//  5 / 1     tagSVCBaseInfoReply    gateway -> StatusServer
//  6 / 1     base-information request (only the first two bytes count)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ShareDefine/PackHead.h"

namespace status {

inline constexpr int kCommandNameSize = 32;

// A fresh head for the status link: all zero but both server types, which
// are stStatusServer.
MMORPG::tagPackHead StatusHead(int16_t destIndex = 0);
std::string EncodeHead(const MMORPG::tagPackHead& head);

// The record's type and subtype; false when the body is shorter than two bytes.
bool ReadRecordKind(const char* body, int length, uint8_t& type, uint8_t& subtype);

// tagSVSTServerLogin: u8 1, u8 1, u16 0x6A0D (a fixed value the StatusServer
// expects), u16 0, u8 name length N, N name bytes (unterminated).
inline constexpr uint16_t kLoginFixedValue = 0x6A0D;
std::string EncodeServerLogin(const std::string& serverName);
// The keep-alive: u8 1, u8 4, u8 0xB3.
std::string EncodeKeepAlive();

// tagCSVCommonCmd, 36 + P bytes:
//   0 u8 type 3 | 1 u8 subtype 4 | 2 u8 flag (not used) | 3 32-byte name,
//   NUL-padded; byte 31 is forced to 0 after reading | 35 u8 P | 36 P bytes
struct tagCSVCommonCmd {
    uint8_t type = 3;
    uint8_t subtype = 4;
    uint8_t flag = 0;
    char name[kCommandNameSize] = {};
    std::string param;

    std::string Name() const;
};

enum class CommonCmdRead {
    Ok,              // exactly 36 + P bytes
    Short,           // fewer than 36 + P: the parameter was not read
    LengthMismatch,  // more than 36 + P: name and parameter were read
};

// Reads the command; length 0 means "no length checks" (the bytes are
// trusted to be there). Returns the bytes consumed (36 + P) on Ok, else 0,
// with the outcome in *outcome.
int ReadCommonCmd(const char* data, int length, tagCSVCommonCmd& command, CommonCmdRead* outcome = nullptr);
std::string EncodeCommonCmd(const std::string& name, const std::string& param, uint8_t flag = 0);

// tagCSVCommonCmdReply, 40 + D + P bytes:
//   0 u8 1 | 1 u8 5 | 2 u8 flag 0 | 3 32-byte name (at most 31 characters)
//   | 35 i32 D | 39 D data bytes | 39+D u8 P | 40+D P parameter bytes
std::string EncodeCommonCmdReply(const tagCSVCommonCmd& request, const char* data, int dataLength);

// The 32-bit info key: bits 0-8 info id, 9-20 group, 21-26 item index,
// 27-31 server type, each masked to its width.
uint32_t MakeInfoKey(int infoId, int group, int itemIndex, int serverType);

// Groups of the info key (not the server-type numbering).
enum InfoGroup : int {
    igProcess = 0,
    igDataServer = 1,
    igLoginServer = 3,
    igGameServer = 4,
    igRouteServer = 5,
};

// tagSVCBaseInfoReply: u8 5, u8 1, u8 flag 0, u16 N, N numeric entries of
// 12 bytes (u32 key, 64-bit value), u16 M, M text entries (u32 key, u16
// length L, L bytes). Entries keep the order in which they were added.
class tagSVCBaseInfoReply {
public:
    void AddNum(uint32_t key, uint64_t value);
    // A 32-bit source widened with its sign.
    void AddSigned(uint32_t key, int32_t value) { AddNum(key, static_cast<uint64_t>(static_cast<int64_t>(value))); }
    // A 32-bit source widened with zeros.
    void AddUnsigned(uint32_t key, uint32_t value) { AddNum(key, value); }
    // Texts longer than 65535 bytes are cut to fit their length field.
    void AddText(uint32_t key, const std::string& text);

    int NumCount() const { return static_cast<int>(m_Nums.size()); }
    int TextCount() const { return static_cast<int>(m_Texts.size()); }
    std::string Encode() const;

private:
    std::vector<std::pair<uint32_t, uint64_t>> m_Nums;
    std::vector<std::pair<uint32_t, std::string>> m_Texts;
};

}  // namespace status
