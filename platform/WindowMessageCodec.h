// The datagram that carries one window message between processes. Encoding
// and decoding do no I/O: the window and the senders feed them bytes.
//
// Layout, all integers little-endian:
//   offset  size  field
//   0       4     magic "VWM1" (56 57 4D 31)
//   4       4     message id
//   8       8     wParam
//   16      8     lParam
//   24      8     dwData (WM_COPYDATA; 0 otherwise)
//   32      n     the copied bytes (WM_COPYDATA only), n <= kMaxCopyDataBytes
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/WindowMessage.h"

namespace plat {

inline constexpr size_t kWindowMessageHeaderBytes = 32;
inline constexpr size_t kMaxWindowDatagramBytes = kWindowMessageHeaderBytes + kMaxCopyDataBytes;

// The datagram for a message; empty when it cannot be sent (copy data too
// large, or bytes on a message other than WM_COPYDATA).
std::vector<uint8_t> EncodeWindowMessage(const WindowMessage& message);
// The message in a datagram, or nothing when it is not one of ours (short,
// wrong magic, too large, bytes on a message other than WM_COPYDATA).
// senderPid is left 0: the caller knows who sent it.
std::optional<WindowMessage> DecodeWindowMessage(const uint8_t* bytes, size_t size);

}  // namespace plat
