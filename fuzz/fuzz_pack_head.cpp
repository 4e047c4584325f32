// Packet heads and packets built from arbitrary bytes.
//
// The input is taken as a head (its first 9 bytes) and a payload (the rest).
// What must hold:
//  - ReadPackHead reads at most the length it is given (the sanitizer sees
//    any read past it), a short head keeps zeros where bytes are missing,
//    and encoding a decoded head gives its 9 bytes back;
//  - a packet with that head and payload frames to FF CC, LE32(9 + payload),
//    then exactly the input bytes, through GetSendData and BuildSendData
//    alike, and a copy of the packet frames the same;
//  - the framer cuts that frame back into exactly the input.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ShareDefine/MMORPGPacket.h"
#include "ShareDefine/PackHead.h"
#include "ShareDefine/PackageDispatcher.h"
#include "ShareDefine/WireBytes.h"
#include "fuzz/support/FuzzCheck.h"

namespace {

void CheckShortHeads(const uint8_t* data, size_t size) {
    // Every prefix shorter than a head, each in a buffer of its own size.
    const size_t shortest = size < static_cast<size_t>(MMORPG::kPackHeadSize) ? size : MMORPG::kPackHeadSize - 1;
    for (size_t len = 1; len <= shortest; ++len) {
        std::vector<char> bytes(data, data + len);
        MMORPG::tagPackHead head;
        head.Context = 0xFFFFFFFFu;  // must be cleared
        FUZZ_CHECK(MMORPG::MMORPGPacket::ReadPackHead(&head, bytes.data(), static_cast<int>(len)) ==
                   MMORPG::kPackHeadSize);
        char padded[MMORPG::kPackHeadSize] = {};
        std::memcpy(padded, bytes.data(), len);
        FUZZ_CHECK(head == MMORPG::DecodePackHead(padded));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckShortHeads(data, size);
    if (size < static_cast<size_t>(MMORPG::kPackHeadSize)) return 0;
    const char* input = reinterpret_cast<const char*>(data);

    MMORPG::tagPackHead head;
    FUZZ_CHECK(MMORPG::MMORPGPacket::ReadPackHead(&head, input, MMORPG::kPackHeadSize) == MMORPG::kPackHeadSize);
    MMORPG::tagPackHead trusted;
    MMORPG::MMORPGPacket::ReadPackHead(&trusted, input, 0);
    FUZZ_CHECK(trusted == head);
    char encoded[MMORPG::kPackHeadSize];
    MMORPG::EncodePackHead(head, encoded);
    FUZZ_CHECK(std::memcmp(encoded, input, MMORPG::kPackHeadSize) == 0);
    FUZZ_CHECK(MMORPG::DecodePackHead(encoded) == head);

    MMORPG::MMORPGPacket_Stack packet;
    packet.SetPackHead(&head);
    const int payloadLen = static_cast<int>(size) - MMORPG::kPackHeadSize;
    FUZZ_CHECK(packet.ReadData(input + MMORPG::kPackHeadSize, payloadLen) == payloadLen);
    FUZZ_CHECK(packet.GetDataLen() == payloadLen);
    FUZZ_CHECK(packet.m_PackHead == head);

    const std::string frame = packet.GetSendData();
    FUZZ_CHECK(frame.size() == static_cast<size_t>(kPackHeadLen32) + size);
    FUZZ_CHECK(wire::ReadLE16(frame.data()) == kPackMagic);
    FUZZ_CHECK(wire::ReadLE32(frame.data() + 2) == size);
    FUZZ_CHECK(std::memcmp(frame.data() + kPackHeadLen32, input, size) == 0);

    std::string reused = "stale bytes of an earlier, longer frame that must not survive";
    packet.BuildSendData(reused);
    FUZZ_CHECK(reused == frame);

    MMORPG::MMORPGPacket_Stack copy;
    copy.CopyFrom(&packet);
    FUZZ_CHECK(copy.GetSendData() == frame);

    struct Bodies {
        std::vector<std::string> list;
        static void OnPack(void* context, const char* body, int len) {
            static_cast<Bodies*>(context)->list.emplace_back(body, static_cast<size_t>(len));
        }
    } bodies;
    TnPackageDispatcher framer;
    framer.SetOnPack({&Bodies::OnPack, &bodies});
    framer.Feed(frame.data(), static_cast<int>(frame.size()));
    FUZZ_CHECK(bodies.list.size() == 1);
    FUZZ_CHECK(bodies.list[0] == std::string(input, size));
    FUZZ_CHECK(framer.PendingBytes() == 0);

    // Reset keeps the head and empties the payload.
    packet.Reset();
    FUZZ_CHECK(packet.GetDataLen() == 0);
    FUZZ_CHECK(packet.GetSendData().size() == static_cast<size_t>(kPackHeadLen32 + MMORPG::kPackHeadSize));
    return 0;
}
