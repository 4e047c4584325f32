// The calling thread's last-error value (GetLastError/SetLastError): a plain
// per-thread integer that send streams use to tell "nothing to send" apart
// from a failed write.
#pragma once

#include <cstdint>

namespace plat {

void SetLastError(uint32_t code);
uint32_t GetLastError();

}  // namespace plat
