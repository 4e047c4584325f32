// Finding another window on this host and posting messages to it
// (FindWindow, PostMessage and WM_COPYDATA in the Windows sense). A message
// is queued at the receiving window and handled when its thread dispatches;
// nothing here waits for the handling. Safe from any thread.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/WindowMessage.h"

namespace plat {

// The live window with this class and name, or nothing.
std::optional<WindowHandle> FindWindow(const std::string& className, const std::string& windowName);
// The live window that answers for a process (its first window), or nothing.
std::optional<WindowHandle> FindWindowByProcess(pid_t pid);
// Whether a window is still there at this handle.
bool IsWindow(const WindowHandle& window);

// Queues a message at the window. False when no window is there, or when its
// queue stays full for about a second. WM_COPYDATA cannot be posted: use
// SendCopyData.
bool PostMessage(const WindowHandle& window, uint32_t msg, uint64_t wParam, uint64_t lParam);
// Queues WM_COPYDATA with dwData and a copy of the bytes. False as above, and
// for more than kMaxCopyDataBytes bytes.
bool SendCopyData(const WindowHandle& window, uint64_t dwData, const void* bytes, size_t size);
bool SendCopyData(const WindowHandle& window, uint64_t dwData, const std::string& bytes);

}  // namespace plat
