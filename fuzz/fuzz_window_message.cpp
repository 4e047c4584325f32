// The window-message datagram codec on arbitrary datagrams.
//
// What must hold:
//  - a datagram decodes exactly when the layout in WindowMessageCodec.h
//    allows it (size, magic, bytes and dwData only on WM_COPYDATA), judged
//    here independently;
//  - a decoded message encodes to the very datagram it came from, and that
//    decodes to the same message again;
//  - a message built from the input's fields encodes when it may be sent and
//    survives the round trip unchanged.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/support/FuzzCheck.h"
#include "platform/WindowMessageCodec.h"

namespace {

uint64_t ReadLE(const uint8_t* in, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | in[i];
    return value;
}

bool Acceptable(const uint8_t* data, size_t size) {
    if (size < plat::kWindowMessageHeaderBytes || size > plat::kMaxWindowDatagramBytes) return false;
    if (std::memcmp(data, "VWM1", 4) != 0) return false;
    const bool copyData = ReadLE(data + 4, 4) == plat::WM_COPYDATA;
    return copyData || (size == plat::kWindowMessageHeaderBytes && ReadLE(data + 24, 8) == 0);
}

bool Same(const plat::WindowMessage& a, const plat::WindowMessage& b) {
    return a.msg == b.msg && a.wParam == b.wParam && a.lParam == b.lParam && a.dwData == b.dwData &&
           a.data == b.data && a.senderPid == b.senderPid;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::optional<plat::WindowMessage> decoded = plat::DecodeWindowMessage(data, size);
    FUZZ_CHECK(decoded.has_value() == Acceptable(data, size));
    if (decoded) {
        FUZZ_CHECK(decoded->senderPid == 0);
        const std::vector<uint8_t> encoded = plat::EncodeWindowMessage(*decoded);
        FUZZ_CHECK(encoded.size() == size && std::memcmp(encoded.data(), data, size) == 0);
        const std::optional<plat::WindowMessage> again = plat::DecodeWindowMessage(encoded.data(), encoded.size());
        FUZZ_CHECK(again && Same(*again, *decoded));
    }

    // The same datagram grown to the largest size allowed and one byte over
    // (inputs stay far below it): the bound decides, the codec follows.
    if (size >= plat::kWindowMessageHeaderBytes) {
        for (const size_t grown : {plat::kMaxWindowDatagramBytes, plat::kMaxWindowDatagramBytes + 1}) {
            std::vector<uint8_t> big(grown);
            for (size_t i = 0; i < grown; ++i) big[i] = data[i % size];
            const std::optional<plat::WindowMessage> large = plat::DecodeWindowMessage(big.data(), big.size());
            FUZZ_CHECK(large.has_value() == Acceptable(big.data(), big.size()));
            if (large) FUZZ_CHECK(plat::EncodeWindowMessage(*large) == big);
        }
    }

    // The input read as a message to send: id, parameters, then its bytes.
    if (size >= 28) {
        plat::WindowMessage message;
        message.msg = static_cast<uint32_t>(ReadLE(data, 4));
        if (data[0] & 1) message.msg = plat::WM_COPYDATA;
        message.wParam = ReadLE(data + 4, 8);
        message.lParam = ReadLE(data + 12, 8);
        message.dwData = ReadLE(data + 20, 8);
        message.data.assign(data + 28, data + size);
        const std::vector<uint8_t> encoded = plat::EncodeWindowMessage(message);
        const bool sendable = message.msg == plat::WM_COPYDATA || message.data.empty();
        FUZZ_CHECK(encoded.empty() == !sendable);
        if (sendable) {
            // dwData travels only with WM_COPYDATA.
            if (message.msg != plat::WM_COPYDATA) message.dwData = 0;
            const std::optional<plat::WindowMessage> back = plat::DecodeWindowMessage(encoded.data(), encoded.size());
            FUZZ_CHECK(back && Same(*back, message));
        }
    }
    return 0;
}
