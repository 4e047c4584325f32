// The log output mask built from the window's level check list ("Debug Log",
// "Frm Log", "Warning", "Error log", "Fatal Log", in that order). The window
// thread rebuilds the mask from scratch on every click and hands it to
// LogService::SetOutputMask.
#pragma once

#include <cstdint>

inline constexpr int kLogMaskCheckCount = 5;

// Item i (0-based) checked puts bit i + 1 into the mask; bits 0, 6 and 7 stay clear.
uint8_t LogOutputMaskFromChecks(const bool checked[kLogMaskCheckCount]);
