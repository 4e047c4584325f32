// tagPackHead: the 9-byte header in front of every packet payload, with the
// server-type and pack-type values it carries. Encoded and decoded byte by
// byte (never by casting), so the in-memory struct may have any layout.
//
// Wire layout, 9 bytes, no padding, little-endian:
//   offset 0  4  Context         opaque, carried unchanged from link to link
//   offset 4  2  DestIndex       signed; destination connection slot, -1 (FF FF) = all
//   offset 6  1  packType        1 to 14
//   offset 7  1  DestServerType  server type the packet is bound for
//   offset 8  1  SrcServerType   server type the packet comes from
#pragma once

#include <cstdint>

#include "ShareDefine/WireBytes.h"

namespace MMORPG {

// Server types: valid strictly between stMin and stMax. 6 to 12 are valid on
// the wire although no link of the gateway belongs to them.
enum ServerType : uint8_t {
    stMin = 0,
    stDataServer = 1,
    stGateway = 2,  // this gateway: source of every packet it creates itself
    stGameServer = 3,
    stLoginServer = 4,
    stRouteServer = 5,
    stStatusServer = 13,
    stMax = 14,
};

// Pack types: atNormal (1) to atMax - 1 (14) are valid.
enum PackType : uint8_t {
    atNormal = 1,
    atBroadcast = 5,  // copied to every connected link
    atKeepAlive = 7,  // the 30-second keep-alive, dropped on receipt
    atMax = 15,
};

inline constexpr int kPackHeadSize = 9;

struct tagPackHead {
    uint32_t Context = 0;
    int16_t DestIndex = 0;
    uint8_t packType = 0;
    uint8_t DestServerType = 0;
    uint8_t SrcServerType = 0;

    bool operator==(const tagPackHead&) const = default;
};

// Writes the 9 wire bytes of head to out.
inline void EncodePackHead(const tagPackHead& head, char* out) {
    wire::WriteLE32(out, head.Context);
    wire::WriteLE16(out + 4, static_cast<uint16_t>(head.DestIndex));
    out[6] = static_cast<char>(head.packType);
    out[7] = static_cast<char>(head.DestServerType);
    out[8] = static_cast<char>(head.SrcServerType);
}

// Reads a header from 9 wire bytes.
inline tagPackHead DecodePackHead(const char* in) {
    tagPackHead head;
    head.Context = wire::ReadLE32(in);
    head.DestIndex = static_cast<int16_t>(wire::ReadLE16(in + 4));
    head.packType = static_cast<uint8_t>(in[6]);
    head.DestServerType = static_cast<uint8_t>(in[7]);
    head.SrcServerType = static_cast<uint8_t>(in[8]);
    return head;
}

}  // namespace MMORPG
