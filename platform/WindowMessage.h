// The window messages that processes of the suite exchange on one host, and
// the handle by which a window is addressed. A message is an id with two
// 64-bit parameters; WM_COPYDATA also carries dwData and a bounded block of
// bytes. Plain values: safe to copy between threads.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

inline constexpr uint32_t WM_QUERYENDSESSION = 0x0011;
inline constexpr uint32_t WM_COPYDATA = 0x004A;
inline constexpr uint32_t WM_USER = 0x0400;
inline constexpr uint32_t WM_APP = 0x8000;
// Our own: a second instance asks the first one's window to show itself and
// come to the front before it ends. Kept at the top of the application range,
// away from the ids the gateway and its loader use.
inline constexpr uint32_t WM_SHOWINSTANCE = WM_APP + 0x3F00;

// The largest WM_COPYDATA block; a larger one is refused by the sender and
// dropped by the receiver.
inline constexpr size_t kMaxCopyDataBytes = 64 * 1024;

struct WindowMessage {
    uint32_t msg = 0;
    uint64_t wParam = 0;
    uint64_t lParam = 0;
    uint64_t dwData = 0;           // WM_COPYDATA only
    std::vector<uint8_t> data;     // WM_COPYDATA only
    pid_t senderPid = 0;           // filled in by the receiving window from the kernel's credentials
};

// Where a window is reached: the name of its socket in the abstract
// namespace, without the leading NUL. A handle stays usable after the window
// is gone; sending to it then fails.
struct WindowHandle {
    std::string address;

    bool operator==(const WindowHandle&) const = default;
};

}  // namespace plat
