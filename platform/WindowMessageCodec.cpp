#include "WindowMessageCodec.h"

namespace plat {
namespace {

constexpr uint8_t kMagic[4] = {0x56, 0x57, 0x4D, 0x31};  // "VWM1"

void PutLe(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint64_t GetLe(const uint8_t* in, int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(in[i]) << (8 * i);
    return value;
}

}  // namespace

std::vector<uint8_t> EncodeWindowMessage(const WindowMessage& message) {
    if (message.data.size() > kMaxCopyDataBytes) return {};
    if (message.msg != WM_COPYDATA && !message.data.empty()) return {};
    std::vector<uint8_t> out;
    out.reserve(kWindowMessageHeaderBytes + message.data.size());
    out.insert(out.end(), kMagic, kMagic + 4);
    PutLe(out, message.msg, 4);
    PutLe(out, message.wParam, 8);
    PutLe(out, message.lParam, 8);
    PutLe(out, message.msg == WM_COPYDATA ? message.dwData : 0, 8);
    out.insert(out.end(), message.data.begin(), message.data.end());
    return out;
}

std::optional<WindowMessage> DecodeWindowMessage(const uint8_t* bytes, size_t size) {
    if (bytes == nullptr || size < kWindowMessageHeaderBytes || size > kMaxWindowDatagramBytes) return std::nullopt;
    for (int i = 0; i < 4; ++i) {
        if (bytes[i] != kMagic[i]) return std::nullopt;
    }
    WindowMessage message;
    message.msg = static_cast<uint32_t>(GetLe(bytes + 4, 4));
    message.wParam = GetLe(bytes + 8, 8);
    message.lParam = GetLe(bytes + 16, 8);
    message.dwData = GetLe(bytes + 24, 8);
    const size_t payload = size - kWindowMessageHeaderBytes;
    if (message.msg != WM_COPYDATA && (payload != 0 || message.dwData != 0)) return std::nullopt;
    message.data.assign(bytes + kWindowMessageHeaderBytes, bytes + size);
    return message;
}

}  // namespace plat
